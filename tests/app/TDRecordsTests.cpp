#include "LibraryTestSupport.h"
#include "app/model/NavigationType.h"
#include "app/store/TDLibraryCoding.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>
#include <random>

using apptest::fileUrl;
using apptest::makeProject;
using platform::Uuid;

namespace {

QStringList keysOf(const QJsonObject& object)
{
    QStringList keys = object.keys();
    keys.sort();
    return keys;
}

QStringList sorted(QStringList keys)
{
    keys.sort();
    return keys;
}

QJsonArray parse(const QByteArray& bytes)
{
    return QJsonDocument::fromJson(bytes).array();
}

} // namespace

TEST(TDRecords, ProjectWritesExactlyItsKeysAndRoundTrips)
{
    auto project = makeProject("Album #2 ? 100%", 3, true);
    auto bytes = tdlibrary::encodeProjects({ project });
    ASSERT_TRUE(bytes);
    QJsonObject object = parse(bytes.value()).at(0).toObject();
    EXPECT_EQ(keysOf(object),
        sorted({ "_name", "_category", "id", "_quickAccessURL", "_status", "_tdNote", "_isFavorite",
            "_startDate", "_imageColumnCount", "_coverImageURL", "_$observationRegistrar" }));
    EXPECT_EQ(object["_$observationRegistrar"].toObject(), QJsonObject());
    EXPECT_EQ(keysOf(object["_category"].toObject()), sorted({ "_id", "_name", "_$observationRegistrar" }));
    QJsonArray notes = object["_tdNote"].toArray();
    ASSERT_EQ(notes.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(keysOf(notes[i].toObject()),
            sorted({ "id", "tdProjectId", "_title", "_contentURL", "_date", "_$observationRegistrar" }));
        EXPECT_EQ(notes[i].toObject()["_title"].toString(), QStringLiteral("Note %1").arg(i));
    }
    EXPECT_EQ(object["id"].toString(), project->id().uuidString());
    EXPECT_EQ(object["_status"].toString(), "Archived");
    EXPECT_TRUE(object["_coverImageURL"].toString().startsWith("file:///home/u/"));

    auto decoded = tdlibrary::decodeProjects(bytes.value());
    ASSERT_TRUE(decoded);
    const auto& back = decoded.value().at(0);
    EXPECT_EQ(back->name(), project->name());
    EXPECT_EQ(back->id(), project->id());
    EXPECT_EQ(*back->category(), *project->category());
    EXPECT_EQ(back->category()->name(), "Music");
    EXPECT_EQ(back->quickAccessURL(), project->quickAccessURL());
    EXPECT_EQ(back->status(), TDStatus::archived);
    EXPECT_TRUE(back->isFavorite());
    EXPECT_EQ(back->startDate(), project->startDate());
    EXPECT_EQ(back->imageColumnCount(), 7.5);
    EXPECT_EQ(back->coverImageURL(), project->coverImageURL());
    ASSERT_EQ(back->tdNote().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back->tdNote()[i]->id(), project->tdNote()[i]->id());
        EXPECT_EQ(back->tdNote()[i]->tdProjectId(), project->id());
        EXPECT_EQ(back->tdNote()[i]->contentURL(), project->tdNote()[i]->contentURL());
        EXPECT_EQ(back->tdNote()[i]->date(), project->tdNote()[i]->date());
    }
    EXPECT_EQ(tdlibrary::encodeProjects(decoded.value()).value(), bytes.value());
}

