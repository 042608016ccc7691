#include "app/store/TDImageImport.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDMedia.h"
#include "app/model/TDProject.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDFileFailure.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDLibraryJournal.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"
#include "platform/graphics/ImageEncoding.h"
#include "platform/graphics/ImageFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <deque>
#include <mutex>
#include <utility>

using platform::FileManager;
using platform::Result;
using platform::Url;
using platform::Uuid;

namespace tdimageimport {

namespace {

// A share of something the imports hold (lanes, decodes, bytes in memory). Work that fits beside
// what is taken is queued on the shared pool at once; the rest waits here, first come first served,
// holding no thread, and is queued as the shares it needs are given back. A piece larger than the
// whole goes when nothing else is taken.
class WorkBudget {
public:
    explicit WorkBudget(qint64 capacity)
        : m_capacity(capacity)
    {
    }

    void take(qint64 amount, std::function<void()> work)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_waiting.empty() || !fits(amount)) {
                m_waiting.push_back({ amount, std::move(work) });
                return;
            }
            m_taken += amount;
        }
        run(std::move(work));
    }

    void give(qint64 amount)
    {
        std::vector<std::function<void()>> ready;
        {
            std::lock_guard lock(m_mutex);
            m_taken -= amount;
            while (!m_waiting.empty() && fits(m_waiting.front().amount)) {
                m_taken += m_waiting.front().amount;
                ready.push_back(std::move(m_waiting.front().work));
                m_waiting.pop_front();
            }
        }
        for (auto& work : ready)
            run(std::move(work));
    }

private:
    struct Waiting {
        qint64 amount;
        std::function<void()> work;
    };

    bool fits(qint64 amount) const { return m_taken == 0 || m_taken + amount <= m_capacity; }

    static void run(std::function<void()> work)
    {
        platform::DispatchQueue::global(platform::QualityOfService::utility)->async(std::move(work));
    }

    const qint64 m_capacity;
    std::mutex m_mutex;
    qint64 m_taken = 0; // behind m_mutex
    std::deque<Waiting> m_waiting; // behind m_mutex
};

// Never destroyed: work may still be on its way while the program exits.
WorkBudget& lanes()
{
    static auto* budget = new WorkBudget(laneCount);
    return *budget;
}

WorkBudget& decodes()
{
    static auto* budget = new WorkBudget(decodeCount);
    return *budget;
}

WorkBudget& bytesHeld()
{
    static auto* budget = new WorkBudget(bytesInFlight);
    return *budget;
}

// Set while the program quits: the files not yet begun are left out.
std::atomic<bool>& quitting()
{
    static std::atomic<bool> flag { false };
    return flag;
}

QString reasonFor(const platform::PlatformError& error)
{
    return tdLocalized("It could not be copied into the project: ") + tdPlainFileFailure(error);
}

bool itemExists(const Url& url)
{
    QFileInfo info(url.path());
    return url.isFileUrl() && (info.exists() || info.isSymLink());
}

// Removes an import's own folder; one already gone counts as removed.
void removeFolder(const Url& folder)
{
    if (itemExists(folder))
        TDDirectoryPath::removeItemInsideLibrary(folder);
}

Url ownFolder(const Url& projectFolder, const Uuid& id)
{
    return TDDirectoryPath::mediaThumbnailURL(projectFolder, id).deletingLastPathComponent();
}

bool isRegularFile(const Url& url)
{
    QFileInfo info(url.path());
    return url.isFileUrl() && info.isFile() && !info.isSymLink();
}

// One drop on its way: what each file became, handed to the store in the drop's order. Main thread
// only.
class Drop : public std::enable_shared_from_this<Drop> {
public:
    struct Entry {
        QString displayName;
        // The dropped file, and the project folder its copy goes to; no path for what is no file.
        QString path;
        Url projectFolder;
        Uuid id;
        std::optional<Result<PreparedImage, QString>> outcome;
        bool leftOut = false;
        // Its folder's place in `m_listed`.
        std::optional<std::size_t> listed;
    };
    // A folder listed before a lane made it.
    struct Listed {
        TDLibraryJournal::Entry entry;
        Url folder;
        bool recorded = false;
    };

