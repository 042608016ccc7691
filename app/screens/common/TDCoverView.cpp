#include "app/screens/common/TDCoverView.h"

#include "app/store/TDDirectoryPath.h"
#include "platform/graphics/Image.h"
#include "platform/ui/ObservedWidget.h"

#include <algorithm>
#include <cmath>

TDCoverView::TDCoverView(platform::ObservedWidget* owner)
    : m_owner(owner)
{
}

std::optional<platform::Url> TDCoverView::show(std::optional<platform::Url> cover, QWidget* tile)
{
    // A library file may have been edited or synced from elsewhere: only a cover inside the library
    // is read.
    if (cover && !TDDirectoryPath::isOpenableLibraryFile(*cover))
        cover.reset();
    if (!cover) {
        delete m_view.data();
        return std::nullopt;
    }
    QPointer<platform::ObservedWidget> owner = m_owner;
    // A view value with the same source keeps its binder, and so its image.
    auto view = iris::IRImage(cover->qUrl()).resizable().onFailure([owner](const iris::IrisError&) {
        if (owner)
            owner->setNeedsRender();
    });
    if (!m_view) {
        m_view = new iris::IRImageView(view, tile);
        m_view->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_view->show();
    } else {
        m_view->setView(view);
    }
    m_view->binder()->observe();
    // A file that is junk, cut short or spoilt by another program leaves nothing to show. The view
    // stays, hidden, so that its failed retrieval is not started again by the next render or by the
    // tile coming back into view.
    const auto& binder = *m_view->binder();
    const bool unreadable = binder.loaded && !binder.loading && !binder.loadedImage;
    m_view->setVisible(!unreadable);
    if (unreadable)
        return std::nullopt;
    return cover;
}

void TDCoverView::place()
{
    if (!m_view || !m_view->parentWidget())
        return;
    const QSize tile = m_view->parentWidget()->size();
    QRect frame(QPoint(), tile);
    if (const auto& image = m_view->binder()->loadedImage) {
        const platform::Size size = image->size();
        if (size.width > 0 && size.height > 0) {
            const double scale = std::max(tile.width() / size.width, tile.height() / size.height);
            const double w = std::ceil(size.width * scale);
            const double h = std::ceil(size.height * scale);
            frame = QRect(static_cast<int>(std::floor((tile.width() - w) / 2)),
                static_cast<int>(std::floor((tile.height() - h) / 2)), static_cast<int>(w),
                static_cast<int>(h));
        }
    }
    if (m_view->geometry() != frame)
        m_view->setGeometry(frame);
}
