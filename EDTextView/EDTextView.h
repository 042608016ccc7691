#pragma once

#include "EDCompletion/EDCompletionWindowController.h"
#include "EDTextView/EDInsertionPointView.h"
#include "EDTextView/EDPlugin.h"
#include "EDTextView/EDTextViewCommandList.h"
#include "EDTextView/EDTextViewDelegate.h"
#include "EDTextView/TextCheckingController.h"
#include "platform/text/AttributedString.h"
#include "platform/text/TextAttributes.h"
#include "platform/text/TextContainer.h"
#include "platform/text/TextRange.h"
#include "platform/text/TextSelection.h"
#include "platform/text/TextSelectionNavigation.h"
#include "platform/text/TextViewportLayoutController.h"
#include "platform/ui/RulerClient.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QElapsedTimer>
#include <QEvent>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QRegion>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class CoalescingUndoManager;
class EDFontManager;
class EDTextContentStorage;
class EDTextFinder;
class EDTextFinderClient;
class EDTextLayoutManager;
class QDrag;
class QMenu;
class QMimeData;
class QTimer;

namespace edtextview {
class PrimarySelectionOffer;
}

namespace platform {
class Pasteboard;
class SpeechSynthesizer;
class TextBlocks;
class TextLayoutFragment;
class UndoManager;
} // namespace platform

