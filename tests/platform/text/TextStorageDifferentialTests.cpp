#include "TextStorageDifferential.h"

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
