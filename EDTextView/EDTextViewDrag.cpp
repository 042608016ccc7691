#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/PastedText.h"
#include "EDTextView/TextLayoutRangeView.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/RtfWriter.h"
#include "platform/text/UndoManager.h"
#include "platform/ui/Pasteboard.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyleHints>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <optional>

using platform::AttributedString;
using platform::Pasteboard;
using platform::TextLocation;
using platform::TextRange;

// Dragging the selected text: a press inside the selection becomes a drag once the pointer moves
// as far as the desktop's drag distance (a release before that is an ordinary click there). The
// drag carries the text as plain text and RTF. Dropped into a text view of this program it moves
// (it is copied when the view it comes from may not be edited); dropped anywhere else it is
// copied.

namespace {

// The view a drag of this program started from, while it runs, and whether a view of this
// program took its text as a move. Drops know their source by it on every platform, whether or
// not the platform reports one.
QPointer<EDTextView> draggingSource;
bool movedIntoAnotherView = false;
// The source's count of text changes when the drag began. Its text may change while the drag runs
// (the host, a timer); the dragged ranges then no longer hold the dragged text, and the text is
// copied instead of moved, so that nothing else is taken out.
quint64 sourceTextChangesAtStart = 0;

} // namespace

QDrag* EDTextView::draggingSession() const
{
    return m_draggingSession;
}

bool EDTextView::dragSelectedTextMousePressed(QMouseEvent* event)
{
    m_pressInSelection.reset();
    if (!m_isSelectable || event->button() != Qt::LeftButton
        || (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)))
        return false;
    const QPointF point = viewportToView(event->position());
    const bool inSelection = std::any_of(m_selectionHighlights.begin(), m_selectionHighlights.end(),
        [&](const QRectF& rect) { return rect.contains(point); });
    if (!inSelection)
        return false;
    m_pressInSelection = event->position();
    m_pressInSelectionModifiers = event->modifiers();
    return true;
}

bool EDTextView::dragSelectedTextMouseMoved(QMouseEvent* event)
{
    if (!m_pressInSelection)
        return false;
    if ((event->position() - *m_pressInSelection).manhattanLength()
        >= QGuiApplication::styleHints()->startDragDistance()) {
        m_pressInSelection.reset();
        beginDraggingSelection();
    }
    return true;
}

bool EDTextView::dragSelectedTextMouseReleased(QMouseEvent*)
{
    if (!m_pressInSelection)
        return false;
    // No drag came of it: a click in the selection puts the caret there.
    const QPointF press = *m_pressInSelection;
    m_pressInSelection.reset();
    selectAtPoint(viewportToView(press), {}, 0, false);
    updateAfterMouseSelection();
    return true;
}

std::optional<std::pair<QImage, QRectF>> EDTextView::dragImage(TextRange range)
{
    const TextLayoutRangeView rangeView(*m_textLayoutManager, range);
    const auto frame = rangeView.frame();
    if (!frame)
        return std::nullopt;
    const QImage image = rangeView.image(devicePixelRatioF(), palette().color(QPalette::Text));
    if (image.isNull())
        return std::nullopt;
    return std::make_pair(image, *frame);
}

void EDTextView::beginDraggingSelection()
{
    const std::vector<TextRange> ranges = edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true);
    if (ranges.empty())
        return;
    const AttributedString text = attributedStringJoiningRanges(ranges);
    if (text.isEmpty())
        return;
    const auto image = dragImage(ranges.front());
    if (!image)
        return;
    auto* data = new QMimeData;
    const auto pasteboard = Pasteboard::writing(*data);
    pasteboard->setString(text.string());
    pasteboard->setData(platform::RtfWriter::write(text), Pasteboard::rtfType);

    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(QPixmap::fromImage(image->first));
    const QPointF grip
        = viewportToView(QPointF(viewport()->mapFromGlobal(QCursor::pos()))) - image->second.topLeft();
    drag->setHotSpot(QPoint(std::clamp(int(grip.x()), 0, image->first.width()),
        std::clamp(int(grip.y()), 0, image->first.height())));
    m_draggingSession = drag;
    m_draggedRanges = ranges;
    draggingSource = this;
    movedIntoAnotherView = false;
    sourceTextChangesAtStart = m_textChanges;
    executeDrag(*drag);
    // Moved onto another view of this program: the text leaves this one. A move within this view
    // was done by the drop itself; a drop into another program is a copy, whatever it asked for.
    if (movedIntoAnotherView && !m_draggedRanges.empty() && m_textChanges == sourceTextChangesAtStart
        && shouldChangeText(m_draggedRanges, QString()))
        replaceCharacters(m_draggedRanges, QString(), false);
    draggingSource = nullptr;
    movedIntoAnotherView = false;
    m_draggedRanges.clear();
    m_draggingSession = nullptr;
    drag->deleteLater();
    cleanUpAfterDragOperation();
}

bool EDTextView::acceptsDrop(const QMimeData* data) const
{
    if (!data || !m_isEditable)
        return false;
    const auto pasteboard = Pasteboard::reading(*data);
    return pasteboard->canReadItemWithDataConformingToTypes({ Pasteboard::rtfType, Pasteboard::stringType });
}

void EDTextView::updateDropLocation(QPointF viewportPoint)
{
    layoutIfNeeded();
    const auto location = m_textLayoutManager->caretLocation(viewportToView(viewportPoint));
    if (location == m_dropLocation)
        return;
    m_dropLocation = location;
    setNeedsDisplay();
}

