#include "EDTextView/EDFontManager.h"

EDFontManager::EDFontManager(const QFont& from, const QFont& to)
    : m_from(from)
    , m_to(to)
{
}

QFont EDFontManager::convertFont(const QFont& font) const
{
    QFont converted = font;
    // A face's style name ("Book") outweighs the weight and slant when a face is looked for, so a
    // run keeps none once its family, weight or slant changes: the weight and slant, the run's own
    // or the ones the user chose, pick the face.
    bool faceChanges = false;
    if (m_to.family() != m_from.family()) {
        converted.setFamily(m_to.family());
        faceChanges = true;
    }
    if (m_to.pointSizeF() > 0 && m_to.pointSizeF() != m_from.pointSizeF())
        converted.setPointSizeF(m_to.pointSizeF());
    else if (m_to.pixelSize() > 0 && m_to.pixelSize() != m_from.pixelSize())
        converted.setPixelSize(m_to.pixelSize());
    if (m_to.weight() != m_from.weight()) {
        converted.setWeight(m_to.weight());
        faceChanges = true;
    }
    if (m_to.style() != m_from.style()) {
        converted.setStyle(m_to.style());
        faceChanges = true;
    }
    if (faceChanges)
        converted.setStyleName(QString());
    return converted;
}