// The editable text view: a scroll area that lays out and draws only the text in its viewport, on
// the text layer (platform/text). Every change of the text goes through one editing core, with
// coalesced typing undo, will- and did-change notifications, and the delegate's and plug-ins'
// hooks; the selection is the layout manager's and may hold several carets and ranges.
//
// The scroll area stands for the enclosing scroll view: the view's frame is the size of the laid-out
// text (container coordinates, y down), of which the viewport shows `documentVisibleRect`.
//
// The implementation is split by area: EDTextView.cpp (object and properties), ...Editing.cpp
// (editing core), ...Undo.cpp, ...Attributes.cpp (attribute edits and whole-text replacement),
// ...Layout.cpp and ...Drawing.cpp, ...Input.cpp (input methods and marked text), ...Events.cpp
// (keys, mouse, context menu), ...Selection.cpp (selection, movement and scrolling commands),
// ...InsertionPoint.cpp, ...Plugins.cpp (delegate proxy and plug-ins), ...Commands.cpp (the table of
// command names; the commands themselves are listed in EDTextViewCommandList.h),
// ...TypingCommands.cpp (insert, delete and yank commands), ...EditingCommands.cpp (case and
// completion), ...Pasteboard.cpp (clipboard and services), ...Drag.cpp (dragging text out and
// dropping it in), ...FontPanel.cpp (font and colour dialogs), ...TextChecking.cpp (spelling and
// grammar: settings, commands and the checking controller's client), ...Validation.cpp (menu
// items), ...Accessibility.cpp (what screen readers are told), ...Speech.cpp (speaking the text),
// ...Find.cpp (find commands, the find bar's place and the highlights of matches).
// Everything runs on the main thread.
class EDTextView : public QAbstractScrollArea,
                   public EDCompletionWindowDelegate,
                   private platform::TextViewportLayoutControllerDelegate,
                   public platform::RulerClient,
                   public TextCheckingClient {
    Q_OBJECT
public:
    // The provisional text of an input method while it composes, kept in the document.
    class MarkedText {
    public:
        platform::AttributedString markedText;
        platform::CharacterRange markedRange;
        // The input method's selection inside the marked text, in document offsets.
        platform::CharacterRange selectedRange;
        QString debugDescription() const;
    };

    // A command a key, a menu or another view sends by name ("moveLeft:"); the sender may be null.
    using Command = void (EDTextView::*)(QObject* sender);

    struct PluginEntry {
        std::shared_ptr<EDPlugin> plugin;
        // None until the plug-in is set up, when the view moves into a window.
        std::shared_ptr<EDPluginEvents> events;
    };

    // One laid-out fragment in the viewport and its pixel-aligned frame.
    struct FragmentView {
        std::shared_ptr<platform::TextLayoutFragment> fragment;
        QRectF frame;
    };

    // Posted on the default notification center with the view as sender.
    static inline const QString textWillChangeNotification = QStringLiteral("NSTextWillChangeNotification");
    static inline const QString textDidChangeNotification = QStringLiteral("NSTextDidChangeNotification");
    // Posted with the layout manager as sender on every assignment of the selections, then again
    // with the view as sender.
    static inline const QString didChangeSelectionNotification
        = QStringLiteral("NSTextViewDidChangeSelectionNotification");
    static inline const QString didBeginEditingNotification
        = QStringLiteral("NSTextDidBeginEditingNotification");
    static inline const QString didEndEditingNotification = QStringLiteral("NSTextDidEndEditingNotification");

    explicit EDTextView(QWidget* parent = nullptr);
    ~EDTextView() override;

    // A text view in a scroll area of the given geometry (the view is its own scroll area).
    static EDTextView* scrollableTextView(const QRect& frame, QWidget* parent = nullptr);

    // Object and properties (EDTextView.cpp).
    bool isEditable() const { return m_isEditable; }
    // An editable view is selectable too.
    void setIsEditable(bool editable);
    bool isSelectable() const { return m_isSelectable; }
    // A view that is not selectable is not editable either.
    void setIsSelectable(bool selectable);
    bool isRichText() const { return true; }
    bool isFieldEditor() const { return false; }
    bool importsGraphics() const { return false; }
    bool isFirstResponder() const { return m_isFirstResponder; }
    // Editable, first responder, and in the active window.
    bool shouldDrawInsertionPoint() const;
    QColor insertionPointColor() const;
    void setInsertionPointColor(const QColor& color);

    // The font of the first character, or the typing font in an empty document.
    std::optional<QFont> font() const;
    // Sets the font of the whole text and of typing.
    void setFont(const QFont& font);
    void setFont(const QFont& font, platform::CharacterRange range);
    // The typing colour; the palette's text colour of the moment while typing is in the default
    // colour (EDDefaultTextColor).
    std::optional<QColor> textColor() const;
    // The typing colour only; the text keeps its colours. None removes it.
    void setTextColor(const std::optional<QColor>& color);
    void setTextColor(const std::optional<QColor>& color, platform::CharacterRange range);
    std::optional<platform::ParagraphStyle> defaultParagraphStyle() const { return m_defaultParagraphStyle; }
    void setDefaultParagraphStyle(const std::optional<platform::ParagraphStyle>& style);
    const platform::TextAttributes& typingAttributes() const { return m_typingAttributes; }
    // Stores the attributes with the defaults added where they have no entry.
    void setTypingAttributes(const platform::TextAttributes& attributes);
    // The paragraph style, the system font and the default text colour, which follows the palette
    // (EDDefaultTextColor).
    platform::TextAttributes defaultTypingAttributes() const;
    // Takes the typing attributes from `location`, or from the start of the first selection.
    void updateTypingAttributes(std::optional<platform::TextLocation> location = std::nullopt);
    // The attributes of the character before `location` (of the first character at the document
    // start), with the defaults added; the current typing attributes in an empty document.
    platform::TextAttributes typingAttributes(platform::TextLocation location) const;
    double typingLineHeight() const;

    QString string() const;
    // Replaces the whole text (without undo) and puts the caret back where it was, within the new
    // text.
    void setString(const QString& string);
    platform::AttributedString attributedString() const;
    void setAttributedString(const platform::AttributedString& text);

    // True: the text container follows the view's width, so lines wrap (the default).
    bool widthTracksTextView() const;
    void setWidthTracksTextView(bool tracks);
    bool heightTracksTextView() const;
    void setHeightTracksTextView(bool tracks);
    // The same flags, in the same sense.
    bool isHorizontallyResizable() const { return widthTracksTextView(); }
    void setIsHorizontallyResizable(bool resizable) { setWidthTracksTextView(resizable); }
    bool isVerticallyResizable() const { return heightTracksTextView(); }
    void setIsVerticallyResizable(bool resizable) { setHeightTracksTextView(resizable); }

    bool highlightSelectedLine() const { return m_highlightSelectedLine; }
    void setHighlightSelectedLine(bool highlight);
    // Until one is set, made from the palette and following it.
    QColor selectedLineHighlightColor() const;
    bool hasOwnSelectedLineHighlightColor() const { return m_selectedLineHighlightColor.has_value(); }
    void setSelectedLineHighlightColor(const QColor& color);
    QColor selectionBackgroundColor() const;
    void setSelectionBackgroundColor(const QColor& color);
    std::optional<QColor> backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const std::optional<QColor>& color);
    bool allowsDocumentBackgroundColorChange() const { return m_allowsDocumentBackgroundColorChange; }
    void setAllowsDocumentBackgroundColorChange(bool allows)
    {
        m_allowsDocumentBackgroundColorChange = allows;
    }
    void changeDocumentBackgroundColor(const QColor& color);
    std::optional<QString> contentType() const { return m_contentType; }
    void setContentType(const std::optional<QString>& type) { m_contentType = type; }

    bool allowsUndo() const { return m_allowsUndo; }
    void setAllowsUndo(bool allows) { m_allowsUndo = allows; }
    // None when undo is not allowed; else the delegate's, else the view's own.
    platform::UndoManager* undoManager() const;

    const platform::TextAttributes& markedTextAttributes() const { return m_markedTextAttributes; }
    void setMarkedTextAttributes(const platform::TextAttributes& attributes)
    {
        m_markedTextAttributes = attributes;
    }
    const std::optional<MarkedText>& markedText() const { return m_markedText; }
    // True while a key event (or an input method's commit) is being handled.
    bool processingKeyEvent() const { return m_processingKeyEvent; }

    EDTextLayoutManager& textLayoutManager() const { return *m_textLayoutManager; }
    EDTextContentStorage& textContentStorage() const { return *m_textContentStorage; }
    const platform::TextContainer& textContainer() const;

    // Made on first use; one handed to the view (which then owns it) replaces it, so that speech
    // may play somewhere else than the default audio device.
    platform::SpeechSynthesizer& speechSynthesizer();
    void setSpeechSynthesizer(std::unique_ptr<platform::SpeechSynthesizer> synthesizer);
    EDTextFinderClient& textFinderClient() const { return *m_textFinderClient; }

    // Find (EDTextViewFind.cpp). The finder serves this view through its client once the view is
    // in a window; its find bar docks at the top of this scroll area. Incremental searching is the
    // finder's setting.
    EDTextFinder& textFinder() const { return *m_textFinder; }
    bool isIncrementalSearchingEnabled() const;
    void setIsIncrementalSearchingEnabled(bool enabled);
    // Places the find bar above the viewport (the viewport's top margin is the bar's height), or
    // gives the margin back when the bar is hidden.
    void tileFindBar();

    bool isContinuousSpellCheckingEnabled() const { return m_isContinuousSpellCheckingEnabled; }
    // Checking starts over for what is on (EDTextViewTextChecking.cpp).
    void setIsContinuousSpellCheckingEnabled(bool enabled);
    bool isGrammarCheckingEnabled() const { return m_isGrammarCheckingEnabled; }
    void setIsGrammarCheckingEnabled(bool enabled);
    // Until set, these read the spell checker's settings once.
    bool isAutomaticTextCompletionEnabled() const;
    void setIsAutomaticTextCompletionEnabled(bool enabled) { m_automaticTextCompletion = enabled; }
    bool isAutomaticSpellingCorrectionEnabled() const;
    void setIsAutomaticSpellingCorrectionEnabled(bool enabled) { m_automaticSpellingCorrection = enabled; }
    bool isAutomaticTextReplacementEnabled() const;
    void setIsAutomaticTextReplacementEnabled(bool enabled) { m_automaticTextReplacement = enabled; }
    bool isAutomaticQuoteSubstitutionEnabled() const;
    void setIsAutomaticQuoteSubstitutionEnabled(bool enabled) { m_automaticQuoteSubstitution = enabled; }

    bool showsInvisibleCharacters() const { return m_showsInvisibleCharacters; }
    void setShowsInvisibleCharacters(bool shows);
    bool usesFontPanel() const { return m_usesFontPanel; }
    void setUsesFontPanel(bool uses) { m_usesFontPanel = uses; }
    bool usesRuler() const { return m_usesRuler; }
    void setUsesRuler(bool uses) { m_usesRuler = uses; }

    // The ruler beside the text, in the area's left margin (its width is its size hint's, read
    // again whenever it asks for a new geometry). It is told to rebuild after every viewport
    // layout when it implements EDVerticalRuler. None removes the ruler.
    void setVerticalRulerView(QWidget* ruler);
    QWidget* verticalRulerView() const { return m_verticalRuler; }

    // Ruler client and line numbers (EDTextViewRuler.cpp). The view is its own scroll view: its
    // vertical ruler is RulerView::verticalRuler(*this). Showing the ruler of a view that has none
    // gives it a line-number ruler (EDLineNumberRulerView) first.
    bool isRulerVisible() const;
    void setIsRulerVisible(bool visible);
    bool rulerViewShouldAddMarker(platform::RulerView& ruler, platform::RulerMarker& marker) override;
    double rulerViewWillAddMarker(
        platform::RulerView& ruler, platform::RulerMarker& marker, double location) override;
    void rulerViewDidAddMarker(platform::RulerView& ruler, platform::RulerMarker& marker) override;
    void rulerViewDidRemoveMarker(platform::RulerView& ruler, platform::RulerMarker& marker) override;
    // The bottom of the paragraph at the point, raised by half the typing line spacing's extra.
    double rulerViewLocationForPoint(platform::RulerView& ruler, QPointF point) override;
    // Toggles the markers of the clicked paragraph's first row.
    void rulerViewHandleMouseDown(platform::RulerView& ruler, QMouseEvent& event) override;

    // Delegate and plug-ins (EDTextViewPlugins.cpp).
    std::shared_ptr<EDTextViewDelegate> delegate() const { return m_delegateProxy->source.lock(); }
    void setDelegate(const std::shared_ptr<EDTextViewDelegate>& delegate)
    {
        m_delegateProxy->source = delegate;
    }
    EDTextViewDelegateProxy& delegateProxy() const { return *m_delegateProxy; }
    // Set up when the view next moves into a window.
    void addPlugin(std::shared_ptr<EDPlugin> plugin);
    const std::vector<PluginEntry>& plugins() const { return m_plugins; }

    // Editing core (EDTextViewEditing.cpp). Every change of the text goes through the first
    // operation; callers editing for the user ask `shouldChangeText` first.
    void replaceCharacters(platform::TextRange range, const platform::AttributedString& replacement,
        bool allowsTypingCoalescing);
    // With the typing attributes, not coalescing.
    void replaceCharacters(platform::TextRange range, const QString& string);
    // A user edit through the find client.
    void replaceCharacters(platform::CharacterRange range, const QString& string);
    // Replaces every range (overlapping ones merged) with one string, the last in the document
    // first, each as a typing edit.
    void replaceCharacters(
        const std::vector<platform::TextRange>& ranges, const QString& string, bool useTypingAttributes);
    // The same with formatted text; at several ranges the edit is one undo step.
    void replaceCharacters(
        const std::vector<platform::TextRange>& ranges, const platform::AttributedString& replacement);
    // False when the view is not editable, the delegate refuses, or a plug-in does.
    bool shouldChangeText(platform::TextRange range, const std::optional<QString>& replacement);
    bool shouldChangeText(
        const std::vector<platform::TextRange>& ranges, const std::optional<QString>& replacement);
    void willChangeText();
    void didChangeText();
    // Told after every edit with the range of the new text (EDTextViewTextChecking.cpp).
    void textCheckingDidChangeText(platform::CharacterRange range);
    // The spelling and grammar items for a click on the character at `index`, to go first in the
    // context menu; none when there are none.
    std::shared_ptr<QMenu> textCheckingMenu(qint64 index, platform::CharacterRange* effectiveRange);

    // Text checking (EDTextViewTextChecking.cpp). The controller is made with the view and checks
    // what the traits below ask for; its annotations are rendering attributes of the layout
    // manager, drawn and never part of the text. The view answers the controller as its client.
    TextCheckingController& textCheckingController() const { return *m_textCheckingController; }
    platform::SpellChecker::DocumentTag spellCheckerDocumentTag() const;
    void checkTextIn(
        platform::CharacterRange range, platform::TextCheckingTypes types, const QVariantHash& options);
    void considerTextCheckingFor(platform::CharacterRange range);
    // Traits: getters answer `yes` or `no` from the flags; setters turn a flag on for `yes` only.
    TextInputTraitType spellCheckingType() const override;
    void setSpellCheckingType(TextInputTraitType type);
    TextInputTraitType grammarCheckingType() const override;
    void setGrammarCheckingType(TextInputTraitType type);
    TextInputTraitType autocorrectionType() const override;
    void setAutocorrectionType(TextInputTraitType type);
    TextInputTraitType textCompletionType() const override;
    void setTextCompletionType(TextInputTraitType type);
    TextInputTraitType textReplacementType() const override;
    void setTextReplacementType(TextInputTraitType type);
    TextInputTraitType smartQuotesType() const override;
    void setSmartQuotesType(TextInputTraitType type);
    // The paragraphs a range touches: the range clamped into the text, grown to the whole
    // paragraph of its end (and of its start when that is the same). {notFound, 0} is the whole
    // text; none for another range starting at notFound.
    std::optional<platform::CharacterRange> checkingRange(platform::CharacterRange proposed) const;
    // The controller's client.
    std::optional<platform::AttributedString> annotatedSubstring(
        platform::CharacterRange proposed, platform::CharacterRange* actual) override;
    // Replaces the annotations of the keys the controller knows over the range; nothing for an
    // empty range.
    void setAnnotations(const QHash<QString, QString>& annotations, platform::CharacterRange range) override;
    void addAnnotations(const QHash<QString, QString>& annotations, platform::CharacterRange range) override;
    void removeAnnotation(const QString& key, platform::CharacterRange range) override;
    void replaceCharacters(platform::CharacterRange range, const platform::AttributedString& text) override;
    // The range clamped into the text.
    void selectAndShowRange(platform::CharacterRange range) override;
    QWidget* viewForRange(
        platform::CharacterRange range, QRect* firstRect, platform::CharacterRange* actual) override;
    qint64 textLength() const override;
    void addAnnotation(const QString& key, const QString& value,
        const std::vector<platform::CharacterRange>& ranges) override;
    QString annotationAt(
        const QString& key, qint64 location, platform::CharacterRange* run = nullptr) const override;
    QString plainSubstring(platform::CharacterRange range) const override;
    platform::CharacterRange checkingSelectedRange() const override { return selectedRange(); }
    bool checkingAllowsEdits() const override { return m_isEditable; }
    bool checkingEditWasTyped() const override { return m_processingKeyEvent; }
    bool checkingEditIsProvisional() const override { return m_inputMethodEditing; }
    // The "Spelling and Grammar" and "Substitutions" submenus of the default menu.
    static void addTextCheckingMenus(QMenu& menu);

    // Menu validation (EDTextViewValidation.cpp). Whether an item that names a command of the view
    // (in its data, as "copy:") may be used now; on the way it keeps the titles of Undo and Redo
    // and the check marks of the checking toggles current. An item naming no command is enabled.
    bool validateUserInterfaceItem(QAction& item);
    bool validateMenuItem(QAction& item) { return validateUserInterfaceItem(item); }
    // Makes every item of the menu and its submenus that names a command run it (with the item as
    // sender), and validates the items each time a menu shows.
    void prepareMenu(QMenu& menu);

    // Undo (EDTextViewUndo.cpp).
    void breakUndoCoalescing();
    bool isCoalescing() const;

    // Attribute edits and whole-text replacement (EDTextViewAttributes.cpp). Attribute edits make
    // no undo step and post no notification. Whole-text replacement clears undo.
    void setText(const QString& text);
    void setText(const platform::AttributedString& text);
    void setText(std::nullopt_t);
    // A text handed over in blocks (a file's UTF-8 decoded straight into them), in the typing
    // attributes; the view keeps no other copy of it.
    void setText(platform::TextBlocks&& text);
    void addAttributes(
        const platform::TextAttributes& attributes, platform::CharacterRange range, bool updateLayout);
    void addAttributes(
        const platform::TextAttributes& attributes, platform::TextRange range, bool updateLayout);
    void setAttributes(
        const platform::TextAttributes& attributes, platform::CharacterRange range, bool updateLayout);
    void setAttributes(
        const platform::TextAttributes& attributes, platform::TextRange range, bool updateLayout);
    void removeAttribute(const QString& key, platform::CharacterRange range, bool updateLayout);
    void removeAttribute(const QString& key, platform::TextRange range, bool updateLayout);

    // Layout (EDTextViewLayout.cpp).
    void setNeedsLayout();
    // A layout pass that repaints only what it changes (paragraphs placed anew or moved, selection
    // highlights, carets, the selected-line band); setNeedsLayout repaints the whole viewport too.
    void requestLayoutPass();
    // A layout pass after an edit of the text now in `edited`: the pass repaints the paragraphs it
    // touched and those that moved.
    void setNeedsLayoutForEdit(platform::TextRange edited);
    void layoutIfNeeded();
    void updateTextContainerSize();
    void sizeToFit();
    void updateSelectionHighlights();
    void adjustViewportOffsetIfNeeded();
    QSizeF frameSize() const { return m_frameSize; }
    QRectF bounds() const { return QRectF(QPointF(0, 0), m_frameSize); }
    // The part of the view's frame the viewport shows.
    QRectF documentVisibleRect() const;
    void scrollPoint(QPointF point);
    void scrollRectToVisible(const QRectF& rect);
    void scrollRangeToVisible(platform::CharacterRange range);
    void scrollTextRangeToVisible(platform::TextRange range);
    const std::vector<FragmentView>& fragmentViews() const { return m_fragmentViews; }
    const std::vector<QRectF>& selectionHighlightRects() const { return m_selectionHighlights; }
    // The band behind the caret's line, when one is drawn (view coordinates).
    std::optional<QRectF> selectedLineHighlightRect(const QRectF& dirty) const;
    // Maps between the viewport's coordinates and the view's.
    QPointF viewportToView(QPointF point) const;
    QPointF viewToViewport(QPointF point) const;

    // Input client (EDTextViewInput.cpp). Ranges count UTF-16 units from the document start.
    void insertText(const QString& string, platform::CharacterRange replacementRange);
    void insertText(const platform::AttributedString& string, platform::CharacterRange replacementRange);
    void setMarkedText(const QString& string, platform::CharacterRange selectedRange,
        platform::CharacterRange replacementRange);
    void setMarkedText(const platform::AttributedString& string, platform::CharacterRange selectedRange,
        platform::CharacterRange replacementRange);
    void unmarkText();
    bool hasMarkedText() const { return m_markedText.has_value(); }
    platform::CharacterRange markedRange() const;
    // The last range of the last selection.
    platform::CharacterRange selectedRange() const;
    std::optional<platform::AttributedString> attributedSubstring(
        platform::CharacterRange proposed, platform::CharacterRange* actual = nullptr) const;
    QStringList validAttributesForMarkedText() const { return {}; }
    // In global (screen) coordinates; an empty rectangle when the range has no text.
    QRect firstRect(platform::CharacterRange range) const;
    // From a global (screen) point; `notFoundLocation` when no text is there.
    qint64 characterIndex(QPoint globalPoint) const;

    // Selection (EDTextViewSelection.cpp).
    void setSelectedTextRange(platform::TextRange range, bool updateLayout = true);
    void setSelectedRange(platform::CharacterRange range);
    std::optional<platform::TextRange> selectedTextRange() const;

    // Accessibility (EDTextViewAccessibility.cpp): what the view tells assistive technologies, in
    // its own terms; EDTextViewAccessible hands it to them through QAccessible. Ranges count UTF-16
    // units from the document start.
    bool isAccessibilityElement() const { return true; }
    // Editable or selectable.
    bool isAccessibilityEnabled() const { return m_isEditable || m_isSelectable; }
    // "Text Editor", translatable.
    static QString accessibilityLabel();
    QString accessibilityValue() const;
    // A string replaces the whole text as one undoable edit, when the view may be edited and the
    // delegate agrees; any other value is ignored.
    void setAccessibilityValue(const QVariant& value);
    std::optional<platform::AttributedString> accessibilityAttributedString(
        platform::CharacterRange range) const;
    std::optional<QString> accessibilityString(platform::CharacterRange range) const;
    // The text the viewport lays out; empty when nothing is laid out.
    platform::CharacterRange accessibilityVisibleCharacterRange() const;
    // Characters as a reader perceives them (grapheme clusters): a letter with a combining accent
    // counts one. Linear in the length of the text.
    qint64 accessibilityNumberOfCharacters() const;
    // The selected ranges' text in document order, a line break between two; empty with only carets.
    QString accessibilitySelectedText() const;
    platform::CharacterRange accessibilitySelectedTextRange() const { return selectedRange(); }
    // A range outside the text leaves the selection as it is.
    void setAccessibilitySelectedTextRange(platform::CharacterRange range);

    // Insertion point (EDTextViewInsertionPoint.cpp).
    void updateInsertionPointViews();
    const std::vector<EDInsertionPointView>& insertionPointViews() const { return m_insertionPointViews; }

    // Completion (EDTextViewEditingCommands.cpp): the pop-up, made on first use from the
    // delegate's view controller and kept for the view's life.
    EDCompletionWindowController& completionWindowController();
    // Whether `complete:` would show or hide a pop-up now: it is shown, or the delegate has items
    // at the first caret.
    bool hasCompletions() const;
    // The pop-up tells the delegate of the item the user chose.
    void completionWindowController(EDCompletionWindowController& controller,
        const std::shared_ptr<EDCompletionItem>& item, EDTextMovement movement) override;

    // Pasteboard and services (EDTextViewPasteboard.cpp). The view reads and writes plain text
    // and RTF under the types platform::Pasteboard names.
    static QStringList readablePasteboardTypes();
    static QStringList writablePasteboardTypes();
    // Every selected range's text in document order, a line break between two.
    platform::AttributedString selectedAttributedText() const;
    platform::AttributedString attributedStringJoiningRanges(
        const std::vector<platform::TextRange>& ranges) const;
    // Writes the selected text under each of `types` it knows; false, and the pasteboard left as
    // it was, when there is no selected text or no known type.
    bool writeSelectionToPasteboard(platform::Pasteboard& pasteboard, const QStringList& types);
    // Replaces every selected range with the pasteboard's data of `type` (RTF read with nothing it
    // names opened or fetched), when the view may be edited and the delegate agrees.
    bool readSelectionFromPasteboard(const platform::Pasteboard& pasteboard, const QString& type);
    // Who serves a request to send the selection somewhere (`sendType`) and take back a result
    // (`returnType`): this view when it can, else none.
    EDTextView* validRequestor(
        const std::optional<QString>& sendType, const std::optional<QString>& returnType);
    // Where the desktop has a primary selection, the selected text is offered there as it changes,
    // and a middle click pastes it at the click (`pastePrimarySelection`, viewport coordinates);
    // false when nothing was pasted.
    bool pastePrimarySelection(QPointF viewportPoint);

    // Dragging (EDTextViewDrag.cpp). A drag of the selected text offers it as plain text and RTF;
    // dropped inside this program it moves, elsewhere it is copied.
    QDrag* draggingSession() const;
    // The picture a drag of `range` shows: its text as laid out, clear outside the range, with
    // where it stands in the view (view coordinates). None for a range with no laid-out text.
    std::optional<std::pair<QImage, QRectF>> dragImage(platform::TextRange range);
    // Where a drop at a viewport point would insert, while a drag hovers over the view.
    std::optional<platform::TextLocation> dropLocation() const { return m_dropLocation; }

    // Fonts and colours (EDTextViewFontPanel.cpp). Both change attributes only: the caret's
    // typing attributes, or the selected text.
    void changeFont(const EDFontManager& sender);
    // Face, size and collection: a change of the dialog's effects (strikeout, underline) is not
    // taken over by `changeFont`.
    static int validModesForFontPanel() { return 7; }
    void changeColor(const QColor& color);

    // Commands (EDTextViewCommands.cpp). The list of them is EDTextViewCommandList.h: each is a
    // member taking its sender (which may be null) and has a name ("moveLeft:"). Runs the command
    // of that name; false, and nothing done, for a name the view does not know.
    bool doCommandBySelector(const QString& name);
    void doCommand(EDTextViewCommand command);
    static const QHash<QString, Command>& commandTable();
    static Command member(EDTextViewCommand command);

