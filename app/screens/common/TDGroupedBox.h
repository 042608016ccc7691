#pragma once

#include <QString>
#include <QWidget>

class QGridLayout;
class QLabel;

// A grouped form section: rows of a label at the leading edge and a control at the trailing edge,
// in a rounded box with hairlines between the rows.
class TDGroupedBox : public QWidget {
public:
    static constexpr int rowHeight = 40;
    static constexpr int cornerRadius = 8;
    static constexpr int sidePadding = 12;

    explicit TDGroupedBox(QWidget* parent = nullptr);

    // `expanding`: the control takes the width left by the label; otherwise it keeps its own width
    // at the trailing edge.
    enum class Width { natural, expanding };
    QLabel* addRow(const QString& label, QWidget* control, Width width = Width::natural);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QGridLayout* m_grid;
    int m_rows = 0;
};
