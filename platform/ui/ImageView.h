#pragma once

#include <QWidget>

#include <memory>

class QPropertyAnimation;

namespace platform {

class Image;

// A view that shows one image, scaled down proportionally to fit and centred; it never scales an
// image up. Main thread only.
class ImageView : public QWidget {
public:
    explicit ImageView(QWidget* parent = nullptr);
    ~ImageView() override;

    const std::shared_ptr<Image>& image() const { return m_image; }
    void setImage(std::shared_ptr<Image> image);
    // Shows `image` fading in linearly over `seconds`; at once when `seconds` is not positive.
    void setImage(std::shared_ptr<Image> image, double fadeSeconds);

    // The running fade, or null.
    QPropertyAnimation* fadeAnimation() const { return m_fade; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void stopFade();

    std::shared_ptr<Image> m_image;
    QPropertyAnimation* m_fade = nullptr;
};

} // namespace platform
