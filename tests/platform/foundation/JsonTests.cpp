#include "platform/foundation/Json.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using platform::JsonObjectReader;

TEST(Json, DoublesRoundTripBitExactly)
{
    std::mt19937_64 random(2001);
    std::vector<double> values { 0.0, 1.0, 0.1, 1e-300, 5e-324, 1.7976931348623157e308, 786840000.123456789,
                                 -978307200.5, 12.0 };
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value) && value != 0)
            values.push_back(value);
        values.push_back(std::uniform_real_distribution<double>(-2e9, 2e9)(random));
    }
    QJsonArray array;
    for (double value : values)
        array.append(value);
    auto parsed = platform::parseJsonArray(platform::compactJson(array));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed.value().size(), qsizetype(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        double back = parsed.value().at(qsizetype(i)).toDouble();
        EXPECT_EQ(std::memcmp(&back, &values[i], sizeof back), 0) << values[i];
    }
}

TEST(Json, OnlyAWholeArrayParses)
{
    EXPECT_TRUE(platform::parseJsonArray("[]"));
    for (const char* text : { "", "{}", "[1,", "[1] x", "\"a\"", "[1,]" }) {
        auto parsed = platform::parseJsonArray(text);
        ASSERT_FALSE(parsed) << text;
        EXPECT_EQ(parsed.error().domain, platform::jsonErrorDomain);
    }
}

TEST(Json, ReaderIsStrictAboutTypesAndKeys)
{
    QJsonObject object {
        { "s", "text" }, { "n", 3 }, { "b", true }, { "one", 1 }, { "null", QJsonValue::Null },
        { "u", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0" }, { "bad", "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}" },
    };
    {
        JsonObjectReader reader(object);
        EXPECT_EQ(reader.string("s"), "text");
        EXPECT_EQ(reader.number("n"), 3.0);
        EXPECT_TRUE(reader.boolean("b"));
        EXPECT_FALSE(reader.optionalString("null"));
        EXPECT_FALSE(reader.optionalString("absent"));
        EXPECT_TRUE(reader.uuid("u").uuidString().startsWith("0F1E2D3C"));
        EXPECT_TRUE(reader.ok());
    }
    struct Case {
        const char* name;
        std::function<void(JsonObjectReader&)> read;
    };
    const Case failures[] = {
        { "number as boolean", [](JsonObjectReader& r) { r.boolean("one"); } },
        { "string as number", [](JsonObjectReader& r) { r.number("s"); } },
        { "missing key", [](JsonObjectReader& r) { r.string("absent"); } },
        { "null for a required key", [](JsonObjectReader& r) { r.string("null"); } },
        { "braced uuid", [](JsonObjectReader& r) { r.uuid("bad"); } },
        { "number for optional string", [](JsonObjectReader& r) { r.optionalString("n"); } },
    };
    for (const Case& failure : failures) {
        JsonObjectReader reader(object);
        failure.read(reader);
        EXPECT_FALSE(reader.ok()) << failure.name;
    }
}
