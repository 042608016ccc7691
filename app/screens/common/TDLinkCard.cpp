#include "app/screens/common/TDLinkCard.h"

#include "app/notes/TDLinkCapture.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDListCard.h"
#include "app/TDLocalizedText.h"
#include "platform/foundation/Print.h"

#include <QFocusEvent>
#include <QPainter>
#include <QTextLayout>

using tdappearance::SystemColor;

namespace {

// Room around a card for its shadow.
constexpr double shadowMargin = 1;

// A stored text as one line of plain text: line breaks and tabs become spaces.
QString oneLine(const QString& text)
{
    QString line = tdDisplayText(text);
    for (QChar& c : line) {
        if (c.isSpace() && c != QLatin1Char(' '))
            c = QLatin1Char(' ');
        else if (c.category() == QChar::Other_Control)
            c = QChar(0xFFFD);
    }
    return line;
}

// A text put into an alert stays a few lines long whatever its length.
QString forMessage(const QString& text)
{
    constexpr qsizetype keep = 60;
    const QString line = oneLine(text);
    if (line.size() <= 2 * keep + 1)
        return line;
    return line.left(keep) + QChar(0x2026) + line.right(keep);
}

} // namespace

std::optional<TDLinkOpenProblem> tdOpenLink(
    const QString& address, const std::function<bool(const QUrl&)>& opener)
{
    const std::optional<QUrl> url = tdWebAddress(address);
    if (!url) {
        platform::print(QStringLiteral("An error occurred: not a web address: ") + forMessage(address));
        return TDLinkOpenProblem { tdLocalized("The link cannot be opened."),
            tdLocalized("\u201C%1\u201D is not a web address. Only http and https addresses are opened.")
                .arg(forMessage(address)) };
    }
    if (!opener || !opener(*url))
        return TDLinkOpenProblem { tdLocalized("The link could not be opened."),
            tdLocalized("No web browser could be started for \u201C%1\u201D.").arg(forMessage(address)) };
    return std::nullopt;
}

TDLinkCard::TDLinkCard(const TDLink& link, QWidget* parent)
    : QAbstractButton(parent)
    , m_link(link)
{
    setObjectName(QStringLiteral("linkCard"));
    setFocusPolicy(Qt::TabFocus);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setLink(link);
}

void TDLinkCard::setLink(const TDLink& link)
{
    const bool same = link.title == m_link.title && link.desc == m_link.desc && link.url == m_link.url;
    m_link = link;
    setAccessibleName(titleText());
    setAccessibleDescription(descriptionText());
    setToolTip(oneLine(m_link.url));
    if (same && m_linesWidth >= 0)
        return;
    m_linesWidth = -1;
    updateGeometry();
    update();
}

QString TDLinkCard::titleText() const
{
    return m_link.title ? oneLine(*m_link.title) : tdLocalized("No Title");
}

QString TDLinkCard::descriptionText() const
{
    return m_link.desc ? oneLine(*m_link.desc) : tdLocalized("No Description");
}

QString TDLinkCard::addressText() const
{
    return oneLine(m_link.url);
}

int TDLinkCard::textWidth(int cardWidth) const
{
    return std::max(1, cardWidth - 2 * tdlistcard::horizontalPadding - 2 * int(shadowMargin));
}

QStringList TDLinkCard::descriptionLines(int cardWidth) const
{
    if (cardWidth == m_linesWidth)
        return m_lines;
    const int width = textWidth(cardWidth);
    const QString text = descriptionText();
    const QFont font = tdappearance::systemFont(descriptionFontSize);
    const QFontMetrics metrics(font);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    while (lines.size() < descriptionMaximumLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() + 1 == descriptionMaximumLines) {
            // The last line takes the rest of the text, cut with an ellipsis where it goes on.
            lines.append(metrics.elidedText(text.mid(line.textStart()).trimmed(), Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines.append(QString());
    m_linesWidth = cardWidth;
    m_lines = lines;
    return lines;
}

int TDLinkCard::heightForWidth(int width) const
{
    const QFontMetrics title(tdappearance::systemFont(titleFontSize));
    const QFontMetrics description(tdappearance::systemFont(descriptionFontSize));
    const QFontMetrics address(tdappearance::systemFont(addressFontSize));
    const int lines = static_cast<int>(descriptionLines(width).size());
    return 2 * tdlistcard::verticalPadding + title.height() + titleSpacing + lines * description.lineSpacing()
        + addressSpacing + address.height() + 3;
}

QSize TDLinkCard::sizeHint() const
{
    const int width = std::max(this->width(), 400);
    return QSize(width, heightForWidth(width));
}

QSize TDLinkCard::minimumSizeHint() const
{
    return QSize(2 * tdlistcard::horizontalPadding + 40, heightForWidth(400));
}

void TDLinkCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = tdappearance::isDark(this);
    if (isDown())
        painter.setOpacity(0.7);
    tdlistcard::paint(painter,
        QRectF(rect()).adjusted(shadowMargin, shadowMargin, -shadowMargin, -shadowMargin - 0.5), dark);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    const int left = tdlistcard::horizontalPadding + int(shadowMargin);
    const int width = textWidth(this->width());
    int y = tdlistcard::verticalPadding + int(shadowMargin);

    const QFont titleFont = tdappearance::systemFont(titleFontSize);
    const QFontMetrics title(titleFont);
    painter.setFont(titleFont);
    painter.setPen(tdappearance::color(SystemColor::primaryLabel, dark));
    painter.drawText(QRect(left, y, width, title.height()), Qt::AlignLeft | Qt::AlignVCenter,
        title.elidedText(titleText(), Qt::ElideRight, width));
    y += title.height() + titleSpacing;

    const QFont descriptionFont = tdappearance::systemFont(descriptionFontSize);
    const QFontMetrics description(descriptionFont);
    painter.setFont(descriptionFont);
    painter.setPen(tdappearance::color(SystemColor::secondaryLabel, dark));
    for (const QString& line : descriptionLines()) {
        painter.drawText(
            QRect(left, y, width, description.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += description.lineSpacing();
    }
    y += addressSpacing;

    const QFont addressFont = tdappearance::systemFont(addressFontSize);
    const QFontMetrics address(addressFont);
    painter.setFont(addressFont);
    painter.setPen(tdappearance::color(SystemColor::tertiaryLabel, dark));
    painter.drawText(QRect(left, y, width, address.height()), Qt::AlignLeft | Qt::AlignVCenter,
        address.elidedText(addressText(), Qt::ElideRight, width));

    if (hasFocus() && m_showsFocus) {
        painter.setOpacity(1);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(tdappearance::color(SystemColor::blue, dark), 2));
        painter.drawRoundedRect(
            QRectF(rect()).adjusted(2, 2, -2, -2), tdlistcard::cornerRadius, tdlistcard::cornerRadius);
    }
}

void TDLinkCard::focusInEvent(QFocusEvent* event)
{
    // The ring is for focus the keyboard moved here.
    m_showsFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}
