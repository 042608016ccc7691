#include "LibraryTestSupport.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryCodingReader.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

using apptest::fileUrl;
using apptest::makeProject;

namespace {

// The records a file decodes to, written back: two lists are the same when these bytes are.
QByteArray written(const tdlibrary::ProjectList& projects)
{
    return tdlibrary::encodeProjects(projects).value();
}

// The direct reading takes `bytes` and gives what the document gives.
void expectReadDirectly(const QByteArray& bytes, const char* what)
{
    const auto document = tdlibrary::decodeProjectsThroughDocument(bytes);
    ASSERT_TRUE(document) << what << ": " << document.error().description.toStdString();
    const auto direct = tdlibrary::readProjectsDirectly(bytes);
    ASSERT_TRUE(direct) << what;
    EXPECT_EQ(written(*direct), written(document.value())) << what;
    ASSERT_EQ(direct->size(), document.value().size()) << what;
    for (std::size_t i = 0; i < direct->size(); ++i) {
        EXPECT_EQ((*direct)[i]->name(), document.value()[i]->name()) << what;
        const auto notes = (*direct)[i]->tdNote(), documentNotes = document.value()[i]->tdNote();
        ASSERT_EQ(notes.size(), documentNotes.size()) << what;
        for (std::size_t n = 0; n < notes.size(); ++n) {
            EXPECT_EQ(notes[n]->title(), documentNotes[n]->title()) << what;
            EXPECT_EQ(notes[n]->contentURL().qUrl(), documentNotes[n]->contentURL().qUrl()) << what;
        }
    }
}

// The direct reading leaves `bytes` to the document, and the decoding gives the document's result.
void expectLeftToTheDocument(const QByteArray& bytes, const char* what)
{
    EXPECT_FALSE(tdlibrary::readProjectsDirectly(bytes)) << what;
    const auto document = tdlibrary::decodeProjectsThroughDocument(bytes);
    const auto decoded = tdlibrary::decodeProjects(bytes);
    ASSERT_EQ(bool(decoded), bool(document)) << what;
    if (decoded)
        EXPECT_EQ(written(decoded.value()), written(document.value())) << what;
    else
        EXPECT_EQ(decoded.error().description, document.error().description) << what;
}

// One project of one note as our writer puts it, with `replace` applied to its text.
QByteArray oneProject(const std::vector<std::pair<QByteArray, QByteArray>>& replace = {})
{
    auto project = makeProject("Name", 1, true);
    QByteArray bytes = written({ project });
    bytes.replace(project->tdNote()[0]->id().uuidString().toLatin1(), "0A3AFFC1-23F1-42F7-9B0D-46E93D3567D6");
    for (const auto& [from, to] : replace) {
        EXPECT_TRUE(bytes.contains(from)) << from.toStdString();
        bytes.replace(from, to);
    }
    return bytes;
}

} // namespace