#define ED_DECLARE_COMMAND(member) void member(QObject* sender = nullptr);
#define ED_DECLARE_MOVE(member, direction, destination)                                                      \
    void member(QObject* sender = nullptr);                                                                  \
    void member##AndModifySelection(QObject* sender = nullptr);
    ED_TEXT_VIEW_COMMANDS(ED_DECLARE_COMMAND, ED_DECLARE_MOVE)
#undef ED_DECLARE_COMMAND
#undef ED_DECLARE_MOVE

    // The context menu a view without a delegate's changes would show: Cut, Copy, Paste, Paste
    // and Match Style, Select All, and Speech (Start Speaking, Stop Speaking).
    static std::unique_ptr<QMenu> defaultMenu();
    // The menu for a context-menu event (its position in viewport coordinates; none stands for the
    // selection's place, and the delegate then gets no event), built once:
    // spelling items, the view's items, then the delegate's and plug-ins' changes. None when the
    // delegate gives none. The view keeps the menu until the next one is built, unless the delegate
    // answered a menu of its own.
    QMenu* menuForEvent(QContextMenuEvent* event);

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Called when the view has moved into a (new) window: sets every plug-in up again.
    virtual void viewDidMoveToWindow();
    // Called when a drag of the view's text has ended, and after a drop into the view; nothing
    // by default.
    virtual void cleanUpAfterDragOperation()
    {
    }
    // After a drop into the view has been handled.
    virtual void concludeDragOperation(QDropEvent* event);
    // Runs a drag of the selection until it ends (the desktop's drag loop).
    virtual Qt::DropAction executeDrag(QDrag& drag);
    // A left-button press, move or release is offered to dragging the selected text first
    // (EDTextViewDrag.cpp); true takes it.
    bool dragSelectedTextMousePressed(QMouseEvent* event);
    bool dragSelectedTextMouseMoved(QMouseEvent* event);
    bool dragSelectedTextMouseReleased(QMouseEvent* event);

