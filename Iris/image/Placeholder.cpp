#include "Iris/image/Placeholder.h"

#include "platform/ui/ImageView.h"

#include <QEvent>

namespace iris {

void ImagePlaceholder::add(platform::ImageView& imageView)
{
    imageView.setImage(m_image);
}

void ImagePlaceholder::remove(platform::ImageView& imageView)
{
    imageView.setImage(nullptr);
}

// Keeps the widget over the whole image view as the view changes size.
class ViewPlaceholder::SizeTracker final : public QObject {
public:
    explicit SizeTracker(ViewPlaceholder& owner)
        : m_owner(owner)
    {
    }

    void fit(const QWidget& imageView)
    {
        if (m_owner.m_view)
            m_owner.m_view->setGeometry(imageView.rect());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && m_owner.m_view && m_owner.m_view->parent() == watched)
            fit(*static_cast<QWidget*>(watched));
        return false;
    }

private:
    ViewPlaceholder& m_owner;
};

ViewPlaceholder::ViewPlaceholder(QWidget* view)
    : m_view(view)
    , m_tracker(std::make_unique<SizeTracker>(*this))
{
}

ViewPlaceholder::~ViewPlaceholder()
{
    delete m_view.data();
}

void ViewPlaceholder::add(platform::ImageView& imageView)
{
    if (!m_view)
        return;
    if (QWidget* previous = m_view->parentWidget(); previous && previous != &imageView)
        previous->removeEventFilter(m_tracker.get());
    m_view->setParent(&imageView);
    imageView.installEventFilter(m_tracker.get());
    m_tracker->fit(imageView);
    m_view->show();
}

void ViewPlaceholder::remove(platform::ImageView& imageView)
{
    imageView.removeEventFilter(m_tracker.get());
    if (m_view && m_view->parentWidget() == &imageView)
        m_view->setParent(nullptr);
}

} // namespace iris