TEST(TDRecords, OptionalFieldsAreLeftOutWhenAbsentAndNullReadsAsAbsent)
{
    QJsonObject project = parse(tdlibrary::encodeProjects({ makeProject("P") }).value()).at(0).toObject();
    EXPECT_FALSE(project.contains("_coverImageURL"));

    auto media
        = TDMedia::make(Uuid::random(), fileUrl("/a/b.png"), fileUrl("/a/thumbnail.jpg"), std::nullopt);
    QJsonObject mediaObject = parse(tdlibrary::encodeMedia({ media }).value()).at(0).toObject();
    EXPECT_EQ(keysOf(mediaObject), sorted({ "id", "_url", "_thumbnailURL", "_$observationRegistrar" }));
    auto mediaBack = tdlibrary::decodeMedia(tdlibrary::encodeMedia({ media }).value());
    ASSERT_TRUE(mediaBack);
    EXPECT_FALSE(mediaBack.value()[0]->tdProjectId());
    media->setTdProjectId(Uuid::random());
    EXPECT_TRUE(parse(tdlibrary::encodeMedia({ media }).value()).at(0).toObject().contains("_tdProjectId"));

    TDLink link { std::nullopt, std::nullopt, "not a URL at all", Uuid::random(), Uuid::random() };
    QJsonObject linkObject = parse(tdlibrary::encodeLinks({ link }).value()).at(0).toObject();
    EXPECT_EQ(keysOf(linkObject), sorted({ "url", "id", "tdNoteId" }));
    linkObject["title"] = QJsonValue::Null;
    linkObject["desc"] = "A page";
    auto linkBack = tdlibrary::decodeLinks(QJsonDocument(QJsonArray { linkObject }).toJson());
    ASSERT_TRUE(linkBack);
    EXPECT_FALSE(linkBack.value()[0].title);
    EXPECT_EQ(linkBack.value()[0].desc, QString("A page"));
    EXPECT_EQ(linkBack.value()[0].url, "not a URL at all");
}

TEST(TDRecords, OneBadValueFailsTheWholeArray)
{
    QJsonObject good = parse(tdlibrary::encodeProjects({ makeProject("Good", 1) }).value()).at(0).toObject();
    struct Case {
        const char* name;
        std::function<void(QJsonObject&)> spoil;
    };
    auto setNote = [](QJsonObject& project, const QString& key, const QJsonValue& value) {
        QJsonArray notes = project["_tdNote"].toArray();
        QJsonObject note = notes[0].toObject();
        if (value.isUndefined())
            note.remove(key);
        else
            note[key] = value;
        notes[0] = note;
        project["_tdNote"] = notes;
    };
    const Case cases[] = {
        { "lower-case status", [](QJsonObject& p) { p["_status"] = "in progress"; } },
        { "unknown status", [](QJsonObject& p) { p["_status"] = "Paused"; } },
        { "braced id", [](QJsonObject& p) { p["id"] = "{" + p["id"].toString() + "}"; } },
        { "35-character id", [](QJsonObject& p) { p["id"] = p["id"].toString().left(35); } },
        { "boolean as number", [](QJsonObject& p) { p["_isFavorite"] = 1; } },
        { "name as number", [](QJsonObject& p) { p["_name"] = 3; } },
        { "date as string", [](QJsonObject& p) { p["_startDate"] = "2024-01-01"; } },
        { "category as string", [](QJsonObject& p) { p["_category"] = "Music"; } },
        { "malformed cover URL", [](QJsonObject& p) { p["_coverImageURL"] = "http://exa mple.com/"; } },
        { "quick URL not a string", [](QJsonObject& p) { p["_quickAccessURL"] = QJsonArray { 1 }; } },
        { "missing name", [](QJsonObject& p) { p.remove("_name"); } },
        { "missing column count", [](QJsonObject& p) { p.remove("_imageColumnCount"); } },
        { "missing notes", [](QJsonObject& p) { p.remove("_tdNote"); } },
        { "note missing tdProjectId",
            [&](QJsonObject& p) { setNote(p, "tdProjectId", QJsonValue::Undefined); } },
        { "note with malformed id", [&](QJsonObject& p) { setNote(p, "id", "1234"); } },
        { "note date as null", [&](QJsonObject& p) { setNote(p, "_date", QJsonValue::Null); } },
    };
    for (const Case& c : cases) {
        QJsonObject bad = good;
        c.spoil(bad);
        auto decoded = tdlibrary::decodeProjects(QJsonDocument(QJsonArray { good, bad, good }).toJson());
        EXPECT_FALSE(decoded) << c.name;
    }

    QJsonObject relaxed = good;
    relaxed.remove("_$observationRegistrar");
    relaxed["somethingNew"] = 42;
    relaxed["_coverImageURL"] = QJsonValue::Null;
    auto decoded = tdlibrary::decodeProjects(QJsonDocument(QJsonArray { relaxed }).toJson());
    ASSERT_TRUE(decoded) << "no registrar key, unknown keys and a null optional are fine";
    EXPECT_FALSE(decoded.value()[0]->coverImageURL());
}

