#pragma once

#include "EDTextView/TextLayoutUtilities.h"
#include "platform/ui/RulerView.h"

#include <QColor>
#include <QFont>
#include <QGlyphRun>

#include <memory>
#include <optional>
#include <vector>

class EDTextView;

// The line numbers beside a text view: a vertical ruler whose client is the text view, hung in its
// scroll area's left margin (RulerView::setVerticalRuler, then RulerView::setRulersVisible, or
// simply EDTextView::setIsRulerVisible).
//
// Rules:
// - Paragraphs are numbered, not rows: a wrapped paragraph shows its number on its first row, and
//   the empty line after a final line break gets a number of its own.
// - Only the paragraphs the text view laid out for its viewport are numbered. The count of those
//   above comes from the content storage's paragraph index, so a rebuild costs the same at the top,
//   in the middle and at the end of a long note.
// - `invalidateHashMarks` rebuilds `lines()` and the thickness; the text view calls it after each
//   viewport layout, and the ruler itself on every selection change. Drawing only reads `lines()`.
// - A line is selected when every selection range touches it (so with no range at all every line
//   is, and with carets in two paragraphs none is). With `highlightSelectedLine`, a selected line's
//   number takes the selected-line colour, and, while the selection is only carets, a band is
//   painted behind it.
// - The rule thickness only grows: to fit the widest number seen so far (the last visible one)
//   with the insets around it. Numbers end at the trailing inset from the inner edge; a one-pixel
//   separator runs along that edge.
// - Changing a setting redraws at once, but numbers already laid out keep the font and colours they
//   were made with until the next rebuild.
// - Until the host sets a font, the numbers follow the text view's font after each change of the
//   widgets' font (the application's font, the desktop's setting): the first rebuild after it takes
//   the number font from the text view's font again.
// - Markers (EDRulerMarker) are added by clicks through the text view (its ruler-client side) and
//   only while `allowsMarkers` is set; the ruler keeps their width equal to its rule thickness.
// - Assistive technologies find it among the text view's children as a pane named "Line Numbers".
//   It never takes the focus: a click on it leaves the keys with the text.
//
// Main thread only.
class EDLineNumberRulerView : public platform::RulerView {
    Q_OBJECT
public:
    // A number laid out once per rebuild, ready to draw: its glyphs with their positions from the
    // baseline origin, its typographic width, and the colour it was made with.
    struct NumberText {
        std::vector<QGlyphRun> glyphRuns;
        double width = 0;
        QColor color;
    };

    struct Line {
        qint64 number = 0;
        // The baseline origin of the number: x in the ruler's coordinates, y in the text view's.
        QPointF textPosition;
        // The line's band in the text view's coordinates (x 0, the fragment's width).
        QRectF layoutFragmentFrame;
        NumberText textLine;
        bool isSelected = false;
    };

    // A ruler for `textView`, which becomes its client, in `scrollView` (by default the scroll area
    // the text view is). It copies the text view's font, selected-line settings and text colour
    // here (the font again after a change of the widgets' font). Of the colours, those the text
    // view takes from the palette are followed rather than copied, until the ruler is given its
    // own: they change with the palette, and a copy would stay as it was.
    explicit EDLineNumberRulerView(EDTextView& textView, QAbstractScrollArea* scrollView = nullptr);
    ~EDLineNumberRulerView() override;

