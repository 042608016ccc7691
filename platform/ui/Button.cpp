#include "platform/ui/Button.h"

#include "platform/graphics/Image.h"

#include <QPixmap>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <cmath>

namespace platform {

namespace {

QSize pointSize(const std::shared_ptr<Image>& image)
{
    if (!image)
        return {};
    return QSize(int(std::ceil(image->size().width)), int(std::ceil(image->size().height)));
}

} // namespace

Button::Button(QWidget* parent)
    : QAbstractButton(parent)
{
}

Button::~Button() = default;

void Button::setImage(std::shared_ptr<Image> image)
{
    m_image = std::move(image);
    imagesChanged();
}

void Button::setAlternateImage(std::shared_ptr<Image> image)
{
    m_alternateImage = std::move(image);
    imagesChanged();
}

const std::shared_ptr<Image>& Button::shownImage() const
{
    if (m_alternateImage && (isDown() || isChecked()))
        return m_alternateImage;
    return m_image;
}

void Button::imagesChanged()
{
    updateGeometry();
    update();
}

QSize Button::sizeHint() const
{
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    QSize content = pointSize(m_image).expandedTo(pointSize(m_alternateImage));
    option.iconSize = content;
    if (!text().isEmpty()) {
        const QSize textSize = fontMetrics().size(Qt::TextShowMnemonic, text());
        const int gap = content.isEmpty() ? 0 : 4;
        content
            = QSize(content.width() + gap + textSize.width(), std::max(content.height(), textSize.height()));
    }
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, content, this);
}

void Button::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    if (isDown())
        option.state |= QStyle::State_Sunken;
    if (isChecked())
        option.state |= QStyle::State_On;
    if (!isDown() && !isChecked())
        option.state |= QStyle::State_Raised;
    const std::shared_ptr<Image>& shown = shownImage();
    if (shown && shown->bitmap()) {
        // The image is never larger than the room the button has for it.
        const QRect room = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        QSize size = pointSize(shown);
        if (size.width() > room.width() || size.height() > room.height())
            size.scale(room.size(), Qt::KeepAspectRatio);
        QPixmap pixmap = QPixmap::fromImage(shown->bitmap()->image());
        pixmap.setDevicePixelRatio(pixmap.width() / std::max(1.0, double(size.width())));
        option.icon = QIcon(pixmap);
        option.iconSize = size;
    }
    painter.drawControl(QStyle::CE_PushButton, option);
}

} // namespace platform
