#include "platform/foundation/Uuid.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unordered_set>

using platform::Uuid;

TEST(Uuid, ParsesCanonicalTextInEitherCaseAndWritesUpperCase)
{
    auto upper = Uuid::fromString(u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    auto lower = Uuid::fromString(u"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(*upper, *lower);
    EXPECT_EQ(upper->uuidString(), QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
    EXPECT_EQ(upper->lowercaseString(), QStringLiteral("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"));
}

TEST(Uuid, RefusesEverythingButTheCanonicalForm)
{
    const char16_t* rejected[] = {
        u"",
        u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
        u"0F1E2D3C4B5A69788796A5B4C3D2E1F0",
        u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F",
        u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F00",
        u"0F1E2D3C-4B5A-6978-8796_A5B4C3D2E1F0",
        u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1G0",
        u" 0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F",
        u"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F\u0660",
    };
    for (const char16_t* text : rejected)
        EXPECT_FALSE(Uuid::fromString(QString::fromUtf16(text))) << QString::fromUtf16(text).toStdString();
}

TEST(Uuid, RandomIdentifiersAreVersionFourAndDistinct)
{
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        Uuid id = Uuid::random();
        EXPECT_EQ(id.bytes()[6] >> 4, 4);
        EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
        EXPECT_TRUE(seen.insert(id).second);
        EXPECT_EQ(Uuid::fromString(id.uuidString()), id);
    }
}
