#include "app/store/TDLibraryFile.h"

#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cassert>
#include <map>
#include <mutex>
#include <utility>

using platform::DispatchQueue;
using platform::PlatformError;
using platform::Result;
using platform::Success;
using platform::Url;

namespace {

std::mutex s_filesMutex;
// Main thread only.
int s_writesInFlight = 0;

// Counts the write from now until its completion has run.
TDLibraryFile::Completion counted(TDLibraryFile::Completion completion)
{
    ++s_writesInFlight;
    return [completion = std::move(completion)](Result<Success, PlatformError> outcome) {
        --s_writesInFlight;
        if (completion)
            completion(std::move(outcome));
    };
}

std::map<QString, std::shared_ptr<TDLibraryFile>>& files()
{
    static auto* map = new std::map<QString, std::shared_ptr<TDLibraryFile>>;
    return *map;
}

// Tells one content from another within this process (nothing stores it). Two fast 64-bit hashes
// with different seeds rather than a cryptographic digest: no one crafts a sync client's rewrite to
// collide, and a SHA-256 of a 30 MB projects file took 180 ms of every save and of the start-up.
QByteArray digestOf(const QByteArray& bytes)
{
    const std::size_t halves[] = { qHashBits(bytes.constData(), std::size_t(bytes.size()), 0x5a17),
        qHashBits(bytes.constData(), std::size_t(bytes.size()), 0x7c3e9) };
    return QByteArray(reinterpret_cast<const char*>(halves), sizeof halves);
}

} // namespace

std::shared_ptr<TDLibraryFile> TDLibraryFile::forLocation(const Url& location)
{
    std::lock_guard lock(s_filesMutex);
    auto& map = files();
    QString key = location.absoluteString();
    auto it = map.find(key);
    if (it != map.end())
        return it->second;
    auto file = std::shared_ptr<TDLibraryFile>(new TDLibraryFile(location));
    map.emplace(key, file);
    return file;
}

TDLibraryFile::TDLibraryFile(Url location)
    : m_location(std::move(location))
    , m_queue(DispatchQueue::makeSerial(
          "org.tindrel.library-file." + m_location.lastPathComponent().toStdString()))
{
}

Result<QByteArray, PlatformError> TDLibraryFile::read() const
{
    // Taken before the bytes: a change made while they are read then shows as a change later,
    // which keeps a copy too many rather than one too few.
    auto signature = platform::FileManager::versionOf(m_location);
    auto bytes = platform::FileManager::readRegularFile(m_location);
    std::lock_guard lock(m_readMutex);
    m_readSignature = signature;
    m_readDigest = bytes ? std::optional(digestOf(bytes.value())) : std::nullopt;
    return bytes;
}

void TDLibraryFile::beginLoad()
{
    assert(DispatchQueue::isMainThread());
    m_loading = true;
}

void TDLibraryFile::finishLoad(LoadOutcome outcome)
{
    assert(DispatchQueue::isMainThread());
    bool keep = outcome == LoadOutcome::notLoaded;
    std::optional<platform::FileVersion> read;
    std::optional<QByteArray> digest;
    {
        std::lock_guard lock(m_readMutex);
        read = std::exchange(m_readSignature, std::nullopt);
        digest = std::exchange(m_readDigest, std::nullopt);
    }
    auto self = shared_from_this();
    ++m_tasksQueued;
    m_queue->async([self, keep, read, digest, outcome] {
        self->m_keepBeforeOverwrite = keep;
        // A file that did not load is kept whole before the first write; what follows is compared
        // with what that write leaves.
        self->m_tracked = !keep;
        self->m_known = outcome == LoadOutcome::missing ? std::nullopt : read;
        self->m_knownDigest = outcome == LoadOutcome::missing ? std::nullopt : digest;
    });
    m_loading = false;
    auto waiting = std::move(m_waitingForLoad);
    m_waitingForLoad.clear();
    for (auto& [encode, completion] : waiting)
        enqueueWrite(std::move(encode), std::move(completion));
}

int TDLibraryFile::writesInFlight()
{
    assert(DispatchQueue::isMainThread());
    return s_writesInFlight;
}

void TDLibraryFile::write(Encoder encode, Completion completion)
{
    assert(DispatchQueue::isMainThread());
    ++m_writesRequested;
    completion = counted(std::move(completion));
    if (m_loading) {
        m_waitingForLoad.emplace_back(std::move(encode), std::move(completion));
        return;
    }
    enqueueWrite(std::move(encode), std::move(completion));
}

void TDLibraryFile::enqueueWrite(Encoder encode, Completion completion)
{
    {
        std::lock_guard lock(m_waitingMutex);
        if (m_waitingWrite && m_waitingWriteTask == m_tasksQueued) {
            // The waiting write has not begun: this one replaces the whole file anyway, so the
            // waiting one's list need not be encoded and written first.
            m_waitingWrite->superseded.push_back(std::move(m_waitingWrite->encode));
            m_waitingWrite->encode = std::move(encode);
            m_waitingWrite->completions.push_back(std::move(completion));
            return;
        }
    }
    auto job
        = std::make_shared<WaitingWrite>(WaitingWrite { std::move(encode), { std::move(completion) }, {} });
    auto self = shared_from_this();
    const std::uint64_t task = ++m_tasksQueued;
    bool joinable = false;
    {
        std::lock_guard lock(m_waitingMutex);
        // A write still waiting here has another task queued after it: this one goes on the queue
        // by itself, after that task.
        if (!m_waitingWrite) {
            m_waitingWrite = std::move(*job);
            m_waitingWriteTask = task;
            joinable = true;
        }
    }
    m_queue->async([self, job, joinable]() mutable {
        if (joinable) {
            std::lock_guard lock(self->m_waitingMutex);
            *job = std::move(*self->m_waitingWrite);
            self->m_waitingWrite.reset();
        }
        // What the folded writes were encoded from goes here, not on the main thread.
        job->superseded.clear();
        self->writeNow(std::move(job->encode), std::move(job->completions));
    });
}