    Drop(TDStores stores, std::shared_ptr<TDProject> project, double pixelScale,
        std::function<void(std::vector<std::shared_ptr<TDMedia>>)> append,
        std::function<void(TDImageImportReport)> finished)
        : m_stores(std::move(stores))
        , m_project(std::move(project))
        , m_pixelScale(pixelScale)
        , m_append(std::move(append))
        , m_finished(std::move(finished))
    {
    }

    std::vector<Entry> entries;

    // Lists the folders the files of `indices` are about to get, in one write of the list.
    void list(const std::vector<std::size_t>& indices)
    {
        std::vector<TDLibraryJournal::Change> changes;
        for (const std::size_t index : indices) {
            const Entry& entry = entries[index];
            changes.push_back({ TDLibraryJournal::Change::Kind::importMedia, m_project->id(), entry.id, {},
                {}, {}, ownFolder(entry.projectFolder, entry.id) });
        }
        const Url library = m_stores.projectStore->libraryFile()->location().deletingLastPathComponent();
        const auto listed = TDLibraryJournal::begin(library, changes);
        for (std::size_t i = 0; i < listed.size(); ++i) {
            entries[indices[i]].listed = m_listed.size();
            m_listed.push_back({ listed[i], *changes[i].file });
        }
    }

    // Files that finish together arrive in one turn of the main loop: they are taken on the next
    // turn, all at once, so that their records go into the store with one append.
    void deliver(std::size_t index, Result<PreparedImage, QString> outcome, bool leftOut = false)
    {
        entries[index].outcome = std::move(outcome);
        entries[index].leftOut = leftOut;
        if (m_flushPosted)
            return;
        m_flushPosted = true;
        platform::DispatchQueue::main()->async([drop = shared_from_this()] {
            drop->m_flushPosted = false;
            drop->flush();
        });
    }

    // Hands the file of `index` to a lane; its outcome comes back through `deliver`.
    void prepare(std::size_t index)
    {
        const Entry& entry = entries[index];
        // Only the main thread holds the drop: the lane's closures hand their one reference over to it
        // whatever becomes of their copies.
        auto held = std::make_shared<std::shared_ptr<Drop>>(shared_from_this());
        lanes().take(1,
            [held, index, path = entry.path, projectFolder = entry.projectFolder, id = entry.id,
                pixelScale = m_pixelScale] {
                auto answer = [held, index](Result<PreparedImage, QString> outcome, bool leftOut) {
                    lanes().give(1);
                    platform::DispatchQueue::main()->async(
                        [drop = std::move(*held), index, outcome = std::move(outcome), leftOut]() mutable {
                            drop->deliver(index, std::move(outcome), leftOut);
                        });
                };
                // Once the program quits, a file not yet begun stays where it is and nothing is made for it.
                if (quitting().load())
                    return answer(Result<PreparedImage, QString>::failure(QString()), true);
                prepareImage(path, projectFolder, id, {}, pixelScale,
                    [answer](Result<PreparedImage, QString> outcome) { answer(std::move(outcome), false); });
            });
    }

    bool isDone() const { return m_done; }
    const TDStores& stores() const { return m_stores; }

