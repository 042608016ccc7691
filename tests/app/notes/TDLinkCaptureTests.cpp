#include "../LibraryTestSupport.h"
#include "LinkTestPages.h"
#include "app/notes/TDLinkCapture.h"
#include "app/notes/TDPageFetcher.h"
#include "app/notes/TDWeblocFile.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDProjectStore.h"
#include "support/HttpTestServer.h"

#include <QElapsedTimer>

#include <set>

using apptest::LibraryRoot;
using testsupport::HttpTestServer;
using testsupport::waitUntil;

namespace {

using AddResult = platform::Result<TDLink, TDLinkCaptureFailure>;
using DeleteResult = platform::Result<platform::Success, TDLinkCaptureFailure>;

constexpr double pageTimeoutSeconds = 1.5;
// Every add must end well within this, whatever the page does.
constexpr int addBoundMs = 10'000;

std::string repeated(const std::string& piece, std::size_t bytes)
{
    std::string out;
    out.reserve(bytes + piece.size());
    while (out.size() < bytes)
        out += piece;
    return out;
}

class TDLinkCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        project = apptest::makeProject("Trip", 2);
        note = project->tdNote()[0];
        projects->setTdProjects({ project });
        for (const auto& each : project->tdNote())
            QDir().mkpath(root.library() + "/Trip/notes/" + each->title());
        linksFolder = root.library() + "/Trip/notes/" + note->title() + "/links";
        QFile secret(root.root() + "/secret.html");
        ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
        secret.write("<title>Secret</title>");
        secret.close();

