#pragma once

#include <QPointer>

#include <functional>
#include <memory>

class QVariantAnimation;
class QWidget;

namespace platform {

// An opacity running from 0 to 1 over a duration, on the main thread's animation timer. A duration
// that is zero, negative, infinite or not a number finishes at once (the step sees 1, then
// `finished` runs) rather than animating backwards or never ending.
class FadeAnimation {
public:
    FadeAnimation();
    ~FadeAnimation();
    FadeAnimation(const FadeAnimation&) = delete;
    FadeAnimation& operator=(const FadeAnimation&) = delete;

    // The duration a fade of `seconds` really takes.
    static double sanitizedDuration(double seconds);

    // Starts over from 0, replacing a fade in progress (whose `finished` does not run).
    void start(double seconds, std::function<void(double opacity)> step, std::function<void()> finished = {});
    // Stops where it is; `finished` does not run.
    void stop();
    // Jumps to the end: the step sees 1 and `finished` runs.
    void finish();

    bool isRunning() const;
    // 1 when no fade is running.
    double opacity() const { return m_opacity; }

private:
    void complete();

    QVariantAnimation* m_animation = nullptr;
    std::function<void(double)> m_step;
    std::function<void()> m_finished;
    double m_opacity = 1;
};

// Fades `widget` in over `seconds` with an opacity effect that is removed once it is opaque, so a
// settled widget paints at full speed. Returns at once (with the widget opaque) for a duration of 0.
void fadeIn(QWidget* widget, double seconds);

} // namespace platform
