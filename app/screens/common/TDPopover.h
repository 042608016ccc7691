#pragma once

#include <QFrame>
#include <QPointer>

#include <functional>

// A popover: a pop-up panel that shows its content below an anchor widget and closes when the user
// clicks elsewhere or presses Escape. It is made once, with its content, and shown and hidden as
// the flag it stands for changes; `onHide` runs whenever it closes, however that happens, so the
// owner's flag can follow.
class TDPopover : public QFrame {
public:
    TDPopover(QWidget* content, QWidget* owner);

    void setOnHide(std::function<void()> onHide) { m_onHide = std::move(onHide); }

    // Shows the popover with its top edge under `anchor`, centred on it, kept on its screen.
    void showBelow(QWidget* anchor);
    QWidget* content() const { return m_content; }

protected:
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<QWidget> m_content;
    std::function<void()> m_onHide;
};
