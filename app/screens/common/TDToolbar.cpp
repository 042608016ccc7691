#include "app/screens/common/TDToolbar.h"

#include "app/TDLocalizedText.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyleOptionToolButton>
#include <QToolButton>
#include <QWidgetAction>

using tdappearance::SystemColor;

namespace {

// A checkable action (the favourite star) shows its state by its icon: the style's pressed-in
// panel for "on" would read as a button held down. The state stays in the button for assistive
// technology.
class TDFlatToolButton : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void initStyleOption(QStyleOptionToolButton* option) const override
    {
        QToolButton::initStyleOption(option);
        if (!isDown())
            option->state &= ~(QStyle::State_On | QStyle::State_Sunken);
    }
};

QToolButton* makeFlatButton(QWidget* parent)
{
    auto* button = new TDFlatToolButton(parent);
    button->setAutoRaise(true);
    button->setFixedSize(TDToolbar::buttonSize, TDToolbar::buttonSize);
    button->setIconSize(QSize(TDToolbar::iconSize, TDToolbar::iconSize));
    button->setFocusPolicy(Qt::TabFocus);
    // The style's own focus frame on a flat button is too faint to find.
    tdfocusring::attach(button, 6);
    return button;
}

} // namespace

TDToolbar::TDToolbar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("toolbar"));
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 1);
    layout->setSpacing(6);

    m_back = makeFlatButton(this);
    m_back->setObjectName(QStringLiteral("backButton"));
    m_back->setToolTip(tdLocalized("Back"));
    m_back->setAccessibleName(tdLocalized("Back"));
    m_back->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    m_back->hide();
    connect(m_back, &QToolButton::clicked, this, [this] { triggerBack(); });
    layout->addWidget(m_back);

    m_title = new TDElidedLabel(this);
    m_title->setObjectName(QStringLiteral("navigationTitle"));
    m_title->setFont(tdappearance::systemFont(15, QFont::Bold));
    layout->addWidget(m_title);
    m_subtitle = new TDElidedLabel(this);
    m_subtitle->setObjectName(QStringLiteral("navigationSubtitle"));
    m_subtitle->setFont(tdappearance::systemFont(12));
    m_subtitle->hide();
    layout->addWidget(m_subtitle, 1);

    m_trailing = new QHBoxLayout;
    m_trailing->setSpacing(4);
    layout->addLayout(m_trailing);
    refreshIcons();
}

void TDToolbar::setNavigationTitle(const QString& title)
{
    m_navigationTitle = title;
    refreshTitle();
}

void TDToolbar::setPushedTitle(std::optional<QString> title)
{
    m_pushedTitle = std::move(title);
    refreshTitle();
}

QString TDToolbar::title() const
{
    return m_title->fullText();
}

void TDToolbar::refreshTitle()
{
    QString shown = tdDisplayText(m_pushedTitle.value_or(m_navigationTitle));
    if (shown == m_title->fullText())
        return;
    m_title->setFullText(shown);
    if (m_onTitleChange)
        m_onTitleChange(shown);
}

void TDToolbar::setPushedSubtitle(std::optional<QString> subtitle)
{
    m_subtitle->setFullText(subtitle.value_or(QString()));
    m_subtitle->setVisible(subtitle && !subtitle->isEmpty());
}

QString TDToolbar::subtitle() const
{
    return m_subtitle->isVisibleTo(this) ? m_subtitle->fullText() : QString();
}

void TDToolbar::setOnTitleChange(std::function<void(const QString&)> onTitleChange)
{
    m_onTitleChange = std::move(onTitleChange);
    if (m_onTitleChange)
        m_onTitleChange(m_title->fullText());
}

void TDToolbar::setBackAction(std::function<void()> onBack)
{
    m_onBack = std::move(onBack);
    m_back->setVisible(static_cast<bool>(m_onBack));
}

bool TDToolbar::isBackShown() const
{
    return static_cast<bool>(m_onBack);
}

void TDToolbar::triggerBack()
{
    if (auto onBack = m_onBack)
        onBack();
}

void TDToolbar::setActions(const QList<QAction*>& actions)
{
    for (auto& button : m_buttons)
        delete button.data();
    m_buttons.clear();
    for (auto& [action, widget] : m_actionWidgets) {
        if (auto* owner = qobject_cast<QWidgetAction*>(action.data()); owner && widget)
            owner->releaseWidget(widget);
    }
    m_actionWidgets.clear();
    m_actions = actions;
    std::vector<QWidget*> stops { m_back };
    for (QAction* action : actions) {
        if (auto* owner = qobject_cast<QWidgetAction*>(action)) {
            QWidget* widget = owner->requestWidget(this);
            if (widget) {
                m_trailing->addWidget(widget);
                widget->show();
                m_actionWidgets.append({ owner, widget });
                // The Tab order takes only widgets that take the focus: a container's control.
                if (widget->focusPolicy() & Qt::TabFocus)
                    stops.push_back(widget);
                for (QWidget* inner : widget->findChildren<QWidget*>()) {
                    if (inner->focusPolicy() & Qt::TabFocus)
                        stops.push_back(inner);
                }
            }
            continue;
        }
        QToolButton* button = makeFlatButton(this);
        button->setDefaultAction(action);
        button->setObjectName(action->objectName() + QStringLiteral("Button"));
        m_trailing->addWidget(button);
        m_buttons.append(button);
        stops.push_back(button);
        // A screen that goes away takes its actions with it.
        connect(action, &QObject::destroyed, button, [this, button] {
            m_buttons.removeAll(button);
            button->deleteLater();
        });
    }
    // Made after the screen under the bar, they would otherwise be the last stops of the window.
    for (std::size_t i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

QWidget* TDToolbar::widgetFor(QAction* action) const
{
    for (const auto& [owner, widget] : m_actionWidgets) {
        if (owner == action)
            return widget;
    }
    return nullptr;
}

QToolButton* TDToolbar::buttonFor(QAction* action) const
{
    for (const auto& button : m_buttons) {
        if (button && button->defaultAction() == action)
            return button;
    }
    return nullptr;
}

void TDToolbar::refreshIcons()
{
    const bool dark = tdappearance::isDark(this);
    // Back points to the leading edge, where the page came from.
    m_back->setIcon(SymbolPainter::icon(isRightToLeft() ? Symbol::chevronRight : Symbol::chevronLeft,
        iconSize, tdappearance::color(SystemColor::secondaryLabel, dark)));
    QPalette palette = m_title->palette();
    palette.setColor(QPalette::WindowText, tdappearance::color(SystemColor::primaryLabel, dark));
    m_title->setPalette(palette);
    palette.setColor(QPalette::WindowText, tdappearance::color(SystemColor::secondaryLabel, dark));
    m_subtitle->setPalette(palette);
}

void TDToolbar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = tdappearance::isDark(this);
    painter.fillRect(rect(), tdappearance::color(SystemColor::windowBackground, dark));
    painter.fillRect(QRect(0, height() - 1, width(), 1), tdappearance::color(SystemColor::separator, dark));
}

void TDToolbar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::LayoutDirectionChange)
        refreshIcons();
}
