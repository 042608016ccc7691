#include "EDTextView/EDTextViewAccessible.h"

#include "EDTextView/EDDefaultTextColor.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/GraphemeClusters.h"

#include <QCoreApplication>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <limits>

using platform::AttributedString;
using platform::CharacterRange;
using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;

namespace AttributeKey = platform::AttributeKey;

namespace {

// How much text around an offset is searched for the piece that holds it. Pieces longer than
// this (a "word" of a thousand letters) are cut at the window's edge; a bounded window keeps a
// query on a paragraph of megabytes as cheap as on a short one.
constexpr qint64 clusterWindowUnits = 64;
constexpr qint64 wordWindowUnits = 1024;
constexpr qint64 sentenceWindowUnits = 8192;
constexpr qint64 attributeWindowUnits = 4096;

QAccessibleInterface* textViewFactory(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<EDTextView*>(object))
        return new EDTextViewAccessible(view);
    return nullptr;
}

bool isRegionalIndicator(const QString& text, qsizetype at)
{
    return at >= 0 && at + 1 < text.size() && text[at].isHighSurrogate()
        && QChar::surrogateToUcs4(text[at], text[at + 1]) - 0x1F1E6u < 26u;
}

// Where a window of text searched for a piece may start: never inside a surrogate pair, nor
// between the two halves of a flag. Which halves pair up is only known from the start of a run of
// them, so the indicators before `at` are counted (not below `low`).
TextLocation windowStart(const EDTextContentStorage& storage, TextLocation at, TextLocation low)
{
    at = std::max(low, edtextview::wholeCharacters(TextRange(at), storage).location);
    qint64 count = 0;
    for (qint64 end = at; end > low;) {
        const qint64 begin = std::max(low, end - 256);
        const QString chunk = storage.substring(TextRange(begin, end));
        qsizetype i = chunk.size() - 2;
        while (isRegionalIndicator(chunk, i)) {
            ++count;
            i -= 2;
        }
        if (i >= 0 || begin == low)
            break;
        end = begin + (i + 2);
    }
    return count % 2 ? at - 2 : at;
}

QString cssColor(const QColor& color)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(color.red()).arg(color.green()).arg(color.blue());
}

} // namespace

EDTextViewAccessible::EDTextViewAccessible(EDTextView* view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{
}

void EDTextViewAccessible::installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(textViewFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

namespace {

void installTextViewAccessibility()
{
    EDTextViewAccessible::installFactory();
}

} // namespace

// In place before the program's first view is made, so that no interface is made for one before.
Q_COREAPP_STARTUP_FUNCTION(installTextViewAccessibility)

int EDTextViewAccessible::toOffset(qint64 offset)
{
    return int(std::clamp<qint64>(offset, -1, std::numeric_limits<int>::max()));
}

TextLocation EDTextViewAccessible::cursorLocation(const EDTextView& view)
{
    const auto& selections = view.textLayoutManager().textSelections();
    if (selections.empty() || selections.back().textRanges.empty())
        return 0;
    const TextSelection& last = selections.back();
    const TextRange range = last.textRanges.back();
    if (last.anchorLocation && *last.anchorLocation == range.endLocation)
        return range.location;
    return range.endLocation;
}

EDTextView& EDTextViewAccessible::view() const
{
    return *static_cast<EDTextView*>(widget());
}

void* EDTextViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
        return view().isEditable() ? static_cast<QAccessibleEditableTextInterface*>(this) : nullptr;
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::Role EDTextViewAccessible::role() const
{
    // A read-only view the reader can still move a caret and select in stays a text area (its
    // state says it is read-only); on the accessibility bus static text is a label, which a
    // reader does not read by caret. Only text that can be neither edited nor selected is static.
    return view().isSelectable() ? QAccessible::EditableText : QAccessible::StaticText;
}

QAccessible::State EDTextViewAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    const EDTextView& textView = view();
    state.multiLine = true;
    state.editable = textView.isEditable();
    state.readOnly = !textView.isEditable();
    state.selectableText = textView.isSelectable();
    if (!textView.isAccessibilityEnabled())
        state.disabled = true;
    return state;
}

QString EDTextViewAccessible::text(QAccessible::Text type) const
{
    switch (type) {
    case QAccessible::Name:
        if (const QString name = widget()->accessibleName(); !name.isEmpty())
            return name;
        return EDTextView::accessibilityLabel();
    case QAccessible::Value:
        return view().accessibilityValue();
    default:
        return QAccessibleWidget::text(type);
    }
}

void EDTextViewAccessible::setText(QAccessible::Text type, const QString& text)
{
    if (type == QAccessible::Value)
        view().setAccessibilityValue(text);
}

QList<QWidget*> EDTextViewAccessible::childWidgets() const
{
    QList<QWidget*> result;
    for (QObject* object : widget()->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child && !child->isWindow() && child != view().viewport())
            result.append(child);
    }
    return result;
}

