#include "app/screens/common/TDDisplayText.h"

#include <QEvent>

QString tdDisplayText(const QString& text)
{
    if (text.size() <= tdDisplayTextLimit)
        return text;
    qsizetype cut = tdDisplayTextLimit;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
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
    setToolTip(m_fullText);
    setAccessibleName(m_fullText);
    updateGeometry();
    elide();
}

QSize TDElidedLabel::minimumSizeHint() const
{
    QFontMetrics metrics(font());
    return QSize(
        std::min(metrics.horizontalAdvance(m_fullText), metrics.horizontalAdvance(QChar(0x2026)) * 4),
        metrics.height());
}

QSize TDElidedLabel::sizeHint() const
{
    QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(m_fullText) + 1, metrics.height());
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
