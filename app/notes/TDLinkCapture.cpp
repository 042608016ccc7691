#include "app/notes/TDLinkCapture.h"

#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/notes/TDPageFetcher.h"
#include "app/notes/TDWeblocFile.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDLibraryJournal.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Print.h"
#include "platform/foundation/Url.h"

#include <algorithm>
#include <cassert>
#include <optional>
#include <vector>

using platform::DispatchQueue;
using platform::Result;
using platform::Success;

namespace {

using AddResult = Result<TDLink, TDLinkCaptureFailure>;
using DeleteResult = Result<Success, TDLinkCaptureFailure>;

// The adds whose pages are still loading, and the fetchers loading them; main thread only.
struct AddsInFlight {
    int count = 0;
    std::vector<std::weak_ptr<TDPageFetcher>> fetchers;
};

AddsInFlight& addsInFlight()
{
    static AddsInFlight adds;
    return adds;
}

// The typed text as the message quotes it: one line, its middle cut when long, and isolated so that
// its direction controls do not turn the rest of the sentence around.
QString quoted(const QString& text)
{
    constexpr qsizetype keep = 20;
    QString line = text;
    for (QChar& c : line) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return QStringLiteral("\u201C\u2068%1\u2069\u201D").arg(tdMiddleCut(line, keep));
}

TDLinkCaptureFailure invalidAddress(const QString& address)
{
    const QString hint = QStringLiteral("Enter an address that starts with http:// or https://.");
    if (address.isEmpty())
        return { TDLinkCaptureFailure::Reason::invalidAddress, hint };
    // It starts as it should, so something in the rest of it is wrong: spaces, most often.
    if (address.startsWith(u"http://", Qt::CaseInsensitive)
        || address.startsWith(u"https://", Qt::CaseInsensitive))
        return { TDLinkCaptureFailure::Reason::invalidAddress,
            QStringLiteral("%1 is not a valid web address. Check it for spaces or other characters "
                           "that an address cannot hold.")
                .arg(quoted(address)) };
    return { TDLinkCaptureFailure::Reason::invalidAddress,
        QStringLiteral("%1 is not a web address. ").arg(quoted(address)) + hint };
}

TDLinkCaptureFailure saveFailed(const TDLibraryFailure& failure)
{
    return { TDLinkCaptureFailure::Reason::saveFailed,
        QStringLiteral("The links could not be saved: %1").arg(failure.message) };
}

TDLibrary libraryOf(std::shared_ptr<TDLinkStore> store)
{
    return TDLibrary(TDStores { nullptr, nullptr, std::move(store), nullptr });
}

struct Place {
    std::shared_ptr<TDProject> project;
    std::shared_ptr<TDNote> note;
};

// Where the note is now: in its project, and the project still in the library (a deleted project
// keeps its notes in memory). Found by id, since a reload of the library meanwhile replaces both
// records with equal ones.
std::optional<Place> placeNow(
    const TDProjectStore* projects, std::shared_ptr<TDProject> project, const TDNote& note)
{
    if (projects) {
        const auto all = projects->tdProjects();
        const auto found = std::find_if(
            all.begin(), all.end(), [&](const auto& each) { return each && each->id() == project->id(); });
        if (found == all.end())
            return std::nullopt;
        project = *found;
    }
    const auto notes = project->tdNote();
    const auto found = std::find_if(
        notes.begin(), notes.end(), [&](const auto& candidate) { return candidate && *candidate == note; });
    if (found == notes.end())
        return std::nullopt;
    return Place { std::move(project), *found };
}

// Lists the places of `link`'s file in the library folder's list of unfinished changes: the next
// start removes a file there whose link the links file does not hold.
std::vector<TDLibraryJournal::Entry> listLinkFile(TDLibraryJournal::Change::Kind kind,
    const TDLinkStore& store, const TDProject& project, const QString& noteTitle, const TDLink& link)
{
    std::vector<TDLibraryJournal::Change> changes;
    for (const auto& file : TDWeblocFile::places(project.name(), noteTitle, link))
        changes.push_back({ kind, project.id(), link.id, {}, {}, {}, file });
    return TDLibraryJournal::begin(
        store.libraryFile()->location().deletingLastPathComponent(), std::move(changes));
}

} // namespace

std::optional<QUrl> tdWebAddress(const QString& text)
{
    const std::optional<platform::Url> url = platform::Url::fromString(text.trimmed());
    if (!url)
        return std::nullopt;
    const QString scheme = url->qUrl().scheme().toLower();
    if ((scheme != u"http" && scheme != u"https") || url->qUrl().host().isEmpty())
        return std::nullopt;
    return url->qUrl();
}

TDLinkCapture::TDLinkCapture(std::shared_ptr<TDLinkStore> store, std::shared_ptr<TDProjectStore> projects)
    : TDLinkCapture(std::move(store), TDPageFetcher::shared(), std::move(projects))
{
}

TDLinkCapture::TDLinkCapture(std::shared_ptr<TDLinkStore> store, std::shared_ptr<TDPageFetcher> fetcher,
    std::shared_ptr<TDProjectStore> projects)
    : m_store(std::move(store))
    , m_fetcher(std::move(fetcher))
    , m_projects(std::move(projects))
{
    assert(m_store && m_fetcher);
}

