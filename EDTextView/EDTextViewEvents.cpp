#include "EDTextView/EDTextView.h"

#include "EDTextView/EDKeyBindings.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/GraphemeClusters.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleHints>
#include <QTimer>

#include <algorithm>
#include <functional>

using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;
using Modifier = platform::TextSelectionNavigation::Modifier;

namespace {

constexpr int autoscrollIntervalMilliseconds = 50;

// How far around a caret a character drawn beside it is looked for.
constexpr qint64 clusterReach = 64;

// Text a key types: printable characters, not those of a shortcut. Control with Alt is AltGr on
// some keyboards, which types.
bool isTypedText(const QKeyEvent& event)
{
    const QString text = event.text();
    if (text.isEmpty())
        return false;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if ((modifiers & Qt::MetaModifier)
        || ((modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier)))
        return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

class ProcessingKeyEvent {
public:
    explicit ProcessingKeyEvent(bool& flag)
        : m_flag(flag)
        , m_saved(flag)
    {
        flag = true;
    }
    // Restores the value it found, so that a key handled inside another (a nested event loop)
    // leaves the outer one marked.
    ~ProcessingKeyEvent() { m_flag = m_saved; }
    ProcessingKeyEvent(const ProcessingKeyEvent&) = delete;
    ProcessingKeyEvent& operator=(const ProcessingKeyEvent&) = delete;

private:
    bool& m_flag;
    bool m_saved;
};

} // namespace

bool EDTextView::acceptsShortcutOverride(QKeyEvent* event) const
{
    if (const auto binding = EDKeyBindings::binding(*event))
        return (m_isEditable || binding->isMenuKeyEquivalent
                   || binding->command == EDTextViewCommand::cancelOperation)
            && takesKeyFor(binding->command);
    // Alt with a letter is the window's first (a menu's or a button's key): it types only when
    // nothing takes it. AltGr reported as Control with Alt types at once.
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if ((modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier))
        return false;
    return m_isEditable && isTypedText(*event);
}

bool EDTextView::takesKeyFor(EDTextViewCommand command) const
{
    switch (command) {
    case EDTextViewCommand::complete:
    case EDTextViewCommand::cancelOperation:
        // Escape and Ctrl+Space are the view's only while there is a completion to show or hide
        // (Escape also while the find bar shows, which it closes); otherwise they go on to the
        // window (Escape closes a dialog).
        return hasCompletions()
            || (command == EDTextViewCommand::cancelOperation && m_textFinder->isFindBarVisible());
    default:
        return true;
    }
}

void EDTextView::keyPressEvent(QKeyEvent* event)
{
    // The context menu at the caret, as the Menu key gives it, for keyboards that have none.
    if (event->key() == Qt::Key_F10 && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier) {
        const QRect caret = inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const QPoint at = caret.isValid() ? caret.center() : rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, mapToGlobal(at), event->modifiers());
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    const auto binding = EDKeyBindings::binding(*event);
    if (binding && !takesKeyFor(binding->command)) {
        event->ignore();
        return;
    }
    // A key the input method let through ends its composition first, as a click does: an edit
    // made beside provisional text would leave an undo step counted in text that then changes.
    if (binding && binding->command != EDTextViewCommand::cancelOperation)
        commitInputMethodFirst();
    if (binding && binding->isMenuKeyEquivalent) {
        // As from an Edit menu: also in a view that is not editable (the command decides), and
        // never part of a typing run.
        doCommand(binding->command);
        event->accept();
        return;
    }
    if (!m_isEditable) {
        // Escape closes what is open over the text (the find bar) in any view.
        if (binding && binding->command == EDTextViewCommand::cancelOperation) {
            doCommand(binding->command);
            event->accept();
            return;
        }
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    ProcessingKeyEvent processing(m_processingKeyEvent);
    if (!m_cursorHiddenUntilMouseMoves) {
        m_cursorHiddenUntilMouseMoves = true;
        viewport()->setCursor(Qt::BlankCursor);
    }
    if (binding) {
        doCommand(binding->command);
        event->accept();
    } else if (isTypedText(*event)) {
        insertText(event->text(), platform::CharacterRange::notFound());
        event->accept();
    } else {
        event->ignore();
    }
}

void EDTextView::commitInputMethodFirst()
{
    // A click ends a composition: the input method commits what it has, and what it leaves goes,
    // or the next composition would replace it where the caret no longer is.
    if (!m_markedText)
        return;
    QGuiApplication::inputMethod()->commit();
    if (m_markedText) {
        unmarkText();
        QGuiApplication::inputMethod()->reset();
    }
}

void EDTextView::mousePressEvent(QMouseEvent* event)
{
    commitInputMethodFirst();
    if (event->button() == Qt::MiddleButton && pastePrimarySelection(event->position())) {
        event->accept();
        return;
    }
    if (!m_isSelectable || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    // Qt reports double clicks but not triple ones: presses close in time and place make a run.
    const QPointF position = event->position();
    const bool continues = m_lastPressTime.isValid()
        && m_lastPressTime.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval()
        && (position - m_lastPressPosition).manhattanLength()
            < QGuiApplication::styleHints()->startDragDistance();
    m_clickCount = continues ? m_clickCount + 1 : 1;
    m_lastPressTime.start();
    m_lastPressPosition = position;
    m_lastDragPosition = position;
    // A drag whose release went elsewhere must not lend its anchors to this press's drag.
    endMouseDrag();
    m_dragPressSeenByApplication = QGuiApplication::mouseButtons() & Qt::LeftButton;
    if (m_clickCount == 1 && dragSelectedTextMousePressed(event))
        return;
    mouseDown(event, m_clickCount);
}

void EDTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void EDTextView::mouseDown(QMouseEvent* event, int clickCount)
{
    const QPointF point = viewportToView(event->position());
    if (clickCount == 3) {
        selectParagraph(this);
        return;
    }
    if (clickCount == 2) {
        // The word is the one of the character clicked: on its right half the first click left
        // the caret after it, where the space or the next word begins.
        const std::optional<TextRange> caret = selectedTextRange();
        if (caret && caret->isEmpty() && m_textLayoutManager->textSelections().size() == 1) {
            if (const auto under = characterUnderPoint(point, caret->location))
                m_textLayoutManager->setTextSelections({ TextSelection(*under) });
        }
        selectWord(this);
        return;
    }
    if (clickCount != 1) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    platform::TextSelectionNavigation& navigation = m_textLayoutManager->textSelectionNavigation();
    if ((modifiers & Qt::ShiftModifier) && (modifiers & Qt::ControlModifier)) {
        // Another caret, the others kept.
        std::vector<TextSelection> selections = m_textLayoutManager->textSelections();
        for (TextSelection& added : navigation.textSelections(
                 point, 0, {}, 0, false, m_textLayoutManager->usageBoundsForTextContainer()))
            selections.push_back(std::move(added));
        m_textLayoutManager->setTextSelections(std::move(selections));
        updateAfterMouseSelection();
        return;
    }
    const bool extend = modifiers & Qt::ShiftModifier;
    const unsigned navigationModifiers
        = ((modifiers & Qt::AltModifier) ? Modifier::visual : 0u) | (extend ? Modifier::extend : 0u);
    selectAtPoint(point, extend ? m_textLayoutManager->textSelections() : std::vector<TextSelection>(),
        navigationModifiers, false);
    updateAfterMouseSelection();
}

void EDTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_cursorHiddenUntilMouseMoves) {
        m_cursorHiddenUntilMouseMoves = false;
        if (m_isSelectable)
            viewport()->setCursor(Qt::IBeamCursor);
        else
            viewport()->unsetCursor();
    }
    if (!(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    commitInputMethodFirst();
    if (dragSelectedTextMouseMoved(event))
        return;
    const QPointF position = event->position();
    if (!m_isSelectable || position == m_lastDragPosition) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    m_lastDragPosition = position;
    if (!m_mouseDraggingSelectionAnchors)
        m_mouseDraggingSelectionAnchors = m_textLayoutManager->textSelections();
    const std::vector<TextSelection>& anchors = *m_mouseDraggingSelectionAnchors;
    const TextLocation containerLocation = !anchors.empty() && !anchors.front().textRanges.empty()
        ? anchors.front().textRanges.front().location
        : 0;
    const unsigned modifiers
        = Modifier::extend | ((event->modifiers() & Qt::AltModifier) ? Modifier::visual : 0u);
    selectAtPoint(viewportToView(position), anchors, modifiers, true, containerLocation);
    updateAfterMouseSelection();
    autoscroll(position);
}

void EDTextView::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragSelectedTextMouseReleased(event))
        return;
    endMouseDrag();
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void EDTextView::endMouseDrag()
{
    m_mouseDraggingSelectionAnchors.reset();
    if (m_autoscrollTimer)
        m_autoscrollTimer->stop();
}

void EDTextView::selectAtPoint(QPointF viewPoint, const std::vector<TextSelection>& anchors,
    unsigned modifiers, bool selecting, TextLocation containerLocation)
{
    // A drag extends the selection its press made, the last one; carets added before it with
    // Shift+Control stay where they are instead of being swallowed into one selection.
    const bool keepsOthers = selecting && anchors.size() > 1;
    std::vector<TextSelection> selections = m_textLayoutManager->textSelectionNavigation().textSelections(
        viewPoint, containerLocation, keepsOthers ? std::vector<TextSelection> { anchors.back() } : anchors,
        modifiers, selecting, m_textLayoutManager->usageBoundsForTextContainer());
    if (selections.empty())
        return;
    if (keepsOthers)
        selections.insert(selections.begin(), anchors.begin(), anchors.end() - 1);
    // A drag moving within one character, or resting past the text's edge while the view scrolls,
    // changes nothing: setting the same selection again would tell everyone of a change each time.
    if (selecting && selections == m_textLayoutManager->textSelections())
        return;
    m_textLayoutManager->setTextSelections(std::move(selections));
}

void EDTextView::updateAfterMouseSelection()
{
    updateTypingAttributes();
    updateSelectionHighlights();
    setNeedsDisplay();
}

void EDTextView::autoscroll(QPointF viewportPoint)
{
    // While the pointer stays outside, the view keeps scrolling towards it and the selection
    // keeps following, whether or not the mouse moves.
    if (viewport()->rect().contains(viewportPoint.toPoint())) {
        if (m_autoscrollTimer)
            m_autoscrollTimer->stop();
        return;
    }
    m_autoscrollPoint = viewportPoint;
    scrollTowardsAutoscrollPoint();
    keepAutoscrolling(m_autoscrollTimer, &EDTextView::autoscrollTick);
}

void EDTextView::keepAutoscrolling(QTimer*& timer, void (EDTextView::*tick)())
{
    if (!timer) {
        timer = new QTimer(this);
        timer->setInterval(autoscrollIntervalMilliseconds);
        connect(timer, &QTimer::timeout, this, tick);
    }
    if (!timer->isActive())
        timer->start();
}

QPointF EDTextView::autoscrollStep(QPointF point, QRect area) const
{
    const double line = std::max(1.0, typingLineHeight());
    QPointF step(0, 0);
    if (point.y() < area.top())
        step.setY(-std::max(line, area.top() - point.y()));
    else if (point.y() > area.bottom())
        step.setY(std::max(line, point.y() - area.bottom()));
    if (point.x() < area.left())
        step.setX(-std::max(line, area.left() - point.x()));
    else if (point.x() > area.right())
        step.setX(std::max(line, point.x() - area.right()));
    return step;
}

void EDTextView::scrollTowardsAutoscrollPoint()
{
    scrollPoint(documentVisibleRect().topLeft() + autoscrollStep(m_autoscrollPoint, viewport()->rect()));
}

void EDTextView::autoscrollTick()
{
    if (!m_mouseDraggingSelectionAnchors
        || (m_dragPressSeenByApplication && !(QGuiApplication::mouseButtons() & Qt::LeftButton))) {
        endMouseDrag();
        return;
    }
    scrollTowardsAutoscrollPoint();
    layoutIfNeeded();
    const std::vector<TextSelection>& anchors = *m_mouseDraggingSelectionAnchors;
    const TextLocation containerLocation = !anchors.empty() && !anchors.front().textRanges.empty()
        ? anchors.front().textRanges.front().location
        : 0;
    selectAtPoint(viewportToView(m_autoscrollPoint), anchors, Modifier::extend, true, containerLocation);
    updateAfterMouseSelection();
}

QPoint EDTextView::menuViewportPoint(const QContextMenuEvent& event) const
{
    // A click's menu comes through the viewport, in its coordinates; the keyboard's comes to the
    // view itself, at the caret in the view's own, which a ruler or frame sets apart.
    if (event.reason() == QContextMenuEvent::Mouse)
        return event.pos();
    return viewport()->mapFrom(this, event.pos());
}

std::unique_ptr<QMenu> EDTextView::defaultMenu()
{
    auto menu = std::make_unique<QMenu>();
    auto add = [](QMenu* to, const char* title, EDTextViewCommand command, const QKeySequence& shortcut) {
        QAction* action = to->addAction(QCoreApplication::translate("EDTextView", title));
        action->setData(EDTextViewCommands::name(command));
        action->setShortcut(shortcut);
    };
    add(menu.get(), "Cut", EDTextViewCommand::cut, QKeySequence(Qt::CTRL | Qt::Key_X));
    add(menu.get(), "Copy", EDTextViewCommand::copy, QKeySequence(Qt::CTRL | Qt::Key_C));
    add(menu.get(), "Paste", EDTextViewCommand::paste, QKeySequence(Qt::CTRL | Qt::Key_V));
    add(menu.get(), "Paste and Match Style", EDTextViewCommand::pasteAsPlainText,
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_V));
    menu->addSeparator();
    add(menu.get(), "Select All", EDTextViewCommand::selectAll, QKeySequence(Qt::CTRL | Qt::Key_A));
    menu->addSeparator();
    addTextCheckingMenus(*menu);
    QMenu* speech = menu->addMenu(QCoreApplication::translate("EDTextView", "Speech"));
    add(speech, "Start Speaking", EDTextViewCommand::startSpeaking, {});
    add(speech, "Stop Speaking", EDTextViewCommand::stopSpeaking, {});
    return menu;
}

QMenu* EDTextView::menuForEvent(QContextMenuEvent* event)
{
    m_contextMenu = defaultMenu();
    QMenu* menu = m_contextMenu.get();
    prepareMenu(*menu);
    TextLocation location = 0;
    if (event) {
        const QPointF point = viewportToView(menuViewportPoint(*event));
        const auto line = m_textLayoutManager->lineFragmentRange(point, 0);
        if (!line)
            return menu;
        const std::vector<TextSelection> clicked
            = m_textLayoutManager->textSelectionNavigation().textSelections(
                point, line->location, {}, 0, false, m_textLayoutManager->usageBoundsForTextContainer());
        if (clicked.empty() || clicked.front().textRanges.empty())
            return menu;
        location = clicked.front().textRanges.front().location;
    } else if (const std::optional<TextRange> selected = selectedTextRange()) {
        // Asked without an event, the menu is the one for the selection's place, as from the keyboard.
        location = selected->location;
    }
    platform::CharacterRange effective { 0, 0 };
    m_checkingMenu = textCheckingMenu(location, &effective);
    if (m_checkingMenu && !m_checkingMenu->actions().isEmpty()) {
        const QList<QAction*> items = m_checkingMenu->actions();
        QAction* first = menu->actions().value(0);
        menu->insertActions(first, items);
        menu->insertSeparator(first);
    }
    delete m_menuEndSeparator.data();
    QMenu* answer = m_delegateProxy->textViewMenu(*this, menu, event, location);
    if (!answer)
        return nullptr;
    m_menuEndSeparator = answer->addSeparator();
    return answer;
}

std::optional<TextLocation> EDTextView::characterUnderPoint(QPointF viewPoint, TextLocation caret)
{
    // The character drawn under the point is one of the two beside the nearest caret: whole
    // clusters, as a joined emoji is drawn as one.
    const qint64 length = m_textContentStorage->length();
    const TextLocation windowStart = std::max<qint64>(0, caret - clusterReach);
    const QString near
        = m_textContentStorage->substring(TextRange(windowStart, std::min(length, caret + clusterReach)));
    platform::GraphemeFinder finder(near);
    finder.setPosition(caret - windowStart);
    const qsizetype before = finder.toPreviousBoundary();
    finder.setPosition(caret - windowStart);
    const qsizetype after = finder.toNextBoundary();
    for (const TextRange candidate : { TextRange(before < 0 ? caret : windowStart + before, caret),
             TextRange(caret, after < 0 ? caret : windowStart + after) }) {
        const TextRange character = edtextview::wholeCharacters(candidate, *m_textContentStorage);
        if (character.isEmpty())
            continue;
        bool hit = false;
        m_textLayoutManager->enumerateTextSegments(character,
            platform::TextLayoutManager::SegmentType::selection,
            platform::TextLayoutManager::rangeNotRequired,
            [&](std::optional<TextRange>, QRectF frame, double) {
                hit = frame.contains(viewPoint);
                return !hit;
            });
        if (hit)
            return character.location;
    }
    return std::nullopt;
}

void EDTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = menuForEvent(event);
    if (!menu)
        return;
    // A right click into text with only carets selects the word under the pointer; a selected
    // range stays. Past a line's end, below the text or on spaces there is no word under it: the
    // caret goes there, so that Paste inserts where the click was instead of replacing a word.
    if (event->reason() == QContextMenuEvent::Mouse && m_isSelectable
        && edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true).empty()) {
        const bool extend = event->modifiers() & Qt::ShiftModifier;
        const QPointF point = viewportToView(menuViewportPoint(*event));
        selectAtPoint(point, extend ? m_textLayoutManager->textSelections() : std::vector<TextSelection>(),
            extend ? unsigned(Modifier::extend) : 0u, false);
        updateAfterMouseSelection();
        const std::optional<TextRange> caret = selectedTextRange();
        const auto under = !extend && caret && caret->isEmpty() ? characterUnderPoint(point, caret->location)
                                                                : std::nullopt;
        if (under && !m_textContentStorage->substring(TextRange(*under, *under + 1)).trimmed().isEmpty()) {
            // The word is the one of the character clicked, not the one after the caret beside it.
            m_textLayoutManager->setTextSelections({ TextSelection(*under) });
            selectWord(this);
        } else if (extend) {
            selectWord(this);
        }
    }
    QPoint at = event->globalPos();
    if (event->reason() != QContextMenuEvent::Mouse) {
        // At the caret, or at the nearest edge of the text shown when it is scrolled out of sight,
        // not somewhere across the screen.
        const QRect shown(viewport()->mapToGlobal(QPoint(0, 0)), viewport()->size());
        at = QPoint(
            std::clamp(at.x(), shown.left(), shown.right()), std::clamp(at.y(), shown.top(), shown.bottom()));
    }
    menu->exec(at);
}
