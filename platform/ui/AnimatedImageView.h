#pragma once

#include "platform/ui/ImageView.h"

#include <QTimer>

#include <memory>

namespace platform {

class Image;

// An image view that plays animated images: each frame for its own duration, as many loops as the
// image asks for (forever for 0), and only while the view is visible. A still image is shown as the
// plain image view shows it: scaled down proportionally to fit and centred. Main thread only.
class AnimatedImageView : public ImageView {
public:
    // How firmly the view keeps its image's size when a layout squeezes it. Below `defaultPriority`
    // it may be squeezed to nothing along that axis.
    static constexpr float defaultPriority = 750;
    static constexpr float lowPriority = 250;

    explicit AnimatedImageView(QWidget* parent = nullptr);

    // Starts from the first frame when the image differs from the current one.
    void setImage(std::shared_ptr<Image> image);

    void setContentCompressionResistancePriority(float priority, Qt::Orientation orientation);
    float contentCompressionResistancePriority(Qt::Orientation orientation) const;

    int currentFrameIndex() const { return m_frame; }
    bool isAnimating() const { return m_timer.isActive(); }

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void scheduleNextFrame();
    void advance();

    int m_frame = 0;
    int m_loopsPlayed = 0;
    QTimer m_timer;
    float m_horizontalResistance = defaultPriority;
    float m_verticalResistance = defaultPriority;
};

} // namespace platform
