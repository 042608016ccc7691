#include "app/screens/note/TDLinkCard.h"

#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDListCard.h"
#include "app/screens/common/TDLocalizedText.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>

using tdappearance::SystemColor;

namespace {

constexpr int preferredWidth = 240;
constexpr int narrowestTextWidth = 40;
constexpr double pressedOpacity = 0.7;

// Texts from a web page or the library file are shown on the lines the card gives them: their own
// line breaks, tabs and other controls become spaces.
QString shownText(const QString& text)
{
    QString shown = tdDisplayText(text);
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return shown;
}

} // namespace

TDLinkCard::TDLinkCard(TDLink link, QWidget* parent)
    : QAbstractButton(parent)
    , m_titleFont(tdappearance::systemFont(titleFontSize))
    , m_descriptionFont(tdappearance::systemFont(descriptionFontSize))
    , m_addressFont(tdappearance::systemFont(addressFontSize))
{
    setObjectName(QStringLiteral("linkCard"));
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    m_delete = new QAction(tdLocalized("Delete"), this);
    m_delete->setObjectName(QStringLiteral("deleteLinkAction"));
    addAction(m_delete);
    setLink(std::move(link));
}

void TDLinkCard::setLink(TDLink link)
{
    m_link = std::move(link);
    setAccessibleName(titleText());
    setAccessibleDescription(descriptionText() + QStringLiteral(", ") + addressText());
    updateGeometry();
    update();
}

QString TDLinkCard::titleText() const
{
    return m_link.title ? shownText(*m_link.title) : tdLocalized("No Title");
}

QString TDLinkCard::descriptionText() const
{
    return m_link.desc ? shownText(*m_link.desc) : tdLocalized("No Description");
}

QString TDLinkCard::addressText() const
{
    return shownText(m_link.url);
}

int TDLinkCard::textWidth(int cardWidth) const
{
    return std::max(1, cardWidth - 2 * (shadowMargin + tdlistcard::horizontalPadding));
}

QStringList TDLinkCard::descriptionLines() const
{
    return descriptionLines(textWidth(width()));
}

QStringList TDLinkCard::descriptionLines(int width) const
{
    const QString text = descriptionText();
    QTextLayout layout(text, m_descriptionFont);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    const QFontMetrics metrics(m_descriptionFont);
    QStringList lines;
    layout.beginLayout();
    while (lines.size() < descriptionLineLimit) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() + 1 == descriptionLineLimit)
            lines.append(metrics.elidedText(text.mid(line.textStart()), Qt::ElideRight, width));
        else
            // The space the line broke at is not part of what it shows.
            lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines.append(QString());
    return lines;
}

int TDLinkCard::heightForWidth(int width) const
{
    const int descriptionLineCount = int(descriptionLines(textWidth(width)).size());
    return 2 * (shadowMargin + tdlistcard::verticalPadding) + QFontMetrics(m_titleFont).height()
        + titleSpacing + descriptionLineCount * QFontMetrics(m_descriptionFont).height() + addressSpacing
        + QFontMetrics(m_addressFont).height();
}

QSize TDLinkCard::sizeHint() const
{
    const int width = this->width() > 0 ? this->width() : preferredWidth;
    return QSize(preferredWidth, heightForWidth(width));
}

QSize TDLinkCard::minimumSizeHint() const
{
    // Narrow: long titles are elided rather than widening the pane.
    const int width = 2 * (shadowMargin + tdlistcard::horizontalPadding) + narrowestTextWidth;
    return QSize(width, heightForWidth(this->width() > 0 ? this->width() : preferredWidth));
}

void TDLinkCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = tdappearance::isDark(this);
    tdlistcard::paint(painter,
        QRectF(rect()).adjusted(shadowMargin, shadowMargin, -shadowMargin, -shadowMargin - 0.5), dark);
    if (isDown())
        painter.setOpacity(pressedOpacity);

    const int x = shadowMargin + tdlistcard::horizontalPadding;
    const int width = textWidth(this->width());
    const Qt::Alignment leading
        = QStyle::visualAlignment(layoutDirection(), Qt::AlignLeading) | Qt::AlignVCenter;
    int y = shadowMargin + tdlistcard::verticalPadding;
    auto drawLine = [&](const QFont& font, SystemColor color, const QString& text) {
        const QFontMetrics metrics(font);
        painter.setFont(font);
        painter.setPen(tdappearance::color(color, dark));
        painter.drawText(
            QRect(x, y, width, metrics.height()), leading, metrics.elidedText(text, Qt::ElideRight, width));
        y += metrics.height();
    };
    drawLine(m_titleFont, SystemColor::primaryLabel, titleText());
    y += titleSpacing;
    for (const QString& line : descriptionLines(width))
        drawLine(m_descriptionFont, SystemColor::secondaryLabel, line);
    y += addressSpacing;
    drawLine(m_addressFont, SystemColor::tertiaryLabel, addressText());

    if (hasFocus()) {
        painter.setOpacity(1);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(tdappearance::color(SystemColor::blue, dark), 2));
        painter.drawRoundedRect(
            QRectF(rect()).adjusted(2, 2, -2, -2), tdlistcard::cornerRadius, tdlistcard::cornerRadius);
    }
}

void TDLinkCard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
