#pragma once

#include <QComboBox>
#include <QLabel>
#include <QString>
#include <QStringList>

#include <utility>

class QFontMetrics;
class QFontMetricsF;
class QLineEdit;

// Texts read from the library files (names, titles) can be of any length. Everything a screen lays
// out goes through `tdDisplayText` first, so a name of megabytes costs what a long line costs; the
// stored value stays as it is.
inline constexpr qsizetype tdDisplayTextLimit = 1000;

// `text` cut to `tdDisplayTextLimit` characters on a character boundary, ending in "…" when cut,
// with its line breaks and tabs shown as spaces: every place a name is shown holds one line.
QString tdDisplayText(const QString& text);

// `text` with its middle left out ("…") when it is longer than `keep` characters on each side of
// it, cut between whole characters: a long name or address quoted in a message.
QString tdMiddleCut(const QString& text, qsizetype keep);

// `text` with each line break and tab replaced by a space, character for character.
QString tdOneLineText(QString text);

// A name pasted into `field` with line breaks in it is kept as the one line the field shows, so the
// name stored (and the folder named after it) is the one the user saw.
void tdKeepOnOneLine(QLineEdit* field);

// `text` with places to break added inside each run of it wider than `width`: zero-width spaces
// between its characters, so that a path, an address or a name of one long word wraps instead of
// running out of its box.
QString tdBreakableText(const QString& text, const QFontMetrics& metrics, int width);

// The extent above and below the baseline of the line `text` makes: at least the font's, more where
// its glyphs come from a taller font (Thai marks stacked over a vowel).
std::pair<double, double> tdLineExtent(const QFontMetricsF& metrics, const QString& text);

// `text` bounded and made to wrap as a tooltip, which is otherwise as wide as its longest word; a
// text a tooltip would take for markup is escaped, so it shows as written.
QString tdToolTipText(const QString& text);
// The same for a tooltip of several lines, one under another.
QString tdToolTipText(const QStringList& lines);

// `text` bounded for a window's title, with each "[*]" kept as written: the frame would otherwise
// take it for the place of the unsaved-changes mark and leave it out.
QString tdWindowTitleText(const QString& text);

// A one-line label that shows its text elided to its width. Its minimum width is small, so a long
// text never forces the window wider; its text is bounded by `tdDisplayText`. The text starts at the
// layout's leading edge and reads in its own direction, whatever the language around it.
class TDElidedLabel : public QLabel {
public:
    explicit TDElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    // The text as set, bounded; `text()` is what fits.
    QString fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    QString m_fullText;
};

// A pop-up button that shows its current text elided to its field: a long name that does not fit
// the sheet is cut with "…" rather than clipped.
class TDElidedComboBox : public QComboBox {
public:
    explicit TDElidedComboBox(QWidget* parent = nullptr);

    // The current text as it fits the field.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