    void flush()
    {
        while (m_next < entries.size() && entries[m_next].outcome && take(m_next))
            ++m_next;
        // Each append copies the store's whole list, which in a large library is the costly part:
        // the records taken in one turn go in together, in the drop's order.
        if (!m_taken.empty())
            m_append(std::exchange(m_taken, {}));
        if (m_next == entries.size() && !m_done) {
            m_done = true;
            strikeOffListed();
            if (m_finished)
                m_finished(std::move(m_report));
        }
    }

private:
    // Records or reports the entry at `index`; false when it went back to a lane.
    bool take(std::size_t index)
    {
        Entry& entry = entries[index];
        if (entry.leftOut) {
            platform::print(QStringLiteral("An error occurred: ") + entry.displayName
                + QStringLiteral(": Tindrel quit before it was added."));
            ++m_report.leftOut;
            return true;
        }
        if (!*entry.outcome && retryInMovedFolder(index)) {
            prepare(index);
            return false;
        }
        const bool inStore = projectInStore();
        if (!*entry.outcome) {
            // A file of a project deleted meanwhile (whose folder went with it) was not lost by the
            // import: the user let the project go, and is not told of files for it.
            if (inStore)
                m_report.failures.push_back({ entry.displayName, entry.outcome->error() });
            else
                ++m_report.discarded;
            return true;
        }
        const PreparedImage prepared = entry.outcome->value();
        const Url folder = TDDirectoryPath::projectDirectoryURL(m_project->name());
        const Url file = TDDirectoryPath::mediaFileURL(folder, entry.id, prepared.fileName);
        const Url thumbnail = TDDirectoryPath::mediaThumbnailURL(folder, entry.id);
        if (!inStore || !isRegularFile(file) || !isRegularFile(thumbnail)) {
            // The project went, or its folder moved away from under the import: whatever the import
            // wrote goes with it, wherever it ended up.
            removeFolder(prepared.folder);
            // Written after a rename into a folder of the old name made again meanwhile (another
            // project's now): the file goes again, into the folder the project has now.
            if (retryInMovedFolder(index)) {
                prepare(index);
                return false;
            }
            removeFolder(thumbnail.deletingLastPathComponent());
            ++m_report.discarded;
            return true;
        }
        m_taken.push_back(TDMedia::make(entry.id, file, thumbnail, m_project->id()));
        ++m_report.imported;
        if (entry.listed)
            m_listed[*entry.listed].recorded = true;
        return true;
    }

    // A folder that went again needs its entry no more; one whose record was appended keeps it until
    // the media file names the record. One that could not go stays listed for the next start.
    void strikeOffListed()
    {
        std::vector<TDLibraryJournal::Entry> ended;
        for (const auto& listed : m_listed) {
            if (listed.recorded)
                m_report.listed.push_back(listed.entry);
            else if (!itemExists(listed.folder))
                ended.push_back(listed.entry);
        }
        TDLibraryJournal::end(ended);
    }

    bool projectInStore() const
    {
        const auto projects = m_stores.projectStore->tdProjects();
        return std::find(projects.begin(), projects.end(), m_project) != projects.end();
    }

    // A rename of the project moved its folder while the file was on its way: the file goes again,
    // under a new id, into the folder the project has now; what the first try left there goes.
    bool retryInMovedFolder(std::size_t index)
    {
        Entry& entry = entries[index];
        if (entry.path.isEmpty() || !projectInStore())
            return false;
        const Url folder = TDDirectoryPath::projectDirectoryURL(m_project->name());
        if (folder == entry.projectFolder)
            return false;
        removeFolder(ownFolder(folder, entry.id));
        entry.projectFolder = folder;
        entry.id = Uuid::random();
        entry.outcome.reset();
        list({ index });
        return true;
    }

    TDStores m_stores;
    std::shared_ptr<TDProject> m_project;
    double m_pixelScale;
    std::function<void(std::vector<std::shared_ptr<TDMedia>>)> m_append;
    std::function<void(TDImageImportReport)> m_finished;
    TDImageImportReport m_report;
    // Records taken in this flush, not yet appended.
    std::vector<std::shared_ptr<TDMedia>> m_taken;
    bool m_flushPosted = false;
    std::vector<Listed> m_listed;
    std::size_t m_next = 0;
    bool m_done = false;
};

// The drops not yet done, for a quit to wait for. Main thread only.
std::vector<std::weak_ptr<Drop>>& openDrops()
{
    static auto* drops = new std::vector<std::weak_ptr<Drop>>;
    return *drops;
}

bool isOpen(const std::weak_ptr<Drop>& weak)
{
    auto drop = weak.lock();
    return drop && !drop->isDone();
}

} // namespace

QString tooLargeReason()
{
    return tdLocalized("The picture is too large to open.");
}

QString refusalReason(const platform::ImageFileError& error)
{
    using Problem = platform::ImageFileProblem;
    switch (error.problem) {
    case Problem::notARegularFile:
        return error.cause && error.cause->code == EISDIR
                && error.cause->domain == platform::PlatformError::posixDomain
            ? tdLocalized("It is a folder, not an image file.")
            : tdLocalized("It is not a regular file.");
    case Problem::unreadable:
        return tdLocalized("It could not be read: ")
            + (error.cause ? error.cause->description : tdLocalized("unknown error"));
    case Problem::notAnImage:
        return tdLocalized(
            "It is not an image Tindrel can add (PNG, JPEG, GIF, WebP, TIFF, BMP, HEIC, HEIF or AVIF).");
    case Problem::tooLarge:
        return tooLargeReason();
    case Problem::corrupt:
        return tdLocalized("The image is damaged.");
    }
    return tdLocalized("The image is damaged.");
}