TEST(TDLibraryDirectReading, TakesWhatOurWriterAndOtherEditorsWriteAsTheDocumentReadsIt)
{
    const std::pair<const char*, QByteArray> cases[] = {
        { "as written", oneProject() },
        { "escapes",
            oneProject({ { "\"_title\":\"Note 0\"",
                R"("_title":"\"q\" \\ \/ \b\f\n\r\t \u00e9 \ud83d\ude00 \u0000")" } }) },
        { "raw UTF-8 and control characters", oneProject({ { "\"Name\"", "\"Čeština 日本 😀 \x01\x7f\"" } }) },
        { "escaped UUID", oneProject({ { "\"0A3AFFC1", "\"\\u0030A3AFFC1" } }) },
        { "lower-case UUID",
            oneProject(
                { { "0A3AFFC1-23F1-42F7-9B0D-46E93D3567D6", "0a3affc1-23f1-42f7-9b0d-46e93d3567d6" } }) },
        { "unknown keys and nested values",
            oneProject(
                { { "\"_status\"", R"("x":[{"a":[1,-2.5e3,true,null,"s\"]"],"b":{}},{}],"_status")" } }) },
        { "an unknown key given twice", oneProject({ { "\"_status\"", R"("x":1,"x":[2],"_status")" } }) },
        { "no registrar, null cover",
            oneProject({ { "\"_$observationRegistrar\":{}", "\"k\":0" },
                { "\"_coverImageURL\":\"file:", "\"_coverImageURL\":null,\"c\":\"file:" } }) },
        { "white space everywhere", QJsonDocument::fromJson(oneProject()).toJson(QJsonDocument::Indented) },
        { "keys in another order", QJsonDocument::fromJson(oneProject()).toJson(QJsonDocument::Compact) },
        { "numbers",
            oneProject({ { "\"_startDate\":786840000.25", "\"_startDate\":-0" },
                { "\"_imageColumnCount\":7.5", "\"_imageColumnCount\":1.5E+3" },
                { "\"_date\":8e+08", "\"_date\":12345678901234567890123.0e-3" } }) },
        { "tiny and long numbers",
            oneProject({ { "\"_startDate\":786840000.25", "\"_startDate\":-0.0e7" },
                { "\"_imageColumnCount\":7.5", "\"_imageColumnCount\":0.1000000000000000055511151231257827" },
                { "\"_date\":8e+08", "\"_date\":2.2250738585072014e-308" } }) },
        { "a URL the reading writes differently", oneProject({ { "Note%200.txt", "Note%200%2e%7etxt" } }) },
        { "an empty library", "  [ ]\n" },
    };
    for (const auto& [what, bytes] : cases)
        expectReadDirectly(bytes, what);

    const auto media
        = TDMedia::make(platform::Uuid::random(), fileUrl("/a/b c.png"), fileUrl("/a/t.jpg"), {});
    const QByteArray mediaBytes = tdlibrary::encodeMedia({ media }).value();
    ASSERT_TRUE(tdlibrary::readMediaDirectly(mediaBytes));
    EXPECT_EQ(tdlibrary::encodeMedia(*tdlibrary::readMediaDirectly(mediaBytes)).value(), mediaBytes);
    const QByteArray links
        = R"([{"title":null,"desc":"A \"page\"","url":"not a URL","id":"0A3AFFC1-23F1-42F7-9B0D-46E93D3567D6","tdNoteId":"0A3AFFC1-23F1-42F7-9B0D-46E93D3567D6"}])";
    ASSERT_TRUE(tdlibrary::readLinksDirectly(links));
    EXPECT_EQ(tdlibrary::encodeLinks(*tdlibrary::readLinksDirectly(links)).value(),
        tdlibrary::encodeLinks(tdlibrary::decodeLinksThroughDocument(links).value()).value());
}

// What the direct reading does not take is decoded as the document decodes it: the same records when
// the document takes the file, and the same error when it does not.
TEST(TDLibraryDirectReading, LeavesEverythingElseToTheDocument)
{
    QByteArray deep = "1";
    for (int i = 0; i < 100; ++i)
        deep = "[" + deep + "]";
    const std::pair<const char*, QByteArray> cases[] = {
        // Files the document takes.
        { "a key given twice", oneProject({ { "\"_name\":\"Name\"", "\"_name\":\"A\",\"_name\":\"B\"" } }) },
        { "a byte-order mark", "\xEF\xBB\xBF" + oneProject() },
        { "a lone surrogate", oneProject({ { "\"Note 0\"", R"("\ud800 alone")" } }) },
        { "an unknown escape", oneProject({ { "\"Note 0\"", R"("\x")" } }) },
        { "an escaped key", oneProject({ { "\"_name\"", R"("_n\u0061me")" } }) },
        { "numbers JSON does not allow",
            oneProject({ { "\"_imageColumnCount\":7.5", "\"_imageColumnCount\":7." } }) },
        { "deep nesting", oneProject({ { "\"_status\"", "\"x\":" + deep + ",\"_status\"" } }) },
        // Files it refuses.
        { "an element that is no object", "[1]" },
        { "a missing comma", oneProject({ { ",\"_status\"", " \"_status\"" } }) },
        { "a trailing comma", oneProject({ { "}]", "},]" } }) },
        { "a number out of range",
            oneProject({ { "\"_imageColumnCount\":7.5", "\"_imageColumnCount\":1e999" } }) },
        { "malformed UTF-8", oneProject({ { "\"Name\"", "\"\xC0\xAF\"" } }) },
        { "a malformed URL",
            oneProject({ { "\"https://example.com/a?b=c\"", "\"http://exa mple.com/\"" } }) },
        { "text after the array", oneProject() + "x" },
        { "a cut file", oneProject().chopped(2) },
    };
    for (const auto& [what, bytes] : cases)
        expectLeftToTheDocument(bytes, what);
}

