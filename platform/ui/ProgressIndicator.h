#pragma once

#include <QTimer>
#include <QWidget>

namespace platform {

// A spinning progress indicator: an arc that turns while the indicator animates and rests while it
// does not. Whether it is shown while resting is the owner's choice. Main thread only.
class ProgressIndicator : public QWidget {
public:
    enum class ControlSize {
        regular, // 32 x 32
        small, // 16 x 16
    };

    explicit ProgressIndicator(QWidget* parent = nullptr);

    ControlSize controlSize() const { return m_controlSize; }
    void setControlSize(ControlSize size);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_animating; }
    // Whether its timer runs: only while it animates and is shown, so a spinner in a closed popover
    // or a minimized window does not wake the program.
    bool isTicking() const { return m_timer.isActive(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void followVisibility();

    ControlSize m_controlSize = ControlSize::regular;
    QTimer m_timer;
    bool m_animating = false;
    bool m_shown = false;
    int m_angle = 0;
};

} // namespace platform