QString refusedFileLine(const QString& fileName, const QString& reason)
{
    return QStringLiteral("\u201C%1\u201D: %2").arg(fileName, reason);
}

QSize thumbnailSize(QSize size, double pixelScale)
{
    const int longSide = std::max(1, int(std::lround(thumbnailLongSide * pixelScale)));
    if (size.width() <= 0 || size.height() <= 0)
        return QSize(longSide, longSide);
    const double ratio = double(size.width()) / size.height();
    double width = longSide, height = longSide;
    if (ratio > 1)
        height = longSide / ratio;
    else
        width = ratio * longSide;
    // A sliver of a picture still gets a row (or column) of pixels.
    return QSize(std::max(1, int(std::lround(width))), std::max(1, int(std::lround(height))));
}

double thumbnailPixelScale()
{
    double scale = 1;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        for (const QScreen* screen : QGuiApplication::screens())
            scale = std::max(scale, screen->devicePixelRatio());
    }
    return std::min(scale, 4.0);
}

std::optional<QByteArray> thumbnailJpeg(const platform::ImageSource& source, double pixelScale)
{
    const QSize longest = thumbnailSize({}, pixelScale);
    std::optional<platform::Bitmap> decoded = source.thumbnail(longest.width());
    if (!decoded || decoded->image().isNull())
        return std::nullopt;
    const QSize size = thumbnailSize(
        source.pixelSize().isValid() ? source.pixelSize() : decoded->image().size(), pixelScale);
    // JPEG has no transparency: what was see-through becomes white, not black.
    QImage flat(size, QImage::Format_RGB32);
    flat.fill(Qt::white);
    {
        QPainter painter(&flat);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRect(QPoint(0, 0), size), decoded->image());
    }
    return platform::encodeJpeg(*platform::Bitmap::fromImage(flat), thumbnailQuality);
}

std::optional<QString> localPath(const QUrl& url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    // A relative path ("file:photo.png") would be looked for wherever the program started.
    if (!url.path(QUrl::FullyDecoded).startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QString host = url.host();
    if (host.isEmpty())
        return url.toLocalFile();
    // Read as a path, such a URL would name "//host/..." on this machine, a file that is not there.
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0)
        return url.path(QUrl::FullyDecoded);
    return std::nullopt;
}

// Longer endings are no file type's extension.
constexpr qsizetype longestKeptExtension = 16;

namespace {

// The thumbnail has this name in the same folder; the copy must not be overwritten by it, nor on a
// disk that does not tell upper from lower case (FAT, exFAT) by a name differing only in case.
QString besideTheThumbnail(const QString& name)
{
    const QString thumbnail = QStringLiteral("thumbnail.jpg");
    if (name.compare(thumbnail, Qt::CaseInsensitive) != 0)
        return name;
    return name.first(9) + QStringLiteral("-original") + name.sliced(9);
}

} // namespace

QString copyName(const QString& droppedName)
{
    QString name = TDDirectoryPath::safeName(droppedName);
    // A name cut short to fit keeps its extension, by which other programs tell the file's kind. Making
    // a name safe never lengthens it, so one that fitted as dropped was not cut, whatever follows its
    // last dot ("Fig. 3").
    const bool mayHaveBeenCut = droppedName.toUtf8().size() > TDDirectoryPath::maximumOutsideNameBytes;
    const QString suffix = QFileInfo(droppedName).suffix();
    const QString ending = QLatin1Char('.') + TDDirectoryPath::safeName(suffix);
    if (mayHaveBeenCut && !suffix.isEmpty() && !name.endsWith(ending)
        && ending.size() <= longestKeptExtension) {
        const qsizetype room = TDDirectoryPath::maximumOutsideNameBytes - ending.toUtf8().size();
        while (!name.isEmpty() && name.toUtf8().size() > room)
            name.chop(name.size() > 1 && name.back().isLowSurrogate() ? 2 : 1);
        name = name.trimmed() + ending;
    }
    return besideTheThumbnail(name);
}

