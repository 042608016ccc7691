#include "app/screens/ObservingWidget.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ObservationRegistrar.h"

ObservingWidget::ObservingWidget(QWidget* parent)
    : QWidget(parent)
{
}

void ObservingWidget::renderTracked()
{
    m_renderPending = false;
    QPointer<ObservingWidget> self(this);
    platform::withObservationTracking([this] { render(); },
        [self] {
            // Told before the new value is stored: render once it is.
            if (!self || self->m_renderPending)
                return;
            self->m_renderPending = true;
            platform::DispatchQueue::main()->async([self] {
                if (self)
                    self->renderTracked();
            });
        });
}