void TDLibraryFile::writeNow(Encoder encode, std::vector<Completion> completions)
{
    auto self = shared_from_this();
    auto encoded = encode();
    // What it was encoded from goes here, not on the main thread, once it is no longer needed.
    encode = nullptr;
    Result<Success, PlatformError> outcome = Result<Success, PlatformError>::success({});
    QByteArray bytes;
    if (encoded)
        bytes = std::move(encoded).value();
    else
        outcome = Result<Success, PlatformError>::failure(encoded.error());
    if (outcome)
        outcome = keepNotLoadedFile();
    if (outcome)
        outcome = keepFileChangedElsewhere();
    if (outcome)
        outcome = platform::FileManager::writeAtomically(m_location, bytes);
    if (outcome) {
        m_tracked = true;
        m_known = platform::FileManager::versionOf(m_location);
        m_knownDigest = digestOf(bytes);
    }
    if (!outcome)
        platform::printError(
            QStringLiteral("Could not save %1: %2").arg(m_location.path(), outcome.error().description));
    DispatchQueue::main()->async([self, outcome = std::move(outcome), completions = std::move(completions)] {
        ++self->m_writesMade;
        self->m_behind = !outcome;
        for (const auto& completion : completions) {
            if (completion)
                completion(outcome);
        }
    });
}

Result<Success, PlatformError> TDLibraryFile::keepNotLoadedFile()
{
    using Outcome = Result<Success, PlatformError>;
    if (!m_keepBeforeOverwrite)
        return Outcome::success({});
    if (!platform::FileManager::fileExists(m_location)) {
        m_keepBeforeOverwrite = false;
        return Outcome::success({});
    }
    // A link out of the library to something that did not load as a library file (one in a folder
    // copied from elsewhere could lead to any file of the user's) is itself put aside, still
    // pointing there, and what it leads to is left alone: only a library file is written through.
    const bool leadsOutside
        = QFileInfo(m_location.path()).isSymLink() && !TDDirectoryPath::isInsideLibraryFolder(m_location);
    auto kept = keepAside(QStringLiteral(".damaged-"), QStringLiteral("could not be loaded"),
        leadsOutside ? platform::FileManager::LinkKept::moved : platform::FileManager::LinkKept::copied);
    if (kept)
        m_keepBeforeOverwrite = false;
    return kept;
}

Result<Success, PlatformError> TDLibraryFile::keepFileChangedElsewhere()
{
    using Outcome = Result<Success, PlatformError>;
    if (!m_tracked)
        return Outcome::success({});
    const auto now = platform::FileManager::versionOf(m_location);
    // Only another version of the file is kept; whatever else stands in its place makes the write
    // fail, as it would have.
    if (!now || !now->regular || now == m_known)
        return Outcome::success({});
    // Rewritten with the same content (a sync client may do that): nothing to keep.
    auto bytes = platform::FileManager::readRegularFile(m_location);
    if (bytes && m_knownDigest && digestOf(bytes.value()) == *m_knownDigest) {
        m_known = now;
        return Outcome::success({});
    }
    auto kept = keepAside(QStringLiteral(".changed-elsewhere-"),
        QStringLiteral("was changed by another program"), platform::FileManager::LinkKept::copied);
    // That version is safe now: a write that fails after this and is tried again keeps no second copy.
    if (kept) {
        m_known = now;
        m_knownDigest = bytes ? std::optional(digestOf(bytes.value())) : std::nullopt;
    }
    return kept;
}

Result<Success, PlatformError> TDLibraryFile::keepAside(
    const QString& suffix, const QString& why, platform::FileManager::LinkKept link)
{
    using Outcome = Result<Success, PlatformError>;
    // A library file that is a symbolic link (to a synced folder, say) keeps pointing where it did;
    // a plain one stays the library's until the write's rename replaces it, so that a write that
    // fails (a full disk) leaves the library its file, not a folder that looks new and empty.
    auto moved = platform::FileManager::keepBeside(m_location, m_location.lastPathComponent(), suffix,
        QString(), platform::FileManager::defaultReadLimitBytes, link,
        platform::FileManager::Original::staysUntilReplaced);
    if (!moved)
        return Outcome::failure(PlatformError::wrapping(QStringLiteral("library"), 1,
            QStringLiteral("could not keep the library file that %1 aside, so it was not replaced").arg(why),
            moved.error()));
    platform::printError(QStringLiteral("The library file %1 %2; it was kept as %3")
                             .arg(m_location.path(), why, moved.value().path()));
    return Outcome::success({});
}
