#pragma once

#include <QPushButton>

// The prominent button of a sheet: filled with the accent colour, white text. It is the sheet's
// default button: Return and Enter press it wherever the focus is in the sheet, except on a
// focused plain button, which they press instead.
class TDPrimaryButton : public QPushButton {
public:
    explicit TDPrimaryButton(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A plain sheet button ("Cancel"); Return presses it only while it has the keys, Escape cancels
// the sheet.
QPushButton* makeTDSheetButton(const QString& text, QWidget* parent);
