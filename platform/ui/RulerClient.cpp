#include "platform/ui/RulerClient.h"

#include "platform/ui/RulerView.h"

namespace platform {

RulerClient::~RulerClient()
{
    detachFromRulers();
}

void RulerClient::detachFromRulers()
{
    for (RulerView* ruler : m_rulers) {
        ruler->m_client = nullptr;
        ruler->update();
    }
    m_rulers.clear();
}

QPointF RulerClient::rulerViewClientOrigin(const RulerView& ruler) const
{
    return ruler.scrolledContentOrigin();
}

} // namespace platform
