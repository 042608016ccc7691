#include "app/screens/common/TDLinkCard.h"

#include "app/TDLocalizedText.h"
#include "app/notes/TDLinkCapture.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDListCard.h"
#include "platform/foundation/Print.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
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

// A page's title on one line; a title of only white space ("<title> </title>") gets the placeholder,
// not a blank first line.
QString shownOr(const std::optional<QString>& text, const QString& placeholder)
{
    const QString line = text ? oneLine(*text) : QString();
    return line.trimmed().isEmpty() ? placeholder : line;
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

QFont descriptionFont()
{
    return tdappearance::systemFont(TDLinkCard::descriptionFontSize);
}

} // namespace

// The advances of the description font's characters and the kerning of its pairs, filled as they
// are met, in 64ths of a pixel so that the sums are whole numbers. Main thread only, like every
// screen.
class TDLinkAdvanceTable {
public:
    static constexpr int unitsPerPixel = 64;
    static constexpr qint32 unknown = std::numeric_limits<qint32>::min();

    // The table of the description font as it is now; it is made again when the application's
    // font changes.
    static TDLinkAdvanceTable& current()
    {
        static std::unique_ptr<TDLinkAdvanceTable> table;
        const QFont applicationFont = QGuiApplication::font();
        if (!table || !(table->m_applicationFont == applicationFont))
            table.reset(new TDLinkAdvanceTable(applicationFont));
        return *table;
    }

    const QFontMetricsF& metrics() const { return m_metrics; }
    // "No Description", summed to its end: every card without a description shares it.
    const TDLinkDescriptionWidth& noDescription() const { return m_noDescription; }

    qint32 asciiAdvance(char16_t c) const { return m_ascii[c]; }
    // What printable ASCII `second` adds after `first` (0 at the start): its advance and the
    // pair's kerning, in one look-up for the sum's short way.
    qint32 asciiStep(char16_t first, char16_t second)
    {
        qint32& step = m_asciiSteps[first * 128 + second];
        if (step == unknown)
            step = m_ascii[second] + (first ? measureKerning(first, second) : 0);
        return step;
    }

    // `unknown` for a character a sum cannot stand for.
    qint32 otherAdvance(char16_t c)
    {
        auto found = m_other.constFind(c);
        if (found != m_other.constEnd())
            return *found;
        const QChar ch(c);
        const QChar::Script script = ch.script();
        // Scripts whose letters stand side by side as they are; Hangul only as whole syllables.
        const bool summable = !ch.isSurrogate() && !ch.isMark() && ch.category() != QChar::Other_Format
            && (script == QChar::Script_Common || script == QChar::Script_Latin
                || script == QChar::Script_Greek || script == QChar::Script_Cyrillic
                || script == QChar::Script_Han || script == QChar::Script_Hiragana
                || script == QChar::Script_Katakana || (c >= 0xAC00 && c <= 0xD7A3));
        const qint32 advance = summable ? units(m_metrics.horizontalAdvance(ch)) : unknown;
        m_other.insert(c, advance);
        return advance;
    }

    // The pair's kerning. A pair never met is measured while `measurements` lasts (each takes one
    // from it); past that, `unknown`.
    qint32 otherKerning(char16_t first, char16_t second, int& measurements)
    {
        const quint32 key = (quint32(first) << 16) | second;
        auto found = m_otherPairs.constFind(key);
        if (found != m_otherPairs.constEnd())
            return *found;
        if (measurements == 0)
            return unknown;
        --measurements;
        return *m_otherPairs.insert(key, measureKerning(first, second));
    }

private:
    explicit TDLinkAdvanceTable(const QFont& applicationFont)
        : m_applicationFont(applicationFont)
        , m_metrics(descriptionFont())
        , m_asciiSteps(128 * 128, unknown)
    {
        for (char16_t c = 0; c < 128; ++c)
            m_ascii[c] = units(m_metrics.horizontalAdvance(QChar(c)));
        m_noDescription.sum(*this, tdLocalized("No Description"), std::numeric_limits<qint64>::max());
    }

    static qint32 units(double pixels) { return qint32(std::lround(pixels * unitsPerPixel)); }

    qint32 measureKerning(char16_t first, char16_t second) const
    {
        const QChar pair[] = { QChar(first), QChar(second) };
        return units(m_metrics.horizontalAdvance(QString(pair, 2)) - m_metrics.horizontalAdvance(QChar(first))
            - m_metrics.horizontalAdvance(QChar(second)));
    }

    QFont m_applicationFont;
    QFontMetricsF m_metrics;
    std::array<qint32, 128> m_ascii;
    std::vector<qint32> m_asciiSteps;
    QHash<char16_t, qint32> m_other;
    QHash<quint32, qint32> m_otherPairs;
    TDLinkDescriptionWidth m_noDescription;
};

