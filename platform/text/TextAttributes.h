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

struct ParagraphStyle {
    // 0 means "not set": lines keep their natural height.
    double lineHeightMultiple = 0.0;
    TextAlignment alignment = TextAlignment::natural;
    double defaultTabInterval = 28.0;
    bool operator==(const ParagraphStyle&) const = default;
};

// An ordered map keeps equality cheap and deterministic, which run merging relies on.
using TextAttributes = QMap<QString, QVariant>;

// `base` with every entry of `extra` added where `base` has no value for the key yet.
TextAttributes mergedKeepingExisting(TextAttributes base, const TextAttributes& extra);

} // namespace platform

Q_DECLARE_METATYPE(platform::ParagraphStyle)
