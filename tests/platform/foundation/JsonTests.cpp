#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using platform::JsonObjectReader;

TEST(Json, DoublesRoundTripBitExactly)
{
    std::mt19937_64 random(2001);
    // Negative zero is left out: QJsonDocument stores a whole number as an integer, which has no sign.
    std::vector<double> values { 0.0, 1.0, 0.1, 1e-300, 5e-324, 1.7976931348623157e308, 786840000.123456789,
        -978307200.5, 12.0, 1e21, 123456789012345680.0 };
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value) && value != 0)
            values.push_back(value);
        values.push_back(std::uniform_real_distribution<double>(-2e9, 2e9)(random));
    }
    platform::JsonWriter writer;
    writer.beginArray();
    for (double value : values)
        writer.number(value);
    writer.endArray();
    ASSERT_FALSE(writer.failed());
    auto parsed = platform::parseJsonArray(writer.bytes());
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

TEST(Json, SplitsOnlyBetweenTopLevelElements)
{
    const QByteArray text = R"( [ {"a": "x,]}\"y"}, [1, 2], "s,\\", 3 ,{"b":{"c":[]}} ] )";
    const auto pieces = platform::splitJsonArray(text, 3);
    ASSERT_TRUE(pieces);
    ASSERT_GE(pieces->size(), 2u);
    ASSERT_LE(pieces->size(), 3u);
    QByteArray rejoined = "[";
    for (const QByteArrayView piece : *pieces) {
        EXPECT_TRUE(platform::parseJsonArray("[" + piece.toByteArray() + "]")) << piece.toByteArray().data();
        rejoined += piece.toByteArray() + ",";
    }
    rejoined.back() = ']';
    EXPECT_EQ(platform::parseJsonArray(rejoined).value(), platform::parseJsonArray(text).value());
    EXPECT_EQ(platform::splitJsonArray(text, 100)->size(), 5u);

    // Whatever is not plainly one array of whole elements is left to the whole parse.
    for (const char* bad : { "", "{}", "[1,,2]", "[1,]", "[1] x", "[1", "[]", "[1}" })
        EXPECT_FALSE(platform::splitJsonArray(bad, 2)) << bad;
}

TEST(Json, ReaderIsStrictAboutTypesAndKeys)
{
    QJsonObject object {
        { "s", "text" },
        { "n", 3 },
        { "b", true },
        { "one", 1 },
        { "null", QJsonValue::Null },
        { "u", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0" },
        { "bad", "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}" },
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

TEST(JsonWriter, WritesCompactJsonThatQtReadsBack)
{
    QString awkward = QString::fromUtf8("quote \" backslash \\ slash / tab \t newline \n bell \a nul ")
        + QChar(0) + QString::fromUtf8(" é 日本 \U0001F600 \u2028");
    platform::JsonWriter writer;
    writer.beginArray();
    writer.beginObject();
    writer.key(u"text");
    writer.string(awkward);
    writer.key(u"list");
    writer.beginArray();
    writer.boolean(true);
    writer.null();
    writer.emptyObject();
    writer.number(12);
    writer.endArray();
    writer.key(awkward);
    writer.boolean(false);
    writer.endObject();
    writer.beginArray();
    writer.endArray();
    writer.endArray();
    ASSERT_FALSE(writer.failed());
    EXPECT_FALSE(writer.bytes().contains(' ') && writer.bytes().contains(": ")) << "compact";
    auto parsed = platform::parseJsonArray(writer.bytes());
    ASSERT_TRUE(parsed) << writer.bytes().constData();
    QJsonObject object = parsed.value().at(0).toObject();
    EXPECT_EQ(object["text"].toString(), awkward);
    EXPECT_EQ(object["list"].toArray(), (QJsonArray { true, QJsonValue::Null, QJsonObject(), 12 }));
    EXPECT_EQ(object[awkward].toBool(true), false);
    EXPECT_EQ(parsed.value().at(1).toArray(), QJsonArray());
}

TEST(JsonWriter, ANumberThatIsNotFiniteFailsTheOutput)
{
    for (double value :
        { std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity() }) {
        platform::JsonWriter writer;
        writer.beginArray();
        writer.number(value);
        writer.endArray();
        EXPECT_TRUE(writer.failed());
    }
}
