#pragma once

#include <QRect>
#include <QScrollBar>

// A scroll bar that, when only its handle moves, repaints where the handle was and where it is
// instead of the whole bar. A long document moves the handle a few pixels per page, and the styles
// fill the whole groove at every repaint, which cost as much as drawing the page of text.
class EDScrollBar : public QScrollBar {
public:
    explicit EDScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What the bar looks like apart from its handle's place: a change here repaints all of it.
    struct Look {
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look look() const;
    QRect handleRect() const;

    // The handle and look last painted; empty until the first paint.
    QRect m_paintedHandle;
    Look m_paintedLook;
};
