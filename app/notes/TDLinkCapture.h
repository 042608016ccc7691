#pragma once

#include "app/model/TDLink.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Uuid.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TDLinkStore;
class TDNote;
class TDPageFetcher;
class TDProject;
class TDProjectStore;

// Why adding or deleting a link did not fully succeed, with a sentence for the user.
struct TDLinkCaptureFailure {
    enum class Reason {
        // The typed text is not an http or https address; nothing was fetched or written.
        invalidAddress,
        // The note was removed from its project, or the project from the library, while its page
        // loaded; nothing was written.
        noteRemoved,
        // The link list could not be saved. The change stays in memory and goes out with the
        // next save of the list.
        saveFailed,
        // The link was deleted and the list saved, but its file could not be removed.
        fileNotRemoved,
        // The link was added and the list saved, but its ".webloc" file could not be written.
        fileNotWritten,
    };
    Reason reason;
    QString message;
};

// The address `text` names when it is an http or https address with a host (surrounding white space
// ignored); none for anything else. Only such addresses are fetched or handed to the desktop: any
// other scheme would start whatever program claims it.
std::optional<QUrl> tdWebAddress(const QString& text);

// What the links pane of a note asks for: the note's links, adding a link from a typed address,
// and deleting a link. Main thread only; completions run on the main queue, exactly once each, and
// never before the call returns.
//
// Adding fetches the page once (see TDPageFetcher), then writes the link's ".webloc" file, appends
// the `TDLink` to the store and saves the store. The address recorded is the text given to
// `addLink`, whatever the field shows when the page arrives. A file that cannot be written does not
// stop the link being added and saved, but the add then ends with `fileNotWritten`, not as a success.
//
// Deleting removes the record and saves the store; only after the save succeeded is the link's own
// file removed, so a failed save never leaves a record without its file. A file that cannot be
// removed then fails the deletion, though the record is gone.
//
// The link's file is listed in the library folder's list of unfinished changes (TDLibraryJournal.h)
// before it is written and before its record goes, and struck off once the links file and the file
// agree, so that the next start after a crash in between removes a file no link names.
//
// Work in flight holds the store, project and note it needs, so it ends even when the pane that
// asked for it is gone.
class TDLinkCapture {
public:
    using AddCompletion = std::function<void(platform::Result<TDLink, TDLinkCaptureFailure>)>;
    using DeleteCompletion = std::function<void(platform::Result<platform::Success, TDLinkCaptureFailure>)>;

    // With `projects`, a link whose project has left that store by the time its page arrives is
    // dropped like one whose note has gone; a reload of the library meanwhile is no leaving.
    explicit TDLinkCapture(
        std::shared_ptr<TDLinkStore> store, std::shared_ptr<TDProjectStore> projects = nullptr);
    TDLinkCapture(std::shared_ptr<TDLinkStore> store, std::shared_ptr<TDPageFetcher> fetcher,
        std::shared_ptr<TDProjectStore> projects = nullptr);

    // The links of the note, in the store's order. Reads the store under observation.
    std::vector<TDLink> links(const platform::Uuid& noteId) const;

    void addLink(std::shared_ptr<TDProject> project, std::shared_ptr<TDNote> note,
        const QString& typedAddress, AddCompletion completion = {});

    void deleteLink(std::shared_ptr<TDProject> project, std::shared_ptr<TDNote> note, const TDLink& link,
        DeleteCompletion completion = {});

    // For the program's end, after its main loop stopped: gives the pages still loading `grace` to
    // arrive, then cuts their fetches short, so that each link is added (as far as its page came)
    // and its save is under way. Runs the main loop; true when no add is left.
    static bool finishAddsInFlight(std::chrono::milliseconds grace);

private:
    std::shared_ptr<TDLinkStore> m_store;
    std::shared_ptr<TDPageFetcher> m_fetcher;
    std::shared_ptr<TDProjectStore> m_projects;
};
