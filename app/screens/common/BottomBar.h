#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <variant>

// What a bottom bar shows.
namespace bottombar {
struct Projects {
    qint64 count = 0;
};
struct Media {
    qint64 count = 0;
};
struct ProjectDetail {
    qint64 notes = 0;
    qint64 images = 0;
};
struct Note {
    QColor color;
    QString text;
    qint64 links = 0;
};
struct Links {
    qint64 count = 0;
};
} // namespace bottombar

using BottomBarType = std::variant<bottombar::Projects, bottombar::Media, bottombar::ProjectDetail,
    bottombar::Note, bottombar::Links>;

// The thin strip at the bottom of a content area: a divider along the top and, at the trailing
// end, one or two labelled counts. Display only.
class BottomBar : public QWidget {
public:
    static constexpr int horizontalPadding = 7;
    static constexpr int verticalPadding = 4;
    static constexpr int itemSpacing = 7;
    static constexpr int pairSpacing = 2;
    static constexpr int fontSize = 11;
    static constexpr int dotSize = 7;

    explicit BottomBar(BottomBarType barType = bottombar::Projects {}, QWidget* parent = nullptr);

    const BottomBarType& barType() const { return m_barType; }
    // Replaces what the bar shows; nothing happens for an equal value.
    void setBarType(BottomBarType barType);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void rebuild();

    BottomBarType m_barType;
};