int EDTextViewAccessible::childCount() const
{
    return int(childWidgets().size());
}

QAccessibleInterface* EDTextViewAccessible::child(int index) const
{
    const QList<QWidget*> children = childWidgets();
    if (index < 0 || index >= children.size())
        return nullptr;
    return QAccessible::queryAccessibleInterface(children.at(index));
}

int EDTextViewAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (!child)
        return -1;
    return int(childWidgets().indexOf(qobject_cast<QWidget*>(child->object())));
}

QAccessibleInterface* EDTextViewAccessible::childAt(int x, int y) const
{
    for (QWidget* child : childWidgets()) {
        if (child->isVisible() && QRect(child->mapToGlobal(QPoint(0, 0)), child->size()).contains(x, y))
            return QAccessible::queryAccessibleInterface(child);
    }
    return nullptr;
}

void EDTextViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    const auto ranges = edtextview::sortedSelectionTextRanges(view().textLayoutManager(), true);
    if (selectionIndex < 0 || size_t(selectionIndex) >= ranges.size())
        return;
    *startOffset = toOffset(ranges[size_t(selectionIndex)].location);
    *endOffset = toOffset(ranges[size_t(selectionIndex)].endLocation);
}

int EDTextViewAccessible::selectionCount() const
{
    return int(edtextview::sortedSelectionTextRanges(view().textLayoutManager(), true).size());
}

void EDTextViewAccessible::setSelectedRanges(std::vector<TextRange> ranges, TextLocation caret)
{
    EDTextView& textView = view();
    if (!textView.isSelectable())
        return;
    const qint64 length = textView.textContentStorage().length();
    std::vector<TextRange> kept;
    for (const TextRange& range : ranges) {
        const TextRange inside = edtextview::wholeCharacters(
            edtextview::clamped(range, TextRange(0, length)), textView.textContentStorage());
        if (!inside.isEmpty())
            kept.push_back(inside);
    }
    if (kept.empty()) {
        textView.setSelectedTextRange(TextRange(std::clamp<qint64>(caret, 0, length)));
        return;
    }
    std::vector<TextSelection> selections;
    for (const TextRange& range : mergedTextRanges(std::move(kept)))
        selections.emplace_back(range);
    textView.textLayoutManager().setTextSelections(std::move(selections));
    textView.updateTypingAttributes();
}

void EDTextViewAccessible::addSelection(int startOffset, int endOffset)
{
    auto ranges = edtextview::sortedSelectionTextRanges(view().textLayoutManager(), true);
    ranges.emplace_back(startOffset, endOffset);
    setSelectedRanges(std::move(ranges), endOffset);
}

void EDTextViewAccessible::removeSelection(int selectionIndex)
{
    auto ranges = edtextview::sortedSelectionTextRanges(view().textLayoutManager(), true);
    if (selectionIndex < 0 || size_t(selectionIndex) >= ranges.size())
        return;
    // With the last range gone the caret stays where the reader had it.
    const TextLocation caret = cursorLocation(view());
    ranges.erase(ranges.begin() + selectionIndex);
    setSelectedRanges(std::move(ranges), caret);
}

void EDTextViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    auto ranges = edtextview::sortedSelectionTextRanges(view().textLayoutManager(), true);
    if (selectionIndex < 0 || size_t(selectionIndex) > ranges.size())
        return;
    if (size_t(selectionIndex) == ranges.size())
        ranges.emplace_back(startOffset, endOffset);
    else
        ranges[size_t(selectionIndex)] = TextRange(startOffset, endOffset);
    setSelectedRanges(std::move(ranges), endOffset);
}

int EDTextViewAccessible::cursorPosition() const
{
    return toOffset(cursorLocation(view()));
}

void EDTextViewAccessible::setCursorPosition(int position)
{
    EDTextView& textView = view();
    if (!textView.isSelectable())
        return;
    const TextRange caret(std::clamp<qint64>(position, 0, textView.textContentStorage().length()));
    textView.setSelectedTextRange(caret);
    textView.scrollTextRangeToVisible(caret);
}

