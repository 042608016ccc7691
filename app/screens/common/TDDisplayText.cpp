#include "app/screens/common/TDDisplayText.h"

#include "platform/text/GraphemeClusters.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTextDocument>
#include <QToolTip>
#include <QValidator>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

bool breaksTheLine(QChar c)
{
    switch (c.unicode()) {
    case u'\t':
    case u'\n':
    case u'\v':
    case u'\f':
    case u'\r':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// A validator may rewrite what is typed or pasted before the field takes it and reports the edit.
class TDOneLineValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        input = tdOneLineText(std::move(input));
        return Acceptable;
    }
};

} // namespace

QString tdOneLineText(QString text)
{
    for (QChar& c : text) {
        if (breaksTheLine(c))
            c = QLatin1Char(' ');
    }
    return text;
}

void tdKeepOnOneLine(QLineEdit* field)
{
    field->setValidator(new TDOneLineValidator(field));
}

QString tdBreakableText(const QString& text, const QFontMetrics& metrics, int width)
{
    QString out;
    out.reserve(text.size());
    qsizetype runStart = 0;
    auto addRun = [&](qsizetype end) {
        const QString run = text.mid(runStart, end - runStart);
        if (metrics.horizontalAdvance(run) <= width) {
            out += run;
            return;
        }
        // Never inside a flag or a joined emoji, which a break would show as its parts.
        platform::GraphemeFinder characters(run);
        qsizetype from = 0;
        for (qsizetype to = characters.toNextBoundary(); to > 0; to = characters.toNextBoundary()) {
            if (from > 0)
                out += QChar(0x200B);
            out += QStringView(run).mid(from, to - from);
            from = to;
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isSpace()) {
            addRun(i);
            out += text.at(i);
            runStart = i + 1;
        }
    }
    addRun(text.size());
    return out;
}

QString tdToolTipText(const QStringList& lines)
{
    // About the width a tooltip wraps its lines at.
    constexpr int toolTipLineWidth = 400;
    const QFontMetrics metrics(QToolTip::font());
    QStringList shown;
    for (const QString& line : lines)
        shown.append(tdBreakableText(tdDisplayText(line), metrics, toolTipLineWidth));
    const QString tip = shown.join(QLatin1Char('\n'));
    // A tooltip takes a text that looks like markup for markup ("<b>", "&lt;" in its first line),
    // and would load the pictures an "<img>" names: such a text is given escaped instead, each line
    // on its own.
    if (!Qt::mightBeRichText(tip))
        return tip;
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + tip.toHtmlEscaped()
        + QStringLiteral("</p>");
}

QString tdToolTipText(const QString& text)
{
    return tdToolTipText(QStringList { text });
}

QString tdWindowTitleText(const QString& text)
{
    // The frame shows a doubled "[*]" as one.
    return tdDisplayText(text).replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

QString tdDisplayText(const QString& text)
{
    if (text.size() <= tdDisplayTextLimit)
        return tdOneLineText(text);
    qsizetype cut = tdDisplayTextLimit;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    // Nor half of a flag or of a joined emoji, unless the character is absurdly long. (The finder
    // reads the whole text: which flags pair up is only known from the start of a run of them.)
    const qsizetype boundary = platform::graphemeBoundaryAtOrBefore(text, cut);
    if (boundary >= cut - 64)
        cut = boundary;
    return tdOneLineText(text.left(cut)) + QChar(0x2026);
}

QString tdMiddleCut(const QString& text, qsizetype keep)
{
    if (text.size() <= 2 * keep + 1)
        return text;
    // Half an emoji or a flag on either side of the cut would show as a box.
    const qsizetype headEnd = platform::graphemeBoundaryAtOrBefore(text, keep);
    platform::GraphemeFinder finder(text);
    finder.setPosition(text.size() - keep);
    const qsizetype tailStart = finder.isAtBoundary() ? finder.position() : finder.toNextBoundary();
    return text.left(headEnd) + QChar(0x2026) + text.mid(tailStart < 0 ? text.size() : tailStart);
}

TDElidedLabel::TDElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TDElidedLabel::setFullText(const QString& text)
{
    QString bounded = tdDisplayText(text);
    if (bounded == m_fullText)
        return;
    m_fullText = bounded;
    setToolTip(tdToolTipText(m_fullText));
    setAccessibleName(m_fullText);
    updateGeometry();
    elide();
}

std::pair<double, double> tdLineExtent(const QFontMetricsF& metrics, const QString& text)
{
    const QRectF bounds = metrics.boundingRect(text);
    return { std::max(metrics.ascent(), -bounds.top()), std::max(metrics.descent(), bounds.bottom()) };
}

QSize TDElidedLabel::minimumSizeHint() const
{
    QFontMetrics metrics(font());
    return QSize(
        std::min(metrics.horizontalAdvance(m_fullText), metrics.horizontalAdvance(QChar(0x2026)) * 4),
        sizeHint().height());
}

QSize TDElidedLabel::sizeHint() const
{
    QFontMetrics metrics(font());
    const auto [ascent, descent] = tdLineExtent(QFontMetricsF(font()), m_fullText);
    return QSize(metrics.horizontalAdvance(m_fullText) + 1,
        std::max(metrics.height(), int(std::ceil(ascent + descent))));
}

void TDElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setLayoutDirection(m_fullText.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    const QString shown = text();
    const QFontMetricsF metrics(font());
    const QRectF area = contentsRect();
    // On a whole pixel, so that a text is drawn alike against either edge.
    const double x
        = isRightToLeft() ? std::floor(area.right() + 1 - metrics.horizontalAdvance(shown)) : area.left();
    const auto [ascent, descent] = tdLineExtent(metrics, shown);
    const double top
        = std::round(area.top() + (area.height() - std::max(metrics.height(), ascent + descent)) / 2);
    painter.drawText(QPointF(x, top + ascent), shown);
}

void TDElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void TDElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void TDElidedLabel::elide()
{
    QString shown = fontMetrics().elidedText(m_fullText, Qt::ElideRight, std::max(0, width()));
    if (shown != text())
        setText(shown);
}

namespace {

QRect comboBoxField(const QComboBox& box, const QStyleOptionComboBox& option)
{
    return box.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &box);
}

} // namespace

TDElidedComboBox::TDElidedComboBox(QWidget* parent)
    : QComboBox(parent)
{
}

QString TDElidedComboBox::shownText() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return fontMetrics().elidedText(option.currentText, Qt::ElideRight, comboBoxField(*this, option).width());
}

void TDElidedComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
