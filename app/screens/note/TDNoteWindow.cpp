#include "app/screens/note/TDNoteWindow.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "app/TDLocalizedText.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/common/TDWindowPlacement.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/screens/note/TDLinksPane.h"
#include "app/screens/note/TDNoteEditSheet.h"
#include "app/screens/note/TDNoteView.h"
#include "app/store/TDProjectStore.h"
#include "platform/ui/ObservedWidgetUpdates.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

using tdappearance::SystemColor;

namespace {

QColor dotColor(TDNoteWindowModel::DotColor color, bool dark)
{
    if (color == TDNoteWindowModel::DotColor::green)
        return tdappearance::color(SystemColor::green, dark);
    return dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xFF, 0x3B, 0x30);
}

} // namespace

TDNoteWindow::TDNoteWindow(std::shared_ptr<TDNote> note, TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_noteId(note ? note->id() : platform::Uuid())
    , m_stores(std::move(stores))
    , m_model(TDNoteWindowModel::make(m_stores.projectStore, note))
{
    setObjectName(QStringLiteral("noteWindowContent"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(this);
    layout->addWidget(m_pages);

    m_noProgress = new QLabel(tdLocalized("No progress"), m_pages);
    m_noProgress->setObjectName(QStringLiteral("noProgress"));
    m_noProgress->setAlignment(Qt::AlignCenter);
    m_pages->addWidget(m_noProgress);

    m_content = new QWidget(m_pages);
    auto* content = new QVBoxLayout(m_content);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    m_toolbar = new TDToolbar(m_content);
    content->addWidget(m_toolbar);

    m_problem = new QWidget(m_content);
    m_problem->setObjectName(QStringLiteral("loadProblem"));
    auto* problem = new QHBoxLayout(m_problem);
    problem->setContentsMargins(12, 8, 12, 8);
    auto* icon = new QLabel(m_problem);
    // Made before the window has a screen; the label follows the ratio of the one it is shown on.
    SymbolPainter::setPixmap(
        icon, Symbol::exclamationmarkTriangleFill, 16, tdappearance::color(SystemColor::orange, false));
    problem->addWidget(icon, 0, Qt::AlignTop);
    m_problemText = new QLabel(m_problem);
    m_problemText->setObjectName(QStringLiteral("loadProblemText"));
    m_problemText->setTextFormat(Qt::PlainText);
    m_problemText->setWordWrap(true);
    m_problemText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem->addWidget(m_problemText, 1);
    m_problem->hide();
    content->addWidget(m_problem);
    m_pages->addWidget(m_content);

    // The hidden "Save" of the window: a shortcut only.
    m_save = new QAction(tdLocalized("Save"), this);
    m_save->setShortcut(QKeySequence::Save);
    m_save->setShortcutContext(Qt::WindowShortcut);
    // A held Ctrl+S saves once, not once per repeat.
    m_save->setAutoRepeat(false);
    connect(m_save, &QAction::triggered, this, [this] { saveText(); });
    addAction(m_save);

    m_close = new QAction(tdLocalized("Close"), this);
    // Ctrl+W whatever the desktop's key scheme says (some name only Ctrl+F4).
    QList<QKeySequence> closeKeys = QKeySequence::keyBindings(QKeySequence::Close);
    for (const QKeySequence& key : { QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape) }) {
        if (!closeKeys.contains(key))
            closeKeys.append(key);
    }
    m_close->setShortcuts(closeKeys);
    m_close->setShortcutContext(Qt::WindowShortcut);
    connect(m_close, &QAction::triggered, this, [this] { window()->close(); });
    addAction(m_close);

    // The add-link popover is a window of its own while it shows, so the window's keys would not
    // reach this window from there. Escape stays the popover's: it closes the popover only.
    closeKeys.removeAll(QKeySequence(Qt::Key_Escape));
    m_closeFromPopover = new QAction(tdLocalized("Close"), this);
    m_closeFromPopover->setShortcuts(closeKeys);
    m_closeFromPopover->setShortcutContext(Qt::WindowShortcut);
    connect(m_closeFromPopover, &QAction::triggered, this, [this] {
        // Gone first, so that an alert refusing the close is not hidden behind it.
        if (m_noteView)
            m_noteView->linksPane()->addLinkPopover()->window()->hide();
        window()->close();
    });

    m_inspector = new QAction(tdLocalized("Toggle Inspector"), this);
    m_inspector->setToolTip(tdLocalized("Toggle Inspector"));
    refreshIcons();
    connect(m_inspector, &QAction::triggered, this,
        [this] { m_model->setOpenEditSheet(!m_model->openEditSheet()); });
    m_toolbar->setActions({ m_inspector });

    renderNow();
}

TDNoteWindow::~TDNoteWindow() = default;

TDNoteEditSheet* TDNoteWindow::editSheet() const
{
    return m_sheet;
}

QMessageBox* TDNoteWindow::closeAlert() const
{
    return m_closeAlert;
}

void TDNoteWindow::refreshIcons()
{
    m_inspector->setIcon(SymbolPainter::icon(
        Symbol::gear, TDToolbar::iconSize, tdappearance::color(SystemColor::secondaryLabel, this)));
}

void TDNoteWindow::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refreshIcons();
}

QMainWindow* TDNoteWindow::makeWindow(
    std::shared_ptr<TDNote> note, TDStores stores, const QWidget* over, int cascade)
{
    auto* window = new QMainWindow;
    window->setObjectName(QStringLiteral("noteWindow"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Note"));
    window->setCentralWidget(new TDNoteWindow(std::move(note), std::move(stores), window));
    window->setMinimumSize(minimumWidth, minimumHeight);

    window->resize(defaultWidth, defaultHeight);
    tdCentreWindow(window, over, cascade);
    return window;
}

QString TDNoteWindow::shownTitle() const
{
    return m_pages->currentWidget() == m_content ? m_toolbar->title() : m_noProgress->text();
}

void TDNoteWindow::render()
{
    const auto located = m_model->note();
    const bool found = located.has_value();
    m_save->setEnabled(found);
    m_inspector->setEnabled(found);
    if (!found) {
        // Typing that could not be kept when its note was deleted stays in view, to be copied.
        if (m_noteView && m_model->hasUnsavedText()) {
            // No link can be added to a note that is gone.
            platform::setEnabledIfChanged(m_noteView->linksPane(), false);
            showEditSheet(false);
            return;
        }
        m_pages->setCurrentWidget(m_noProgress);
        if (window() != this)
            window()->setWindowTitle(QStringLiteral("Note"));
        showEditSheet(false);
        return;
    }
    m_pages->setCurrentWidget(m_content);
    const QString title = located->note->title();
    const QString projectName = located->project->name();
    m_toolbar->setNavigationTitle(title);
    m_toolbar->setPushedSubtitle(tdDisplayText(projectName));
    if (window() != this)
        window()->setWindowTitle(
            tdWindowTitleText(title) + QStringLiteral(" — ") + tdWindowTitleText(projectName));

    if (!m_noteView) {
        auto model = m_model;
        QPointer<TDNoteWindow> self(this);
        m_noteView = new TDNoteView(located->note, located->project, m_stores,
            { [model, self] {
                 return dotColor(model->dotColor(), self && tdappearance::isDark(self.data()));
             },
                {} },
            { [model] { return model->label(); }, {} },
            { [model] { return model->text(); }, [model](QString text) { model->setText(std::move(text)); } },
            m_content);
        static_cast<QVBoxLayout*>(m_content->layout())->addWidget(m_noteView, 1);
        // Keystrokes go back as edits and the text is pushed only after a load (the model's rules
        // 1 and 2), so a long note is neither copied nor compared whole per keystroke.
        m_noteView->editor()->setEditBinding({
            [model](std::vector<EDTextViewUI::TextEdit> edits) {
                std::vector<TDNoteWindowModel::TextEdit> modelEdits;
                modelEdits.reserve(edits.size());
                for (auto& edit : edits)
                    modelEdits.push_back(
                        { edit.replaced.location, edit.replaced.length(), std::move(edit.replacement) });
                model->editText(modelEdits);
            },
            [model] { return model->textReplacementCount(); },
        });
        m_noteView->editor()->textView()->installEventFilter(this);
        m_noteView->linksPane()->addLinkPopover()->addActions({ m_save, m_closeFromPopover });
    } else {
        m_noteView->setNote(located->note, located->project);
        platform::setEnabledIfChanged(m_noteView->linksPane(), true);
    }
    // Nothing can be typed until the text is read, nor into a note whose file could not be read.
    platform::setEnabledIfChanged(m_noteView->editor(), m_model->canEdit());

    const auto problem = m_model->loadProblem();
    platform::setVisibleIfChanged(m_problem, problem.has_value());
    platform::setTextIfChanged(
        m_problemText, problem ? problem->title + QStringLiteral(". ") + problem->text : QString());

    showEditSheet(m_model->openEditSheet());
}

void TDNoteWindow::showEditSheet(bool open)
{
    if (open && !m_sheet) {
        m_sheet = new TDNoteEditSheet(m_model, this);
        m_sheet->setAttribute(Qt::WA_DeleteOnClose);
        m_sheet->open();
    } else if (!open && m_sheet) {
        m_sheet->close();
    }
}

void TDNoteWindow::appeared()
{
    if (window() != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        m_watchedWindow->installEventFilter(this);
    }
    m_model->loadText();
    if (m_noteView && m_model->canEdit())
        m_noteView->setFocus();
}

void TDNoteWindow::saveText()
{
    if (m_noteView) {
        // Undo stops at the saved text: typing on after the save is a step of its own.
        m_noteView->editor()->textView()->breakUndoCoalescing();
        m_noteView->editor()->commitPendingText();
    }
    if (auto problem = m_model->saveText())
        presentTDAlert(this, problem->title, problem->text);
    else if (auto notice = m_model->takeKeptNotice())
        presentTDAlert(this, notice->title, notice->text);
}

bool TDNoteWindow::mayClose()
{
    if (m_closeWithoutSaving)
        return true;
    if (m_noteView)
        m_noteView->editor()->commitPendingText();
    const auto decision = m_model->prepareToClose();
    if (decision.mayClose) {
        // The save on the way out kept another program's version aside: the window says where
        // before it goes, as Ctrl+S does.
        auto notice = m_model->takeKeptNotice();
        if (!notice)
            return true;
        QMessageBox* alert = presentTDAlert(this, notice->title, notice->text);
        connect(alert, &QDialog::finished, this, [this] { closeWindowLater(); });
        return false;
    }
    if (!m_closeAlert && decision.reason) {
        m_closeAlert = presentTDAlert(this, decision.reason->title, decision.reason->text);
        // The box's own button keeps the window; the second closes it and lets the text go.
        if (auto* keep = m_closeAlert->findChild<QPushButton*>(QStringLiteral("alertCloseButton")))
            keep->setText(tdLocalized("Keep Open"));
        QPushButton* discard
            = m_closeAlert->addButton(tdLocalized("Close Without Saving"), QMessageBox::DestructiveRole);
        discard->setObjectName(QStringLiteral("closeWithoutSavingButton"));
        QPointer<TDNoteWindow> self(this);
        connect(discard, &QPushButton::clicked, this, [self] {
            if (!self)
                return;
            self->m_closeWithoutSaving = true;
            self->closeWindowLater();
        });
    }
    return false;
}

void TDNoteWindow::closeWindowLater()
{
    // After the alert has gone: a window-modal box is still the window's child now.
    QPointer<TDNoteWindow> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (self)
                self->window()->close();
        },
        Qt::QueuedConnection);
}

bool TDNoteWindow::typeLineEndAfterCr(const QKeyEvent* key)
{
    // An LF typed right after a CR would make one CR LF with it: Return would show no new line
    // while the save (which keeps the file's CR and writes the typed line end) makes one. A CR
    // ends the line instead, and the save spells it as the note's other line ends.
    EDTextView* text = m_noteView->editor()->textView();
    const bool returnKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!returnKey || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || !text->isEditable()
        || text->hasMarkedText() || text->textLayoutManager().textSelections().size() != 1)
        return false;
    const qsizetype at = text->selectedRange().location;
    if (at <= 0 || text->textContentStorage().substring({ at - 1, at }) != u"\r")
        return false;
    text->insertText(QStringLiteral("\r"), platform::CharacterRange::notFound());
    return true;
}

bool TDNoteWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::Close) {
        if (!mayClose())
            event->ignore();
        return !event->isAccepted();
    }
    if (m_noteView && watched == m_noteView->editor()->textView() && event->type() == QEvent::KeyPress
        && typeLineEndAfterCr(static_cast<QKeyEvent*>(event)))
        return true;
    // Escape closes the window, not the text view's cancel command; an input method's composition
    // keeps it, and so does an open find bar, which it closes.
    if (m_noteView && watched == m_noteView->editor()->textView()
        && event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        EDTextView* text = m_noteView->editor()->textView();
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && !text->markedText()
            && !text->textFinder().isFindBarVisible()) {
            event->ignore();
            return true;
        }
    }
    return platform::ObservedWidget::eventFilter(watched, event);
}
