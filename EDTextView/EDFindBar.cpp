#include "EDTextView/EDFindBar.h"

#include "EDTextView/EDKeyBindings.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextView.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

namespace {

constexpr int barMarginH = 8;
constexpr int barMarginV = 5;
constexpr int rowSpacing = 5;
constexpr int findFieldMinimumWidth = 120;
constexpr int findFieldMaximumWidth = 360;

enum class Glyph { up, down, close };

// A line glyph in the text colour, where the desktop's icon theme has no icon of that name.
QIcon glyphIcon(const QString& themeName, Glyph glyph, const QPalette& palette, double pixelRatio)
{
    if (QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    constexpr int size = 16;
    QIcon icon;
    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Disabled }) {
        QPixmap pixmap(QSize(size, size) * pixelRatio);
        pixmap.setDevicePixelRatio(pixelRatio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(palette.color(group, QPalette::ButtonText), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        switch (glyph) {
        case Glyph::up:
            painter.drawPolyline(QPolygonF({ QPointF(4, 10), QPointF(8, 6), QPointF(12, 10) }));
            break;
        case Glyph::down:
            painter.drawPolyline(QPolygonF({ QPointF(4, 6), QPointF(8, 10), QPointF(12, 6) }));
            break;
        case Glyph::close:
            painter.drawLine(QPointF(4.5, 4.5), QPointF(11.5, 11.5));
            painter.drawLine(QPointF(11.5, 4.5), QPointF(4.5, 11.5));
            break;
        }
        painter.end();
        icon.addPixmap(pixmap, group == QPalette::Active ? QIcon::Normal : QIcon::Disabled);
    }
    return icon;
}

} // namespace

EDFindBar::EDFindBar(EDTextFinder& finder, QWidget* parent)
    : QWidget(parent)
    , m_finder(finder)
{
    setObjectName(QStringLiteral("findBar"));
    setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_replaceToggle = new QToolButton(this);
    m_replaceToggle->setObjectName(QStringLiteral("findBarReplaceToggle"));
    m_replaceToggle->setAutoRaise(true);
    m_replaceToggle->setArrowType(Qt::RightArrow);
    m_replaceToggle->setToolTip(tr("Show Replace"));
    m_replaceToggle->setAccessibleName(tr("Show Replace"));
    m_replaceToggle->setFocusPolicy(Qt::NoFocus);

    m_findField = new QLineEdit(this);
    m_findField->setObjectName(QStringLiteral("findBarFindField"));
    m_findField->setPlaceholderText(tr("Find"));
    // A screen reader names controls by their accessible names, which a placeholder or a tool tip
    // does not give.
    m_findField->setAccessibleName(tr("Find"));
    m_findField->setClearButtonEnabled(true);
    m_findField->setMaxLength(int(EDTextFinder::longestSearchString));
    m_findField->setMinimumWidth(findFieldMinimumWidth);
    m_findField->setMaximumWidth(findFieldMaximumWidth);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("findBarMatchCount"));
    m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(QStringLiteral("0000 of 0000")));

    m_previous = new QToolButton(this);
    m_previous->setObjectName(QStringLiteral("findBarPrevious"));
    m_previous->setAutoRaise(true);
    m_previous->setToolTip(tr("Previous Match (Shift+F3)"));
    m_previous->setAccessibleName(tr("Previous Match"));
    m_next = new QToolButton(this);
    m_next->setObjectName(QStringLiteral("findBarNext"));
    m_next->setAutoRaise(true);
    m_next->setToolTip(tr("Next Match (F3)"));
    m_next->setAccessibleName(tr("Next Match"));

    m_matchCase = new QCheckBox(tr("Match Case"), this);
    m_matchCase->setObjectName(QStringLiteral("findBarMatchCase"));
    m_matchCase->setToolTip(tr("Match Case"));
    m_matchCase->setAccessibleName(tr("Match Case"));
    m_wholeWords = new QCheckBox(tr("Whole Words"), this);
    m_wholeWords->setObjectName(QStringLiteral("findBarWholeWords"));
    m_wholeWords->setToolTip(tr("Whole Words"));
    m_wholeWords->setAccessibleName(tr("Whole Words"));

    m_done = new QToolButton(this);
    m_done->setObjectName(QStringLiteral("findBarDone"));
    m_done->setAutoRaise(true);
    m_done->setToolTip(tr("Close (Escape)"));
    m_done->setAccessibleName(tr("Close Find Bar"));

    m_replaceField = new QLineEdit(this);
    m_replaceField->setObjectName(QStringLiteral("findBarReplaceField"));
    m_replaceField->setPlaceholderText(tr("Replace"));
    m_replaceField->setAccessibleName(tr("Replace With"));
    m_replaceField->setClearButtonEnabled(true);
    m_replaceField->setMinimumWidth(findFieldMinimumWidth);
    m_replaceField->setMaximumWidth(findFieldMaximumWidth);
    m_replaceRow = new QWidget(this);
    m_replace = new QPushButton(tr("Replace"), m_replaceRow);
    m_replace->setObjectName(QStringLiteral("findBarReplace"));
    m_replaceAll = new QPushButton(tr("Replace All"), m_replaceRow);
    m_replaceAll->setObjectName(QStringLiteral("findBarReplaceAll"));

    // A grid, so that the two fields line up and are as wide as each other. The controls go beside
    // the fields, or under them where the view is too narrow for that (see `arrange`).
    m_grid = new QGridLayout(this);
    // One pixel more below, for the line that parts the bar from the text.
    m_grid->setContentsMargins(barMarginH, barMarginV, barMarginH, barMarginV + 1);
    m_grid->setHorizontalSpacing(rowSpacing);
    m_grid->setVerticalSpacing(rowSpacing);
    m_grid->addWidget(m_replaceToggle, 0, 0);
    m_findControls = new QWidget(this);
    auto* findControls = new QHBoxLayout(m_findControls);
    findControls->setContentsMargins(0, 0, 0, 0);
    findControls->setSpacing(rowSpacing);
    findControls->addWidget(m_count);
    findControls->addWidget(m_previous);
    findControls->addWidget(m_next);
    findControls->addSpacing(rowSpacing);
    findControls->addWidget(m_matchCase);
    findControls->addWidget(m_wholeWords);
    findControls->addStretch(1);
    findControls->addWidget(m_done);
    auto* replaceControls = new QHBoxLayout(m_replaceRow);
    replaceControls->setContentsMargins(0, 0, 0, 0);
    replaceControls->setSpacing(rowSpacing);
    replaceControls->addWidget(m_replace);
    replaceControls->addWidget(m_replaceAll);
    replaceControls->addStretch(1);
    arrange(Arrangement::full);
    m_replaceField->hide();
    m_replaceRow->hide();
    updateIcons();

    for (QWidget* field :
        { static_cast<QWidget*>(m_findField), static_cast<QWidget*>(m_replaceField),
            static_cast<QWidget*>(m_matchCase), static_cast<QWidget*>(m_wholeWords),
            static_cast<QWidget*>(m_replace), static_cast<QWidget*>(m_replaceAll),
            static_cast<QWidget*>(m_previous), static_cast<QWidget*>(m_next), static_cast<QWidget*>(m_done) })
        field->installEventFilter(this);
    setFocusProxy(m_findField);
    // The bar spans its scroll area, whatever its width.
    if (parent)
        parent->installEventFilter(this);

    connect(m_findField, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_finder.isIncrementalSearchingEnabled())
            m_finder.searchIncrementally(text);
        else
            refresh();
    });
    connect(m_replaceField, &QLineEdit::textChanged, this,
        [this](const QString& text) { m_finder.setReplaceString(text); });
    connect(m_previous, &QToolButton::clicked, this, [this] {
        commitSearchText();
        m_finder.performAction(EDTextFinder::previousMatch);
    });
    connect(m_next, &QToolButton::clicked, this, [this] {
        commitSearchText();
        m_finder.performAction(EDTextFinder::nextMatch);
    });
    auto optionsChanged = [this] {
        m_finder.setOptions({ m_matchCase->isChecked(), m_wholeWords->isChecked() });
    };
    connect(m_matchCase, &QCheckBox::toggled, this, optionsChanged);
    connect(m_wholeWords, &QCheckBox::toggled, this, optionsChanged);
    connect(m_done, &QToolButton::clicked, this,
        [this] { m_finder.performAction(EDTextFinder::hideFindInterface); });
    connect(m_replaceToggle, &QToolButton::clicked, this, [this] {
        m_finder.performAction(
            isReplaceVisible() ? EDTextFinder::hideReplaceInterface : EDTextFinder::showReplaceInterface);
    });
    connect(m_replace, &QPushButton::clicked, this, [this] {
        commitSearchText();
        m_finder.performAction(EDTextFinder::replaceAndFind);
    });
    connect(m_replaceAll, &QPushButton::clicked, this, [this] {
        commitSearchText();
        m_finder.performAction(EDTextFinder::replaceAll);
    });
    connect(&m_finder, &EDTextFinder::matchesDidChange, this, &EDFindBar::refresh);
    refresh();
}