QString EDTextViewAccessible::text(int startOffset, int endOffset) const
{
    const auto& storage = view().textContentStorage();
    const TextRange range = edtextview::clamped(TextRange(startOffset, endOffset), storage.documentRange());
    return storage.substring(range);
}

int EDTextViewAccessible::characterCount() const
{
    return toOffset(view().textContentStorage().length());
}

qint64 EDTextViewAccessible::resolvedOffset(int offset) const
{
    if (offset == -1)
        return view().textContentStorage().length();
    if (offset == -2)
        return cursorLocation(view());
    return offset;
}

std::optional<TextRange> EDTextViewAccessible::segment(
    qint64 offset, QAccessible::TextBoundaryType type) const
{
    EDTextView& textView = view();
    const auto& storage = textView.textContentStorage();
    const qint64 length = storage.length();
    if (offset < 0 || offset > length)
        return std::nullopt;
    const TextRange paragraph = storage.layoutParagraphRange(storage.layoutParagraphIndex(offset));

    QTextBoundaryFinder::BoundaryType kind = QTextBoundaryFinder::Grapheme;
    qint64 window = clusterWindowUnits;
    TextRange bounds = storage.documentRange();
    switch (type) {
    case QAccessible::NoBoundary:
        return storage.documentRange();
    case QAccessible::ParagraphBoundary:
        return paragraph;
    case QAccessible::LineBoundary: {
        // The row as drawn, which a reader moving line by line expects.
        const auto line = textView.textLayoutManager().lineFragment(offset);
        if (!line)
            return paragraph;
        const TextRange row = line.fragment->visualLine(line->visualLineIndex()).characterRange;
        const TextLocation start = line.fragment->rangeInElement().location;
        return TextRange(start + row.location, start + row.endLocation);
    }
    case QAccessible::CharBoundary:
        if (offset == length)
            return TextRange(offset);
        break;
    case QAccessible::WordBoundary:
        kind = QTextBoundaryFinder::Word;
        window = wordWindowUnits;
        bounds = paragraph;
        break;
    case QAccessible::SentenceBoundary:
        kind = QTextBoundaryFinder::Sentence;
        window = sentenceWindowUnits;
        bounds = paragraph;
        break;
    }
    const TextRange span(windowStart(storage, std::max(bounds.location, offset - window), bounds.location),
        std::min(bounds.endLocation, offset + window));
    const QString text = storage.substring(span);
    if (text.isEmpty())
        return TextRange(offset);
    // At the end of the text the piece is the last one, which ends there.
    const qsizetype local = std::min<qsizetype>(offset - span.location, text.size() - 1);
    auto around = [&](auto& finder) {
        finder.setPosition(local);
        qsizetype start = finder.isAtBoundary() ? local : finder.toPreviousBoundary();
        finder.setPosition(local);
        qsizetype end = finder.toNextBoundary();
        start = std::max<qsizetype>(start, 0);
        if (end < 0)
            end = text.size();
        return TextRange(span.location + start, span.location + end);
    };
    // Characters as the caret steps over them: Qt's clusters split emoji after Thai or Indic text.
    if (kind == QTextBoundaryFinder::Grapheme) {
        platform::GraphemeFinder finder(text);
        return around(finder);
    }
    QTextBoundaryFinder finder(kind, text);
    return around(finder);
}

QString EDTextViewAccessible::answer(std::optional<TextRange> range, int* startOffset, int* endOffset) const
{
    if (!range) {
        *startOffset = *endOffset = -1;
        return {};
    }
    *startOffset = toOffset(range->location);
    *endOffset = toOffset(range->endLocation);
    return view().textContentStorage().substring(*range);
}

QString EDTextViewAccessible::textAtOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset, int* endOffset) const
{
    return answer(segment(resolvedOffset(offset), boundaryType), startOffset, endOffset);
}

QString EDTextViewAccessible::textBeforeOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset, int* endOffset) const
{
    const auto at = segment(resolvedOffset(offset), boundaryType);
    if (!at || at->location == 0)
        return answer(at ? std::optional(TextRange(0)) : std::nullopt, startOffset, endOffset);
    return answer(segment(at->location - 1, boundaryType), startOffset, endOffset);
}

