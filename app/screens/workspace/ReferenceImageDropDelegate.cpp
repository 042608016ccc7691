#include "app/screens/workspace/ReferenceImageDropDelegate.h"

#include "app/screens/common/TDAppearance.h"
#include "app/store/TDImageImport.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QWidget>

using tdappearance::SystemColor;

namespace {

// By its name alone: an image type, or a name that says nothing (a photo without an extension).
bool mayBeImage(const QString& fileName)
{
    const QList<QMimeType> types = QMimeDatabase().mimeTypesForFileName(fileName);
    if (types.isEmpty())
        return true;
    for (const QMimeType& type : types) {
        if (type.name().startsWith(QLatin1String("image/")))
            return true;
    }
    return false;
}

// The outline over the area while a drag of images hovers it.
class TDDropHighlight : public QWidget {
public:
    explicit TDDropHighlight(QWidget* target)
        : QWidget(target)
    {
        setObjectName(QStringLiteral("dropHighlight"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        QColor accent = tdappearance::color(SystemColor::blue, this);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(4, 4, -4, -4), 6, 6);
        QColor wash = accent;
        wash.setAlphaF(0.08f);
        painter.fillPath(shape, wash);
        painter.strokePath(shape, QPen(accent, 2));
    }
};

} // namespace

ReferenceImageDropDelegate::ReferenceImageDropDelegate(
    QWidget* target, std::function<void(std::vector<QUrl>)> performDrop)
    : QObject(target)
    , m_target(target)
    , m_performDrop(std::move(performDrop))
{
    target->setAcceptDrops(true);
    target->installEventFilter(this);
    m_highlight = new TDDropHighlight(target);
}

// Read from the list itself: Qt takes each of its comment lines for a URL too, which the import
// would then name as a file it could not add.
QList<QUrl> ReferenceImageDropDelegate::droppedUrls(const QMimeData& data)
{
    const QByteArray list = data.data(QStringLiteral("text/uri-list"));
    if (list.isEmpty())
        return data.urls();
    QList<QUrl> urls;
    for (const QByteArray& line : list.split('\n')) {
        const QByteArray entry = line.trimmed();
        if (!entry.isEmpty() && !entry.startsWith('#'))
            urls.append(QUrl::fromEncoded(entry));
    }
    return urls;
}

bool ReferenceImageDropDelegate::validateDrop(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return false;
    for (const QUrl& url : droppedUrls(*data)) {
        if (url.isLocalFile() && mayBeImage(QFileInfo(url.toLocalFile()).fileName()))
            return true;
    }
    return false;
}

bool ReferenceImageDropDelegate::performDrop(const QMimeData* data)
{
    std::vector<QUrl> urls;
    if (data) {
        // A file the list names twice, as it is or once through "localhost", is imported once.
        QSet<QString> paths;
        QSet<QUrl> others;
        for (QUrl url : droppedUrls(*data)) {
            // A folder written with a closing "/" would have no name for the import to report.
            if (url.isLocalFile())
                url = url.adjusted(QUrl::StripTrailingSlash);
            const std::optional<QString> path = tdimageimport::localPath(url);
            const bool first = path ? !paths.contains(QDir::cleanPath(*path)) : !others.contains(url);
            if (!first)
                continue;
            if (path)
                paths.insert(QDir::cleanPath(*path));
            else
                others.insert(url);
            urls.push_back(url);
        }
    }
    if (m_performDrop)
        m_performDrop(std::move(urls));
    return true;
}

bool ReferenceImageDropDelegate::isTargeted() const
{
    return m_highlight && m_highlight->isVisible();
}

void ReferenceImageDropDelegate::setTargeted(bool targeted)
{
    if (!m_highlight || !m_target)
        return;
    if (targeted) {
        m_highlight->setGeometry(m_target->rect());
        m_highlight->raise();
        m_highlight->show();
    } else {
        m_highlight->hide();
    }
}

bool ReferenceImageDropDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_target)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        // A drag's data stays as it is while it hovers: a long list, which may come from another
        // program at each read, is judged once, not at every move of the pointer.
        if (event->type() == QEvent::DragEnter || !m_hoverAccepts)
            m_hoverAccepts = validateDrop(drag->mimeData());
        if (!*m_hoverAccepts) {
            drag->ignore();
            setTargeted(false);
            return true;
        }
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        setTargeted(true);
        return true;
    }
    case QEvent::DragLeave:
        m_hoverAccepts.reset();
        setTargeted(false);
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        m_hoverAccepts.reset();
        setTargeted(false);
        if (!validateDrop(drop->mimeData())) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        performDrop(drop->mimeData());
        return true;
    }
    case QEvent::Resize:
        if (m_highlight)
            m_highlight->setGeometry(m_target->rect());
        return false;
    default:
        return false;
    }
}