        notetest::addLinkTestPages(server, root.root() + "/secret.html");
        server.addBody("/latin1", "<title>Caf\xE9 cr\xE8me</title><meta name='description' content='Ol\xE9'>",
            200, "text/html; charset=ISO-8859-1");
        server.addBody("/not-found", "<title>Not Found</title>", 404, "text/html");
        server.addBody("/traversal", "<title>../../x</title><title>%2e%2e%2fy</title>", 200, "text/html");
        server.addBody(
            "/huge-line", repeated("<title><meta name=\"description\" content=", 2 << 20), 200, "text/html");
        // As a type the server does not compress, so each byte reaches the client as it is written.
        server.server().Get("/endless", [this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/octet-stream", [this](size_t offset, httplib::DataSink& sink) {
                    static const std::string filler(64 * 1024, 'z');
                    if (offset == 0)
                        return sink.write("<title>Endless</title>", 22);
                    return !server.isStopping() && sink.write(filler.data(), filler.size());
                });
        });
        server.start();
    }

    void TearDown() override
    {
        capture.reset();
        fetcher.reset();
        server.stop();
    }

    QString address(const std::string& path) const
    {
        return server.url(QString::fromStdString(path)).toString();
    }

    std::optional<AddResult> add(const QString& typed, std::shared_ptr<TDNote> to = nullptr)
    {
        auto outcome = std::make_shared<std::optional<AddResult>>();
        capture->addLink(project, to ? to : note, typed, [outcome](AddResult result) { *outcome = result; });
        waitUntil([&] { return outcome->has_value(); }, addBoundMs);
        return *outcome;
    }

    std::optional<DeleteResult> remove(const TDLink& link)
    {
        auto outcome = std::make_shared<std::optional<DeleteResult>>();
        capture->deleteLink(project, note, link, [outcome](DeleteResult result) { *outcome = result; });
        waitUntil([&] { return outcome->has_value(); }, addBoundMs);
        return *outcome;
    }

    std::vector<TDLink> savedLinks() const
    {
        auto decoded = tdlibrary::decodeLinks(root.read("links.library"));
        return decoded ? decoded.value() : std::vector<TDLink> {};
    }

    bool hasFile(const TDLink& link) const
    {
        return QFile::exists(TDWeblocFile::location(project->name(), note->title(), link).path());
    }

    // Adds the page at `path` and checks what every add must give: an end within the bound, the
    // address as typed, one file in the note's links folder and nothing changed anywhere else but
    // there and in the links library.
    void expectAdded(
        const std::string& path, const std::optional<QString>& title, const std::optional<QString>& desc)
    {
        SCOPED_TRACE(path);
        const auto before = root.snapshot();
        const std::size_t count = store->tdLinks().size();
        QElapsedTimer timer;
        timer.start();
        const auto added = add("  " + address(path) + " ");
        ASSERT_TRUE(added.has_value()) << "no answer within the bound";
        EXPECT_LT(timer.elapsed(), addBoundMs);
        ASSERT_TRUE(*added) << added->error().message.toStdString();
        const TDLink& link = added->value();
        EXPECT_EQ(link.title, title);
        EXPECT_EQ(link.desc, desc);
        EXPECT_EQ(link.url, address(path));
        EXPECT_EQ(link.tdNoteId, note->id());
        ASSERT_EQ(store->tdLinks().size(), count + 1);
        EXPECT_EQ(store->tdLinks().back().id, link.id);
        ASSERT_EQ(savedLinks().size(), count + 1);
        EXPECT_EQ(savedLinks().back().url, link.url);
        EXPECT_TRUE(hasFile(link));

        const auto after = root.snapshot();
        std::set<QString> keys;
        for (const auto& [key, _] : before)
            keys.insert(key);
        for (const auto& [key, _] : after)
            keys.insert(key);
        for (const QString& key : keys) {
            const bool changed
                = !before.contains(key) || !after.contains(key) || before.at(key) != after.at(key);
            const bool allowed = key == linksFolder || key.startsWith(linksFolder + "/")
                || key == root.file("links.library");
            EXPECT_TRUE(!changed || allowed) << key.toStdString();
        }
    }

    LibraryRoot root;
    std::shared_ptr<TDProject> project;
    std::shared_ptr<TDNote> note;
    QString linksFolder;
    HttpTestServer server;
    std::shared_ptr<TDLinkStore> store = std::make_shared<TDLinkStore>();
    std::shared_ptr<TDProjectStore> projects = std::make_shared<TDProjectStore>();
    std::shared_ptr<TDPageFetcher> fetcher
        = TDPageFetcher::make({ TDPageFetchLimits::defaultMaximumBytes, pageTimeoutSeconds, 10 });
    std::unique_ptr<TDLinkCapture> capture = std::make_unique<TDLinkCapture>(store, fetcher, projects);
};

} // namespace

TEST_F(TDLinkCaptureTest, OrdinaryPagesGiveTheirTitleAndDescription)
{
    expectAdded("/utf8", u"Café – Menu"_qs, u"Don't miss the bread."_qs);
    expectAdded("/latin1", u"Café crème"_qs, u"Olé"_qs);
    expectAdded("/plain", std::nullopt, std::nullopt);
    expectAdded("/not-found", u"Not Found"_qs, std::nullopt);
}

TEST_F(TDLinkCaptureTest, HostilePagesEndInTimeAndWriteOnlyInTheLinksFolder)
{
    expectAdded("/huge-line", std::nullopt, std::nullopt);
    expectAdded("/endless", u"Endless"_qs, std::nullopt);
    expectAdded("/drip", std::nullopt, std::nullopt);
    expectAdded("/loop", std::nullopt, std::nullopt);
    expectAdded("/to-file", std::nullopt, std::nullopt);
    expectAdded("/traversal", u"../../x"_qs, std::nullopt);
    EXPECT_TRUE(QFile::exists(
        linksFolder + "/-..-x " + store->tdLinks().back().id.lowercaseString().left(8) + ".webloc"));
}