QString EDTextViewAccessible::textAfterOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset, int* endOffset) const
{
    const qint64 length = view().textContentStorage().length();
    const auto at = segment(resolvedOffset(offset), boundaryType);
    if (!at || at->endLocation >= length || at->isEmpty())
        return answer(at ? std::optional(TextRange(length)) : std::nullopt, startOffset, endOffset);
    return answer(segment(at->endLocation, boundaryType), startOffset, endOffset);
}

QRect EDTextViewAccessible::characterRect(int offset) const
{
    const auto cluster = segment(resolvedOffset(offset), QAccessible::CharBoundary);
    if (!cluster)
        return {};
    return view().firstRect(edtextview::characterRange(*cluster, view().textContentStorage()));
}

int EDTextViewAccessible::offsetAtPoint(const QPoint& point) const
{
    const qint64 index = view().characterIndex(point);
    return index == CharacterRange::notFoundLocation ? -1 : toOffset(index);
}

void EDTextViewAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    const auto& storage = view().textContentStorage();
    view().scrollTextRangeToVisible(
        edtextview::clamped(TextRange(startIndex, endIndex), storage.documentRange()));
}

QString EDTextViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    EDTextView& textView = view();
    const auto& storage = textView.textContentStorage();
    const qint64 at = resolvedOffset(offset);
    if (at < 0 || at >= storage.length()) {
        *startOffset = *endOffset = toOffset(std::clamp<qint64>(at, 0, storage.length()));
        return {};
    }
    const TextRange paragraph = storage.layoutParagraphRange(storage.layoutParagraphIndex(at));
    const TextRange window(std::max(paragraph.location, at - attributeWindowUnits),
        std::min(paragraph.endLocation, at + attributeWindowUnits));
    const AttributedString text = storage.attributedString(window);
    AttributedString::Span span;
    const platform::TextAttributes attributes = text.attributes(at - window.location, &span);
    *startOffset = toOffset(window.location + span.start);
    *endOffset = toOffset(window.location + span.start + span.length);

    // Text attributes as assistive technologies name them.
    const QVariant fontValue = attributes.value(AttributeKey::font);
    const QFont font = fontValue.canConvert<QFont>() ? fontValue.value<QFont>()
                                                     : textView.textLayoutManager().defaultFont();
    QStringList parts;
    parts << QStringLiteral("font-family:\"%1\"").arg(font.family());
    if (font.pointSizeF() > 0)
        parts << QStringLiteral("font-size:%1pt").arg(font.pointSizeF());
    else
        parts << QStringLiteral("font-size:%1px").arg(font.pixelSize());
    parts << QStringLiteral("font-weight:%1").arg(int(font.weight()));
    if (font.italic())
        parts << QStringLiteral("font-style:italic");
    if (attributes.value(AttributeKey::underlineStyle).toInt() != 0)
        parts << QStringLiteral("text-underline-style:solid");
    if (const auto foreground = EDDefaultTextColor::resolved(
            attributes.value(AttributeKey::foregroundColor), textView.palette().color(QPalette::Text)))
        parts << QStringLiteral("color:%1").arg(cssColor(*foreground));
    const QVariant background = attributes.value(AttributeKey::backgroundColor);
    if (background.canConvert<QColor>())
        parts << QStringLiteral("background-color:%1").arg(cssColor(background.value<QColor>()));
    return parts.join(u';') + u';';
}

void EDTextViewAccessible::replace(TextRange range, const QString& text)
{
    EDTextView& textView = view();
    range = edtextview::clamped(range, textView.textContentStorage().documentRange());
    // An assistive technology types for the user: the same rules as typing hold.
    if (!textView.shouldChangeText(range, text))
        return;
    // The caret is told once, where the edit leaves it: not first where the edit pushed the old
    // caret along, which a reader would speak as a move of its own.
    textView.textContentStorage().performEditingTransaction([&] {
        textView.replaceCharacters(
            range, AttributedString(text, textView.typingAttributes(range.location)), false);
    });
    textView.setSelectedTextRange(TextRange(range.location + text.size()));
}

void EDTextViewAccessible::deleteText(int startOffset, int endOffset)
{
    replace(TextRange(startOffset, endOffset), QString());
}

void EDTextViewAccessible::insertText(int offset, const QString& text)
{
    replace(TextRange(offset), text);
}

void EDTextViewAccessible::replaceText(int startOffset, int endOffset, const QString& text)
{
    replace(TextRange(startOffset, endOffset), text);
}