namespace {

// `address` with each character that shows as nothing or as a space other than a plain one, or that
// turns the text around it (".../\u202Eexe.pdf" would read ".../fdp.exe"), percent-encoded as the
// browser is sent it.
QString withHiddenCharactersEncoded(const QString& address)
{
    QString shown;
    shown.reserve(address.size());
    for (qsizetype i = 0; i < address.size(); ++i) {
        char32_t c = address[i].unicode();
        qsizetype length = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < address.size() && address[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(address[i], address[i + 1]);
            length = 2;
        }
        const QChar::Category category = QChar::category(c);
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph
            || (category == QChar::Separator_Space && c != U' ');
        if (hidden)
            shown += QString::fromLatin1(address.mid(i, length).toUtf8().toPercentEncoding());
        else
            shown += QStringView(address).mid(i, length);
        i += length - 1;
    }
    return shown;
}

// An address as one line of the card or of an alert. Only its start is encoded: the line is cut
// there whatever the address's length.
QString oneLineAddress(const QString& address)
{
    return oneLine(withHiddenCharactersEncoded(address.left(tdDisplayTextLimit + 1)));
}

// A text put into an alert stays a few lines long whatever its length.
QString forMessage(const QString& text)
{
    constexpr qsizetype keep = 60;
    return tdMiddleCut(oneLineAddress(text), keep);
}

// Whether a label of a host name takes its letters from scripts that are not written together, as a
// look-alike of a known name does ("\u0430pple" with a Cyrillic a). One script alone is fine; Latin
// goes only with Han and the Japanese kana, Han with Bopomofo or Han with Hangul.
bool mixesScripts(const QString& label)
{
    bool latin = false;
    QList<QChar::Script> others;
    for (char32_t c : label.toUcs4()) {
        const QChar::Script script = QChar::script(c);
        if (script == QChar::Script_Latin)
            latin = true;
        else if (script != QChar::Script_Common && script != QChar::Script_Inherited
            && script != QChar::Script_Unknown && !others.contains(script))
            others.append(script);
    }
    if (others.isEmpty() || (!latin && others.size() == 1))
        return false;
    const auto within = [&](std::initializer_list<QChar::Script> allowed) {
        return std::all_of(others.begin(), others.end(), [&](QChar::Script script) {
            return std::find(allowed.begin(), allowed.end(), script) != allowed.end();
        });
    };
    return !within({ QChar::Script_Han, QChar::Script_Hiragana, QChar::Script_Katakana })
        && !within({ QChar::Script_Han, QChar::Script_Bopomofo })
        && !within({ QChar::Script_Han, QChar::Script_Hangul });
}

// The address as typed, with a host that mixes scripts shown in the form it is fetched by
// ("xn--..."), so that it cannot pass for another site's, and without a user name or password, which
// could make it start like another site's ("https://bank.example@elsewhere.example/"). Readable
// names ("b\u00FCcher.de") stay as they are.
QString shownAddress(const QString& address)
{
    const std::optional<QUrl> url = tdWebAddress(address);
    if (!url)
        return address;
    QString shown = address.trimmed();
    if (!url->userInfo().isEmpty()) {
        const qsizetype start = shown.indexOf(u"://") + 3;
        qsizetype end = start;
        while (end < shown.size() && !QStringView(u"/?#").contains(shown[end]))
            ++end;
        const qsizetype at = shown.lastIndexOf(QLatin1Char('@'), end - 1);
        if (start >= 3 && at >= start)
            shown.remove(start, at + 1 - start);
    }
    const QString host = url->host(QUrl::FullyDecoded);
    const QStringList labels = host.split(QLatin1Char('.'));
    if (std::none_of(labels.begin(), labels.end(), mixesScripts))
        return shown;
    const qsizetype at = shown.indexOf(host, 0, Qt::CaseInsensitive);
    if (at < 0)
        return url->adjusted(QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded);
    return shown.left(at) + url->host(QUrl::FullyEncoded) + shown.mid(at + host.size());
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

namespace {

// Whether a sign of no script of its own (a space, a dash, punctuation) stands beside Chinese,
// Japanese or Korean text. It is drawn in the font of the script it is taken to belong to, which
// depends on the text before it, not only on its neighbour: such a pair measured alone can be
// wider or narrower than within the text.
bool bordersLargeAlphabet(char16_t first, char16_t second)
{
    const auto ofNoScript = [](char16_t c) {
        const QChar::Script script = QChar::script(c);
        return script == QChar::Script_Common || script == QChar::Script_Inherited;
    };
    const auto ofLargeAlphabet = [](char16_t c) {
        const QChar::Script script = QChar::script(c);
        return script == QChar::Script_Han || script == QChar::Script_Hiragana
            || script == QChar::Script_Katakana || script == QChar::Script_Hangul
            || script == QChar::Script_Bopomofo;
    };
    return (ofNoScript(first) && ofLargeAlphabet(second)) || (ofLargeAlphabet(first) && ofNoScript(second));
}

// How far a sum may be from the shaped width: kerning across more than two characters and the odd
// ligature move it by far less than this.
qint64 slackFor(qint64 width)
{
    return TDLinkAdvanceTable::unitsPerPixel / 2 + width / 500;
}

} // namespace

TDLinkDescriptionWidth::TDLinkDescriptionWidth(const std::optional<QString>& description)
{
    if (!description)
        *this = TDLinkAdvanceTable::current().noDescription();
}

void TDLinkDescriptionWidth::sum(TDLinkAdvanceTable& table, QStringView text, qint64 stopAt)
{
    // The text as `tdDisplayText` bounds it: cut, with an ellipsis after the cut.
    const qsizetype cut = std::min(text.size(), tdDisplayTextLimit);
    const qsizetype length = text.size() > tdDisplayTextLimit ? cut + 1 : cut;
    qint32 width = m_width;
    qint32 inkWidth = m_inkWidth;
    char16_t previous = m_previous;
    qsizetype i = m_next;
    int pairMeasurements = 8;
    const char16_t* characters = reinterpret_cast<const char16_t*>(text.data());
    while (i < length && inkWidth <= stopAt) {
        // Runs of printable ASCII, most of any description, take the short way; a control
        // character or a line break is shown otherwise and goes the long way.
        if (previous < 128) {
            while (i < cut && inkWidth <= stopAt) {
                const char16_t c = characters[i];
                if (c < 0x20 || c >= 0x7F)
                    break;
                width += table.asciiStep(previous, c);
                inkWidth = c == u' ' ? inkWidth : width;
                previous = c;
                ++i;
            }
            if (i == length || inkWidth > stopAt)
                break;
        }
        const char16_t c = i < cut ? oneLineCharacter(text[i]) : char16_t(0x2026);
        if (c < 128 && previous < 128) {
            width += table.asciiStep(previous, c);
        } else {
            const qint32 advance = c < 128 ? table.asciiAdvance(c) : table.otherAdvance(c);
            if (advance == TDLinkAdvanceTable::unknown) {
                m_phase = Phase::unsummable;
                return;
            }
            qint32 kerning = 0;
            if (previous) {
                // Text of a large alphabet (Chinese, Japanese, Korean) meets pair after pair never
                // seen, each a shaping of its own: past a few, the text is shaped once, whole.
                kerning = bordersLargeAlphabet(previous, c)
                    ? TDLinkAdvanceTable::unknown
                    : table.otherKerning(previous, c, pairMeasurements);
                if (kerning == TDLinkAdvanceTable::unknown) {
                    m_phase = Phase::unsummable;
                    return;
                }
            }
            width += advance + kerning;
        }
        inkWidth = c == u' ' ? inkWidth : width;
        previous = c;
        ++i;
    }
    m_width = width;
    m_inkWidth = inkWidth;
    m_previous = previous;
    m_next = static_cast<qint16>(i);
    if (i == length)
        m_phase = Phase::summed;
}

void TDLinkDescriptionWidth::measure(const std::optional<QString>& description)
{
    QString text = description ? oneLine(*description) : tdLocalized("No Description");
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    text.truncate(end);
    m_measuredWidth = static_cast<float>(TDLinkAdvanceTable::current().metrics().horizontalAdvance(text));
    m_phase = Phase::measured;
}

int TDLinkDescriptionWidth::linesAt(int textWidth, const std::optional<QString>& description)
{
    const qint64 column = qint64(textWidth) * TDLinkAdvanceTable::unitsPerPixel;
    if (m_phase == Phase::summing) {
        if (m_inkWidth - slackFor(m_inkWidth) > column)
            return 2;
        // Just far enough that a sum that stops tells the text is wider than the column.
        const qint64 stopAt = (column + TDLinkAdvanceTable::unitsPerPixel) * 500 / 499 + 1;
        TDLinkAdvanceTable& table = TDLinkAdvanceTable::current();
        if (description)
            sum(table, *description, stopAt);
        else
            *this = table.noDescription();
        if (m_phase == Phase::summing)
            return 2;
    }
    if (m_phase == Phase::summed) {
        const qint64 slack = slackFor(m_inkWidth);
        if (m_inkWidth + slack <= column)
            return 1;
        if (m_inkWidth - slack > column)
            return 2;
    }
    if (m_phase != Phase::measured)
        measure(description);
    return m_measuredWidth <= textWidth ? 1 : 2;
}

TDLinkCard::TDLinkCard(const TDLink& link, QWidget* parent)
    : QAbstractButton(parent)
    , m_link(link)
    , m_descriptionWidth(link.desc)
{
    setObjectName(QStringLiteral("linkCard"));
    setFocusPolicy(Qt::TabFocus);
    // Also after its menu closes, the ring shows where the keys came from the keyboard.
    tdfocusring::attach(this, tdlistcard::cornerRadius + 1);
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
    // A screen reader hears where the card leads as well as what it is called.
    setAccessibleName(tdLocalized("%1, %2").arg(titleText(), addressText()));
    setAccessibleDescription(descriptionText());
    // The title too: the card cuts a long one short, and nothing else shows it whole.
    setToolTip(tdToolTipText(QStringList { titleText(), addressText() }));
    if (same && m_linesWidth >= 0)
        return;
    m_linesWidth = -1;
    updateGeometry();
    update();
}

QString TDLinkCard::titleText() const
{
    return shownOr(m_link.title, tdLocalized("No Title"));
}

QString TDLinkCard::descriptionText() const
{
    return m_link.desc ? oneLine(*m_link.desc) : tdLocalized("No Description");
}

QString TDLinkCard::addressText() const
{
    return oneLineAddress(shownAddress(m_link.url));
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
    drawLine(
        painter, QRect(left, y, width, title.height()), title.elidedText(titleText(), Qt::ElideRight, width));
    y += title.height() + titleSpacing;

    const QFont descriptionFont = tdappearance::systemFont(descriptionFontSize);
    const QFontMetrics description(descriptionFont);
    painter.setFont(descriptionFont);
    painter.setPen(tdappearance::color(SystemColor::secondaryLabel, dark));
    for (const QString& line : descriptionLines()) {
        drawLine(painter, QRect(left, y, width, description.lineSpacing()), line);
        y += description.lineSpacing();
    }
    y += addressSpacing;

    const QFont addressFont = tdappearance::systemFont(addressFontSize);
    const QFontMetrics address(addressFont);
    painter.setFont(addressFont);
    painter.setPen(tdappearance::color(SystemColor::tertiaryLabel, dark));
    drawLine(painter, QRect(left, y, width, address.height()),
        address.elidedText(addressText(), Qt::ElideRight, width));
}

void TDLinkCard::drawLine(QPainter& painter, const QRect& rect, const QString& text) const
{
    // A Hebrew or Arabic title reads from the right, its ellipsis at its left end, wherever the
    // card stands; the line still starts at the card's leading edge.
    painter.save();
    painter.setLayoutDirection(text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    // Unclipped: marks a script stacks above its letters (Thai) can stand higher than a Latin line.
    painter.drawText(rect,
        (isRightToLeft() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute | Qt::AlignVCenter
            | Qt::TextDontClip,
        text);
    painter.restore();
}

bool TDLinkCard::event(QEvent* event)
{
    // On X11 the menu key arrives twice: as the menu's own event, then as a key press.
    if (event->type() == QEvent::ContextMenu
        && static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard)
        m_menuKeyAnswered = true;
    return QAbstractButton::event(event);
}

void TDLinkCard::keyPressEvent(QKeyEvent* event)
{
    if (tdfocusring::opensMenu(event)) {
        if (!(event->key() == Qt::Key_Menu && std::exchange(m_menuKeyAnswered, false)))
            tdfocusring::showActionsMenu(this);
        return;
    }
    m_menuKeyAnswered = false;
    // The list the card stands in moves the keys between its cards; the button's own arrows would
    // step past the first or the last card into the controls around the list.
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!(event->modifiers() & ~Qt::KeypadModifier)) {
            event->ignore();
            return;
        }
        break;
    default:
        break;
    }
    // Return opens the link as Space does, as on the other cards.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()
        && !(event->modifiers() & ~Qt::KeypadModifier)) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void TDLinkCard::mousePressEvent(QMouseEvent* event)
{
    // The extra clicks of a double click would open the page again in another tab.
    if (event->button() == Qt::LeftButton && !m_click.press(event)) {
        event->accept();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void TDLinkCard::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_click.release(isDown() && hitButton(event->position().toPoint()));
    QAbstractButton::mouseReleaseEvent(event);
}

void TDLinkCard::changeEvent(QEvent* event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_descriptionWidth = TDLinkDescriptionWidth(m_link.desc);
        m_linesWidth = -1;
        updateGeometry();
    }
}
