#include "platform/ui/RulerClient.h"

#include "platform/ui/RulerView.h"

namespace platform {

RulerClient::~RulerClient()
{
    for (RulerView* ruler : m_rulers) {
        ruler->m_client = nullptr;
        ruler->update();
    }
}

QPointF RulerClient::rulerViewClientOrigin(const RulerView& ruler) const
{
    return ruler.scrolledContentOrigin();
}

} // namespace platform
