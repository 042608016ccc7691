#include "Iris/cache/DiskStorage.h"
#include "Iris/cache/MemoryStorage.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

using namespace iris;

namespace {
struct Tile {
    int id = 0;
};
} // namespace

template<> struct iris::CacheCostCalculable<Tile> {
    static std::int64_t cacheCost(const Tile&) { return 1; }
};

// These tests earn their keep under ThreadSanitizer (TINDREL_TSAN); without it they check only that
// concurrent use gives consistent answers.
TEST(StorageConcurrency, MemoryTierReadByEightThreads)
{
    auto backend = MemoryStorage::Backend<Tile>::make(MemoryStorage::Config(64, 0.001));
    for (int i = 0; i < 32; ++i)
        backend->storeValue(Tile { i }, QString::number(i));
    std::atomic<bool> wrong { false };
    std::atomic<int> finished { 0 };
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&, t] {
            for (int i = 0; i < 4000; ++i) {
                QString key = QString::number((i + t) % 48);
                if (auto tile = backend->readValue(key); tile && tile->id != (i + t) % 48)
                    wrong = true;
                if (i % 50 == 0)
                    backend->storeValue(
                        Tile { (i + t) % 48 }, key, StorageExpiration::seconds(i % 100 ? 300 : 0.001));
                if (i % 500 == 0)
                    backend->modifyConfig([](MemoryStorage::Config& config) { config.totalCostLimit = 40; });
                (void)backend->containsValue(key);
            }
            ++finished;
        });
    }
    // The clean timer fires on the main thread meanwhile.
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished == 8; }, 60000));
    for (auto& reader : readers)
        reader.join();
    EXPECT_FALSE(wrong);
}

TEST(StorageConcurrency, DiskTierReadOnTheMainThreadWhileWrittenOnItsQueue)
{
    QTemporaryDir root;
    auto backend = std::make_shared<DiskStorage::Backend<QByteArray>>(DiskStorage::Config(
        "concurrent", 0, CacheFileSystem::defaultFileSystem(), QUrl::fromLocalFile(root.path())));
    auto ioQueue = platform::DispatchQueue::makeSerial("test.disk.io");
    std::atomic<bool> writing { true };
    std::atomic<bool> storeFailed { false };
    ioQueue->async([backend, &writing, &storeFailed] {
        for (int i = 0; i < 300; ++i) {
            QByteArray value = QByteArray::number(i).repeated(100);
            if (backend->storeValue(value, QString("key%1").arg(i % 20)).isFailure())
                storeFailed = true;
            if (i % 50 == 0) {
                auto config = backend->config();
                config.sizeLimit = 1 << 20;
                backend->setConfig(config);
                (void)backend->removeExpiredFiles();
            }
        }
        writing = false;
    });
    bool torn = false;
    int hits = 0;
    while (writing) {
        for (int k = 0; k < 20; ++k) {
            auto read = backend->readValue(QString("key%1").arg(k));
            if (read.isSuccess() && read.value()) {
                ++hits;
                const QByteArray& bytes = *read.value();
                // Every value is one number repeated: a torn read would mix two.
                QByteArray unit = bytes.left(bytes.size() / 100);
                torn = torn || bytes != unit.repeated(100);
            }
        }
    }
    backend->waitForPendingDateUpdates();
    EXPECT_FALSE(storeFailed);
    EXPECT_FALSE(torn);
    EXPECT_GT(hits + int(backend->containsValue("key0")), 0);
}

// Stores race removals of the same keys (one by one, by a clean, or of the whole folder). Once they
// have settled, "is it cached" agrees with the disk for every key.
TEST(StorageConcurrency, IsCachedStaysRightThroughRemovalsRacingStores)
{
    QTemporaryDir root;
    DiskStorage::Config config(
        "racing", 1, CacheFileSystem::defaultFileSystem(), QUrl::fromLocalFile(root.path()));
    DiskStorage::Backend<QByteArray> creator(config); // so that the backend below lists a folder
    DiskStorage::Backend<QByteArray> backend(config);
    auto key = [](int i) { return QString("key%1").arg(i % 16); };
    for (int round = 0; round < 30; ++round) {
        std::latch start(3);
        auto racing = [&](std::function<void()> work) {
            return std::thread([&start, work] {
                start.arrive_and_wait();
                work();
            });
        };
        std::thread storer = racing([&] {
            for (int i = 0; i < 16; ++i) {
                (void)backend.storeValue("bytes", key(i));
                (void)backend.containsValue(key(i + 5));
            }
        });
        std::thread remover = racing([&] {
            for (int i = 16; i > 0; --i)
                (void)backend.removeFileForKey(key(i));
        });
        std::thread cleaner = racing([&] {
            if (round % 3 == 0)
                (void)backend.removeExpiredFiles(platform::Date::now().addingTimeInterval(30 * 86400));
            else if (round % 3 == 1)
                (void)backend.trimToSizeLimit();
            else
                (void)backend.removeAllFiles();
        });
        for (std::thread* thread : { &storer, &remover, &cleaner })
            thread->join();
        backend.waitForPendingNameUpdates();
        ASSERT_TRUE(backend.maybeCachedNameCount());
        for (int i = 0; i < 16; ++i)
            ASSERT_EQ(
                backend.containsValue(key(i)), QFile::exists(backend.fileURLForKey(key(i)).toLocalFile()))
                << "round " << round << ", key " << i;
    }
}