private:
    friend class EDTextViewDelegateProxy;

    // Viewport layout (EDTextViewLayout.cpp).
    QRectF viewportBounds(platform::TextViewportLayoutController& controller) override;
    void willLayout(platform::TextViewportLayoutController& controller) override;
    void configureRenderingSurface(platform::TextViewportLayoutController& controller,
        const std::shared_ptr<platform::TextLayoutFragment>& fragment) override;
    void didLayout(platform::TextViewportLayoutController& controller) override;
    void layout();
    bool fragmentViewsFollowHeights() const;
    // The row at the top of the view and how far into it the view starts: what a change of width,
    // which estimates every height above again, must leave where it was.
    struct TopAnchor {
        platform::TextLocation location = 0;
        double offset = 0;
        // A caret in view stays in view, as the rows below the anchor change too.
        bool caretShown = false;
    };
    std::optional<TopAnchor> topAnchor();
    void scrollToTopAnchor(TopAnchor anchor);
    void setFrameSize(QSizeF size);
    void updateScrollBars();
    void tileRuler();
    void adjustViewportOffset();
    // The characters of the rows in the viewport (finer than the viewport's fragments, so that a
    // very long paragraph costs only what shows).
    std::optional<platform::TextRange> visibleCharacterRange() const;
    // The rectangle to scroll to for a range: a caret widened by the padding; for a range over
    // several rows, its moving end, on the row its affinity names.
    std::optional<QRectF> scrollTargetRect(
        platform::TextRange range, bool movingEndIsEnd, platform::TextSelection::Affinity movingEndAffinity);

    // Drawing (EDTextViewDrawing.cpp).
    void drawSelectedLineHighlight(QPainter& painter, const QRectF& dirty) const;
    // `visible`: the text in view, when known.
    void drawSpellingMarks(QPainter& painter, const FragmentView& view, const QRectF& dirty,
        const std::optional<platform::TextRange>& visible) const;
    // Under the text: the matches the finder marked (EDTextViewFind.cpp).
    void drawFindHighlights(QPainter& painter, const QRectF& dirty);
    QColor resolvedSelectionColor() const;
    void setNeedsDisplay();
    void setNeedsDisplay(const QRectF& viewRect);
    void setNeedsDisplayInViewport(const QRect& area);
    // The ruler draws its selected-line band in this view's colour, read as it paints.
    void setNeedsRulerDisplay();

    // Editing core helpers (EDTextViewEditing.cpp).
    void registerUndo(platform::TextRange range, const platform::AttributedString& replacement,
        bool allowsTypingCoalescing);
    void markedTextDidChange(platform::TextRange replaced, qint64 insertedLength);
    // Before an undoable edit made while an input method composes, at or after the provisional
    // text: that text is typed.
    // Answers whether a composition ended (the input method is to be reset).
    bool commitMarkedTextForEdit();
    // What every change of the text does around `change`, the storage's edit: the will- and
    // did-change notifications and hooks, input method and accessibility updates, and checking.
    // `replacement` is the new text of `range` as those hooks are told it.
    void changeText(platform::TextRange range, qint64 newLength, const QString& replacement,
        const std::function<void()>& change);
    // For each of `ranges`, the index of the range of `merged` (their merged ranges) that took it
    // in: what an edit at several selections did for each, in the selections' order.
    static std::vector<size_t> mergedIndices(
        const std::vector<platform::TextRange>& ranges, const std::vector<platform::TextRange>& merged);
    // Runs an undo (or redo) step and leaves a caret after each change it made, where the user
    // looks for what came back or went (the carets of before the step may be far from it).
    void revert(bool undo);
    // A selection set by anything but an edit (a click, an arrow key) ends the typing run: keys
    // typed or deleted after the caret went away are a step of their own, even back at its end.
    void endTypingRunOnMove();

    // Selection helpers (EDTextViewSelection.cpp).
    void moveSelections(platform::TextSelectionNavigation::Direction direction,
        platform::TextSelectionNavigation::Destination destination, bool extending);
    void selectGranularity(platform::TextSelection::Granularity granularity);
    void selectionDidChange();
    // Where a caret an edit left at `at` rests: out of a character the edit made of two (a CR LF,
    // a surrogate pair), on the side `direction` says.
    platform::TextLocation caretOutsideCharacter(
        platform::TextLocation at, platform::TextSelectionNavigation::Direction direction) const;
    // Moves every selection's ends out of such characters: carets as above, ranges outwards.
    void placeSelectionsOutsideCharacters(platform::TextSelectionNavigation::Direction direction);
    // The side a joined character leaves the carets of the running edit on.
    platform::TextSelectionNavigation::Direction editDirection() const;

    // Editing command helpers (EDTextViewEditingCommands.cpp).
    void transformWords(QString (*transform)(const QString&));
    void closeCompletion();
    bool takesKeyFor(EDTextViewCommand command) const;

    // Pasteboard helpers (EDTextViewPasteboard.cpp).
    // The text RTF on `pasteboard` gives, unless the plain text beside it is the same text with CR
    // LF or CR line ends, which RTF cannot keep: then none, and the plain text is what was copied.
    static std::optional<platform::AttributedString> richTextKeepingLineEnds(
        const platform::Pasteboard& pasteboard);
    // Puts `text` in place of every selected range, the last first; false when the text may not
    // change there.
    bool replaceSelectionWithRichText(const platform::AttributedString& text);
    void schedulePrimarySelectionUpdate();
    void offerSelectionAsPrimary();
    void settlePrimarySelectionOffer();

    // Drag helpers (EDTextViewDrag.cpp).
    bool acceptsDrop(const QMimeData* data) const;
    void updateDropLocation(QPointF viewportPoint);
    // Inserts the dropped text at `location`, moving it when it comes from this view's own
    // selection; false when nothing was inserted.
    bool performDrop(
        const QMimeData& data, platform::TextLocation location, EDTextView* source, Qt::DropAction action);
    void beginDraggingSelection();
    void autoscrollTick();
    void scrollTowardsAutoscrollPoint();
    // How far to scroll for a pointer at `point` outside `area`: at least a line, more the further out.
    QPointF autoscrollStep(QPointF point, QRect area) const;
    QRect dropAutoscrollArea() const;
    void autoscrollDrop(QPointF viewportPoint);
    // Starts `timer` (made on first use) calling `tick` at the autoscroll pace, unless it runs.
    void keepAutoscrolling(QTimer*& timer, void (EDTextView::*tick)());
    void stopDropAutoscroll();
    void dropAutoscrollTick();

    // Typing command helpers (EDTextViewTypingCommands.cpp).
    void insertCommandText(const QString& text);
    enum class Decomposition { whole, lastCodePoint };
    // What a paragraph kill from a caret removes: to the paragraph's edge, or, at the edge, only
    // the terminator there (with `edgeOnly`, none away from the edge). None at the document's edge.
    std::optional<platform::TextRange> paragraphKillRange(platform::TextLocation caret,
        platform::TextSelectionNavigation::Direction direction, bool edgeOnly) const;
    // What a line kill from a caret with nothing left on its row removes: the line end there, a
    // paragraph's terminator or a line separator; none at the document's edge.
    std::optional<platform::TextRange> lineEndKillRange(
        platform::TextLocation caret, platform::TextSelectionNavigation::Direction direction) const;
    void deleteByMovement(platform::TextSelectionNavigation::Direction direction,
        platform::TextSelectionNavigation::Destination destination, Decomposition decomposition,
        int deleteAction);

    // Input helpers (EDTextViewInput.cpp).
    platform::AttributedString markedAttributedString(const platform::AttributedString& string) const;
    void replaceMarkedCharacters(platform::TextRange range, const platform::AttributedString& text);
    // Ends the composition and answers where an insertion for `replacement` goes: the selections
    // for notFound, else that range, counted without the marked characters.
    std::vector<platform::TextRange> unmarkForInsertion(platform::CharacterRange replacement);

    // Events helpers (EDTextViewEvents.cpp).
    // Whether a key is the view's to handle before any shortcut of the window sees it.
    bool acceptsShortcutOverride(QKeyEvent* event) const;
    void mouseDown(QMouseEvent* event, int clickCount);
    void updateAfterMouseSelection();
    void selectAtPoint(QPointF viewPoint, const std::vector<platform::TextSelection>& anchors,
        unsigned modifiers, bool selecting, platform::TextLocation containerLocation = 0);
    void autoscroll(QPointF viewportPoint);
    void endMouseDrag();
    QPoint menuViewportPoint(const QContextMenuEvent& event) const;
    void commitInputMethodFirst();
    // Where the character drawn under `viewPoint` starts, found beside the caret nearest to it;
    // none past a line's end or below the text.
    std::optional<platform::TextLocation> characterUnderPoint(
        QPointF viewPoint, platform::TextLocation caret);

    // Insertion point helpers.
    void removeInsertionPointViews();
    // Starts or stops each caret's blinking by whether it is in sight.
    void updateInsertionPointBlinking();

    // Accessibility events (EDTextViewAccessibility.cpp), sent only while an assistive technology
    // listens: the text an edit is about to remove (none when nobody listens), then the change.
    std::optional<QString> accessibleTextBeingReplaced(platform::TextRange range) const;
    void notifyAccessibleTextChange(
        platform::TextLocation at, const std::optional<QString>& removed, const QString& inserted);
    void notifyAccessibleSelectionChange();

    // Plug-ins (EDTextViewPlugins.cpp).
    void setUpPlugins();
    // Gives the finder its client and the bar's place (EDTextViewFind.cpp).
    void setUpTextFinder();

    // Text checking (EDTextViewTextChecking.cpp): makes the controller and follows the selection.
    void setUpTextChecking();
    // Asks for a repaint after annotations changed over `range`, unless none of it is laid out.
    void annotationsDidChange(platform::TextRange range);
    void validateMenu(QMenu& menu);

    // Drops the undo steps and the pending typing run that refer to a text that is gone: the one a
    // whole-text replacement took away, or the one an edit made while undo is not allowed changed.
    void clearUndoForNewText();
    // Gives the layout manager the view's font, text colour and paragraph style as the defaults
    // of text without its own (empty lines, estimates, and formats it can leave out).
    void syncLayoutDefaults();
    static QEvent::Type layoutRequestEventType();

    std::vector<PluginEntry> m_plugins;
    bool m_isEditable = true;
    bool m_isSelectable = true;
    bool m_isFirstResponder = false;
    std::optional<QColor> m_insertionPointColor;
    std::optional<platform::ParagraphStyle> m_defaultParagraphStyle;
    // The font `setFont` gave the whole text.
    std::optional<QFont> m_font;
    platform::TextAttributes m_typingAttributes;
    bool m_highlightSelectedLine = false;
    std::optional<QColor> m_selectedLineHighlightColor;
    std::optional<QColor> m_selectionBackgroundColor;
    std::optional<QColor> m_backgroundColor;
    bool m_allowsDocumentBackgroundColorChange = true;
    std::optional<QString> m_contentType;
    bool m_allowsUndo = true;
    std::unique_ptr<CoalescingUndoManager> m_undoManager;
    std::optional<MarkedText> m_markedText;
    // Counts the whole texts set, so that an edit whose callbacks set a new text stops there.
    quint64 m_textsSet = 0;
    // Counts every change of the text, so that an edit asked about can tell the text moved meanwhile.
    quint64 m_textChanges = 0;
    platform::TextAttributes m_markedTextAttributes;
    bool m_processingKeyEvent = false;
    std::unique_ptr<EDTextViewDelegateProxy> m_delegateProxy;
    // The storage outlives the manager, which unregisters from it when destroyed.
    std::unique_ptr<EDTextContentStorage> m_textContentStorage;
    std::unique_ptr<EDTextLayoutManager> m_textLayoutManager;
    std::vector<FragmentView> m_fragmentViews;
    std::unordered_map<const platform::TextLayoutFragment*, FragmentView> m_previousFragmentViews;
    platform::SpeechSynthesizer* m_speechSynthesizer = nullptr;
    std::unique_ptr<EDTextFinderClient> m_textFinderClient;
    // After the client, so that it goes first.
    std::unique_ptr<EDTextFinder> m_textFinder;
    bool m_isContinuousSpellCheckingEnabled = false;
    bool m_isGrammarCheckingEnabled = false;
    mutable std::optional<bool> m_automaticTextCompletion;
    mutable std::optional<bool> m_automaticSpellingCorrection;
    mutable std::optional<bool> m_automaticTextReplacement;
    mutable std::optional<bool> m_automaticQuoteSubstitution;
    bool m_showsInvisibleCharacters = false;
    bool m_usesFontPanel = true;
    bool m_usesRuler = true;
    bool m_needsScrollToSelection = false;
    std::optional<std::vector<platform::TextSelection>> m_mouseDraggingSelectionAnchors;

    QSizeF m_frameSize;
    bool m_needsLayout = false;
    bool m_layoutRequestPosted = false;
    bool m_inLayout = false;
    // Layouts in a row that ended with the text in view still moving; bounded so that text that never
    // settles cannot keep the event loop laying out.
    int m_unsettledLayouts = 0;
    bool m_scrolledDuringLayout = false;
    std::optional<TopAnchor> m_pendingTopAnchor;
    // While a paint lays out first: what it is about to paint, so that layout asks for no second
    // paint of it.
    std::optional<QRegion> m_regionBeingPainted;
    // What the layout run by a paint asked to be drawn outside that paint's region.
    QRegion m_displayAfterPaint;
    std::vector<QRectF> m_selectionHighlights;
    // The selected-line band as last shown, so that a new one repaints where the old one was.
    std::optional<QRectF> m_shownSelectedLineBand;
    // The text an edit put in since the last layout pass, while that edit is the only one.
    std::optional<platform::TextRange> m_editedRange;
    std::vector<EDInsertionPointView> m_insertionPointViews;
    QPointer<QWidget> m_verticalRuler;
    QPointer<QWidget> m_lastWindow;
    bool m_movedToWindowOnce = false;
    // Clicks: the count of the current click run, and where and when its last press was.
    int m_clickCount = 0;
    QElapsedTimer m_lastPressTime;
    QPointF m_lastPressPosition;
    QPointF m_lastDragPosition;
    bool m_cursorHiddenUntilMouseMoves = false;
    // While a delete command runs, its own edit does not end the kill ring's run.
    bool m_deleteCommandInProgress = false;
    // Which way the running delete command removes text (a run of them undoes as one step).
    bool m_deletingBackward = false;
    // Edits from hooks that run before the text changes would land on a stale range.
    int m_willChangeDepth = 0;
    // While an edit runs, the selections it sets are its own, not a move of the caret.
    int m_editingDepth = 0;
    // An undo or redo step leaves a caret after each of its changes; a step of more changes (a
    // replace-all undone) leaves one, at the first.
    static constexpr size_t mostRevertedCarets = 64;
    // Whether the edits being made, or reverted, were typed at several carets. Only such a step
    // gives back a caret per change: after a moved text or a replace-all it would make the next
    // key type in many places.
    bool m_editingAtSeveralCarets = false;
    bool m_revertingAtSeveralCarets = false;
    // True while the input-method code edits the marked text itself.
    bool m_inputMethodEditing = false;
    std::unique_ptr<QMenu> m_contextMenu;
    std::shared_ptr<QMenu> m_checkingMenu;
    // The separator last put at the end of a context menu: a menu the delegate keeps and answers
    // again gets one at its end, not one more at every opening.
    QPointer<QAction> m_menuEndSeparator;
    std::unique_ptr<EDCompletionWindowController> m_completionWindowController;
    // Dragging the selection: where a press in it was, until it becomes a drag or a click.
    std::optional<QPointF> m_pressInSelection;
    Qt::KeyboardModifiers m_pressInSelectionModifiers;
    QPointer<QDrag> m_draggingSession;
    // The ranges a drag out of this view carries, to remove when it moves them.
    std::vector<platform::TextRange> m_draggedRanges;
    std::optional<platform::TextLocation> m_dropLocation;
    // Scrolls on while a drag of the selection holds the pointer outside the viewport.
    QTimer* m_autoscrollTimer = nullptr;
    QPointF m_autoscrollPoint;
    // Scrolls on while a drag to drop here holds the pointer near an edge of the viewport.
    QTimer* m_dropAutoscrollTimer = nullptr;
    QPointF m_dropAutoscrollPoint;
    // Whether the application's button state saw the press of the drag under way: then a button
    // let go of where this view never hears of it (over a window that opened meanwhile) ends the drag.
    bool m_dragPressSeenByApplication = false;
    bool m_primarySelectionPending = false;
    // What this view last offered as the primary selection, while the desktop keeps it.
    QPointer<edtextview::PrimarySelectionOffer> m_primarySelectionOffer;
    QPointer<QWidget> m_fontPanel;
    QPointer<QWidget> m_colorPanel;
    // The caret and first selected range assistive technologies were last told of.
    struct AccessibleCaret {
        qint64 cursor = -1;
        platform::TextRange selection;
        bool operator==(const AccessibleCaret&) const = default;
    };
    AccessibleCaret m_accessibleCaret;
    // Last, so that it goes first: it asks the view nothing once it is being destroyed.
    std::shared_ptr<TextCheckingController> m_textCheckingController;
};
