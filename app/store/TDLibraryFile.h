#pragma once

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

// One library file and its writer. There is one object per file per process, so every save of a
// file goes through the same serial queue and lands in the order it was asked for. Writes replace
// the file atomically. A file that was there but could not be loaded (or whose load was skipped)
// is renamed to "NAME.damaged-YYYYMMDDTHHMMSSZ" before the first write that would replace it, and
// no write starts while the file's load is still running. Main thread only, except `read`.
class TDLibraryFile : public std::enable_shared_from_this<TDLibraryFile> {
public:
    using Completion = std::function<void(platform::Result<platform::Success, platform::PlatformError>)>;

    enum class LoadOutcome {
        loaded,
        missing,
        // Present but unreadable, undecodable, or not read at all: kept before it is overwritten.
        notLoaded,
    };

    static std::shared_ptr<TDLibraryFile> forLocation(const platform::Url& location);

    const platform::Url& location() const { return m_location; }

    // Reads the whole file; safe on any thread.
    platform::Result<QByteArray, platform::PlatformError> read() const;

    // Marks the load of this file as running: writes asked for until `finishLoad` wait.
    void beginLoad();
    void finishLoad(LoadOutcome outcome);
    bool isLoading() const { return m_loading; }

    // Writes `bytes` over the file on its serial queue; `completion` runs on the main queue. A failure
    // is also printed to standard error with the file's path.
    void write(QByteArray bytes, Completion completion);
    // Writes an encoded list; an encoding failure is printed and completed without writing.
    void write(platform::Result<QByteArray, platform::PlatformError> encoded, Completion completion);

    // How many writes were asked for in this process (tests count saves with it).
    int writesRequested() const { return m_writesRequested; }
    // Writes of any library file whose completion has not run yet.
    static int writesInFlight();

private:
    explicit TDLibraryFile(platform::Url location);
    void enqueueWrite(QByteArray bytes, Completion completion);
    platform::Result<platform::Success, platform::PlatformError> keepNotLoadedFile();

    const platform::Url m_location;
    const std::shared_ptr<platform::DispatchQueue> m_queue;
    bool m_loading = false;
    int m_writesRequested = 0;
    std::vector<std::pair<QByteArray, Completion>> m_waitingForLoad;
    // Touched only on the serial queue.
    bool m_keepBeforeOverwrite = false;
};
