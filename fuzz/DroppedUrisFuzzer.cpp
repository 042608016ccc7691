// The URI list of a drop onto a project's images, as another program writes it: every address read
// from it that names a file here names it by a whole path, and the name its copy gets in the
// project is one safe path component, never the thumbnail's, kept as dropped when it fits.
#include "FuzzSupport.h"

#include "app/screens/workspace/ReferenceImageDropDelegate.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDImageImport.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QFileInfo>
#include <QMimeData>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// A name one folder can hold on any disk: one component, within the length a name may have.
void checkCopyName(const QString& name)
{
    check(platform::isSinglePathComponent(name));
    check(name.toUtf8().size() <= 255);
    check(name.compare(QLatin1String("thumbnail.jpg"), Qt::CaseInsensitive) != 0);
    check(name == name.trimmed());
    for (const QChar c : name)
        check(c.unicode() >= 0x20 && c.unicode() != 0x7F);
    const platform::Url folder = platform::Url::fileUrl(QStringLiteral("/library/Project"));
    const platform::Url file = TDDirectoryPath::mediaFileURL(folder, platform::Uuid(), name);
    check(file.isValid() && file.lastPathComponent() == name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    const QByteArray list(reinterpret_cast<const char*>(data), qsizetype(size));
    QMimeData dropped;
    dropped.setData(QStringLiteral("text/uri-list"), list);
    const QList<QUrl> urls = ReferenceImageDropDelegate::droppedUrls(dropped);
    qsizetype lines = 0;
    for (const QByteArray& line : list.split('\n'))
        lines += !line.trimmed().isEmpty() && !line.trimmed().startsWith('#');
    check(urls.size() <= lines);
    for (const QUrl& url : urls) {
        const std::optional<QString> path = tdimageimport::localPath(url);
        if (!path)
            continue;
        check(path->startsWith(QLatin1Char('/')));
        const QString dropName = QFileInfo(*path).fileName();
        if (dropName.isEmpty())
            continue;
        const QString copy = tdimageimport::copyName(dropName);
        checkCopyName(copy);
        checkCopyName(tdimageimport::copyNameForAnyDisk(copy));
        const QString safe = TDDirectoryPath::safeName(dropName);
        if (dropName.toUtf8().size() <= TDDirectoryPath::maximumOutsideNameBytes
            && safe.compare(QLatin1String("thumbnail.jpg"), Qt::CaseInsensitive) != 0)
            check(copy == safe);
    }
    return 0;
}
