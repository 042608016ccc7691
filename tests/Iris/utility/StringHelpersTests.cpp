#include "Iris/utility/StringHelpers.h"

#include <gtest/gtest.h>

TEST(StringHelpers, FileExtension)
{
    const std::pair<const char*, std::optional<QString>> cases[] = {
        { "photo.png", QString("png") },
        { "photo.png@2x", QString("png") },
        { "photo@2x.png", QString("png") },
        { "archive.tar.gz", QString("gz") },
        { "file.JPG", QString("JPG") },
        { ".hidden", QString("hidden") },
        { "dir.old/file", QString("old/file") },
        // Empty pieces are dropped, so the scale suffix itself is what remains.
        { "photo.@2x", QString("2x") },
        { "noextension", std::nullopt },
        { "trailing.", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(iris::fileExtension(QString::fromLatin1(text)), expected) << text;
    EXPECT_EQ(iris::ir(QString("a.webp")).fileExtension(), QString("webp"));
}
