#include "app/store/TDFolderIcon.h"

#include "platform/foundation/Bundle.h"

#include <QImageReader>
#include <QtGlobal>

#include <mutex>

static void registerTindrelResources()
{
    Q_INIT_RESOURCE(Tindrel);
}

void initApplicationResources()
{
    static std::once_flag once;
    std::call_once(once, registerTindrelResources);
}

std::optional<QImage> loadFolderIcon()
{
    initApplicationResources();
    auto path = platform::Bundle::pathForResource(QStringLiteral("FolderIcon"), QStringLiteral("icns"));
    if (!path)
        return std::nullopt;
    QImageReader reader(*path);
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

void applyFolderIcon(const platform::Url&)
{
    (void)loadFolderIcon();
}