TEST_F(TDLinkCaptureTest, TextThatIsNotAWebAddressIsRefusedWithoutATrace)
{
    const auto before = root.snapshot();
    for (const QString& typed : { QString(), u"example.com"_qs, u"file://"_qs + root.root() + "/secret.html",
             u"javascript:alert(1)"_qs, u"http://"_qs, u"https://exa mple.com/"_qs }) {
        SCOPED_TRACE(typed.toStdString());
        const auto added = add(typed);
        ASSERT_TRUE(added.has_value());
        ASSERT_FALSE(*added);
        EXPECT_EQ(added->error().reason, TDLinkCaptureFailure::Reason::invalidAddress);
        EXPECT_FALSE(added->error().message.isEmpty());
        // An address that starts as it should is not told to start so.
        EXPECT_EQ(added->error().message.contains("starts with"), !typed.startsWith("http"));
    }
    // The popover shows the message in a few short lines: a long paste is cut in its middle, and its
    // direction controls end with it instead of turning the rest of the sentence around.
    const QString pasted = "www." + QString(5000, 'x') + ".com/" + QChar(0x202E) + "end";
    const auto refused = add(pasted);
    ASSERT_TRUE(refused && !*refused);
    const QString message = refused->error().message;
    EXPECT_LT(message.size(), 200);
    EXPECT_TRUE(message.contains("www.xxx") && message.contains("end")) << message.toStdString();
    const qsizetype hint = message.indexOf("Enter an address");
    EXPECT_GT(message.lastIndexOf(QChar(0x2069), hint), message.lastIndexOf(QChar(0x202E), hint));

    EXPECT_EQ(server.totalRequests(), 0);
    EXPECT_TRUE(store->tdLinks().empty());
    EXPECT_EQ(root.snapshot(), before);
}

TEST_F(TDLinkCaptureTest, LinksWithOneTitleKeepTheirOwnFilesAndDeleteOnlyTheirOwn)
{
    auto first = std::make_shared<std::optional<AddResult>>();
    auto second = std::make_shared<std::optional<AddResult>>();
    capture->addLink(project, note, address("/same-a"), [first](AddResult r) { *first = r; });
    capture->addLink(project, note, address("/same-b"), [second](AddResult r) { *second = r; });
    ASSERT_TRUE(waitUntil([&] { return first->has_value() && second->has_value(); }, addBoundMs));
    ASSERT_TRUE(**first && **second);
    const auto elsewhere = add(address("/utf8"), project->tdNote()[1]);
    ASSERT_TRUE(elsewhere && *elsewhere);

    const TDLink a = (*first)->value(), b = (*second)->value();
    const auto mine = capture->links(note->id());
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].url, store->tdLinks()[0].url) << "the store's order";
    EXPECT_EQ(savedLinks().size(), 3u);
    EXPECT_EQ(QDir(linksFolder).entryList(QDir::Files).size(), 2);

    const auto deleted = remove(a);
    ASSERT_TRUE(deleted && *deleted);
    EXPECT_FALSE(hasFile(a));
    EXPECT_TRUE(hasFile(b));
    ASSERT_EQ(capture->links(note->id()).size(), 1u);
    EXPECT_EQ(capture->links(note->id())[0].id, b.id);
    EXPECT_EQ(savedLinks().size(), 2u);
    EXPECT_FALSE(QFile::exists(root.file(".unfinished-changes")))
        << "adds and deletes that ended are struck off";
}

TEST_F(TDLinkCaptureTest, DeletingKeepsTheFileWhenTheSaveFails)
{
    const auto added = add(address("/utf8"));
    ASSERT_TRUE(added && *added);
    // A folder where the links library goes makes every save of it fail.
    ASSERT_TRUE(QFile::remove(root.file("links.library")));
    ASSERT_TRUE(QDir().mkdir(root.file("links.library")));

    const auto deleted = remove(added->value());
    ASSERT_TRUE(deleted.has_value());
    ASSERT_FALSE(*deleted);
    EXPECT_EQ(deleted->error().reason, TDLinkCaptureFailure::Reason::saveFailed);
    EXPECT_TRUE(hasFile(added->value()));
    EXPECT_TRUE(capture->links(note->id()).empty()) << "the change stays in memory for the next save";
}

