#include "platform/ui/ObservedWidget.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ObservationRegistrar.h"

#include <deque>

namespace platform {

namespace {

// Renders in progress on the main thread, and renders asked for meanwhile. Observation scopes on
// one thread record a read in every open scope, so a render must not start inside another one.
int s_renderDepth = 0;
std::deque<QPointer<ObservedWidget>> s_deferred;

} // namespace

ObservedWidget::ObservedWidget(QWidget* parent)
    : QWidget(parent)
{
}

ObservedWidget::~ObservedWidget()
{
    m_tracking.cancel();
}

void ObservedWidget::renderNow()
{
    if (s_renderDepth > 0) {
        if (!m_deferred) {
            m_deferred = true;
            s_deferred.emplace_back(this);
        }
        return;
    }
    runRender();
    // Renders asked for during this one, each in a scope of its own, in the order asked.
    while (!s_deferred.empty()) {
        QPointer<ObservedWidget> next = s_deferred.front();
        s_deferred.pop_front();
        if (!next)
            continue;
        next->m_deferred = false;
        next->runRender();
    }
}

void ObservedWidget::setNeedsRender()
{
    if (m_renderPending)
        return;
    m_renderPending = true;
    QPointer<ObservedWidget> self(this);
    DispatchQueue::main()->async([self] {
        if (self && self->m_renderPending)
            self->renderNow();
    });
}

void ObservedWidget::runRender()
{
    m_renderPending = false;
    ++m_renderCount;
    m_inRender = true;
    ++s_renderDepth;
    QPointer<ObservedWidget> self(this);
    struct EndRender {
        ObservedWidget* widget;
        ~EndRender()
        {
            --s_renderDepth;
            widget->m_inRender = false;
        }
    } endRender { this };
    // What the last render read no longer decides anything: this render tracks afresh.
    m_tracking.cancel();
    m_tracking = withObservationTracking([this] { render(); },
        [self] {
            // Told before the new value is stored: render once it is, on the main queue.
            if (self)
                self->setNeedsRender();
        });
    releaseStatesNotAskedFor();
}

void ObservedWidget::releaseStatesNotAskedFor()
{
    std::erase_if(m_states, [this](const auto& entry) {
        return entry.second.lastRender != 0 && entry.second.lastRender < m_renderCount;
    });
}

void ObservedWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateAppearance();
}

void ObservedWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_appeared) {
        m_appeared = false;
        disappeared();
    }
}

void ObservedWidget::updateAppearance()
{
    if (m_appeared || !isVisible())
        return;
    m_appeared = true;
    if (!hasRendered())
        renderNow();
    appeared();
}

} // namespace platform
