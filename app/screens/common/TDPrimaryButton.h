#pragma once

#include <QPushButton>

// The prominent button of a sheet: filled with the accent colour, white text. Return does not press
// it (nor any other button of the sheet).
class TDPrimaryButton : public QPushButton {
public:
    explicit TDPrimaryButton(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A plain sheet button that Return does not press.
QPushButton* makeTDSheetButton(const QString& text, QWidget* parent);
