#include "EDTextView/EDFindBar.h"

#include "EDTextView/EDKeyBindings.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextView.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int barMarginH = 8;
constexpr int barMarginV = 5;
constexpr int rowSpacing = 5;
constexpr int findFieldMinimumWidth = 160;
constexpr int findFieldMaximumWidth = 360;

QIcon themeIcon(const QString& name, QStyle* style, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(name, style->standardIcon(fallback));
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
    m_replaceToggle->setFocusPolicy(Qt::NoFocus);

    m_findField = new QLineEdit(this);
    m_findField->setObjectName(QStringLiteral("findBarFindField"));
    m_findField->setPlaceholderText(tr("Find"));
    m_findField->setClearButtonEnabled(true);
    m_findField->setMinimumWidth(findFieldMinimumWidth);
    m_findField->setMaximumWidth(findFieldMaximumWidth);

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("findBarMatchCount"));
    m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(QStringLiteral("0000 of 0000")));

    m_previous = new QToolButton(this);
    m_previous->setObjectName(QStringLiteral("findBarPrevious"));
    m_previous->setAutoRaise(true);
    m_previous->setToolTip(tr("Previous Match (Shift+F3)"));
    m_next = new QToolButton(this);
    m_next->setObjectName(QStringLiteral("findBarNext"));
    m_next->setAutoRaise(true);
    m_next->setToolTip(tr("Next Match (F3)"));

    m_matchCase = new QCheckBox(tr("Match Case"), this);
    m_matchCase->setObjectName(QStringLiteral("findBarMatchCase"));
    m_wholeWords = new QCheckBox(tr("Whole Words"), this);
    m_wholeWords->setObjectName(QStringLiteral("findBarWholeWords"));

    m_done = new QToolButton(this);
    m_done->setObjectName(QStringLiteral("findBarDone"));
    m_done->setAutoRaise(true);
    m_done->setToolTip(tr("Close (Escape)"));

    m_replaceRow = new QWidget(this);
    m_replaceField = new QLineEdit(m_replaceRow);
    m_replaceField->setObjectName(QStringLiteral("findBarReplaceField"));
    m_replaceField->setPlaceholderText(tr("Replace"));
    m_replaceField->setClearButtonEnabled(true);
    m_replaceField->setMinimumWidth(findFieldMinimumWidth);
    m_replaceField->setMaximumWidth(findFieldMaximumWidth);
    m_replace = new QPushButton(tr("Replace"), m_replaceRow);
    m_replace->setObjectName(QStringLiteral("findBarReplace"));
    m_replaceAll = new QPushButton(tr("Replace All"), m_replaceRow);
    m_replaceAll->setObjectName(QStringLiteral("findBarReplaceAll"));

    auto* findRow = new QHBoxLayout;
    findRow->setSpacing(rowSpacing);
    findRow->addWidget(m_replaceToggle);
    findRow->addWidget(m_findField, 1);
    findRow->addWidget(m_count);
    findRow->addWidget(m_previous);
    findRow->addWidget(m_next);
    findRow->addSpacing(rowSpacing);
    findRow->addWidget(m_matchCase);
    findRow->addWidget(m_wholeWords);
    findRow->addStretch(0);
    findRow->addWidget(m_done);

    auto* replaceRow = new QHBoxLayout(m_replaceRow);
    replaceRow->setContentsMargins(0, 0, 0, 0);
    replaceRow->setSpacing(rowSpacing);
    replaceRow->addSpacing(m_replaceToggle->sizeHint().width());
    replaceRow->addWidget(m_replaceField, 1);
    replaceRow->addWidget(m_replace);
    replaceRow->addWidget(m_replaceAll);
    replaceRow->addStretch(0);

    auto* rows = new QVBoxLayout(this);
    // One pixel more below, for the line that parts the bar from the text.
    rows->setContentsMargins(barMarginH, barMarginV, barMarginH, barMarginV + 1);
    rows->setSpacing(rowSpacing);
    rows->addLayout(findRow);
    rows->addWidget(m_replaceRow);
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
    m_replaceRow->setVisible(visible);
    m_replaceToggle->setArrowType(visible ? Qt::DownArrow : Qt::RightArrow);
    m_replaceToggle->setToolTip(visible ? tr("Hide Replace") : tr("Show Replace"));
    if (!visible && m_replaceRow->isAncestorOf(focusWidget()))
        m_findField->setFocus();
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
    if (current)
        return tr("%1 of %2")
            .arg(QLocale().toString(qulonglong(*current + 1)), QLocale().toString(qulonglong(count)));
    if (count == 1)
        return tr("1 match");
    return tr("%1 matches").arg(QLocale().toString(qulonglong(count)));
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
    if (!searching) {
        m_count->clear();
    } else {
        m_count->setText(matchCountText(m_finder.matches().size(), m_finder.currentMatch()));
    }
    // "No matches" in the desktop's colour for a problem; counts as quiet as a placeholder.
    QPalette countPalette = palette();
    const bool none = searching && m_finder.matches().empty();
    countPalette.setColor(
        QPalette::WindowText, none ? QColor(0xE0, 0x1B, 0x24) : palette().color(QPalette::PlaceholderText));
    m_count->setPalette(countPalette);
    m_previous->setEnabled(searching);
    m_next->setEnabled(searching);
    m_replaceToggle->setEnabled(editable);
    m_replace->setEnabled(editable && searching);
    m_replaceAll->setEnabled(editable && searching);
    m_replaceField->setEnabled(editable);
}

void EDFindBar::updateIcons()
{
    m_previous->setIcon(themeIcon(QStringLiteral("go-up"), style(), QStyle::SP_ArrowUp));
    m_next->setIcon(themeIcon(QStringLiteral("go-down"), style(), QStyle::SP_ArrowDown));
    m_done->setIcon(themeIcon(QStringLiteral("window-close"), style(), QStyle::SP_TitleBarCloseButton));
}

void EDFindBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange) {
        updateIcons();
        refresh();
    }
    QWidget::changeEvent(event);
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
    if (watched == parentWidget() && event->type() == QEvent::Resize && !isHidden()) {
        if (EDTextView* container = m_finder.findBarContainer())
            container->tileFindBar();
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
