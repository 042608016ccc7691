#pragma once

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <QByteArray>

#include <cstdint>

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// One library file and its writer. There is one object per file per process, so every save of a
// file goes through the same serial queue and lands in the order it was asked for. Writes replace
// the file atomically. A file that was there but could not be loaded (or whose load was skipped)
// is renamed to "NAME.damaged-YYYYMMDDTHHMMSSZ" before the first write that would replace it, and
// no write starts while the file's load is still running. A file that another program changed since
// it was read or last written here is renamed to "NAME.changed-elsewhere-YYYYMMDDTHHMMSSZ" before
// the write that replaces it, so its version is not lost either. Each write replaces the whole file:
// writes asked for while an earlier one still waits for its turn are folded into one, the latest,
// whose outcome every one of them gets, in the order they were asked for. Main thread only, except
// `read`.
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

    // Runs `encode` on the file's serial queue and writes what it gives over the file; `completion`
    // runs on the main queue. `encode` may read only what nothing changes meanwhile: a copy made for
    // it. An encoding or writing failure is also printed to standard error with the file's path, and
    // an encoding failure writes nothing.
    using Encoder = std::function<platform::Result<QByteArray, platform::PlatformError>()>;
    void write(Encoder encode, Completion completion);

    // How many writes were asked for in this process (tests count saves with it).
    int writesRequested() const { return m_writesRequested; }
    // How many writes reached the disk or failed trying; writes folded into a later one count once.
    int writesMade() const { return m_writesMade; }
    // Writes of any library file whose completion has not run yet.
    static int writesInFlight();
    // Whether the file is behind what its store holds: its last write failed, or a chain of saves
    // stopped before its turn (`markBehind`). The next write that succeeds clears it.
    bool isBehind() const { return m_behind; }
    void markBehind() { m_behind = true; }

private:
    explicit TDLibraryFile(platform::Url location);
    void enqueueWrite(Encoder encode, Completion completion);
    // On the queue: encodes, writes and answers every completion on the main queue.
    void writeNow(Encoder encode, std::vector<Completion> completions);
    platform::Result<platform::Success, platform::PlatformError> keepNotLoadedFile();
    platform::Result<platform::Success, platform::PlatformError> keepFileChangedElsewhere();
    platform::Result<platform::Success, platform::PlatformError> keepAside(
        const QString& suffix, const QString& why, platform::FileManager::LinkKept link);

    const platform::Url m_location;
    const std::shared_ptr<platform::DispatchQueue> m_queue;
    bool m_loading = false;
    int m_writesRequested = 0;
    std::vector<std::pair<Encoder, Completion>> m_waitingForLoad;
    int m_writesMade = 0;
    // The write waiting for its turn on the queue, if any; a later one replaces its encoder and
    // adds its completion. Behind `m_waitingMutex`: the queue takes it when its turn comes.
    struct WaitingWrite {
        Encoder encode;
        std::vector<Completion> completions;
        // Encoders replaced by later ones, dropped on the queue with what they copied.
        std::vector<Encoder> superseded;
    };
    std::mutex m_waitingMutex;
    std::optional<WaitingWrite> m_waitingWrite;
    // Main thread only: tasks put on the queue, and how many there were when the waiting write's
    // went on. A write joins the waiting one only when nothing else was queued after it.
    std::uint64_t m_tasksQueued = 0;
    std::uint64_t m_waitingWriteTask = 0;
    bool m_behind = false;
    // The file as the last `read` found it, and a digest of its content; taken by `finishLoad`.
    mutable std::mutex m_readMutex;
    mutable std::optional<platform::FileVersion> m_readSignature;
    mutable std::optional<QByteArray> m_readDigest;
    // Touched only on the serial queue.
    bool m_keepBeforeOverwrite = false;
    // Whether the file is known as it was last read or written here (`m_known`, none when there was
    // no file); until then there is nothing to compare with.
    bool m_tracked = false;
    std::optional<platform::FileVersion> m_known;
    std::optional<QByteArray> m_knownDigest;
};
