#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextRange.h"
#include "platform/text/TextSelection.h"

#include <QPointF>
#include <QRectF>
#include <QSet>
#include <QSizeF>

#include <functional>
#include <optional>
#include <vector>

class QFont;

namespace platform {
class TextContentStorage;
}

// Helpers the text view uses to move between locations and offsets, clamp and compare ranges, find
// lines, segment frames and carets, gather selections, and compare geometry with a tolerance.
namespace edtextview {

using platform::AttributedString;
using platform::CharacterRange;
using platform::TextAttributes;
using platform::TextContentStorage;
using platform::TextLayoutFragment;
using platform::TextLayoutManager;
using platform::TextLineFragment;
using platform::TextLineFragmentHandle;
using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;

// Relative tolerance for geometry: 2^-26.
inline constexpr double geometryTolerance = 1.4901161193847656e-08;

// A range clamped into `bounds`; a range wholly outside becomes empty at the nearer edge.
TextRange clamped(TextRange range, TextRange bounds);
// The range widened to whole characters where an end falls between the halves of a surrogate pair
// or of a CR LF line end; an empty range moves before the character it cut. Typing or deleting at
// such an end would leave half a character behind.
TextRange wholeCharacters(TextRange range, const TextContentStorage& storage);

// Conversions. Offsets are UTF-16 units from the document start.
CharacterRange characterRange(TextRange range, const TextContentStorage& storage);
// None when the start lies outside the document; an end past the document end gives the empty
// range at the start.
std::optional<TextRange> textRange(CharacterRange range, const TextContentStorage& storage);
qint64 length(TextRange range, const TextContentStorage& storage);
qint64 offset(TextLocation location, const TextContentStorage& storage);
std::optional<TextLocation> location(qint64 offset, const TextContentStorage& storage);
qint64 length(const TextContentStorage& storage);
std::optional<TextLocation> location(
    qint64 line, std::optional<qint64> column, const TextContentStorage& storage);
struct LineColumn {
    qint64 line = 0;
    qint64 column = 0;
    bool operator==(const LineColumn&) const = default;
};
std::optional<LineColumn> position(TextLocation location, const TextContentStorage& storage);
std::vector<TextRange> textRangesOfSelections(const std::vector<TextSelection>& selections);

// Text of a range: none for a present but empty range, and for an empty result.
std::optional<AttributedString> attributedString(
    const TextContentStorage& storage, std::optional<TextRange> range);
// The attributes typing at a location would take: those of the character there, or of the last
// character at the document end; empty in an empty document.
TextAttributes attributes(TextLocation location, const TextContentStorage& storage);
// The characters of a range, gathered cluster by cluster.
QString substringByComposedSequences(TextLayoutManager& manager, TextRange range);
QSet<QString> attributeKeys(const AttributedString& text, CharacterRange range);
std::vector<std::pair<QVariant, CharacterRange>> attributeValues(
    const AttributedString& text, const QString& key, CharacterRange range);

// Lines and segments.
bool isEmpty(const TextLineFragment& line);
std::optional<TextRange> textRange(const TextLayoutFragment& fragment, const TextLineFragment& line);
// The line holding a location (none at the very end of the fragment); usable while the caller
// holds the fragment.
std::optional<TextLineFragment> textLineFragment(const TextLayoutFragment& fragment, TextLocation location);
// The same through the layout manager: the handle holds the fragment (empty when there is none).
TextLineFragmentHandle textLineFragment(TextLayoutManager& manager, TextLocation location);
// The line whose typographic bounds contain a point (container coordinates).
std::optional<TextLineFragment> textLineFragment(const TextLayoutFragment& fragment, QPointF point);
TextLineFragmentHandle textLineFragment(TextLayoutManager& manager, QPointF point);
// The caret nearest to the point's x among the carets of the line at `point`.
std::optional<TextLocation> location(TextLayoutManager& manager, QPointF closestTo, TextLocation inLineAt);
std::optional<QRectF> textSegmentFrame(
    TextLayoutManager& manager, TextRange range, TextLayoutManager::SegmentType type, unsigned options);
std::optional<QRectF> textSegmentFrame(
    TextLayoutManager& manager, TextLocation location, TextLayoutManager::SegmentType type, unsigned options);
// The boxes of the glyphs of `range` where the view draws them, one per segment: the layer puts the
// extra height of a line-height multiple above the glyphs, and the view's fragments draw the glyphs
// half of it higher, in the middle of their row. The baseline handed on moves with them.
void enumerateGlyphSegments(TextLayoutManager& manager, TextRange range, unsigned options,
    const TextLayoutManager::SegmentBody& body);
// Their union (an empty range gives the caret's zero-width box).
std::optional<QRectF> glyphSegmentFrame(TextLayoutManager& manager, TextRange range, unsigned options);
std::optional<TextLocation> enumerateTextLayoutFragments(TextLayoutManager& manager, TextRange range,
    unsigned options, const TextLayoutManager::FragmentBody& body);
void enumerateRenderingAttributes(const TextLayoutManager& manager, TextRange range, bool reverse,
    const std::function<bool(const TextAttributes&, TextRange)>& body);

// Selections.
std::vector<TextRange> sortedSelectionTextRanges(const TextLayoutManager& manager, bool excludingEmpty);
std::vector<TextSelection> textSelectionRanges(const TextLayoutManager& manager);
std::vector<TextLocation> insertionPointLocations(const TextLayoutManager& manager);
bool rangesContainNearestLocation(
    TextLayoutManager& manager, const std::vector<TextRange>& ranges, QPointF point, bool initial);

// Tolerant comparison.
bool isAlmostEqual(double a, double b, double tolerance = geometryTolerance);
bool isAlmostEqual(float a, float b, float tolerance = float(geometryTolerance));
bool isAlmostZero(double value, double tolerance = geometryTolerance);
bool isAlmostEqual(QPointF a, QPointF b);
bool isAlmostEqual(QSizeF a, QSizeF b);

// Geometry helpers: a union that keeps empty rectangles (only a null one is ignored), and a
// rectangle with every edge rounded to the nearest pixel.
QRectF rectUnion(const std::optional<QRectF>& a, const QRectF& b);
QRectF pixelAligned(const QRectF& rect, double devicePixelRatio = 1.0);

// The line height the platform gives a font by default.
struct FontLineMetrics {
    double ascent = 0;
    double descent = 0;
    double leading = 0;
    QString familyName;
};
double defaultLineHeight(const FontLineMetrics& metrics);
double defaultLineHeight(const QFont& font);

} // namespace edtextview

struct EDRulerInsets {
    double leading = 6.0;
    double trailing = 6.0;
    bool operator==(const EDRulerInsets&) const = default;
};
