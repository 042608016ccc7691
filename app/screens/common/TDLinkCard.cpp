#include "app/screens/common/TDLinkCard.h"

#include "app/TDLocalizedText.h"
#include "app/notes/TDLinkCapture.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDListCard.h"
#include "platform/foundation/Print.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QTextLayout>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

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

// What `oneLine` makes of one character.
char16_t oneLineCharacter(QChar c)
{
    if (c.isSpace())
        return u' ';
    if (c.category() == QChar::Other_Control)
        return 0xFFFD;
    return c.unicode();
}

// The advances of the description font's characters and the kerning of its pairs, filled as they
// are met. Main thread only, like every screen.
class AdvanceTable {
public:
    static AdvanceTable& forFont(const QFont& font)
    {
        static AdvanceTable table(font);
        if (!(table.m_font == font))
            table = AdvanceTable(font);
        return table;
    }

    // The one-line width of `text` as `oneLine` shows it (trailing spaces left out, as a line
    // break leaves them), or nothing when a character cannot be summed: one outside the font, a
    // mark or a format character, or one of a script whose shaping joins or reorders.
    std::optional<double> estimate(QStringView text)
    {
        const qsizetype length = std::min(text.size(), tdDisplayTextLimit);
        double width = 0;
        double widthToLastInk = 0;
        char16_t previous = 0;
        auto add = [&](char16_t c) {
            const double advance = advanceOf(c);
            if (std::isnan(advance))
                return false;
            width += advance + (previous ? kerning(previous, c) : 0);
            if (c != u' ')
                widthToLastInk = width;
            previous = c;
            return true;
        };
        for (qsizetype i = 0; i < length; ++i) {
            if (!add(oneLineCharacter(text[i])))
                return std::nullopt;
        }
        if (text.size() > tdDisplayTextLimit && !add(0x2026))
            return std::nullopt;
        return widthToLastInk;
    }

private:
    static constexpr double unknown = std::numeric_limits<double>::quiet_NaN();

    explicit AdvanceTable(const QFont& font)
        : m_font(font)
        , m_metrics(font)
        , m_asciiPairs(128 * 128, unknown)
    {
        m_ascii.fill(unknown);
    }

    double advanceOf(char16_t c)
    {
        if (c < 128) {
            double& advance = m_ascii[c];
            if (std::isnan(advance))
                advance = m_metrics.horizontalAdvance(QChar(c));
            return advance;
        }
        auto found = m_other.constFind(c);
        if (found != m_other.constEnd())
            return *found;
        const QChar ch(c);
        const QChar::Script script = ch.script();
        const bool plain = !ch.isSurrogate() && !ch.isMark() && ch.category() != QChar::Other_Format
            && (script == QChar::Script_Common || script == QChar::Script_Latin
                || script == QChar::Script_Greek || script == QChar::Script_Cyrillic)
            && m_metrics.inFont(ch);
        const double advance = plain ? m_metrics.horizontalAdvance(ch) : unknown;
        m_other.insert(c, advance);
        return advance;
    }

    double kerning(char16_t first, char16_t second)
    {
        auto measure = [&] {
            const QChar pair[] = { QChar(first), QChar(second) };
            return m_metrics.horizontalAdvance(QString(pair, 2)) - advanceOf(first) - advanceOf(second);
        };
        if (first < 128 && second < 128) {
            double& value = m_asciiPairs[first * 128 + second];
            if (std::isnan(value))
                value = measure();
            return value;
        }
        const quint32 key = (quint32(first) << 16) | second;
        auto found = m_otherPairs.constFind(key);
        if (found != m_otherPairs.constEnd())
            return *found;
        return *m_otherPairs.insert(key, measure());
    }

    QFont m_font;
    QFontMetricsF m_metrics;
    std::array<double, 128> m_ascii;
    std::vector<double> m_asciiPairs;
    QHash<char16_t, double> m_other;
    QHash<quint32, double> m_otherPairs;
};

QFont descriptionFont()
{
    return tdappearance::systemFont(TDLinkCard::descriptionFontSize);
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

TDLinkDescriptionWidth::TDLinkDescriptionWidth(const std::optional<QString>& description)
{
    const std::optional<double> estimate
        = AdvanceTable::forFont(descriptionFont())
              .estimate(description ? *description : tdLocalized("No Description"));
    if (!estimate) {
        m_low = 0;
        m_high = std::numeric_limits<double>::infinity();
        return;
    }
    // Kerning across more than two characters and the odd ligature move the shaped width by far
    // less than this.
    const double slack = 0.5 + 0.002 * *estimate;
    m_low = *estimate - slack;
    m_high = *estimate + slack;
}

int TDLinkDescriptionWidth::linesAt(int textWidth, const std::optional<QString>& description)
{
    if (m_high <= textWidth)
        return 1;
    if (m_low > textWidth)
        return 2;
    QString text = description ? oneLine(*description) : tdLocalized("No Description");
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    text.truncate(end);
    m_low = m_high = QFontMetricsF(descriptionFont()).horizontalAdvance(text);
    return m_high <= textWidth ? 1 : 2;
}

TDLinkCard::TDLinkCard(const TDLink& link, QWidget* parent)
    : QAbstractButton(parent)
    , m_link(link)
    , m_descriptionWidth(link.desc)
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
    if (link.desc != m_link.desc)
        m_descriptionWidth = TDLinkDescriptionWidth(link.desc);
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

int TDLinkCard::textWidth(int cardWidth)
{
    return std::max(1, cardWidth - 2 * tdlistcard::horizontalPadding - 2 * int(shadowMargin));
}

QStringList TDLinkCard::descriptionLines(int cardWidth) const
{
    if (cardWidth == m_linesWidth)
        return m_lines;
    const int width = textWidth(cardWidth);
    const QString text = descriptionText();
    const QFont font = descriptionFont();
    const QFontMetrics metrics(font);
    QStringList lines;
    // The line count is the one lists size the card by, so the card never draws past its height.
    if (m_descriptionWidth.linesAt(width, m_link.desc) == 1) {
        lines.append(metrics.elidedText(text.trimmed(), Qt::ElideRight, width));
    } else {
        QTextLayout layout(text, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
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
    }
    if (lines.isEmpty())
        lines.append(QString());
    m_linesWidth = cardWidth;
    m_lines = lines;
    return lines;
}

int TDLinkCard::heightFor(int descriptionLines)
{
    const QFontMetrics title(tdappearance::systemFont(titleFontSize));
    const QFontMetrics description(tdappearance::systemFont(descriptionFontSize));
    const QFontMetrics address(tdappearance::systemFont(addressFontSize));
    return 2 * tdlistcard::verticalPadding + title.height() + titleSpacing
        + descriptionLines * description.lineSpacing() + addressSpacing + address.height() + 3;
}

int TDLinkCard::heightForWidth(int width) const
{
    return heightFor(m_descriptionWidth.linesAt(textWidth(width), m_link.desc));
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
