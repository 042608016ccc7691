#pragma once

#include "app/screens/common/TDSpringAnimation.h"

#include <QPixmap>
#include <QWidget>

class QBoxLayout;

// A picture of a widget that has just gone, left in its place while it fades out on a spring, then
// deleted; it takes no input. Laid over a parent it only fades. Put into a box layout it also
// shrinks to nothing along the layout's direction (no height in a column, no width in a row), so
// that what the layout puts after it slides into the place instead of jumping there.
class TDSpringGhost : public QWidget {
public:
    // Over `parent` at `geometry`.
    static TDSpringGhost* fadeOut(
        const QPixmap& picture, QWidget* parent, const QRect& geometry, double responseSeconds);
    // In `layout` at `index`; it starts as large as the picture.
    static TDSpringGhost* collapse(
        const QPixmap& picture, QBoxLayout* layout, int index, double responseSeconds);

    double progress() const { return m_progress; }
    // Jumps to the end: the ghost is deleted.
    void finish() { m_spring.finish(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TDSpringGhost(const QPixmap& picture, QWidget* parent, double responseSeconds);
    void start(QBoxLayout* collapsing);

    QPixmap m_picture;
    double m_progress = 0;
    TDSpringAnimation m_spring;
};