QString copyNameForAnyDisk(const QString& copyName)
{
    return besideTheThumbnail(TDDirectoryPath::nameForAnyDisk(copyName));
}

namespace {

using Prepared = Result<PreparedImage, QString>;

// One file on its way through the stages of `prepareImage`.
struct Preparation {
    QString sourcePath;
    Url projectFolder;
    Uuid id;
    platform::DecodingLimits limits;
    double pixelScale = 1;
    qint64 bytes = 0;
    std::shared_ptr<platform::ImageSource> source;
    QByteArray thumbnail;
    std::function<void(Prepared)> done;
};

void finish(const std::shared_ptr<Preparation>& preparation, Prepared outcome)
{
    preparation->source.reset();
    bytesHeld().give(preparation->bytes);
    auto done = std::move(preparation->done);
    done(std::move(outcome));
}

// Makes the import's folder and writes the thumbnail and the copy into it.
Prepared writeFiles(const Preparation& preparation)
{
    const Url& projectFolder = preparation.projectFolder;
    const Uuid& id = preparation.id;
    QString fileName = copyName(QFileInfo(preparation.sourcePath).fileName());
    const Url thumbnailURL = TDDirectoryPath::mediaThumbnailURL(projectFolder, id);
    const Url folder = thumbnailURL.deletingLastPathComponent();
    const Url images = folder.deletingLastPathComponent();
    if (!thumbnailURL.isValid() || !TDDirectoryPath::isInsideLibraryFolder(folder))
        return Prepared::failure(tdLocalized("The project's folder cannot hold images."));
    // Neither folder is made with its parents: a project folder deleted meanwhile is not made again.
    if (!FileManager::directoryExists(images)) {
        auto made = FileManager::createDirectory(images, platform::IntermediateDirectories::doNotCreate);
        if (!made && !FileManager::directoryExists(images))
            return Prepared::failure(reasonFor(made.error()));
    }
    auto made = FileManager::createDirectory(folder, platform::IntermediateDirectories::doNotCreate);
    if (!made)
        return Prepared::failure(reasonFor(made.error()));
    // The thumbnail first: the copy's name may be anything, even what a save leaves behind for a
    // moment, and so could be taken for a leftover by the thumbnail's save.
    auto written = FileManager::writeAtomically(thumbnailURL, preparation.thumbnail);
    if (written)
        written = FileManager::writeAtomically(
            TDDirectoryPath::mediaFileURL(projectFolder, id, fileName), preparation.source->data());
    // A memory card's disk (FAT, exFAT) refuses some characters other disks take: the copy goes once
    // more under a name without them, so that the image lands all the same.
    if (!written && TDDirectoryPath::isNameRefusal(written.error())
        && copyNameForAnyDisk(fileName) != fileName) {
        fileName = copyNameForAnyDisk(fileName);
        written = FileManager::writeAtomically(
            TDDirectoryPath::mediaFileURL(projectFolder, id, fileName), preparation.source->data());
    }
    if (!written) {
        removeFolder(folder);
        return Prepared::failure(reasonFor(written.error()));
    }
    return Prepared::success({ folder, fileName });
}

} // namespace

void prepareImage(const QString& sourcePath, const Url& projectFolder, const Uuid& id,
    const platform::DecodingLimits& limits, double pixelScale, std::function<void(Prepared)> done)
{
    auto preparation = std::make_shared<Preparation>();
    preparation->sourcePath = sourcePath;
    preparation->projectFolder = projectFolder;
    preparation->id = id;
    // The thumbnail is of the first frame; the copy is the file's bytes, whatever its frames.
    preparation->limits = limits;
    preparation->limits.firstFrameOnly = true;
    preparation->pixelScale = pixelScale;
    preparation->done = std::move(done);
    // What the file says of its size now; the read itself is bounded by the limits whatever it says.
    preparation->bytes = std::clamp<qint64>(QFileInfo(sourcePath).size(), 0, limits.maxTotalBytes);
    // Each stage is a turn of its own on the pool, and one waiting for its share holds no thread.
    bytesHeld().take(preparation->bytes, [preparation] {
        auto opened = platform::openImageFile(preparation->sourcePath, preparation->limits);
        if (!opened)
            return finish(preparation, Prepared::failure(refusalReason(opened.error())));
        preparation->source = std::move(opened).value();
        decodes().take(1, [preparation] {
            std::optional<QByteArray> thumbnail
                = thumbnailJpeg(*preparation->source, preparation->pixelScale);
            decodes().give(1);
            if (!thumbnail)
                return finish(preparation,
                    Prepared::failure(refusalReason({ platform::ImageFileProblem::corrupt, std::nullopt })));
            preparation->thumbnail = std::move(*thumbnail);
            platform::DispatchQueue::global(platform::QualityOfService::utility)->async([preparation] {
                finish(preparation, writeFiles(*preparation));
            });
        });
    });
}