void EDFindBar::setSearchText(const QString& text)
{
    if (m_findField->text() != text)
        m_findField->setText(text);
}

void EDFindBar::setReplaceText(const QString& text)
{
    if (m_replaceField->text() != text)
        m_replaceField->setText(text);
}

void EDFindBar::setOptions(EDTextSearchOptions options)
{
    const QSignalBlocker caseBlocker(m_matchCase);
    const QSignalBlocker wordsBlocker(m_wholeWords);
    m_matchCase->setChecked(options.caseSensitive);
    m_wholeWords->setChecked(options.wholeWords);
}

bool EDFindBar::isReplaceVisible() const
{
    return !m_replaceRow->isHidden();
}

void EDFindBar::setReplaceVisible(bool visible)
{
    m_replaceField->setVisible(visible);
    m_replaceRow->setVisible(visible);
    m_replaceToggle->setArrowType(visible ? Qt::DownArrow : Qt::RightArrow);
    m_replaceToggle->setToolTip(visible ? tr("Hide Replace") : tr("Show Replace"));
    m_replaceToggle->setAccessibleName(m_replaceToggle->toolTip());
    if (!visible && (m_replaceField->hasFocus() || m_replaceRow->isAncestorOf(focusWidget())))
        m_findField->setFocus();
    forgetArrangedWidths();
    adjustSize();
    refresh();
}