// A large file decodes in pieces on several threads: the records come out whole and in order, and a
// bad file fails with the error the one-piece decoding gives, whichever piece holds the fault.
TEST(TDRecords, LargeFilesDecodeInPiecesAsTheyWouldWhole)
{
    tdlibrary::ProjectList projects;
    for (int i = 0; i < 300; ++i)
        projects.push_back(makeProject(QStringLiteral("P%1 ], {\"q\": [\\ ,").arg(i), 2, i % 2));
    const QByteArray bytes = tdlibrary::encodeProjects(projects).value();
    ASSERT_GT(bytes.size(), 128 * 1024);
    auto decoded = tdlibrary::decodeProjects(bytes);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded.value().size(), projects.size());
    for (std::size_t i = 0; i < projects.size(); ++i) {
        EXPECT_EQ(decoded.value()[i]->name(), projects[i]->name());
        EXPECT_EQ(decoded.value()[i]->id(), projects[i]->id());
    }

    QJsonArray array = parse(bytes);
    array[250] = 7;
    const auto notAnObject = tdlibrary::decodeProjects(QJsonDocument(array).toJson(QJsonDocument::Compact));
    ASSERT_FALSE(notAnObject);
    EXPECT_EQ(notAnObject.error().description, "element 250 is not an object");

    const qsizetype late = bytes.indexOf("},{", bytes.size() * 3 / 4) + 1;
    for (const QByteArray& damaged :
        { QByteArray(bytes).insert(late, ","), bytes + " x", bytes.left(bytes.size() - 1) }) {
        const auto whole = platform::parseJsonArray(damaged);
        ASSERT_FALSE(whole);
        const auto failed = tdlibrary::decodeProjects(damaged);
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().description, whole.error().description);
    }
}

TEST(TDRecords, DatesRoundTripBitExactly)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> seconds(-3e9, 3e9);
    std::vector<std::shared_ptr<TDProject>> projects;
    for (int i = 0; i < 500; ++i) {
        auto project = makeProject("P", 1);
        project->setStartDate(platform::Date(seconds(random)));
        project->tdNote()[0]->setDate(platform::Date(seconds(random) / 1e3));
        projects.push_back(project);
    }
    auto back = tdlibrary::decodeProjects(tdlibrary::encodeProjects(projects).value());
    ASSERT_TRUE(back);
    for (std::size_t i = 0; i < projects.size(); ++i) {
        double a = projects[i]->startDate().timeIntervalSinceReferenceDate();
        double b = back.value()[i]->startDate().timeIntervalSinceReferenceDate();
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
        EXPECT_EQ(projects[i]->tdNote()[0]->date(), back.value()[i]->tdNote()[0]->date());
    }
}

TEST(TDRecords, FileUrlsWithAwkwardCharactersRoundTrip)
{
    for (const QString name : { "with space", "100%", "#hash", "what?", "Čeština ✓ 日本", "a%20b" }) {
        auto project = makeProject(name, 1, true);
        project->tdNote()[0]->setContentURL(fileUrl("/lib/" + name + "/notes/" + name + "/" + name + ".txt"));
        auto back = tdlibrary::decodeProjects(tdlibrary::encodeProjects({ project }).value());
        ASSERT_TRUE(back) << name.toStdString();
        EXPECT_EQ(back.value()[0]->coverImageURL()->path(), project->coverImageURL()->path());
        EXPECT_EQ(back.value()[0]->tdNote()[0]->contentURL().path(),
            "/lib/" + name + "/notes/" + name + "/" + name + ".txt");
    }
}

