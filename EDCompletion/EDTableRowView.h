#pragma once

#include <QWidget>

// The row behind each item of the completion list. It draws the selection and nothing else; the
// item's own view sits on top of it.
class EDTableRowView : public QWidget {
public:
    explicit EDTableRowView(QWidget* parent = nullptr);

    bool isSelected() const { return m_selected; }
    // A selected row also gives the views on it the palette's highlighted-text colours, so a
    // label stays readable on the accent.
    void setSelected(bool selected);

protected:
    virtual void drawSelectionInRect(QPainter& painter, const QRectF& rect);
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_selected = false;
};
