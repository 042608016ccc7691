#include "platform/ui/FadeAnimation.h"

#include <QGraphicsOpacityEffect>
#include <QVariantAnimation>
#include <QWidget>

#include <cmath>

namespace platform {

FadeAnimation::FadeAnimation() = default;

FadeAnimation::~FadeAnimation()
{
    delete m_animation;
}

double FadeAnimation::sanitizedDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return seconds;
}

void FadeAnimation::start(
    double seconds, std::function<void(double opacity)> step, std::function<void()> finished)
{
    stop();
    m_step = std::move(step);
    m_finished = std::move(finished);
    const double duration = sanitizedDuration(seconds);
    const int milliseconds = static_cast<int>(std::lround(std::min(duration, 3600.0) * 1000));
    if (milliseconds <= 0) {
        complete();
        return;
    }
    m_opacity = 0;
    if (m_step)
        m_step(0);
    if (!m_animation) {
        m_animation = new QVariantAnimation;
        QObject::connect(
            m_animation, &QVariantAnimation::valueChanged, m_animation, [this](const QVariant& value) {
                if (!isRunning())
                    return;
                m_opacity = value.toDouble();
                if (m_step)
                    m_step(m_opacity);
            });
        QObject::connect(m_animation, &QVariantAnimation::finished, m_animation, [this] { complete(); });
    }
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(milliseconds);
    m_animation->start();
}

void FadeAnimation::stop()
{
    if (m_animation && m_animation->state() != QAbstractAnimation::Stopped) {
        const QSignalBlocker blocker(m_animation);
        m_animation->stop();
    }
    m_step = nullptr;
    m_finished = nullptr;
}

void FadeAnimation::finish()
{
    if (m_animation && m_animation->state() != QAbstractAnimation::Stopped) {
        const QSignalBlocker blocker(m_animation);
        m_animation->stop();
    }
    complete();
}

bool FadeAnimation::isRunning() const
{
    return m_animation && m_animation->state() == QAbstractAnimation::Running;
}

void FadeAnimation::complete()
{
    m_opacity = 1;
    auto step = std::move(m_step);
    auto finished = std::move(m_finished);
    m_step = nullptr;
    m_finished = nullptr;
    if (step)
        step(1);
    if (finished)
        finished();
}

void fadeIn(QWidget* widget, double seconds)
{
    const double duration = FadeAnimation::sanitizedDuration(seconds);
    if (duration == 0) {
        widget->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(0);
    widget->setGraphicsEffect(effect);
    auto* animation = new QVariantAnimation(effect);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(static_cast<int>(std::lround(std::min(duration, 3600.0) * 1000)));
    QObject::connect(animation, &QVariantAnimation::valueChanged, effect,
        [effect](const QVariant& value) { effect->setOpacity(value.toDouble()); });
    QPointer<QWidget> target(widget);
    QObject::connect(animation, &QVariantAnimation::finished, effect, [target, effect] {
        // Removing the effect deletes the animation, which is still emitting: do it afterwards. Only
        // the effect this fade installed goes; a later fade may have replaced it.
        QMetaObject::invokeMethod(
            effect,
            [target, effect] {
                if (target && target->graphicsEffect() == effect)
                    target->setGraphicsEffect(nullptr);
            },
            Qt::QueuedConnection);
    });
    animation->start();
}

} // namespace platform
