#pragma once

#include "platform/foundation/AssociatedObjects.h"

#include <QRectF>
#include <QWidget>

#include <memory>

class QPropertyAnimation;

namespace platform {

class Image;

// A view that shows one image, by default scaled down proportionally to fit and centred (never scaled
// up). Loaders keep per-view state in its associated objects. Main thread only.
class ImageView : public QWidget, public AssociatedObjects {
public:
    // How the image fits the view.
    enum class ImageScaling {
        proportionallyDown = 0, // scaled down to fit, keeping its proportions; never up
        axesIndependently = 1, // stretched to fill the view
        none = 2, // its own size, centred
        proportionallyUpOrDown = 3, // as large as fits, keeping its proportions
    };

    explicit ImageView(QWidget* parent = nullptr);
    ~ImageView() override;

    const std::shared_ptr<Image>& image() const { return m_image; }
    virtual void setImage(std::shared_ptr<Image> image);
    // Shows `image` fading in linearly over `seconds`; at once when `seconds` is not positive.
    void setImage(std::shared_ptr<Image> image, double fadeSeconds);

    ImageScaling imageScaling() const { return m_imageScaling; }
    void setImageScaling(ImageScaling scaling);

    // Whether the view plays animated images. This view shows a still picture whatever the flag says;
    // views that play animations override both.
    virtual bool animates() const { return m_animates; }
    virtual void setAnimates(bool animates) { m_animates = animates; }
    virtual bool isHighlighted() const { return m_highlighted; }
    virtual void setHighlighted(bool highlighted);

    // Whether a loader should decode every frame of an animation before handing it to this view. A
    // view that decodes frames as it plays them answers false.
    virtual bool shouldPreloadAllAnimation() const { return true; }

    // The running fade, or null.
    QPropertyAnimation* fadeAnimation() const { return m_fade; }

    QSize sizeHint() const override;

    // Where a picture of `pictureSize` goes in `bounds` under `scaling`.
    static QRectF placement(QSizeF pictureSize, const QRectF& bounds, ImageScaling scaling);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void stopFade();

    std::shared_ptr<Image> m_image;
    QPropertyAnimation* m_fade = nullptr;
    ImageScaling m_imageScaling = ImageScaling::proportionallyDown;
    bool m_animates = true;
    bool m_highlighted = false;
};

} // namespace platform
