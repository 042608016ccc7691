#include "EDTextView/EDTextView.h"

#include "EDTextView/EDScrollBar.h"

#include "EDTextView/CoalescingUndoManager.h"
#include "EDTextView/EDDefaultTextColor.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextLayoutFragment.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextViewAccessible.h"
#include "EDTextView/EDVerticalRuler.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/TextContentStorage.h"
#include "platform/ui/SpeechSynthesizer.h"
#include "platform/ui/SpellChecker.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>

#include <cmath>

using platform::CharacterRange;
using platform::ParagraphStyle;
using platform::TextAttributes;
using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;

namespace AttributeKey = platform::AttributeKey;

namespace {

constexpr qint64 layoutCacheLimitBytes = 2 * 1024 * 1024;

} // namespace

QString EDTextView::MarkedText::debugDescription() const
{
    auto describe = [](CharacterRange range) {
        return QStringLiteral("{%1, %2}").arg(range.location).arg(range.length);
    };
    return QStringLiteral("markedText: \"%1\", markedRange: %2, selectedRange: %3")
        .arg(markedText.string(), describe(markedRange), describe(selectedRange));
}

EDTextView::EDTextView(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_markedTextAttributes { { AttributeKey::underlineStyle, 1 } }
    , m_delegateProxy(std::make_unique<EDTextViewDelegateProxy>(*this))
    , m_textContentStorage(std::make_unique<EDTextContentStorage>())
    , m_textLayoutManager(std::make_unique<EDTextLayoutManager>())
    , m_textFinderClient(std::make_unique<EDTextFinderClient>())
    , m_textFinder(std::make_unique<EDTextFinder>())
{
    // Lines wrap at the view's width and the text grows downwards.
    platform::TextContainer container;
    container.widthTracksTextView = true;
    container.heightTracksTextView = false;
    m_textLayoutManager->setTextContainer(container);
    m_textLayoutManager->setTextContentStorage(m_textContentStorage.get());
    // Enough for several screens of text; a view of a large document keeps little more than its
    // characters in memory.
    m_textLayoutManager->setLayoutCacheLimit(layoutCacheLimitBytes);
    m_undoManager = std::make_unique<CoalescingUndoManager>();
    m_textFinderClient->textView = this;
    m_textLayoutManager->setFragmentFactory([] { return std::make_shared<EDTextLayoutFragment>(); });
    syncLayoutDefaults();

    setSelectedTextRange(TextRange(0), true);

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, true);
    setVerticalScrollBar(new EDScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new EDScrollBar(Qt::Horizontal, this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setMouseTracking(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);

    m_textLayoutManager->textViewportLayoutController().setDelegate(this);
    connect(m_textLayoutManager.get(), &EDTextLayoutManager::didChangeSelection, this,
        &EDTextView::selectionDidChange);
    connect(m_textLayoutManager.get(), &EDTextLayoutManager::didChangeSelection, this,
        &EDTextView::endTypingRunOnMove);
    // Grown outside a layout, the text is sized to fit in the next one: scroll ranges reach it all.
    connect(m_textLayoutManager.get(), &platform::TextLayoutManager::usageBoundsDidChange, this, [this] {
        updateGeometry();
        // Nothing drawn moves: only the size and the scroll ranges follow.
        if (!m_inLayout)
            requestLayoutPass();
    });
    // A paragraph measured outside a layout (a caret rect asked for, a point to press) moves the
    // text after it: the views placed there must follow, or clicks land beside what is drawn.
    connect(m_textContentStorage.get(), &platform::TextContentStorage::layoutParagraphHeightDidChange, this,
        [this](qint64 index) {
            if (!m_inLayout && !m_fragmentViews.empty()
                && index <= m_fragmentViews.back().fragment->layoutParagraphIndex())
                requestLayoutPass();
        });
    EDTextViewAccessible::installFactory();
    setUpTextChecking();
}

EDTextView::~EDTextView()
{
    settlePrimarySelectionOffer();
    // A host's undo manager may outlive the view; its steps for this view must go with it.
    if (auto delegate = m_delegateProxy->source.lock()) {
        if (platform::UndoManager* manager = delegate->undoManager(*this))
            manager->removeAllActions(this);
    }
    if (!m_plugins.empty()) {
        std::vector<std::shared_ptr<EDPlugin>> plugins;
        for (const PluginEntry& entry : m_plugins)
            plugins.push_back(entry.plugin);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [plugins] {
                for (const auto& plugin : plugins)
                    plugin->tearDown();
            },
            Qt::QueuedConnection);
    }
    m_textLayoutManager->textViewportLayoutController().setDelegate(nullptr);
    disconnect(m_textLayoutManager.get(), nullptr, this, nullptr);
    disconnect(m_textContentStorage.get(), nullptr, this, nullptr);
    // The rulers are child widgets and outlive this part of the view.
    detachFromRulers();
}

EDTextView* EDTextView::scrollableTextView(const QRect& frame, QWidget* parent)
{
    auto* view = new EDTextView(parent);
    view->setGeometry(frame);
    return view;
}

void EDTextView::setIsEditable(bool editable)
{
    // The input method is not heard once the text may not be edited: a composition ends first.
    if (!editable && m_isEditable)
        commitInputMethodFirst();
    const bool changed = editable != m_isEditable;
    m_isEditable = editable;
    setAttribute(Qt::WA_InputMethodEnabled, editable);
    updateInsertionPointViews();
    if (editable)
        setIsSelectable(true);
    m_textFinder->noteClientEditabilityChanged();
    // The spelling and substitutions panels offer their changes only while the text may change.
    if (changed)
        platform::NotificationCenter::defaultCenter().post(platform::SpellChecker::panelsNeedUpdate, this);
}

void EDTextView::setIsSelectable(bool selectable)
{
    m_isSelectable = selectable;
    setFocusPolicy(selectable ? Qt::StrongFocus : Qt::NoFocus);
    if (selectable)
        viewport()->setCursor(Qt::IBeamCursor);
    else
        viewport()->unsetCursor();
    updateInsertionPointViews();
    if (!selectable)
        setIsEditable(false);
}

bool EDTextView::shouldDrawInsertionPoint() const
{
    return m_isFirstResponder && m_isEditable && window() && window()->isActiveWindow() && hasFocus();
}

QColor EDTextView::insertionPointColor() const
{
    return m_insertionPointColor.value_or(palette().color(QPalette::Text));
}

void EDTextView::setInsertionPointColor(const QColor& color)
{
    m_insertionPointColor = color;
    for (EDInsertionPointView& view : m_insertionPointViews)
        view.textInsertionIndicator->setInsertionPointColor(color);
    setNeedsDisplay();
}

std::optional<QFont> EDTextView::font() const
{
    const QVariant value = m_textContentStorage->length() == 0
        ? m_typingAttributes.value(AttributeKey::font)
        : m_textContentStorage->attributes(0).value(AttributeKey::font);
    if (!value.canConvert<QFont>())
        return std::nullopt;
    return value.value<QFont>();
}

void EDTextView::setFont(const QFont& newFont)
{
    m_font = newFont;
    syncLayoutDefaults();
    if (m_textContentStorage->length() > 0)
        addAttributes({ { AttributeKey::font, newFont } }, m_textContentStorage->documentRange(), true);
    TextAttributes attributes = m_typingAttributes;
    attributes.insert(AttributeKey::font, newFont);
    setTypingAttributes(attributes);
}

void EDTextView::setFont(const QFont& newFont, CharacterRange range)
{
    addAttributes({ { AttributeKey::font, newFont } }, range, true);
}

std::optional<QColor> EDTextView::textColor() const
{
    return EDDefaultTextColor::resolved(
        m_typingAttributes.value(AttributeKey::foregroundColor), palette().color(QPalette::Text));
}

void EDTextView::setTextColor(const std::optional<QColor>& color)
{
    if (color)
        m_typingAttributes.insert(AttributeKey::foregroundColor, *color);
    else
        m_typingAttributes.remove(AttributeKey::foregroundColor);
}

void EDTextView::setTextColor(const std::optional<QColor>& color, CharacterRange range)
{
    if (color)
        addAttributes({ { AttributeKey::foregroundColor, *color } }, range, true);
    else
        removeAttribute(AttributeKey::foregroundColor, range, true);
}

void EDTextView::setDefaultParagraphStyle(const std::optional<ParagraphStyle>& style)
{
    m_defaultParagraphStyle = style;
    m_typingAttributes.insert(
        AttributeKey::paragraphStyle, QVariant::fromValue(style.value_or(ParagraphStyle())));
    syncLayoutDefaults();
}

void EDTextView::setTypingAttributes(const TextAttributes& attributes)
{
    TextAttributes merged = platform::mergedKeepingExisting(attributes, defaultTypingAttributes());
    // Every caret move sets them again; a move within text of one style changes nothing drawn.
    if (merged == m_typingAttributes)
        return;
    m_typingAttributes = std::move(merged);
    setNeedsLayout();
    setNeedsDisplay();
}

TextAttributes EDTextView::defaultTypingAttributes() const
{
    QFont systemFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (systemFont.family().isEmpty())
        systemFont = QApplication::font();
    return {
        { AttributeKey::paragraphStyle,
            QVariant::fromValue(m_defaultParagraphStyle.value_or(ParagraphStyle())) },
        { AttributeKey::font, systemFont },
        { AttributeKey::foregroundColor, EDDefaultTextColor::value() },
    };
}

void EDTextView::syncLayoutDefaults()
{
    // The view's own font, colour and paragraph style, not the typing attributes' of the moment:
    // those follow the caret through text of several styles, and every change of a layout default
    // lays the text out again.
    const QFont font = m_font.value_or(defaultTypingAttributes().value(AttributeKey::font).value<QFont>());
    const ParagraphStyle style = m_defaultParagraphStyle.value_or(ParagraphStyle());
    const bool fontChanges = !(font == m_textLayoutManager->defaultFont());
    const bool styleChanges = !(style == m_textLayoutManager->defaultParagraphStyle());
    // Either estimates every height above the view afresh, which would move the text under the
    // user's eyes by thousands of lines in a long note: the row at the top stays there instead.
    if ((fontChanges || styleChanges) && !m_pendingTopAnchor)
        m_pendingTopAnchor = topAnchor();
    if (fontChanges)
        m_textLayoutManager->setDefaultFont(font);
    m_textLayoutManager->setDefaultForegroundColor(palette().color(QPalette::Text));
    if (styleChanges)
        m_textLayoutManager->setDefaultParagraphStyle(style);
}

void EDTextView::updateTypingAttributes(std::optional<TextLocation> location)
{
    if (!location) {
        const auto& selections = m_textLayoutManager->textSelections();
        if (selections.empty() || selections.front().textRanges.empty())
            return;
        location = selections.front().textRanges.front().location;
    }
    setTypingAttributes(typingAttributes(*location));
}

TextAttributes EDTextView::typingAttributes(TextLocation location) const
{
    const qint64 length = m_textContentStorage->length();
    if (length == 0)
        return m_typingAttributes;
    // The character before the location carries what typing there continues; at the document
    // start, the first character.
    const TextLocation index = std::clamp<TextLocation>(location > 0 ? location - 1 : 0, 0, length - 1);
    return platform::mergedKeepingExisting(
        m_textContentStorage->attributes(index), defaultTypingAttributes());
}

double EDTextView::typingLineHeight() const
{
    QVariant fontValue = m_typingAttributes.value(AttributeKey::font);
    if (!fontValue.canConvert<QFont>())
        fontValue = defaultTypingAttributes().value(AttributeKey::font);
    QVariant styleValue = m_typingAttributes.value(AttributeKey::paragraphStyle);
    if (!styleValue.canConvert<ParagraphStyle>())
        styleValue = defaultTypingAttributes().value(AttributeKey::paragraphStyle);
    double multiple = styleValue.value<ParagraphStyle>().lineHeightMultiple;
    if (edtextview::isAlmostZero(multiple))
        multiple = 1.0;
    return edtextview::defaultLineHeight(fontValue.value<QFont>()) * multiple;
}

QString EDTextView::string() const
{
    return m_textContentStorage->string();
}

void EDTextView::setString(const QString& string)
{
    // Refused while an edit is being announced: the carets stay where that edit needs them.
    if (m_willChangeDepth > 0) {
        setText(string);
        return;
    }
    const std::vector<TextLocation> carets = edtextview::insertionPointLocations(*m_textLayoutManager);
    setText(string);
    if (carets.empty())
        return;
    // The old caret, inside the new text and not inside a character.
    platform::TextSelectionNavigation& navigation = m_textLayoutManager->textSelectionNavigation();
    TextLocation caret = std::clamp<TextLocation>(carets.front(), 0, m_textContentStorage->length());
    if (caret > 0 && caret < m_textContentStorage->length())
        caret = navigation.nextCharacter(navigation.previousCharacter(caret));
    setSelectedTextRange(TextRange(caret), true);
}

platform::AttributedString EDTextView::attributedString() const
{
    return m_textContentStorage->attributedString();
}

void EDTextView::setAttributedString(const platform::AttributedString& text)
{
    setText(text);
}

bool EDTextView::widthTracksTextView() const
{
    return m_textLayoutManager->textContainer().widthTracksTextView;
}

void EDTextView::setWidthTracksTextView(bool tracks)
{
    platform::TextContainer container = m_textLayoutManager->textContainer();
    if (container.widthTracksTextView == tracks)
        return;
    container.widthTracksTextView = tracks;
    container.size = platform::TextContainer().size;
    m_textLayoutManager->setTextContainer(container);
    setFrameSize(QSizeF(viewport()->width(), m_frameSize.height()));
    setNeedsLayout();
    setNeedsDisplay();
}

bool EDTextView::heightTracksTextView() const
{
    return m_textLayoutManager->textContainer().heightTracksTextView;
}

void EDTextView::setHeightTracksTextView(bool tracks)
{
    platform::TextContainer container = m_textLayoutManager->textContainer();
    if (container.heightTracksTextView == tracks)
        return;
    container.heightTracksTextView = tracks;
    container.size = platform::TextContainer().size;
    m_textLayoutManager->setTextContainer(container);
    setFrameSize(QSizeF(m_frameSize.width(), viewport()->height()));
    setNeedsLayout();
    setNeedsDisplay();
}

void EDTextView::setHighlightSelectedLine(bool highlight)
{
    m_highlightSelectedLine = highlight;
    // The band painted from now on is the one the next caret move or selection must clear.
    m_shownSelectedLineBand = selectedLineHighlightRect(documentVisibleRect());
    setNeedsDisplay();
}

QColor EDTextView::selectedLineHighlightColor() const
{
    if (m_selectedLineHighlightColor)
        return *m_selectedLineHighlightColor;
    QColor color = resolvedSelectionColor();
    color.setAlphaF(0.25f);
    return color;
}

void EDTextView::setSelectedLineHighlightColor(const QColor& color)
{
    m_selectedLineHighlightColor = color;
    setNeedsDisplay();
    setNeedsRulerDisplay();
}

QColor EDTextView::selectionBackgroundColor() const
{
    return m_selectionBackgroundColor.value_or(resolvedSelectionColor());
}

void EDTextView::setSelectionBackgroundColor(const QColor& color)
{
    m_selectionBackgroundColor = color;
    setNeedsDisplay();
}

void EDTextView::setBackgroundColor(const std::optional<QColor>& color)
{
    m_backgroundColor = color;
    setNeedsDisplay();
    // The band's own colour is mixed over the background.
    if (!m_selectedLineHighlightColor)
        setNeedsRulerDisplay();
}

void EDTextView::changeDocumentBackgroundColor(const QColor& color)
{
    if (m_allowsDocumentBackgroundColorChange)
        setBackgroundColor(color);
}

platform::UndoManager* EDTextView::undoManager() const
{
    if (!m_allowsUndo)
        return nullptr;
    if (platform::UndoManager* manager = m_delegateProxy->undoManager(const_cast<EDTextView&>(*this)))
        return manager;
    return m_undoManager.get();
}

const platform::TextContainer& EDTextView::textContainer() const
{
    return m_textLayoutManager->textContainer();
}

platform::SpeechSynthesizer& EDTextView::speechSynthesizer()
{
    if (!m_speechSynthesizer)
        m_speechSynthesizer = new platform::SpeechSynthesizer(this);
    return *m_speechSynthesizer;
}

bool EDTextView::isAutomaticTextCompletionEnabled() const
{
    if (!m_automaticTextCompletion)
        m_automaticTextCompletion = platform::SpellChecker::isAutomaticTextCompletionEnabled();
    return *m_automaticTextCompletion;
}

bool EDTextView::isAutomaticSpellingCorrectionEnabled() const
{
    if (!m_automaticSpellingCorrection)
        m_automaticSpellingCorrection = platform::SpellChecker::isAutomaticSpellingCorrectionEnabled();
    return *m_automaticSpellingCorrection;
}

bool EDTextView::isAutomaticTextReplacementEnabled() const
{
    if (!m_automaticTextReplacement)
        m_automaticTextReplacement = platform::SpellChecker::isAutomaticTextReplacementEnabled();
    return *m_automaticTextReplacement;
}

bool EDTextView::isAutomaticQuoteSubstitutionEnabled() const
{
    if (!m_automaticQuoteSubstitution)
        m_automaticQuoteSubstitution = platform::SpellChecker::isAutomaticQuoteSubstitutionEnabled();
    return *m_automaticQuoteSubstitution;
}

void EDTextView::setShowsInvisibleCharacters(bool shows)
{
    if (m_showsInvisibleCharacters == shows)
        return;
    // The marks are drawn over the laid-out text, so the layout itself stays; the next pass hands
    // the flag to every fragment in view.
    m_showsInvisibleCharacters = shows;
    setNeedsLayout();
}

void EDTextView::setVerticalRulerView(QWidget* ruler)
{
    if (m_verticalRuler == ruler)
        return;
    if (m_verticalRuler) {
        m_verticalRuler->removeEventFilter(this);
        if (!ruler) {
            QMargins margins = viewportMargins();
            margins.setLeft(0);
            setViewportMargins(margins);
        }
    }
    m_verticalRuler = ruler;
    if (ruler) {
        ruler->setParent(this);
        ruler->installEventFilter(this);
        ruler->show();
    }
    tileRuler();
    setNeedsLayout();
}

void EDTextView::tileRuler()
{
    // Without a ruler widget of its own the margin belongs to the platform ruler (RulerView), which
    // keeps it itself.
    if (!m_verticalRuler)
        return;
    const int width = std::max(0, m_verticalRuler->sizeHint().width());
    // The top margin is the find bar's.
    QMargins margins = viewportMargins();
    margins.setLeft(width);
    setViewportMargins(margins);
    const QRect area = viewport()->geometry();
    m_verticalRuler->setGeometry(area.left() - width, area.top(), width, area.height());
}

bool EDTextView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_verticalRuler && event->type() == QEvent::LayoutRequest)
        tileRuler();
    return QAbstractScrollArea::eventFilter(watched, event);
}

