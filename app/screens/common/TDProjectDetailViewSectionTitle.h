#pragma once

#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDBinding.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QHBoxLayout;
class TDElidedLabel;
class QToolButton;
class TDPopover;

// The thin bar that heads a column of the workspace: the caption at the left on the control
// background (the window background when dark), a divider along the bottom.
class TDProjectDetailViewSectionTitle : public QWidget {
public:
    static constexpr int horizontalPadding = 7;
    static constexpr int verticalPadding = 4;
    static constexpr int captionFontSize = 11;

    explicit TDProjectDetailViewSectionTitle(const QString& label, QWidget* parent = nullptr);

    QString label() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    virtual void applyColors();

    QHBoxLayout* m_layout;
    TDElidedLabel* m_caption;
};

// The bar with, at its trailing end, an icon button that carries a popover. The button (and with it
// the popover) exists only when both the icon and the action are given. The action usually flips
// the flag `openPopover` is bound to; the popover follows the flag, and sets it false when it closes.
class TDProjectDetailViewSectionTitleWithPopover : public TDProjectDetailViewSectionTitle {
public:
    TDProjectDetailViewSectionTitleWithPopover(const QString& label, std::optional<Symbol> icon,
        std::function<void()> action, TDBinding<bool> openPopover,
        const std::function<QWidget*()>& popoverView, QWidget* parent = nullptr);

    QToolButton* button() const { return m_button; }
    TDPopover* popover() const { return m_popover; }

    // Shows or hides the popover as the bound flag says.
    void sync();

protected:
    void applyColors() override;

private:
    std::optional<Symbol> m_icon;
    std::function<void()> m_action;
    TDBinding<bool> m_openPopover;
    QToolButton* m_button = nullptr;
    QPointer<TDPopover> m_popover;
};
