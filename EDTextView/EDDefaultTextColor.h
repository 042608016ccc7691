#pragma once

#include <QColor>
#include <QMetaType>
#include <QVariant>

#include <optional>

// The foreground colour attribute of text in the view's default colour. It names the palette's
// text colour rather than holding the colour of the moment, so that such text, typed or set, and
// its copies in the undo steps, follows a change of palette (the desktop switching between light
// and dark) without any edit of the text; a colour set on purpose is a QColor and stays as set.
// It converts to no QColor, so the text layer lays such text out in its default colour, which the
// view keeps equal to the palette's, without a format of its own.
struct EDDefaultTextColor {
    static QVariant value();
    static bool isHeldBy(const QVariant& value);
    // The colour a foreground attribute stands for: `defaultColor` for this value, a colour for a
    // colour, none for anything else.
    static std::optional<QColor> resolved(const QVariant& value, const QColor& defaultColor);

    bool operator==(const EDDefaultTextColor&) const = default;
};

Q_DECLARE_METATYPE(EDDefaultTextColor)

inline QVariant EDDefaultTextColor::value()
{
    return QVariant::fromValue(EDDefaultTextColor {});
}

inline bool EDDefaultTextColor::isHeldBy(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<EDDefaultTextColor>();
}

inline std::optional<QColor> EDDefaultTextColor::resolved(const QVariant& value, const QColor& defaultColor)
{
    if (isHeldBy(value))
        return defaultColor;
    if (value.canConvert<QColor>())
        return value.value<QColor>();
    return std::nullopt;
}
