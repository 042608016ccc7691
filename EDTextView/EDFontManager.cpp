#include "EDTextView/EDFontManager.h"

EDFontManager::EDFontManager(const QFont& from, const QFont& to)
    : m_from(from)
    , m_to(to)
{
}

QFont EDFontManager::convertFont(const QFont& font) const
{
    QFont converted = font;
    if (m_to.family() != m_from.family()) {
        converted.setFamily(m_to.family());
        converted.setStyleName(m_to.styleName());
    }
    if (m_to.pointSizeF() > 0 && m_to.pointSizeF() != m_from.pointSizeF())
        converted.setPointSizeF(m_to.pointSizeF());
    else if (m_to.pixelSize() > 0 && m_to.pixelSize() != m_from.pixelSize())
        converted.setPixelSize(m_to.pixelSize());
    if (m_to.weight() != m_from.weight())
        converted.setWeight(m_to.weight());
    if (m_to.style() != m_from.style())
        converted.setStyle(m_to.style());
    return converted;
}