QEvent::Type EDTextView::layoutRequestEventType()
{
    static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
    return type;
}

bool EDTextView::event(QEvent* event)
{
    if (event->type() == layoutRequestEventType()) {
        m_layoutRequestPosted = false;
        layoutIfNeeded();
        return true;
    }
    switch (event->type()) {
    case QEvent::ParentChange:
        // Taken out of its window: coming back into that same window is a move into a window too.
        if (window() != m_lastWindow && !isVisible())
            m_lastWindow = nullptr;
        [[fallthrough]];
    case QEvent::Show:
        if (isVisible() && window() != m_lastWindow) {
            m_lastWindow = window();
            setUpTextFinder();
            viewDidMoveToWindow();
        }
        break;
    case QEvent::KeyPress: {
        // Tab types a tab in an editable view instead of moving the focus on; Shift+Tab still
        // moves it back.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && m_isEditable
            && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier))) {
            keyPressEvent(key);
            return true;
        }
        break;
    }
    case QEvent::ShortcutOverride:
        if (acceptsShortcutOverride(static_cast<QKeyEvent*>(event))) {
            event->accept();
            return true;
        }
        break;
    default:
        break;
    }
    return QAbstractScrollArea::event(event);
}

void EDTextView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    // Becoming the focus of its window makes the view first responder; getting the focus back
    // with its window does not begin editing again.
    if (!m_isFirstResponder) {
        if (m_isEditable)
            platform::NotificationCenter::defaultCenter().post(didBeginEditingNotification, this);
        m_isFirstResponder = true;
    }
    updateInsertionPointViews();
}

