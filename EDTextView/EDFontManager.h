#pragma once

#include <QFont>

// What the font dialog changed, applied to each font it is asked to convert: only the traits the
// user changed (family, size, weight, slant) are taken over, so that a selection of several fonts
// keeps its differences in everything else. A text view's `changeFont` converts each run of its
// selection with it.
class EDFontManager {
public:
    // The change from the font the dialog opened with to the one the user chose.
    EDFontManager(const QFont& from, const QFont& to);

    QFont convertFont(const QFont& font) const;

private:
    QFont m_from;
    QFont m_to;
};