// A large file is cut where the text looks like an element's start. Text that only looks like one (in
// a name, in an unknown key's value, in a link's title) must not cut a record in two.
TEST(TDLibraryDirectReading, LargeFilesCutWhereTheTextOnlyLooksLikeAnElementDecodeWhole)
{
    tdlibrary::ProjectList projects;
    for (int i = 0; i < 400; ++i)
        projects.push_back(makeProject(QStringLiteral("P%1 },{\"_name\": ").arg(i), 2, i % 2));
    const QByteArray plain = written(projects);
    ASSERT_GT(plain.size(), 256 * 1024);
    expectReadDirectly(plain, "names with quotes");

    // Each project holds what looks like the start of another.
    QByteArray nested = plain;
    nested.replace("\"_isFavorite\"", R"("old":[{"_name":"x"},{"_name":"y"}],"_isFavorite")");
    expectReadDirectly(nested, "look-alikes in unknown values");

    tdlibrary::LinkList links;
    for (int i = 0; i < 3000; ++i)
        links.push_back({ QStringLiteral("t%1 },{").arg(i), std::nullopt,
            QStringLiteral("https://e.com/%1").arg(i), platform::Uuid::random(), platform::Uuid::random() });
    const QByteArray linkBytes = tdlibrary::encodeLinks(links).value();
    ASSERT_GT(linkBytes.size(), 256 * 1024);
    ASSERT_TRUE(linkBytes.contains("},{\",\"url\""));
    const auto read = tdlibrary::readLinksDirectly(linkBytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(tdlibrary::encodeLinks(*read).value(), linkBytes);
}

// Reads `text` as the one element of an array with the reader and with QJsonDocument; whatever the
// reader takes, the document must take with the same value.
template<typename Read, typename Same>
void expectReadAsTheDocumentReads(const QByteArray& text, bool taken, Read read, Same same)
{
    const QByteArray array = "[" + text + "]";
    TDLibraryCodingReader reader(array);
    decltype(read(reader)) value;
    const bool readerTakes = reader.readDocument([&] {
        value = read(reader);
        return value.has_value();
    });
    EXPECT_EQ(readerTakes, taken) << text.toStdString();
    if (!readerTakes)
        return;
    QJsonParseError error;
    const QJsonArray document = QJsonDocument::fromJson(array, &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
    EXPECT_TRUE(same(*value, document.at(0))) << text.toStdString();
}

TEST(TDLibraryDirectReading, StringsAndNumbersAtTheEdgesReadAsTheDocumentReadsThem)
{
    const std::pair<QByteArray, bool> strings[] = {
        { "\"\xC2\x80 \xDF\xBF \xE0\xA0\x80 \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBF\"", true },
        { "\"\xF0\x90\x80\x80 \xF3\xBF\xBF\xBF \xF4\x8F\xBF\xBF\"", true },
        { R"("\uD83D\uDE00 \u00e9\u00E9 \/")", true },
        // A byte-order mark inside a string: the document drops one that starts a string without
        // escapes, and keeps every one in a string with escapes.
        { "\"\xEF\xBB\xBF\xEF\xBB\xBF" "a\"", true },
        { "\"\xEF\xBB\xBF\\\"q\\n\xEF\xBB\xBF" "b\\t\xEF\xBB\xBF\"", true },
        { "\"\xC1\xBF\"", false }, // overlong
        { "\"\xE0\x9F\xBF\"", false }, // overlong
        { "\"\xED\xA0\x80\"", false }, // a surrogate
        { "\"\xF0\x8F\xBF\xBF\"", false }, // overlong
        { "\"\xF4\x90\x80\x80\"", false }, // past U+10FFFF
        { "\"\xF5\x80\x80\x80\"", false },
        { "\"\x80\"", false },
        { "\"\xC3\"", false }, // cut
        { "\"\xE2\x82\"", false }, // cut
        { R"("\u00")", false },
        { R"("\uDC00\uD800")", false },
        { R"("\uD800\u0041")", false },
        { R"("\u0041\")", false },
    };
    for (const auto& [text, taken] : strings) {
        expectReadAsTheDocumentReads(
            text, taken, [](TDLibraryCodingReader& reader) { return reader.string(); },
            [](const QString& value, const QJsonValue& document) { return value == document.toString(); });
    }

    const std::pair<QByteArray, bool> numbers[] = {
        { "0", true },
        { "-0", true },
        { "-0.0e+0", true },
        { "-1.5e-3", true },
        { "1E+2", true },
        { "9007199254740993", true },
        { "123456789012345678901234567890", true },
        { "0.30000000000000004", true },
        { "1.7976931348623157e308", true },
        { "2.2250738585072014e-308", true },
        { "1.7976931348623159e308", false },
        { "1e-400", false },
        { "-", false },
        { "01", false },
        { "1.", false },
        { ".5", false },
        { "1e", false },
        { "+1", false },
        { "0x10", false },
        { "NaN", false },
    };
    for (const auto& [text, taken] : numbers) {
        expectReadAsTheDocumentReads(
            text, taken, [](TDLibraryCodingReader& reader) { return reader.number(); },
            [](double value, const QJsonValue& document) {
                const double other = document.toDouble();
                return std::memcmp(&value, &other, sizeof value) == 0;
            });
    }
}

// Records keep URLs as text; what a record gives back is the URL it was given.
TEST(TDLibraryDirectReading, RecordsGiveBackTheUrlTheyWereGiven)
{
    std::vector<platform::Url> urls;
    for (const QString name : { "with space", "100%", "#hash", "what?", "Čeština ✓ 日本", "a%20b", "x[1]" })
        urls.push_back(fileUrl("/lib/" + name + "/n.txt"));
    for (const char* text : { "https://user:pw@example.com:8080/a%2Fb?q=1&r=%7e#frag", "https://[::1]/x",
             "https://bücher.example/ä", "mailto:someone@example.com", "file:///a/%2e%2e/b" })
        urls.push_back(platform::Url::fromString(QString::fromUtf8(text)).value());
    urls.push_back(platform::Url());
    urls.push_back(platform::Url(QUrl(QStringLiteral("http://exa mple.com/"), QUrl::StrictMode)));

    auto project = makeProject("P", 1);
    auto note = project->tdNote()[0];
    auto media = TDMedia::make(platform::Uuid::random(), fileUrl("/m"), fileUrl("/t"), {});
    for (const platform::Url& url : urls) {
        const std::string what = url.qUrl().toString().toStdString();
        note->setContentURL(url);
        EXPECT_EQ(note->contentURL().qUrl(), url.qUrl()) << what;
        EXPECT_EQ(note->contentURL().isValid(), url.isValid()) << what;
        EXPECT_EQ(note->contentURL().pathComponents(), url.pathComponents()) << what;
        project->setCoverImageURL(url);
        EXPECT_EQ(project->coverImageURL()->qUrl(), url.qUrl()) << what;
        project->setQuickAccessURL({ url, url });
        EXPECT_EQ(project->quickAccessURL().at(1).qUrl(), url.qUrl()) << what;
        media->setThumbnailURL(url);
        EXPECT_EQ(media->thumbnailURL().qUrl(), url.qUrl()) << what;
    }
}

// A name that begins with U+FEFF (a page title may) is written so that both readings give it back.
TEST(TDLibraryDirectReading, ANameBeginningWithAByteOrderMarkSurvivesASaveAndALoad)
{
    const QString name = QChar(0xFEFF) + QStringLiteral("Name");
    const QByteArray saved = written({ makeProject(name, 1, true) });
    const auto direct = tdlibrary::readProjectsDirectly(saved);
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->at(0)->name(), name);
    EXPECT_EQ(tdlibrary::decodeProjectsThroughDocument(saved).value().at(0)->name(), name);
    EXPECT_EQ(written(*direct), saved);
}