TEST_F(TDLinkCaptureTest, ALinkForANoteOrProjectRemovedWhileItsPageLoadedIsDropped)
{
    auto outcome = std::make_shared<std::optional<AddResult>>();
    capture->addLink(project, note, address("/gated"), [outcome](AddResult r) { *outcome = r; });
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/gated") == 1; }));
    project->setTdNote({ project->tdNote()[1] });
    server.openGate();
    ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }, addBoundMs));
    ASSERT_FALSE(**outcome);
    EXPECT_EQ((*outcome)->error().reason, TDLinkCaptureFailure::Reason::noteRemoved);
    EXPECT_TRUE(store->tdLinks().empty());
    EXPECT_FALSE(QFileInfo::exists(linksFolder));

    // A deleted project keeps its notes in memory. Its link would stay in the list of all links, with
    // no note left to delete it from.
    note = project->tdNote()[0];
    outcome->reset();
    capture->addLink(project, note, address("/utf8"), [outcome](AddResult r) { *outcome = r; });
    projects->setTdProjects({});
    ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }, addBoundMs));
    ASSERT_FALSE(**outcome);
    EXPECT_EQ((*outcome)->error().reason, TDLinkCaptureFailure::Reason::noteRemoved);
    EXPECT_TRUE(store->tdLinks().empty());
    EXPECT_FALSE(QFileInfo::exists(root.library() + "/Trip/notes/" + note->title() + "/links"));
}

// A reload of the library (a second main window does one) replaces every project and note with an
// equal record; a page arriving after it still gives its note the link, and the file goes into the
// folder of the project as it is named now.
TEST_F(TDLinkCaptureTest, ALinkWhosePageArrivesAfterTheLibraryWasReloadedIsKept)
{
    auto outcome = std::make_shared<std::optional<AddResult>>();
    capture->addLink(project, note, address("/gated"), [outcome](AddResult r) { *outcome = r; });
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/gated") == 1; }));
    auto reloaded = tdlibrary::decodeProjects(tdlibrary::encodeProjects({ project }).value());
    ASSERT_TRUE(reloaded);
    ASSERT_NE(reloaded.value().front(), project);
    projects->setTdProjects(reloaded.value());
    server.openGate();
    ASSERT_TRUE(waitUntil([&] { return outcome->has_value(); }, addBoundMs));
    ASSERT_TRUE(**outcome) << (*outcome)->error().message.toStdString();
    ASSERT_EQ(store->tdLinks().size(), 1u);
    EXPECT_EQ(store->tdLinks().front().tdNoteId, note->id());
    EXPECT_TRUE(hasFile((*outcome)->value()));
}

// The program ends while a link's page is still loading: the link is added as far as its page came
// and saved, not dropped with the process.
TEST_F(TDLinkCaptureTest, AnAddStillLoadingWhenTheProgramEndsIsCutShortAndSaved)
{
    auto slow = TDPageFetcher::make({ TDPageFetchLimits::defaultMaximumBytes, 60, 10 });
    TDLinkCapture patient(store, slow, projects);
    auto outcome = std::make_shared<std::optional<AddResult>>();
    patient.addLink(project, note, address("/gated"), [outcome](AddResult r) { *outcome = r; });
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/gated") == 1; }));

    EXPECT_TRUE(TDLinkCapture::finishAddsInFlight(std::chrono::milliseconds(50)));
    ASSERT_TRUE(TDLibrary::finishPendingWork(std::chrono::seconds(10)));
    ASSERT_TRUE(outcome->has_value() && **outcome);
    ASSERT_EQ(savedLinks().size(), 1u);
    EXPECT_EQ(savedLinks().front().url, address("/gated"));
    EXPECT_FALSE(savedLinks().front().title) << "the page had not come";
    server.openGate();
}
