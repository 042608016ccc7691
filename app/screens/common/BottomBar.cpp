#include "app/screens/common/BottomBar.h"

#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/TDLocalizedText.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

using tdappearance::SystemColor;

namespace {

bool sameBarType(const BottomBarType& a, const BottomBarType& b)
{
    if (a.index() != b.index())
        return false;
    return std::visit(
        [&](const auto& left) {
            using T = std::decay_t<decltype(left)>;
            const T& right = std::get<T>(b);
            if constexpr (std::is_same_v<T, bottombar::ProjectDetail>)
                return left.notes == right.notes && left.images == right.images;
            else if constexpr (std::is_same_v<T, bottombar::Note>)
                return left.color == right.color && left.text == right.text && left.links == right.links;
            else
                return left.count == right.count;
        },
        a);
}

// Counts are shown as plain signed decimals, never with digit grouping.
QString countText(qint64 count)
{
    return QString::number(count);
}

// The bar is rebuilt inside palette changes, which the toolkit and desktop themes send to every widget
// from a list made before: an item deleted there would be reached after it is gone.
void discardLater(QWidget* widget)
{
    if (!widget)
        return;
    widget->hide();
    widget->setParent(nullptr);
    widget->deleteLater();
}

} // namespace

BottomBar::BottomBar(BottomBarType barType, QWidget* parent)
    : QWidget(parent)
    , m_barType(std::move(barType))
{
    setObjectName(QStringLiteral("bottomBar"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    layout->setSpacing(itemSpacing);
    rebuild();
}

void BottomBar::setBarType(BottomBarType barType)
{
    if (sameBarType(barType, m_barType))
        return;
    m_barType = std::move(barType);
    rebuild();
}

void BottomBar::rebuild()
{
    auto* layout = static_cast<QHBoxLayout*>(this->layout());
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QLayout* inner = item->layout()) {
            while (QLayoutItem* innerItem = inner->takeAt(0)) {
                discardLater(innerItem->widget());
                delete innerItem;
            }
        }
        discardLater(item->widget());
        delete item;
    }
    layout->addStretch(1);

    const QColor secondary = tdappearance::color(SystemColor::secondaryLabel, this);
    const QColor primary = tdappearance::color(SystemColor::primaryLabel, this);
    auto text = [&](const QString& content, const QFont& font, const QColor& color, const char* name) {
        auto* label = new QLabel(content, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setFont(font);
        label->setWordWrap(false);
        label->setTextFormat(Qt::PlainText);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
        return label;
    };
    auto labelText = [&](const char* key) {
        return text(tdLocalized(key), tdappearance::systemFont(fontSize), secondary, "barLabel");
    };
    auto count = [&](qint64 value) {
        return text(countText(value), tdappearance::monospacedFont(fontSize), primary, "barCount");
    };
    auto pair = [&](QWidget* first, QWidget* second) {
        auto* group = new QHBoxLayout;
        group->setSpacing(pairSpacing);
        group->setContentsMargins(0, 0, 0, 0);
        group->addWidget(first, 0, Qt::AlignVCenter);
        group->addWidget(second, 0, Qt::AlignVCenter);
        layout->addLayout(group);
    };
    auto single = [&](const char* key, qint64 value) {
        layout->addWidget(labelText(key), 0, Qt::AlignVCenter);
        layout->addWidget(count(value), 0, Qt::AlignVCenter);
    };

    std::visit(
        [&](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, bottombar::Projects>) {
                single("Projects:", value.count);
            } else if constexpr (std::is_same_v<T, bottombar::Media>) {
                single("Media:", value.count);
            } else if constexpr (std::is_same_v<T, bottombar::Links>) {
                single("Links:", value.count);
            } else if constexpr (std::is_same_v<T, bottombar::ProjectDetail>) {
                pair(labelText("Notes:"), count(value.notes));
                pair(labelText("Images:"), count(value.images));
            } else {
                auto* dot = new QLabel(this);
                dot->setObjectName(QStringLiteral("barDot"));
                SymbolPainter::setPixmap(dot, Symbol::circleFill, dotSize, value.color);
                auto* status
                    = text(value.text, tdappearance::monospacedFont(fontSize), secondary, "barStatusText");
                pair(dot, status);
                pair(labelText("Links:"), count(value.links));
            }
        },
        m_barType);
    layout->invalidate();
    updateGeometry();
    // The items are never cut: the bar is at least as wide as they are.
    setMinimumWidth(layout->minimumSize().width());
    update();
}

QSize BottomBar::sizeHint() const
{
    QSize hint = QWidget::sizeHint();
    QFontMetrics metrics(tdappearance::monospacedFont(fontSize));
    return QSize(hint.width(),
        std::max(metrics.height(), QFontMetrics(tdappearance::systemFont(fontSize)).height())
            + 2 * verticalPadding);
}

QSize BottomBar::minimumSizeHint() const
{
    return QSize(layout()->minimumSize().width(), sizeHint().height());
}

void BottomBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    bool dark = tdappearance::isDark(this);
    painter.fillRect(rect(),
        tdappearance::color(dark ? SystemColor::windowBackground : SystemColor::controlBackground, dark));
    painter.fillRect(QRect(0, 0, width(), 1), tdappearance::color(SystemColor::separator, dark));
}

void BottomBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Follow a switch between the light and the dark appearance.
    if (event->type() == QEvent::PaletteChange)
        rebuild();
}
