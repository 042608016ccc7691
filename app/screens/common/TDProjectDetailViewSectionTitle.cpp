#include "app/screens/common/TDProjectDetailViewSectionTitle.h"

#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDPopover.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>

using tdappearance::SystemColor;

namespace {

constexpr int iconFontSize = 11;

} // namespace

TDProjectDetailViewSectionTitle::TDProjectDetailViewSectionTitle(const QString& label, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("sectionTitle"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_layout = new QHBoxLayout(this);
    // The divider is painted inside the bottom padding's last pixel.
    m_layout->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    m_caption = new TDElidedLabel(this);
    m_caption->setObjectName(QStringLiteral("sectionCaption"));
    m_caption->setFont(tdappearance::systemFont(captionFontSize, QFont::Medium));
    m_caption->setFullText(label);
    // An empty caption keeps the height of a written one.
    m_caption->setMinimumHeight(m_caption->fontMetrics().height());
    m_layout->addWidget(m_caption, 1);
    applyColors();
}

QString TDProjectDetailViewSectionTitle::label() const
{
    return m_caption->fullText();
}

void TDProjectDetailViewSectionTitle::applyColors()
{
    QPalette palette = m_caption->palette();
    palette.setColor(QPalette::WindowText, tdappearance::color(SystemColor::secondaryLabel, this));
    m_caption->setPalette(palette);
}

void TDProjectDetailViewSectionTitle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = tdappearance::isDark(this);
    painter.fillRect(rect(),
        tdappearance::color(dark ? SystemColor::windowBackground : SystemColor::controlBackground, dark));
    painter.fillRect(QRect(0, height() - 1, width(), 1), tdappearance::color(SystemColor::separator, dark));
}

void TDProjectDetailViewSectionTitle::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

TDProjectDetailViewSectionTitleWithPopover::TDProjectDetailViewSectionTitleWithPopover(const QString& label,
    std::optional<Symbol> icon, std::function<void()> action, TDBinding<bool> openPopover,
    const std::function<QWidget*()>& popoverView, QWidget* parent)
    : TDProjectDetailViewSectionTitle(label, parent)
    , m_icon(icon)
    , m_action(std::move(action))
    , m_openPopover(std::move(openPopover))
{
    if (!m_icon || !m_action)
        return;
    m_button = new QToolButton(this);
    m_button->setObjectName(QStringLiteral("sectionTitleButton"));
    m_button->setAutoRaise(true);
    m_button->setIconSize(QSize(iconFontSize + 2, iconFontSize + 2));
    m_button->setFixedSize(iconFontSize + 8, iconFontSize + 6);
    m_button->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0px; }"));
    m_button->setFocusPolicy(Qt::TabFocus);
    tdfocusring::attach(m_button, 4);
    m_layout->addWidget(m_button);
    connect(m_button, &QToolButton::clicked, this, [this] {
        m_action();
        sync();
    });
    if (popoverView) {
        m_popover = new TDPopover(popoverView(), this);
        m_popover->setOnHide([this] {
            if (m_openPopover.get && m_openPopover.get() && m_openPopover.set)
                m_openPopover.set(false);
        });
    }
    applyColors();
}

void TDProjectDetailViewSectionTitleWithPopover::sync()
{
    if (!m_popover)
        return;
    bool open = m_openPopover.get && m_openPopover.get();
    if (open && !m_popover->isVisible())
        m_popover->showBelow(m_button);
    else if (!open && m_popover->isVisible())
        m_popover->hide();
}

void TDProjectDetailViewSectionTitleWithPopover::applyColors()
{
    TDProjectDetailViewSectionTitle::applyColors();
    if (m_button && m_icon)
        m_button->setIcon(SymbolPainter::icon(*m_icon, iconFontSize + 2,
            tdappearance::color(SystemColor::primaryLabel, this).toRgb(), SymbolPainter::Fill::flat));
}
