#include "app/screens/common/TDSpringAnimation.h"

#include <QVariantAnimation>

#include <cmath>
#include <numbers>

namespace {

constexpr double residual = 0.001;

} // namespace

TDSpringAnimation::TDSpringAnimation(double responseSeconds, QObject* parent)
    : QObject(parent)
    , m_response(responseSeconds)
{
}

double TDSpringAnimation::progressAt(double responseSeconds, double seconds)
{
    if (!(responseSeconds > 0) || seconds <= 0)
        return seconds <= 0 ? 0 : 1;
    // x(t) = 1 - (1 + wt) e^(-wt), the critically damped spring of stiffness (2 pi / response)^2.
    const double wt = 2 * std::numbers::pi / responseSeconds * seconds;
    return 1 - (1 + wt) * std::exp(-wt);
}

double TDSpringAnimation::settlingSeconds(double responseSeconds)
{
    if (!(responseSeconds > 0) || !std::isfinite(responseSeconds))
        return 0;
    // Solve (1 + u) e^(-u) = residual for u by Newton's method.
    double u = 10;
    for (int i = 0; i < 20; ++i) {
        double f = (1 + u) * std::exp(-u) - residual;
        double slope = -u * std::exp(-u);
        u -= f / slope;
    }
    return u * responseSeconds / (2 * std::numbers::pi);
}

void TDSpringAnimation::start(std::function<void(double)> step, std::function<void()> finished)
{
    delete m_animation.data();
    m_step = std::move(step);
    m_finished = std::move(finished);
    const double duration = settlingSeconds(m_response);
    if (duration <= 0) {
        finish();
        return;
    }
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(duration);
    animation->setDuration(static_cast<int>(std::ceil(duration * 1000)));
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        double seconds = value.toDouble();
        if (m_step && m_animation && m_animation->state() == QAbstractAnimation::Running)
            m_step(progressAt(m_response, seconds));
    });
    connect(animation, &QVariantAnimation::finished, this, [this] { finish(); });
    m_animation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

bool TDSpringAnimation::isRunning() const
{
    return m_animation && m_animation->state() == QAbstractAnimation::Running;
}

void TDSpringAnimation::finish()
{
    if (m_animation) {
        QVariantAnimation* animation = m_animation;
        m_animation = nullptr;
        animation->disconnect(this);
        animation->stop();
    }
    auto step = std::move(m_step);
    auto finished = std::move(m_finished);
    m_step = nullptr;
    m_finished = nullptr;
    if (step)
        step(1);
    if (finished)
        finished();
}