Qt::DropAction EDTextView::executeDrag(QDrag& drag)
{
    return drag.exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

namespace {

EDTextView* sourceOf(QDropEvent* event)
{
    if (auto* view = qobject_cast<EDTextView*>(event->source()))
        return view;
    return draggingSource;
}

// A move needs the source's consent to lose its text; a read-only source gives a copy.
Qt::DropAction dropAction(QDropEvent* event)
{
    EDTextView* source = sourceOf(event);
    const bool move = source && source->isEditable() && (event->possibleActions() & Qt::MoveAction);
    return move ? Qt::MoveAction : Qt::CopyAction;
}

} // namespace

void EDTextView::dragEnterEvent(QDragEnterEvent* event)
{
    // An entering drag is answered as any move over the view.
    dragMoveEvent(event);
}

void EDTextView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!acceptsDrop(event->mimeData())) {
        stopDropAutoscroll();
        event->ignore();
        return;
    }
    event->setDropAction(dropAction(event));
    event->accept();
    updateDropLocation(event->position());
    autoscrollDrop(event->position());
}

void EDTextView::dragLeaveEvent(QDragLeaveEvent* event)
{
    stopDropAutoscroll();
    m_dropLocation.reset();
    setNeedsDisplay();
    event->accept();
}

QRect EDTextView::dropAutoscrollArea() const
{
    // A drag has to stay over the view to drop here, so a band a line wide inside each edge
    // scrolls, narrower in a view too small to leave a middle.
    const QRect all = viewport()->rect();
    const int band = std::clamp(
        int(std::ceil(typingLineHeight())), 1, std::max(1, std::min(all.width(), all.height()) / 4));
    return all.adjusted(band, band, -band, -band);
}

void EDTextView::autoscrollDrop(QPointF viewportPoint)
{
    // Drags send no moves while the pointer rests, so the view keeps scrolling on its own.
    if (dropAutoscrollArea().contains(viewportPoint.toPoint())) {
        stopDropAutoscroll();
        return;
    }
    m_dropAutoscrollPoint = viewportPoint;
    keepAutoscrolling(m_dropAutoscrollTimer, &EDTextView::dropAutoscrollTick);
}

void EDTextView::stopDropAutoscroll()
{
    if (m_dropAutoscrollTimer)
        m_dropAutoscrollTimer->stop();
}

void EDTextView::dropAutoscrollTick()
{
    // A drag that ended without leaving (the view hidden, the drop refused) stops here.
    if (!m_dropLocation || !isVisible()) {
        stopDropAutoscroll();
        return;
    }
    scrollPoint(
        documentVisibleRect().topLeft() + autoscrollStep(m_dropAutoscrollPoint, dropAutoscrollArea()));
    updateDropLocation(m_dropAutoscrollPoint);
}

void EDTextView::dropEvent(QDropEvent* event)
{
    stopDropAutoscroll();
    m_dropLocation.reset();
    setNeedsDisplay();
    if (!acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    layoutIfNeeded();
    const auto location = m_textLayoutManager->caretLocation(viewportToView(event->position()));
    const Qt::DropAction action = dropAction(event);
    if (!location || !performDrop(*event->mimeData(), *location, sourceOf(event), action)) {
        event->ignore();
        return;
    }
    event->setDropAction(action);
    event->accept();
    concludeDragOperation(event);
}

void EDTextView::concludeDragOperation(QDropEvent*)
{
    cleanUpAfterDragOperation();
}

bool EDTextView::performDrop(
    const QMimeData& data, TextLocation location, EDTextView* source, Qt::DropAction action)
{
    if (!m_isEditable)
        return false;
    const auto pasteboard = Pasteboard::reading(data);
    std::optional<AttributedString> text = richTextKeepingLineEnds(*pasteboard);
    if (!text) {
        const auto plain = pasteboard->string(Pasteboard::stringType);
        if (!plain)
            return false;
        text = AttributedString(*plain, typingAttributes(location));
    }
    text = edtextview::pastedText(*text);
    if (!text || text->isEmpty())
        return false;

    const bool moveHere
        = source == this && action == Qt::MoveAction && m_textChanges == sourceTextChangesAtStart;
    std::vector<TextRange> moved = moveHere ? mergedTextRanges(m_draggedRanges) : std::vector<TextRange>();
    // Dropped onto the dragged text itself: nothing moves.
    for (const TextRange& range : moved) {
        if (range.location <= location && location <= range.endLocation)
            return false;
    }
    if (!shouldChangeText(TextRange(location), text->string())
        || (!moved.empty() && !shouldChangeText(moved, QString())))
        return false;

    // Text typed just before stays an undo step of its own, outside the group.
    breakUndoCoalescing();
    platform::UndoManager* undo = undoManager();
    if (undo)
        undo->beginUndoGrouping();
    // A delegate told of a change may set a whole new text: the dragged ranges are not in it.
    const quint64 textsSet = m_textsSet;
    replaceCharacters(TextRange(location), *text, false);
    // The dragged ranges after the insertion move by its length; the removal of those before the
    // drop point moves the dropped text back.
    TextLocation start = location;
    for (auto it = moved.rbegin(); it != moved.rend() && m_textsSet == textsSet; ++it) {
        TextRange range = *it;
        if (range.location >= location)
            range = TextRange(range.location + text->length(), range.endLocation + text->length());
        else
            start -= range.length();
        replaceCharacters(range, AttributedString(), false);
    }
    if (undo)
        undo->endUndoGrouping();
    if (moveHere)
        m_draggedRanges.clear();
    else if (source && source != this && action == Qt::MoveAction)
        movedIntoAnotherView = true;
    if (m_textsSet == textsSet)
        setSelectedTextRange(TextRange(start, start + text->length()));
    return true;
}