void EDTextView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    // The window losing activation, or a pop-up opening, leaves the view first responder of its
    // window.
    const bool staysFirstResponder
        = event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
    // Moving the focus asked the input method to commit (Qt does so before the move, except to a
    // menu bar); what it left goes.
    if (m_markedText && !staysFirstResponder && event->reason() != Qt::MenuBarFocusReason)
        unmarkText();
    if (m_isFirstResponder && !staysFirstResponder) {
        if (m_isEditable) {
            platform::NotificationCenter::defaultCenter().post(
                didEndEditingNotification, this, { { didEndEditingNotification, 0 } });
        }
        m_isFirstResponder = false;
    }
    updateInsertionPointViews();
}

void EDTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    switch (event->type()) {
    case QEvent::ActivationChange:
        updateInsertionPointViews();
        break;
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
        syncLayoutDefaults();
        // The layer keeps its layouts through a new text colour; a layout pass gives the fragments
        // in view the palette's new colour for invisible characters, and the repaint below draws
        // the text in the new colour.
        setNeedsLayout();
        updateSelectionHighlights();
        // The carets keep the colour they were given; one that follows the palette takes its new one.
        if (!m_insertionPointColor) {
            for (EDInsertionPointView& view : m_insertionPointViews)
                view.textInsertionIndicator->setInsertionPointColor(insertionPointColor());
        }
        setNeedsDisplay();
        break;
    default:
        break;
    }
}
