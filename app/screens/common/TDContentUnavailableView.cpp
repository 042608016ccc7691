#include "app/screens/common/TDContentUnavailableView.h"

#include "app/screens/common/TDAppearance.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

using tdappearance::SystemColor;

namespace {

constexpr int symbolSize = 52;
constexpr int titleSize = 20;
constexpr int descriptionSize = 13;

} // namespace

TDContentUnavailableView::TDContentUnavailableView(
    const QString& title, Symbol symbol, const QString& description, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
{
    setObjectName(QStringLiteral("emptyState"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(8);
    layout->addStretch(1);
    m_symbolLabel = new QLabel(this);
    m_symbolLabel->setObjectName(QStringLiteral("emptyStateSymbol"));
    m_symbolLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_symbolLabel);
    layout->addSpacing(6);
    m_title = new QLabel(title, this);
    m_title->setObjectName(QStringLiteral("emptyStateTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setFont(tdappearance::systemFont(titleSize, QFont::Bold));
    m_title->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_title);
    m_description = new QLabel(description, this);
    m_description->setObjectName(QStringLiteral("emptyStateDescription"));
    m_description->setTextFormat(Qt::PlainText);
    m_description->setFont(tdappearance::systemFont(descriptionSize));
    m_description->setAlignment(Qt::AlignCenter);
    m_description->setWordWrap(true);
    layout->addWidget(m_description);
    layout->addStretch(1);
    applyColors();
}

QString TDContentUnavailableView::title() const
{
    return m_title->text();
}

QString TDContentUnavailableView::description() const
{
    return m_description->text();
}

void TDContentUnavailableView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void TDContentUnavailableView::applyColors()
{
    const bool dark = tdappearance::isDark(this);
    const QColor secondary = tdappearance::color(SystemColor::secondaryLabel, dark);
    SymbolPainter::setPixmap(m_symbolLabel, m_symbol, symbolSize, secondary);
    auto recolor = [](QLabel* label, const QColor& color) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    };
    recolor(m_title, tdappearance::color(SystemColor::primaryLabel, dark));
    recolor(m_description, secondary);
}
