#include "TextStorageDifferential.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Runs the operations of `count` fixed seeds; the first byte's lowest bit picks the blocks alone
// (0) or the whole storage (1).
void runSeeds(std::uint32_t first, std::uint32_t count, unsigned storage)
{
    for (std::uint32_t seed = first; seed < first + count; ++seed) {
        std::mt19937 random(seed);
        std::vector<std::uint8_t> bytes(3000);
        for (std::uint8_t& byte : bytes)
            byte = std::uint8_t(random());
        bytes[0] = std::uint8_t((bytes[0] & ~1u) | storage);
        const QString failure = textcheck::runOperations(bytes.data(), bytes.size());
        ASSERT_TRUE(failure.isEmpty()) << "seed " << seed << ": " << failure.toStdString();
    }
}

} // namespace

// The edit sequences the fuzz target runs, from fixed seeds, each read compared with a plain
// string after every edit.
TEST(TextStorageDifferential, BlockEditsReadBackAsAPlainStringWould)
{
    runSeeds(1, 40, 0);
}

TEST(TextStorageDifferential, DocumentEditsReadBackAsAPlainStringWould)
{
    runSeeds(1, 32, 1);
}

// The inputs kept with the fuzz target, among them those that once found a fault.
TEST(TextStorageDifferential, KeptFuzzInputsReadBackAsAPlainStringWould)
{
    const QDir folder(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/text-storage-edits"));
    const QStringList names = folder.entryList(QDir::Files);
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray bytes = file.readAll();
        const QString failure = textcheck::runOperations(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), size_t(bytes.size()));
        EXPECT_TRUE(failure.isEmpty()) << name.toStdString() << ": " << failure.toStdString();
    }
}