void EDFindBar::focusFindField()
{
    m_findField->setFocus(Qt::ShortcutFocusReason);
    m_findField->selectAll();
}

void EDFindBar::focusReplaceField()
{
    m_replaceField->setFocus(Qt::ShortcutFocusReason);
    m_replaceField->selectAll();
}

QString EDFindBar::matchCountText(size_t count, std::optional<size_t> current)
{
    if (count == 0)
        return tr("No matches");
    // Counts read as everywhere else in the program: Latin digits, no grouping.
    if (current)
        return tr("%1 of %2").arg(QString::number(*current + 1), QString::number(count));
    if (count == 1)
        return tr("1 match");
    return tr("%1 matches").arg(QString::number(count));
}

void EDFindBar::commitSearchText()
{
    if (m_findField->text() != m_finder.searchString())
        m_finder.setSearchString(m_findField->text());
}

void EDFindBar::refresh()
{
    const bool searching = !m_finder.searchString().isEmpty();
    const EDTextFinderClient* client = m_finder.client();
    const bool editable = client && client->isEditable();
    // A new text, an empty one too, tells screen readers the label's name changed (QLabel::clear
    // would not): the count is heard without moving the focus from the field.
    m_count->setText(
        searching ? matchCountText(m_finder.matches().size(), m_finder.currentMatch()) : QString());
    // "No matches" in the desktop's colour for a problem; counts as quiet as a placeholder.
    QPalette countPalette = palette();
    const bool none = searching && m_finder.matches().empty();
    countPalette.setColor(
        QPalette::WindowText, none ? QColor(0xE0, 0x1B, 0x24) : palette().color(QPalette::PlaceholderText));
    m_count->setPalette(countPalette);
    // Stepping and replacing need a match to act on, or text typed that has not been searched for.
    const QString typed = m_findField->text();
    const bool actionable = typed == m_finder.searchString() ? !m_finder.matches().empty() : !typed.isEmpty();
    m_previous->setEnabled(actionable);
    m_next->setEnabled(actionable);
    m_replaceToggle->setEnabled(editable);
    m_replace->setEnabled(editable && actionable);
    m_replaceAll->setEnabled(editable && actionable);
    m_replaceField->setEnabled(editable);
}

void EDFindBar::updateIcons()
{
    const double ratio = devicePixelRatioF();
    m_previous->setIcon(glyphIcon(QStringLiteral("go-up"), Glyph::up, palette(), ratio));
    m_next->setIcon(glyphIcon(QStringLiteral("go-down"), Glyph::down, palette(), ratio));
    m_done->setIcon(glyphIcon(QStringLiteral("window-close"), Glyph::close, palette(), ratio));
}

void EDFindBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange) {
        updateIcons();
        refresh();
    }
    QWidget::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange)
        forgetArrangedWidths();
}

void EDFindBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateArrangement();
}