void start(TDStores stores, std::shared_ptr<TDProject> project, std::vector<QUrl> urls,
    std::function<void(std::vector<std::shared_ptr<TDMedia>>)> append,
    std::function<void(TDImageImportReport)> finished)
{
    static const bool finishesBeforeQuit = [] {
        if (auto* application = QCoreApplication::instance())
            QObject::connect(
                application, &QCoreApplication::aboutToQuit, application, [] { finishBeforeQuit(); });
        return true;
    }();
    Q_UNUSED(finishesBeforeQuit);
    // Made for the screens of now: a thumbnail of 80 pixels is blurred on a screen of 2 device pixels
    // per pixel.
    auto drop = std::make_shared<Drop>(
        stores, project, thumbnailPixelScale(), std::move(append), std::move(finished));
    std::erase_if(openDrops(), [](const auto& weak) { return !isOpen(weak); });
    openDrops().push_back(drop);
    // The stored name, never decoded: the one folder every other change of the project uses.
    const Url projectFolder = TDDirectoryPath::projectDirectoryURL(project->name());
    std::vector<std::size_t> jobs;
    for (const QUrl& url : urls) {
        Drop::Entry entry;
        entry.id = Uuid::random();
        entry.projectFolder = projectFolder;
        if (const std::optional<QString> path = localPath(url)) {
            entry.displayName = QFileInfo(*path).fileName();
            entry.path = *path;
            jobs.push_back(drop->entries.size());
        } else {
            entry.displayName = url.toDisplayString();
            entry.outcome
                = Result<PreparedImage, QString>::failure(tdLocalized("It is not a file on this computer."));
        }
        drop->entries.push_back(std::move(entry));
    }
    if (jobs.empty()) {
        // Nothing to wait for: the answer still comes on a later turn, like every other one.
        platform::DispatchQueue::main()->async([drop] { drop->flush(); });
        return;
    }
    // Listed before any lane begins: a crash from here on leaves no folder the list does not name.
    drop->list(jobs);
    for (const std::size_t index : jobs)
        drop->prepare(index);
}

void finishBeforeQuit(std::chrono::milliseconds limit)
{
    auto& drops = openDrops();
    std::erase_if(drops, [](const auto& weak) { return !isOpen(weak); });
    if (drops.empty())
        return;
    std::vector<std::shared_ptr<TDMediaStore>> mediaStores;
    for (const auto& weak : drops) {
        auto drop = weak.lock();
        const auto& store = drop ? drop->stores().mediaStore : nullptr;
        if (store && std::find(mediaStores.begin(), mediaStores.end(), store) == mediaStores.end())
            mediaStores.push_back(store);
    }
    quitting() = true;
    const QDeadlineTimer deadline(limit);
    const bool ended = platform::runMainLoopUntil(
        [&] {
            return std::none_of(drops.begin(), drops.end(), [](const auto& weak) { return isOpen(weak); });
        },
        limit);
    // The drops saved their records as they ended; this save is waited for, and being the last one
    // asked of the file, it lands after theirs.
    auto saving = std::make_shared<int>(0);
    for (const auto& store : mediaStores) {
        ++*saving;
        store->save(store->tdMedia(), [saving](auto) { --*saving; });
    }
    platform::runMainLoopUntil([&] { return *saving == 0; },
        std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
    // A drop still under way at the deadline keeps leaving its files out.
    if (ended)
        quitting() = false;
}

} // namespace tdimageimport