std::vector<TDLink> TDLinkCapture::links(const platform::Uuid& noteId) const
{
    std::vector<TDLink> links = m_store->tdLinks();
    std::erase_if(links, [&](const TDLink& link) { return link.tdNoteId != noteId; });
    return links;
}

void TDLinkCapture::addLink(std::shared_ptr<TDProject> project, std::shared_ptr<TDNote> note,
    const QString& typedAddress, AddCompletion completion)
{
    assert(DispatchQueue::isMainThread() && project && note);
    const QString address = typedAddress.trimmed();
    const std::optional<QUrl> url = tdWebAddress(address);
    if (!url) {
        DispatchQueue::main()->async([completion = std::move(completion), failure = invalidAddress(address)] {
            if (completion)
                completion(AddResult::failure(failure));
        });
        return;
    }
    AddsInFlight& adds = addsInFlight();
    ++adds.count;
    std::erase_if(adds.fetchers, [](const auto& fetcher) { return fetcher.expired(); });
    if (std::none_of(adds.fetchers.begin(), adds.fetchers.end(),
            [&](const auto& fetcher) { return fetcher.lock() == m_fetcher; }))
        adds.fetchers.push_back(m_fetcher);
    m_fetcher->fetchPageInfo(*url,
        [store = m_store, projects = m_projects, project = std::move(project), note = std::move(note),
            address, completion = std::move(completion)](TDPageInfo info) {
            // From here the library's own count of work under way holds the add until it is saved.
            struct Ended {
                ~Ended() { --addsInFlight().count; }
            } ended;
            const auto place = placeNow(projects.get(), project, *note);
            if (!place) {
                if (completion)
                    completion(AddResult::failure({ TDLinkCaptureFailure::Reason::noteRemoved,
                        QStringLiteral("The note was removed before its link could be added.") }));
                return;
            }
            TDLink link { std::move(info.title), std::move(info.desc), address, platform::Uuid::random(),
                note->id() };
            // Listed before it is written: the next start after a crash that kept the link out of the
            // links file removes it.
            const auto listed = listLinkFile(
                TDLibraryJournal::Change::Kind::addLink, *store, *place->project, place->note->title(), link);
            const auto written = TDWeblocFile::write(place->project->name(), place->note->title(), link);
            if (written)
                platform::print(
                    QStringLiteral("Webloc file created successfully at: ") + written.value().path());
            else
                platform::print(QStringLiteral("Error creating webloc file: ") + written.error().description);
            std::optional<TDLinkCaptureFailure> fileFailure;
            if (!written)
                fileFailure = TDLinkCaptureFailure { TDLinkCaptureFailure::Reason::fileNotWritten,
                    QStringLiteral("The link was added, but its file could not be written in the note's "
                                   "folder: %1.")
                        .arg(written.error().description) };
            libraryOf(store).addLink(link, [completion, link, fileFailure, listed](auto saved) {
                // Once the links file names the link, its file is the record's. After a failed save
                // the file stays listed: the next start keeps it if a later save wrote the link.
                if (saved)
                    TDLibraryJournal::end(listed);
                if (!completion)
                    return;
                // A failed save matters more: without it the link is gone at the next start.
                if (!saved)
                    completion(AddResult::failure(saveFailed(saved.error())));
                else if (fileFailure)
                    completion(AddResult::failure(*fileFailure));
                else
                    completion(AddResult::success(link));
            });
        });
}

void TDLinkCapture::deleteLink(std::shared_ptr<TDProject> project, std::shared_ptr<TDNote> note,
    const TDLink& link, DeleteCompletion completion)
{
    assert(DispatchQueue::isMainThread() && project && note);
    // Listed before the links file stops naming the link: a crash before its file goes leaves it to
    // the next start.
    const auto listed
        = listLinkFile(TDLibraryJournal::Change::Kind::deleteLink, *m_store, *project, note->title(), link);
    libraryOf(m_store).removeLink(link.id,
        [project = std::move(project), note = std::move(note), link, listed,
            completion = std::move(completion)](auto saved) {
            if (!saved) {
                // The file stays: the link is still in the list on disk. It stays listed too, for the
                // next start to remove once a later save dropped the link.
                if (completion)
                    completion(DeleteResult::failure(saveFailed(saved.error())));
                return;
            }
            const auto removed = TDWeblocFile::remove(project->name(), note->title(), link);
            // One that could not go stays listed.
            if (removed)
                TDLibraryJournal::end(listed);
            if (!removed) {
                platform::print(QStringLiteral("Error removing webloc file: ") + removed.error().description);
                if (completion)
                    completion(DeleteResult::failure({ TDLinkCaptureFailure::Reason::fileNotRemoved,
                        QStringLiteral("The link was deleted, but its file could not be removed: %1.")
                            .arg(removed.error().description) }));
                return;
            }
            if (completion)
                completion(DeleteResult::success({}));
        });
}

bool TDLinkCapture::finishAddsInFlight(std::chrono::milliseconds grace)
{
    const auto none = [] { return addsInFlight().count == 0; };
    if (platform::runMainLoopUntil(none, grace))
        return true;
    for (const auto& weak : addsInFlight().fetchers) {
        if (auto fetcher = weak.lock())
            fetcher->cancelAll();
    }
    return platform::runMainLoopUntil(none, std::chrono::seconds(5));
}