void EDFindBar::arrange(Arrangement arrangement)
{
    m_arrangement = arrangement;
    const bool full = arrangement == Arrangement::full;
    m_matchCase->setText(full ? tr("Match Case") : tr("Aa"));
    m_wholeWords->setText(full ? tr("Whole Words") : tr("Word"));
    for (QWidget* widget : { static_cast<QWidget*>(m_findField), m_findControls,
             static_cast<QWidget*>(m_replaceField), m_replaceRow })
        m_grid->removeWidget(widget);
    if (arrangement == Arrangement::stacked) {
        m_grid->addWidget(m_findField, 0, 1, 1, 2);
        m_grid->addWidget(m_findControls, 1, 1, 1, 2);
        m_grid->addWidget(m_replaceField, 2, 1, 1, 2);
        m_grid->addWidget(m_replaceRow, 3, 1, 1, 2);
    } else {
        m_grid->addWidget(m_findField, 0, 1);
        m_grid->addWidget(m_findControls, 0, 2);
        m_grid->addWidget(m_replaceField, 1, 1);
        m_grid->addWidget(m_replaceRow, 1, 2);
    }
    m_grid->setColumnStretch(1, 2);
    m_grid->setColumnStretch(2, 1);
    m_grid->invalidate();
}

void EDFindBar::updateArrangement()
{
    // The widest arrangement whose controls all fit whole: the options say less first, then the
    // controls go under their fields. Their tool tips say it all.
    if (!m_grid)
        return;
    const Arrangement was = m_arrangement;
    Arrangement chosen = Arrangement::stacked;
    for (Arrangement candidate : { Arrangement::full, Arrangement::compact }) {
        int& needed = m_minimumWidths[int(candidate)];
        if (needed == 0) {
            arrange(candidate);
            needed = m_grid->minimumSize().width();
        }
        if (width() >= needed) {
            chosen = candidate;
            break;
        }
    }
    if (chosen != m_arrangement)
        arrange(chosen);
    if (chosen == was)
        return;
    updateGeometry();
    // Stacked, the bar is taller: the view docks it again.
    if (EDTextView* container = m_finder.findBarContainer(); container && !isHidden())
        container->tileFindBar();
}

void EDFindBar::placeBeforeInTabOrder(QWidget* view)
{
    // Qt orders only widgets that take focus.
    QWidget* previous = view->previousInFocusChain();
    while (previous != view && previous->focusPolicy() == Qt::NoFocus)
        previous = previous->previousInFocusChain();
    if (previous == view)
        return;
    for (QWidget* control : std::initializer_list<QWidget*> { m_findField, m_previous, m_next, m_matchCase,
             m_wholeWords, m_done, m_replaceField, m_replace, m_replaceAll }) {
        QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

void EDFindBar::forgetArrangedWidths()
{
    m_minimumWidths = {};
    updateArrangement();
}

void EDFindBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    // The line between the bar and the text below it.
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.15f);
    painter.fillRect(QRect(0, height() - 1, width(), 1), line);
}

std::optional<int> EDFindBar::actionForKey(const QKeyEvent& event, const QObject* target) const
{
    const Qt::KeyboardModifiers modifiers
        = event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) {
        if (target == m_findField && modifiers == Qt::NoModifier)
            return EDTextFinder::nextMatch;
        if (target == m_findField && modifiers == Qt::ShiftModifier)
            return EDTextFinder::previousMatch;
        if (target == m_replaceField && modifiers == Qt::NoModifier)
            return EDTextFinder::replaceAndFind;
        return std::nullopt;
    }
    // The same find keys as in the text view.
    const auto binding = EDKeyBindings::binding(event);
    if (!binding)
        return std::nullopt;
    switch (binding->command) {
    case EDTextViewCommand::showFindInterface:
        return 0;
    case EDTextViewCommand::showReplaceInterface:
        return EDTextFinder::showReplaceInterface;
    case EDTextViewCommand::findNext:
        return EDTextFinder::nextMatch;
    case EDTextViewCommand::findPrevious:
        return EDTextFinder::previousMatch;
    case EDTextViewCommand::cancelOperation:
        return EDTextFinder::hideFindInterface;
    default:
        return std::nullopt;
    }
}

bool EDFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget()) {
        if (event->type() == QEvent::Resize && !isHidden()) {
            if (EDTextView* container = m_finder.findBarContainer())
                container->tileFindBar();
        }
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const auto action = actionForKey(*key, watched);
    if (!action)
        return QWidget::eventFilter(watched, event);
    // Taken before the window's shortcuts (Escape may close the window).
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (*action == 0) {
        focusFindField();
    } else {
        if (*action == EDTextFinder::nextMatch || *action == EDTextFinder::previousMatch
            || *action == EDTextFinder::replaceAndFind)
            commitSearchText();
        m_finder.performAction(*action);
    }
    event->accept();
    return true;
}
