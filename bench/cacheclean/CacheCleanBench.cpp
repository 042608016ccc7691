// A disk-cache clean over its size limit, on 20,000 files, against the plainest walk of the same
// folder that reads what a clean needs (one status per file: its size and dates). Prints the ratio ours /
// baseline.
//
// The files are kept between runs: the storage under measurement removes nothing (its file system
// only counts the removals asked for), so every run walks, reads and sorts the same 20,000 files.

#include "../support/Compare.h"

#include "Iris/cache/DiskStorage.h"

#include "platform/foundation/FileAttributes.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace {

constexpr int fileCount = 20'000;
constexpr qsizetype fileBytes = 100;

std::atomic<std::uint64_t> g_sink { 0 };

// Walks and reads like the real one, but keeps every file.
class KeepingFileSystem final : public iris::CacheFileSystem {
public:
    Result<Success> removeItem(const QString&) override
    {
        ++removals;
        return Result<Success>::success({});
    }
    std::atomic<std::uint64_t> removals { 0 };
};

void fill(const QString& folder)
{
    const platform::Date now = platform::Date::now();
    for (int i = 0; i < fileCount; ++i) {
        const QString path = folder + QStringLiteral("/%1").arg(i, 8, 10, QLatin1Char('0'));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(QByteArray(fileBytes, 'x'));
        file.close();
        // Live files with distinct last accesses, a tenth of them expired.
        const platform::Date lastAccess = now.addingTimeInterval(-double(i));
        const platform::Date expiry = now.addingTimeInterval(i % 10 == 0 ? -1 : 3600);
        if (iris::CacheFileSystem::defaultFileSystem()->setDates(path, lastAccess, expiry).isFailure())
            std::abort();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    auto files = std::make_shared<KeepingFileSystem>();
    // Over its limit: the live files weigh 1.8 MB against a limit of 1 MB.
    iris::DiskStorage::Backend<QByteArray> storage(
        iris::DiskStorage::Config("bench", 1'000'000, files, QUrl::fromLocalFile(root.path())));
    storage.waitForPendingNameUpdates();
    const QString folder = storage.directoryURL().toLocalFile();
    fill(folder);

    bench::compare(
        "clean of 20,000 files over the size limit vs a one-pass walk",
        [&] {
            auto cleaned = storage.removeExpiredFilesAndTrim();
            if (cleaned.error || cleaned.trimmed.empty())
                std::abort();
            g_sink += cleaned.expired.size() + cleaned.trimmed.size();
        },
        [&] {
            std::error_code error;
            for (std::filesystem::recursive_directory_iterator walk(folder.toStdString(), error), end;
                 walk != end; walk.increment(error)) {
                struct stat info { };
                if (::lstat(walk->path().c_str(), &info) == 0 && S_ISREG(info.st_mode))
                    g_sink += std::uint64_t(info.st_size) + std::uint64_t(info.st_mtim.tv_sec)
                        + std::uint64_t(info.st_atim.tv_sec);
            }
        });
    std::printf("removals asked for: %llu\n", static_cast<unsigned long long>(files->removals.load()));
    return g_sink == 42 ? 1 : 0;
}
