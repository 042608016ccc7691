#pragma once

#include <QLabel>
#include <QString>

// Texts read from the library files (names, titles) can be of any length. Everything a screen lays
// out goes through `tdDisplayText` first, so a name of megabytes costs what a long line costs; the
// stored value stays as it is.
inline constexpr qsizetype tdDisplayTextLimit = 1000;

// `text` cut to `tdDisplayTextLimit` characters on a character boundary, ending in "…" when cut.
QString tdDisplayText(const QString& text);

// A one-line label that shows its text elided to its width. Its minimum width is small, so a long
// text never forces the window wider; its text is bounded by `tdDisplayText`.
class TDElidedLabel : public QLabel {
public:
    explicit TDElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    // The text as set, bounded; `text()` is what fits.
    QString fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString m_fullText;
};