// Half a surrogate pair cannot be typed, but a hand-edited file can hold one: a save writes back
// what was read, so the name stays the same through any number of loads and saves.
TEST(TDRecords, NamesWithHalfASurrogatePairComeBackAsTheyWere)
{
    const char* escaped[] = { R"(a\ud800b)", R"(\udc00)", R"(end\udbff)", R"(\udc00\ud800)" };
    for (const char* text : escaped) {
        const QByteArray bytes = tdlibrary::encodeProjects({ makeProject("Name") })
                                     .value()
                                     .replace("\"Name\"", "\"" + QByteArray(text) + "\"");
        const auto loaded = tdlibrary::decodeProjects(bytes);
        ASSERT_TRUE(loaded) << text;
        const QString name = loaded.value()[0]->name();
        const QByteArray saved = tdlibrary::encodeProjects(loaded.value()).value();
        EXPECT_EQ(saved, bytes) << text;
        const auto again = tdlibrary::decodeProjects(saved);
        ASSERT_TRUE(again) << text;
        EXPECT_EQ(again.value()[0]->name(), name) << text;
    }
}

TEST(TDRecords, ColumnCountStaysFiniteSoSavesKeepWorking)
{
    auto project = makeProject("P");
    project->setImageColumnCount(std::nan(""));
    project->setImageColumnCount(std::numeric_limits<double>::infinity());
    EXPECT_EQ(project->imageColumnCount(), 7.5);
    project->setImageColumnCount(3);
    EXPECT_EQ(project->imageColumnCount(), 3);
    EXPECT_TRUE(tdlibrary::encodeProjects({ project }));

    TDProject::Fields fields;
    fields.imageColumnCount = std::nan("");
    EXPECT_EQ(TDProject::make(fields)->imageColumnCount(), TDProject::defaultImageColumnCount);
}

TEST(TDRecords, IdentityAndRawStrings)
{
    Uuid id = Uuid::random();
    EXPECT_EQ(*TDCategory::make(id, "A"), *TDCategory::make(id, "B"));
    EXPECT_EQ(std::hash<TDCategory>()(*TDCategory::make(id, "A")),
        std::hash<TDCategory>()(*TDCategory::make(id, "B")));
    EXPECT_FALSE(*TDCategory::make(Uuid::random(), "A") == *TDCategory::make(Uuid::random(), "A"));
    auto note
        = [&](const QString& title) { return TDNote::make(id, Uuid::random(), title, fileUrl("/x"), {}); };
    EXPECT_EQ(*note("a"), *note("b"));

    EXPECT_EQ(navigationTypeFromRawValue("Favorite"), NavigationType::favorite);
    for (const char* text : { "favorite", "FAVORITE", "Favourite", " Favorite" })
        EXPECT_FALSE(navigationTypeFromRawValue(text)) << text;
    for (NavigationType type : allNavigationTypes)
        EXPECT_EQ(navigationTypeFromRawValue(rawValue(type)), type);
    EXPECT_EQ(tdStatusFromRawValue("In Progress"), TDStatus::inProgress);
    EXPECT_FALSE(tdStatusFromRawValue("In progress"));
}

