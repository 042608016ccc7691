// Compares the image library's storage paths with the plainest baseline doing the same job, in the
// same process, and prints the ratio of their times (ours / baseline).

#include "Iris/cache/DiskStorage.h"
#include "Iris/cache/ImageCache.h"
#include "Iris/cache/MemoryStorage.h"
#include "Iris/utility/MD5.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

struct Picture {
    int id = 0;
};

} // namespace

template<> struct iris::CacheCostCalculable<Picture> {
    static std::int64_t cacheCost(const Picture&) { return 1; }
};

namespace {

// Keeps the optimiser from dropping work whose result is otherwise unused.
std::atomic<std::uint64_t> g_sink { 0 };

double seconds(const std::function<void()>& run)
{
    auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best time of each side over alternating runs: alternating keeps a burst of load on the
// machine from landing on one side only.
std::pair<double, double> bestOfAlternating(
    const std::function<void()>& ours, const std::function<void()>& baseline, int repetitions = 7)
{
    double bestOurs = 1e300;
    double bestBaseline = 1e300;
    for (int i = 0; i < repetitions; ++i) {
        bestOurs = std::min(bestOurs, seconds(ours));
        bestBaseline = std::min(bestBaseline, seconds(baseline));
    }
    return { bestOurs, bestBaseline };
}

void report(const char* name, double ours, double baseline, const char* target)
{
    std::printf("%-44s ours %9.3f ms  baseline %9.3f ms  ratio %5.2f  (target %s)\n", name, ours * 1e3,
        baseline * 1e3, ours / baseline, target);
    std::fflush(stdout);
}

QByteArray randomBytes(qsizetype size, std::mt19937_64& random)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(random());
    return bytes;
}

void md5Keys()
{
    std::mt19937_64 random(1);
    std::vector<QByteArray> keys;
    constexpr int keyCount = 1'000'000;
    keys.reserve(keyCount);
    for (int i = 0; i < keyCount; ++i)
        keys.push_back(randomBytes(64, random));
    auto oursRun = ([&] {
        for (const QByteArray& key : keys)
            g_sink += iris::MD5(key).calculate()[0];
    });
    auto baselineRun = ([&] {
        for (const QByteArray& key : keys)
            g_sink += std::uint8_t(QCryptographicHash::hash(key, QCryptographicHash::Md5)[0]);
    });
    auto [ours, baseline] = bestOfAlternating(oursRun, baselineRun, 5);
    report("MD5, 1 million 64-byte keys", ours, baseline, "<= 2");
}

void md5Buffer()
{
    std::mt19937_64 random(2);
    const QByteArray buffer = randomBytes(64 << 20, random);
    auto oursRun = [&] { g_sink += iris::MD5(buffer).calculate()[0]; };
    auto baselineRun
        = [&] { g_sink += std::uint8_t(QCryptographicHash::hash(buffer, QCryptographicHash::Md5)[0]); };
    auto [ours, baseline] = bestOfAlternating(oursRun, baselineRun, 3);
    report("MD5, one 64 MiB buffer", ours, baseline, "<= 2");
}

void memoryHit()
{
    constexpr int keyCount = 1000;
    constexpr int lookups = 1'000'000;
    std::vector<QString> keys;
    for (int i = 0; i < keyCount; ++i)
        keys.push_back(QStringLiteral("https://example.com/images/%1.jpg").arg(i));

    auto backend = iris::MemoryStorage::Backend<Picture>::make(iris::MemoryStorage::Config(0, 120));
    std::mutex mutex;
    std::unordered_map<QString, std::shared_ptr<Picture>> map;
    for (int i = 0; i < keyCount; ++i) {
        backend->storeValue(Picture { i }, keys[i]);
        map.emplace(keys[i], std::make_shared<Picture>(Picture { i }));
    }
    auto oursRun = ([&] {
        for (int i = 0; i < lookups; ++i)
            g_sink += backend->readValue(keys[i % keyCount])->id;
    });
    auto baselineRun = ([&] {
        for (int i = 0; i < lookups; ++i) {
            std::lock_guard lock(mutex);
            g_sink += map.find(keys[i % keyCount])->second->id;
        }
    });
    auto [ours, baseline] = bestOfAlternating(oursRun, baselineRun);
    report("Memory tier hit vs locked unordered_map", ours, baseline, "<= 3");
}

void diskHitAndMiss()
{
    QTemporaryDir root;
    const iris::DiskStorage::Config config(
        "bench", 0, iris::CacheFileSystem::defaultFileSystem(), QUrl::fromLocalFile(root.path()));
    // A first backend makes the folder, so the second one lists it and knows its names.
    iris::DiskStorage::Backend<QByteArray> creator(config);
    iris::DiskStorage::Backend<QByteArray> backend(config);
    backend.waitForPendingNameUpdates();

    constexpr int fileCount = 64;
    std::mt19937_64 random(3);
    std::vector<QString> keys;
    for (int i = 0; i < fileCount; ++i) {
        keys.push_back(QStringLiteral("https://example.com/photos/%1.jpg").arg(i));
        if (backend.storeValue(randomBytes(100 * 1024, random), keys.back()).isFailure())
            std::printf("store failed\n");
    }
    std::vector<QByteArray> paths;
    for (const QString& key : keys)
        paths.push_back(QFile::encodeName(backend.fileURLForKey(key).toLocalFile()));

    constexpr int rounds = 40;
    auto oursRun = ([&] {
        for (int round = 0; round < rounds; ++round)
            for (const QString& key : keys)
                g_sink += backend.readValue(key, iris::ExpirationExtending::cacheTime()).value()->size();
        backend.waitForPendingDateUpdates();
    });
    std::vector<char> buffer(100 * 1024 + 1);
    auto baselineRun = ([&] {
        for (int round = 0; round < rounds; ++round)
            for (const QByteArray& path : paths) {
                int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
                ssize_t got = ::read(fd, buffer.data(), buffer.size());
                ::close(fd);
                g_sink += std::uint64_t(got);
            }
    });
    auto [ours, baseline] = bestOfAlternating(oursRun, baselineRun);
    report("Disk tier hit (100 KB) vs open+read", ours, baseline, "<= 1.5");

    // A store of a key already cached, against the bare steps of one: a new file written beside the
    // old, renamed over it and dated.
    const QByteArray value = randomBytes(100 * 1024, random);
    auto oursStoreRun = ([&] {
        for (const QString& key : keys)
            g_sink += backend.storeValue(value, key).isSuccess();
        backend.waitForPendingNameUpdates();
    });
    auto baselineStoreRun = ([&] {
        const struct timespec times[2] = { { 1'800'000'000, 0 }, { 1'800'600'000, 0 } };
        for (const QByteArray& path : paths) {
            QByteArray temporary = path + ".partial-XXXXXX";
            int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
            g_sink += std::uint64_t(::write(fd, value.constData(), std::size_t(value.size())));
            ::close(fd);
            ::rename(temporary.constData(), path.constData());
            ::utimensat(AT_FDCWD, path.constData(), times, 0);
        }
    });
    auto [oursStore, baselineStore] = bestOfAlternating(oursStoreRun, baselineStoreRun);
    report("Disk tier store (100 KB) vs write+rename+utimes", oursStore, baselineStore, "<= 1.5");

    constexpr int misses = 200'000;
    std::vector<QString> missingKeys;
    std::vector<QByteArray> missingPaths;
    for (int i = 0; i < 1000; ++i) {
        missingKeys.push_back(QStringLiteral("https://example.com/missing/%1.jpg").arg(i));
        missingPaths.push_back(QFile::encodeName(backend.fileURLForKey(missingKeys.back()).toLocalFile()));
    }
    auto oursMissRun = ([&] {
        for (int i = 0; i < misses; ++i)
            g_sink += backend.readValue(missingKeys[i % 1000], iris::ExpirationExtending::cacheTime())
                          .value()
                          .has_value();
    });
    auto baselineMissRun = ([&] {
        struct stat info { };
        for (int i = 0; i < misses; ++i)
            g_sink += std::uint64_t(::stat(missingPaths[i % 1000].constData(), &info));
    });
    auto [oursMiss, baselineMiss] = bestOfAlternating(oursMissRun, baselineMissRun);
    report("Disk tier miss vs stat() of a missing file", oursMiss, baselineMiss, "< 1");
}

// Five switches away from the window while the cache's I/O queue is busy, with 10,000 files in the
// disk cache: the I/O queue time the cleans take once it is free, against one bare walk of the folder
// (readdir and a stat of each file).
void cleansAfterSwitches()
{
    QTemporaryDir root;
    auto cache
        = iris::ImageCache::initNamed(QStringLiteral("bench-cleans"), QUrl::fromLocalFile(root.path()));
    constexpr int fileCount = 10'000;
    const QByteArray data(1024, 'x');
    for (int i = 0; i < fileCount; ++i)
        cache->writeDataToDiskNow(
            data, QString::number(i), {}, iris::CallbackQueue::untouch(), std::nullopt, {}, {});
    const QByteArray folder = QFile::encodeName(cache->diskStorage()->directoryURL().toLocalFile());

    auto oursRun = [&] {
        std::mutex mutex;
        std::unique_lock held(mutex);
        cache->ioQueue()->async([&] { std::lock_guard wait(mutex); });
        for (int i = 0; i < 5; ++i)
            platform::NotificationCenter::defaultCenter().post(iris::applicationWillResignActiveNotification);
        const auto start = std::chrono::steady_clock::now();
        held.unlock();
        cache->ioQueue()->sync([] {});
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    auto baselineRun = [&] {
        DIR* directory = ::opendir(folder.constData());
        struct stat info { };
        while (dirent* entry = ::readdir(directory))
            g_sink += std::uint64_t(::fstatat(::dirfd(directory), entry->d_name, &info, AT_SYMLINK_NOFOLLOW));
        ::closedir(directory);
    };
    double ours = 1e300, baseline = 1e300;
    for (int i = 0; i < 5; ++i) {
        ours = std::min(ours, oursRun());
        baseline = std::min(baseline, seconds(baselineRun));
    }
    report("5 switches away, 10,000 cached files vs a walk", ours, baseline, "<= 2.5");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    md5Keys();
    md5Buffer();
    memoryHit();
    diskHitAndMiss();
    cleansAfterSwitches();
    return g_sink == 42 ? 1 : 0;
}
