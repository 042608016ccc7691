#pragma once

#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>

namespace platform {

// Attribute names of attributed strings. The values are stored as QVariant: a QFont under `font`,
// QColor under the colours, int under `underlineStyle`, ParagraphStyle under `paragraphStyle`.
namespace AttributeKey {
inline const QString font = QStringLiteral("font");
inline const QString foregroundColor = QStringLiteral("foregroundColor");
inline const QString backgroundColor = QStringLiteral("backgroundColor");
inline const QString underlineStyle = QStringLiteral("underlineStyle");
inline const QString underlineColor = QStringLiteral("underlineColor");
inline const QString paragraphStyle = QStringLiteral("paragraphStyle");
inline const QString spellingState = QStringLiteral("spellingState");
} // namespace AttributeKey

enum class TextAlignment { natural, left, right, center, justified };

// How the lines of a paragraph are laid out. The style of a paragraph is the one its first character
// carries, else the layout manager's default.
struct ParagraphStyle {
    // 0 means "not set": lines keep their natural height. A multiple above 1 puts the extra height
    // above the glyphs.
    double lineHeightMultiple = 0.0;
    // Points added below every line.
    double lineSpacing = 0.0;
    // Natural follows the paragraph's writing direction; alignment applies to wrapped lines only.
    TextAlignment alignment = TextAlignment::natural;
    // Distance between tab stops; 0 or less falls back to the default.
    double defaultTabInterval = 28.0;
    bool operator==(const ParagraphStyle&) const = default;
};

// An ordered map keeps equality cheap and deterministic, which run merging relies on.
using TextAttributes = QMap<QString, QVariant>;

// `base` with every entry of `extra` added where `base` has no value for the key yet.
TextAttributes mergedKeepingExisting(TextAttributes base, const TextAttributes& extra);

} // namespace platform

Q_DECLARE_METATYPE(platform::ParagraphStyle)