// A later version may write keys this one does not know; a save must give them back as they were,
// whichever way the file was read, or the first change made here would drop them for good.
TEST(TDRecords, KeysALaterVersionWroteAreWrittenBackUnchanged)
{
    const QJsonObject later { { "laterTags", QJsonArray { "a \"b\" é", 1, 2.5, true, QJsonValue::Null } },
        { "laterSettings", QJsonObject { { "nested", QJsonObject { { "deep", 9007199254740993LL } } } } },
        { "laterCount", 9007199254740993LL }, { "laterFlag", false } };
    auto withLater = [&](QJsonObject object) {
        for (auto it = later.begin(); it != later.end(); ++it)
            object.insert(it.key(), it.value());
        return object;
    };
    auto first = [](const QByteArray& bytes) { return parse(bytes).at(0).toObject(); };

    QJsonObject project = first(tdlibrary::encodeProjects({ makeProject("P", 2, true) }).value());
    project["_category"] = withLater(project["_category"].toObject());
    QJsonArray notes = project["_tdNote"].toArray();
    notes[1] = withLater(notes[1].toObject());
    project["_tdNote"] = notes;
    project = withLater(project);
    const auto item = TDMedia::make(Uuid::random(), fileUrl("/m.png"), fileUrl("/t.jpg"), Uuid::random());
    const QJsonObject media = withLater(first(tdlibrary::encodeMedia({ item }).value()));
    const TDLink plainLink { "t", {}, "u", Uuid::random(), Uuid::random() };
    const QJsonObject link = withLater(first(tdlibrary::encodeLinks({ plainLink }).value()));
    const auto plainCategory = TDCategory::make(Uuid::random(), "C");
    const QJsonObject category = withLater(first(tdlibrary::encodeCategories({ plainCategory }).value()));

    auto file = [](const QJsonObject& object, QJsonDocument::JsonFormat format) {
        return QJsonDocument(QJsonArray { object }).toJson(format);
    };
    // Compact text is read directly; indented text with a byte-order mark goes through the document.
    for (auto format : { QJsonDocument::Compact, QJsonDocument::Indented }) {
        const QByteArray bom = format == QJsonDocument::Compact ? "" : "\xEF\xBB\xBF";
        const auto projects = tdlibrary::decodeProjects(bom + file(project, format)).value();
        const QByteArray projectBytes = tdlibrary::encodeProjects(projects).value();
        EXPECT_EQ(first(projectBytes), project) << format;
        // Each key once: the direct reading refuses a record key given twice.
        EXPECT_TRUE(tdlibrary::readProjectsDirectly(projectBytes)) << format;

        const auto mediaList = tdlibrary::decodeMedia(bom + file(media, format)).value();
        const QByteArray mediaBytes = tdlibrary::encodeMedia(mediaList).value();
        EXPECT_EQ(first(mediaBytes), media) << format;
        EXPECT_TRUE(tdlibrary::readMediaDirectly(mediaBytes)) << format;

        const auto links = tdlibrary::decodeLinks(bom + file(link, format)).value();
        const QByteArray linkBytes = tdlibrary::encodeLinks(links).value();
        EXPECT_EQ(first(linkBytes), link) << format;
        EXPECT_TRUE(tdlibrary::readLinksDirectly(linkBytes)) << format;

        const auto categories = tdlibrary::decodeCategories(file(category, format)).value();
        const QByteArray categoryBytes = tdlibrary::encodeCategories(categories).value();
        EXPECT_EQ(first(categoryBytes), category) << format;
        EXPECT_EQ(categoryBytes.count("\"_name\""), 1) << format;
        EXPECT_TRUE(categoryBytes.contains(":9007199254740993")) << "a large integer keeps every digit";
    }
}

// A date watch hears every change of any note's date once it is stored, with the date replaced;
// observers of the date are told too, and a watch gone hears nothing more.
TEST(TDRecords, ADateWatchHearsEachChangeOfANotesDateOnceStored)
{
    auto note = TDNote::make(Uuid::random(), Uuid::random(), "a", fileUrl("/x"), platform::Date(10));
    std::vector<std::pair<double, double>> heard;
    auto watch = std::make_unique<TDNote::DateWatch>([&](const TDNote& changed, platform::Date previous) {
        EXPECT_EQ(&changed, note.get());
        heard.emplace_back(previous.timeIntervalSinceReferenceDate(),
            changed.unobservedDate().timeIntervalSinceReferenceDate());
    });
    int observed = 0;
    auto tracking = platform::withObservationTracking([&] { note->date(); }, [&] { ++observed; });
    note->setDate(platform::Date(20));
    note->setDate(platform::Date(20));
    note->setTitle("b");
    EXPECT_EQ(heard, (std::vector<std::pair<double, double>> { { 10, 20 }, { 20, 20 } }));
    EXPECT_EQ(observed, 1);
    // Read unobserved, the date leaves no scope waiting on it.
    auto unobserved = platform::withObservationTracking([&] { note->unobservedDate(); }, [&] { ++observed; });
    EXPECT_FALSE(unobserved.isActive());

    watch.reset();
    note->setDate(platform::Date(30));
    EXPECT_EQ(heard.size(), 2u);
    EXPECT_EQ(observed, 1);
}
