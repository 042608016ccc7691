#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QHBoxLayout;
class QLabel;
class QToolButton;
class TDElidedLabel;

// The bar across the top of the main window's detail column: a Back button while a page is pushed,
// the navigation title, and at the trailing end the actions the visible screen contributes.
class TDToolbar : public QWidget {
public:
    static constexpr int barHeight = 38;
    static constexpr int buttonSize = 28;
    static constexpr int iconSize = 18;

    explicit TDToolbar(QWidget* parent = nullptr);

    // The destination's title; a pushed page's title, while there is one, is shown instead.
    void setNavigationTitle(const QString& title);
    void setPushedTitle(std::optional<QString> title);
    QString title() const;

    // Shows the Back button while `onBack` is set.
    void setBackAction(std::function<void()> onBack);
    bool isBackShown() const;
    void triggerBack();

    // A pushed page's subtitle, shown after its title in the secondary colour.
    void setPushedSubtitle(std::optional<QString> subtitle);
    QString subtitle() const;

    // Replaces the trailing actions; each gets a flat button with the action's icon and tooltip, or
    // for a QWidgetAction the widget it makes. An action that is destroyed takes its item with it.
    void setActions(const QList<QAction*>& actions);
    QList<QAction*> actions() const { return m_actions; }
    QToolButton* buttonFor(QAction* action) const;
    QWidget* widgetFor(QAction* action) const;

    // Called with the shown title whenever it changes (the window takes it as its title).
    void setOnTitleChange(std::function<void(const QString&)> onTitleChange);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshTitle();
    void refreshIcons();

    TDElidedLabel* m_title;
    TDElidedLabel* m_subtitle;
    QToolButton* m_back;
    QHBoxLayout* m_trailing;
    QString m_navigationTitle;
    std::optional<QString> m_pushedTitle;
    std::function<void()> m_onBack;
    std::function<void(const QString&)> m_onTitleChange;
    QList<QAction*> m_actions;
    QList<QPointer<QToolButton>> m_buttons;
    QList<std::pair<QPointer<QAction>, QPointer<QWidget>>> m_actionWidgets;
};
