#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QVariantAnimation;

// A critically damped spring (damping fraction 1) of a given response, as a progress from 0 to 1
// over time: it starts at once, slows as it nears the end and never overshoots. A response of 0.1
// settles in about 0.15 s. Runs on the main thread's animation timer.
class TDSpringAnimation : public QObject {
public:
    explicit TDSpringAnimation(double responseSeconds, QObject* parent = nullptr);

    // The progress `seconds` after the start.
    static double progressAt(double responseSeconds, double seconds);
    // When the progress is within 0.001 of the end, where the animation stops.
    static double settlingSeconds(double responseSeconds);

    // Starts over from 0, replacing a run in progress (whose `finished` does not run). `step` sees
    // every progress, the last being 1; then `finished` runs.
    void start(std::function<void(double progress)> step, std::function<void()> finished = {});
    bool isRunning() const;
    // Jumps to the end.
    void finish();

private:
    const double m_response;
    QPointer<QVariantAnimation> m_animation;
    std::function<void(double)> m_step;
    std::function<void()> m_finished;
};
