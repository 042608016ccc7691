#include "app/store/TDLibraryFile.h"

#include "platform/foundation/Date.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QDateTime>

#include <cassert>
#include <map>
#include <mutex>

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

QString damagedSuffix()
{
    double unixSeconds = platform::Date::now().timeIntervalSince1970();
    QDateTime time = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixSeconds * 1000.0), Qt::UTC);
    return QStringLiteral(".damaged-") + time.toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
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
    return platform::FileManager::readRegularFile(m_location);
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
    auto self = shared_from_this();
    m_queue->async([self, keep] { self->m_keepBeforeOverwrite = keep; });
    m_loading = false;
    auto waiting = std::move(m_waitingForLoad);
    m_waitingForLoad.clear();
    for (auto& [bytes, completion] : waiting)
        enqueueWrite(std::move(bytes), std::move(completion));
}

int TDLibraryFile::writesInFlight()
{
    assert(DispatchQueue::isMainThread());
    return s_writesInFlight;
}

void TDLibraryFile::write(QByteArray bytes, Completion completion)
{
    assert(DispatchQueue::isMainThread());
    ++m_writesRequested;
    completion = counted(std::move(completion));
    if (m_loading) {
        m_waitingForLoad.emplace_back(std::move(bytes), std::move(completion));
        return;
    }
    enqueueWrite(std::move(bytes), std::move(completion));
}

void TDLibraryFile::write(Result<QByteArray, PlatformError> encoded, Completion completion)
{
    if (encoded) {
        write(std::move(encoded).value(), std::move(completion));
        return;
    }
    platform::printError(
        QStringLiteral("Could not save %1: %2").arg(m_location.path(), encoded.error().description));
    DispatchQueue::main()->async([error = encoded.error(), completion = counted(std::move(completion))] {
        if (completion)
            completion(Result<Success, PlatformError>::failure(error));
    });
}

void TDLibraryFile::enqueueWrite(QByteArray bytes, Completion completion)
{
    auto self = shared_from_this();
    m_queue->async([self, bytes = std::move(bytes), completion = std::move(completion)]() mutable {
        Result<Success, PlatformError> outcome = self->keepNotLoadedFile();
        if (outcome)
            outcome = platform::FileManager::writeAtomically(self->m_location, bytes);
        if (!outcome)
            platform::printError(QStringLiteral("Could not save %1: %2")
                                     .arg(self->m_location.path(), outcome.error().description));
        DispatchQueue::main()->async([outcome = std::move(outcome), completion = std::move(completion)] {
            if (completion)
                completion(outcome);
        });
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
    QString baseName = m_location.lastPathComponent() + damagedSuffix();
    Url folder = m_location.deletingLastPathComponent();
    Url kept = folder.appendingPathComponent(baseName);
    for (int attempt = 2; platform::FileManager::fileExists(kept); ++attempt)
        kept = folder.appendingPathComponent(baseName + QStringLiteral("-%1").arg(attempt));
    auto moved = platform::FileManager::moveItem(m_location, kept);
    if (!moved)
        return Outcome::failure(PlatformError::wrapping(QStringLiteral("library"), 1,
            QStringLiteral("could not keep the unread library file aside, so it was not replaced"),
            moved.error()));
    m_keepBeforeOverwrite = false;
    platform::printError(QStringLiteral("The library file %1 could not be loaded; it was kept as %2")
                             .arg(m_location.path(), kept.path()));
    return Outcome::success({});
}