    // Settings. Colours left unset follow the palette. The numbers' font is a setting of its own
    // (it hides the widget's font, which the ruler does not use).
    QFont font() const { return m_font; }
    void setFont(const QFont& font);
    EDRulerInsets rulerInsets() const { return m_rulerInsets; }
    void setRulerInsets(EDRulerInsets insets);
    QColor textColor() const;
    void setTextColor(const QColor& color);
    bool drawSeparator() const { return m_drawSeparator; }
    void setDrawSeparator(bool draw);
    QColor backgroundColor() const;
    void setBackgroundColor(const QColor& color);
    bool highlightSelectedLine() const { return m_highlightSelectedLine; }
    void setHighlightSelectedLine(bool highlight);
    bool drawsBackground() const { return m_drawsBackground; }
    void setDrawsBackground(bool draws);
    QColor selectedLineHighlightColor() const;
    void setSelectedLineHighlightColor(const QColor& color);
    std::optional<QColor> selectedLineTextColor() const;
    void setSelectedLineTextColor(const std::optional<QColor>& color);
    QColor separatorColor() const;
    void setSeparatorColor(const QColor& color);
    // Moves every number up by this much.
    double baselineOffset() const { return m_baselineOffset; }
    void setBaselineOffset(double offset);
    bool allowsMarkers() const { return m_allowsMarkers; }
    void setAllowsMarkers(bool allows);

    // The visible lines as of the last rebuild, in document order.
    const std::vector<Line>& lines() const { return m_lines; }

    void invalidateHashMarks() override;
    // Only while `allowsMarkers` is set and the ruler has a client; then the scroll view re-tiles.
    void addMarker(std::shared_ptr<platform::RulerMarker> marker) override;
    // The reserved thickness is the platform ruler's; writing it is ignored.
    void setReservedThicknessForMarkers(double) override { }

    // The number font made from a text font: the font itself, whose digits are tabular in the
    // fonts we ship. (Qt 6.4 cannot ask a font for tabular, lining or slashed-zero features.)
    static QFont lineNumberFont(const QFont& font);
    // The font of a ruler whose text view has none: the system font, condensed when the family has
    // a condensed face; the fixed-pitch system font when there is no system font.
    static QFont defaultFont();

    // Steps of `invalidateHashMarks` and of drawing that a subclass may replace.
    virtual void updateLines();
    virtual void updateMarkerWidths();
    virtual void drawBackground(QPainter& painter, const QRectF& dirtyRect);

protected:
    void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
    void drawHashMarksAndLabels(QPainter&, const QRectF&) override { }
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class Typesetter;

    EDTextView* textView() const;
    const Typesetter& typesetter();
    void appendLines(const platform::TextLayoutFragment& fragment, qint64 paragraphsBefore,
        const std::vector<platform::TextRange>& selectionRanges);
    void appendEmptyDocumentLine(const platform::TextLayoutFragment& fragment, const EDTextView& textView);
    NumberText numberText(qint64 number, bool selected);
    // The colours numbers are made with in this rebuild, resolved once.
    struct RebuildColors {
        QColor text;
        QColor selected;
    };
    void updateRuleThickness();
    void positionLines();
    template<typename T> void assign(T& member, const T& value);

    // Where the numbers' font comes from. The text view's own font may change only after the ruler
    // has heard of a new widget font (children hear first), so it is read at the next rebuild.
    enum class FontSource { textView, textViewAtNextRebuild, host };

    QFont m_font;
    FontSource m_fontSource = FontSource::textView;
    EDRulerInsets m_rulerInsets;
    std::optional<QColor> m_textColor;
    bool m_drawSeparator = true;
    std::optional<QColor> m_backgroundColor;
    bool m_highlightSelectedLine = false;
    bool m_drawsBackground = true;
    std::optional<QColor> m_selectedLineHighlightColor;
    std::optional<QColor> m_selectedLineTextColor;
    // The text view's colours from its palette, followed until the ruler is given its own.
    bool m_followsTextViewTextColor = false;
    bool m_followsTextViewHighlightColor = false;
    std::optional<QColor> m_separatorColor;
    double m_baselineOffset = 0;
    bool m_allowsMarkers = false;

    std::vector<Line> m_lines;
    // The lines of the rebuild before, whose laid-out numbers the next rebuild takes over where
    // number, font and colour are the same (scrolling by a line, moving the caret, typing).
    std::vector<Line> m_previousLines;
    RebuildColors m_colors;
    std::unique_ptr<Typesetter> m_typesetter;
    bool m_painting = false;
};
