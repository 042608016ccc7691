// A 10 MB note in the note window, against bare Qt doing the same with the same bytes:
// - open to the first painted frame: the note window made, shown, its file read (one read, one
//   strict UTF-8 decode) and the text shown in the editor, against QFile::readAll, QString::fromUtf8
//   and QPlainTextEdit::setPlainText (no wrapping, as the note editor, same size and font);
// - save after one keystroke: a key typed into the window's text view and Ctrl+S's save, against a
//   QSaveFile write and commit of the same text as UTF-8 (at the end of the note, and for
//   information in its middle), and (for information) against the whole bare road: a key typed
//   into QPlainTextEdit, toPlainText, and the same write;
// - the model's save and load alone, against the same baselines (for information);
// - a switch between light and dark with the note open in its middle, to the next painted frame,
//   against QPlainTextEdit doing the same;
// - finding a window's note in a library of 5,000 projects when its position in the note map went
//   stale (projects before it were deleted), against the lookup through a right position.
// Prints medians and ratios.
//
// With --screenshot FOLDER it instead writes note-window.png and note-window-dark.png there: a note
// window with a short note and four links, grabbed in a light and a dark palette, and
// note-window-add-link.png: the light window with its add-link popover open. Then, for each of
// the two palettes and three scenes, a window opened in the other palette and switched live to it
// (caret-live-dark.png, ...) beside one opened in it (caret-opened-dark.png, ...): the two of a
// pair should look alike.

#include "EDTextView/EDFindBar.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextView.h"
#include "app/model/TDLink.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/screens/note/TDLinksPane.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Compare.h"
#include "bench/support/NoteWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr qsizetype noteBytes = 10'000'000;
constexpr int runs = 31;
constexpr int openRuns = 5;
constexpr int windowWidth = 800;
constexpr int windowHeight = 600;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_note: %s\n", what);
    std::exit(1);
}

// Prose with a non-ASCII character in every line, as notes in most languages have.
QString noteText()
{
    const QString line
        = QStringLiteral("Line %1: the caf\u00E9 sketch needs another pass at the lettering.\n");
    QString text;
    text.reserve(noteBytes + line.size() + 16);
    for (int i = 0; text.size() < noteBytes; ++i)
        text += line.arg(i);
    return text;
}

// The baseline save: the text as UTF-8, written through QSaveFile and committed.
void saveWithQSaveFile(const QString& path, const QString& text)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        fail("QSaveFile could not open");
    out.write(text.toUtf8());
    if (!out.commit())
        fail("QSaveFile could not commit");
}

TDNoteWindow* contentOf(QMainWindow* window)
{
    return static_cast<TDNoteWindow*>(window->centralWidget());
}

// Shows a note window and runs the event loop until its editor shows the whole note.
std::unique_ptr<QMainWindow> openWindow(const bench::NoteLibrary& library, qsizetype length)
{
    std::unique_ptr<QMainWindow> window(TDNoteWindow::makeWindow(library.note, library.stores(), nullptr));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(windowWidth, windowHeight);
    window->show();
    QElapsedTimer waited;
    waited.start();
    while (true) {
        QCoreApplication::processEvents();
        TDNoteView* view = contentOf(window.get())->noteView();
        if (view && view->editor()->textView()->textContentStorage().length() == length)
            break;
        if (waited.elapsed() > 60'000)
            fail("the note window did not show the note");
    }
    return window;
}

void paint(QAbstractScrollArea& area)
{
    area.viewport()->repaint();
    QCoreApplication::processEvents();
}

void benchmarks(const QString& home)
{
    const QString text = noteText();
    bench::NoteLibrary library(home, QStringLiteral("Bench"), QStringLiteral("Long note"), text, fail);
    const QString path = library.path();
    // The baseline saves beside the note: written over the note itself, it would be a change made
    // elsewhere that every save of ours must look at before replacing it.
    const QString baselinePath = path + QStringLiteral(".baseline");
    std::printf("note: %.1f MB as UTF-8, %lld lines; window %d x %d\n", text.toUtf8().size() / 1e6,
        static_cast<long long>(text.count(QLatin1Char('\n'))), windowWidth, windowHeight);

    QFont editorFont;
    bench::compare(
        "open a 10 MB note to the first painted frame (target <= 0.5)",
        [&] {
            auto window = openWindow(library, text.size());
            EDTextView* view = contentOf(window.get())->noteView()->editor()->textView();
            paint(*view);
            editorFont = view->font().value_or(editorFont);
        },
        [&] {
            QFile in(path);
            if (!in.open(QIODevice::ReadOnly))
                fail("QFile could not open");
            QPlainTextEdit edit;
            edit.setFont(editorFont);
            edit.setLineWrapMode(QPlainTextEdit::NoWrap);
            edit.resize(windowWidth, windowHeight);
            edit.setPlainText(QString::fromUtf8(in.readAll()));
            edit.show();
            paint(edit);
        },
        openRuns);

    {
        // The desktop switching between light and dark while the note is open in its middle: the
        // text in the default colour takes the new one without formats or an edit of the text.
        auto window = openWindow(library, text.size());
        EDTextView* view = contentOf(window.get())->noteView()->editor()->textView();
        const qsizetype middle = text.indexOf(QLatin1Char('\n'), text.size() / 2) + 1;
        view->setSelectedRange({ middle, 0 });
        view->scrollRangeToVisible({ middle, 0 });
        paint(*view);
        QPlainTextEdit edit;
        edit.setFont(editorFont);
        edit.setLineWrapMode(QPlainTextEdit::NoWrap);
        edit.resize(windowWidth, windowHeight);
        edit.setPlainText(text);
        edit.show();
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(int(middle));
        edit.setTextCursor(cursor);
        edit.ensureCursorVisible();
        paint(edit);
        // Set on each window rather than on the application, so that a switch repaints one side.
        const QPalette light = QApplication::palette();
        const QPalette dark = bench::darkPalette();
        bool oursDark = false, baselineDark = false;
        bench::compare(
            "switch between light and dark with a 10 MB note open, to the next painted frame "
            "(information)",
            [&] {
                oursDark = !oursDark;
                window->setPalette(oursDark ? dark : light);
                paint(*view);
            },
            [&] {
                baselineDark = !baselineDark;
                edit.setPalette(baselineDark ? dark : light);
                paint(edit);
            },
            runs);
    }

    {
        auto window = openWindow(library, text.size());
        TDNoteWindow* content = contentOf(window.get());
        EDTextView* view = content->noteView()->editor()->textView();
        view->setFocus();
        view->setSelectedRange({ text.size(), 0 });
        // A key typed and then taken back, so that every save writes a changed text.
        const QString keyed = text + QLatin1Char('x');
        bool typed = false;
        auto typeAndSave = [&] {
            typed = !typed;
            if (typed)
                bench::typeKey(view, Qt::Key_X, QStringLiteral("x"));
            else
                bench::typeKey(view, Qt::Key_Backspace, QString());
            content->saveText();
            if (content->model()->hasUnsavedText())
                fail("the window's save failed");
        };
        bench::compare(
            "save a 10 MB note after one keystroke, through the window (target <= 1.2)", typeAndSave,
            [&] { saveWithQSaveFile(baselinePath, typed ? keyed : text); }, runs);

        // The same with the caret in the middle, where the model's text moves half its length
        // for each keystroke.
        const qsizetype middle = text.indexOf(QLatin1Char('\n'), text.size() / 2) + 1;
        const QString keyedInMiddle = QString(text).insert(middle, QLatin1Char('x'));
        view->setSelectedRange({ middle, 0 });
        bench::compare(
            "save a 10 MB note after one keystroke in its middle, through the window (information)",
            typeAndSave, [&] { saveWithQSaveFile(baselinePath, typed ? keyedInMiddle : text); }, runs);
        view->setSelectedRange({ text.size(), 0 });

        // The whole bare road: a key typed into QPlainTextEdit, its text taken out, then written.
        QPlainTextEdit edit;
        edit.setLineWrapMode(QPlainTextEdit::NoWrap);
        edit.resize(windowWidth, windowHeight);
        edit.setPlainText(text);
        edit.show();
        edit.moveCursor(QTextCursor::End);
        bool editTyped = false;
        bench::compare(
            "save after one keystroke, against QPlainTextEdit + toPlainText + QSaveFile (information)",
            typeAndSave,
            [&] {
                editTyped = !editTyped;
                if (editTyped)
                    bench::typeKey(&edit, Qt::Key_X, QStringLiteral("x"));
                else
                    bench::typeKey(&edit, Qt::Key_Backspace, QString());
                saveWithQSaveFile(baselinePath, edit.toPlainText());
            },
            runs);
    }

    auto model = TDNoteWindowModel::make(library.projectStore, library.note);
    if (!bench::NoteLibrary::writeNote(path, text))
        fail("could not write the note");
    if (model->loadText() || model->text() != text)
        fail("the model did not load the note");
    const QString typed = text + QLatin1Char('x');
    bool withKey = false;
    bench::compare(
        "model alone: save 10 MB after one keystroke (information)",
        [&] {
            withKey = !withKey;
            model->setText(withKey ? typed : text);
            if (model->saveText())
                fail("the model's save failed");
        },
        [&] { saveWithQSaveFile(baselinePath, withKey ? typed : text); }, runs);

    bench::compare(
        "model alone: load 10 MB, strict UTF-8 (information)",
        [&] {
            auto fresh = TDNoteWindowModel::make(library.projectStore, library.note);
            if (fresh->loadText())
                fail("the model's load failed");
        },
        [&] {
            QFile in(path);
            if (!in.open(QIODevice::ReadOnly))
                fail("QFile could not open");
            if (QString::fromUtf8(in.readAll()).isEmpty())
                fail("QFile read nothing");
        },
        runs);
}

// What each render of a note window asks the store, `lookups` times.
void lookUpNote(const TDProjectStore& store, const platform::Uuid& id, int lookups)
{
    for (int i = 0; i < lookups; ++i) {
        if (!store.locateNote(id))
            fail("the note was not found");
    }
}

void noteLookup()
{
    constexpr int projectCount = 5000;
    constexpr int notesPerProject = 5;
    constexpr int lookups = 2000;
    TDProjectStore::ProjectList projects;
    for (int p = 0; p < projectCount; ++p) {
        TDProject::Fields fields;
        fields.name = QStringLiteral("Project %1").arg(p);
        fields.id = platform::Uuid::random();
        for (int n = 0; n < notesPerProject; ++n)
            fields.tdNote.push_back(
                TDNote::make(platform::Uuid::random(), fields.id, QStringLiteral("Note %1").arg(n),
                    platform::Url::fileUrl(QStringLiteral("/n.txt")), platform::Date(8e8)));
        projects.push_back(TDProject::make(std::move(fields)));
    }
    const platform::Uuid last = projects.back()->tdNote().back()->id();
    const platform::Uuid first = projects.front()->tdNote().back()->id();
    TDProjectStore stale;
    stale.setTdProjects(projects);
    stale.setNoteMap({ { last, { projectCount + 3, notesPerProject - 1 } } });
    TDProjectStore right;
    right.setTdProjects(projects);
    right.setNoteMap({ { first, { 0, notesPerProject - 1 } } });
    std::printf("note lookup, %d projects, %d lookups per run:\n", projectCount, lookups);
    bench::compare(
        "stale map position against a right one", [&] { lookUpNote(stale, last, lookups); },
        [&] { lookUpNote(right, first, lookups); });
}

void settle()
{
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents();
}

// A window and its popover as they stand on the screen; the popover may hang past the window.
QPixmap grabWithPopover(QWidget* window, QWidget* popover)
{
    const QRect windowArea(window->mapToGlobal(QPoint()), window->size());
    const QRect popoverArea(popover->mapToGlobal(QPoint()), popover->size());
    const QRect area = windowArea.united(popoverArea).adjusted(0, 0, 8, 8);
    QPixmap shot(area.size());
    shot.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&shot);
    painter.drawPixmap(windowArea.topLeft() - area.topLeft(), window->grab());
    painter.drawPixmap(popoverArea.topLeft() - area.topLeft(), popover->grab());
    return shot;
}

void appearanceScreenshots(const bench::NoteLibrary& library, const QString& text, const QString& folder)
{
    const QPalette light = QApplication::palette();
    const QPalette dark = bench::darkPalette();
    // The window as the user leaves it before the switch: a caret, the find bar showing matches, a
    // word coloured through the colour panel, spelling checked; or, shorter, with a range selected,
    // the find and replace fields empty and the links pane scrolled; or its add-link popover open
    // with its field empty.
    enum class Scene { caret, selection, popover };
    const struct {
        Scene scene;
        const char* name;
    } scenes[]
        = { { Scene::caret, "caret" }, { Scene::selection, "selection" }, { Scene::popover, "add-link" } };
    for (const auto& [scene, sceneName] : scenes) {
        for (const bool toDark : { true, false }) {
            const QPalette& target = toDark ? dark : light;
            for (const bool live : { true, false }) {
                QApplication::setPalette(live ? (toDark ? light : dark) : target);
                auto window = openWindow(library, text.size());
                window->resize(TDNoteWindow::defaultWidth, scene == Scene::selection ? 300 : 460);
                window->activateWindow();
                TDNoteWindow* content = contentOf(window.get());
                EDTextView* view = content->noteView()->editor()->textView();
                view->setFocus();
                view->setIsContinuousSpellCheckingEnabled(true);
                const QString pink = QStringLiteral("fluorescent pink");
                view->setSelectedRange({ text.indexOf(pink), pink.size() });
                view->changeColor(QColor(0xE0, 0x1B, 0x84));
                content->saveText();
                QWidget* popover = nullptr;
                if (scene == Scene::caret) {
                    view->doCommandBySelector("showFindInterface:");
                    if (EDFindBar* bar = view->textFinder().findBar()) {
                        for (const QChar c : QStringLiteral("the"))
                            bench::typeKey(bar->findField(), Qt::Key_unknown, QString(c));
                    }
                    view->setFocus();
                    view->setSelectedRange({ text.indexOf(QStringLiteral("5-column")) + 2, 0 });
                } else if (scene == Scene::selection) {
                    view->doCommandBySelector("showReplaceInterface:");
                    view->setFocus();
                    view->setSelectedRange({ text.indexOf(QStringLiteral("Columns")), 30 });
                    content->noteView()->linksPane()->scrollArea()->verticalScrollBar()->setValue(40);
                } else {
                    TDLinksPane* pane = content->noteView()->linksPane();
                    pane->header()->button()->click();
                    popover = pane->header()->popover();
                }
                settle();
                if (live)
                    QApplication::setPalette(target);
                settle();
                const QString name
                    = QStringLiteral("/%1-%2-%3.png")
                          .arg(QLatin1String(sceneName), QLatin1String(live ? "live" : "opened"),
                              QLatin1String(toDark ? "dark" : "light"));
                if (!(popover ? grabWithPopover(window.get(), popover) : window->grab()).save(folder + name))
                    fail("could not write the screenshot");
            }
        }
    }
    QApplication::setPalette(light);
}

int screenshots(const QString& home, const QString& folder)
{
    const QString text = bench::posterNoteText();
    bench::NoteLibrary library(
        home, QStringLiteral("Poster Series"), QStringLiteral("Layout grid"), text, fail);
    const auto link = [&](std::optional<QString> title, std::optional<QString> desc, const char* url) {
        return TDLink { std::move(title), std::move(desc), QString::fromUtf8(url), platform::Uuid::random(),
            library.note->id() };
    };
    library.linkStore->setTdLinks({
        link(QStringLiteral("Swiss Grid Systems \u2013 A Short History"),
            QStringLiteral("How the modular grid moved from Basel and Zurich into posters, books and "
                           "signage, with examples from five decades."),
            "https://example.com/articles/swiss-grid-systems"),
        link(QStringLiteral("Pantone 806 C"),
            QStringLiteral("Fluorescent pink: colour values, substrates and printing notes."),
            "https://example.org/colour/pantone-806-c"),
        link(QStringLiteral("Poster sizes (ISO 216)"), std::nullopt,
            "https://example.net/paper/iso-216?series=A&size=2"),
        link(std::nullopt, std::nullopt, "http://printshop.example/quote/4471"),
    });
    const struct {
        bool dark;
        const char* file;
    } shots[] = { { false, "note-window.png" }, { true, "note-window-dark.png" } };
    const QPalette light = QApplication::palette();
    for (const auto& shot : shots) {
        QApplication::setPalette(shot.dark ? bench::darkPalette() : light);
        auto window = openWindow(library, text.size());
        window->resize(TDNoteWindow::defaultWidth, 460);
        TDNoteWindow* content = contentOf(window.get());
        EDTextView* view = content->noteView()->editor()->textView();
        view->setFocus();
        view->setSelectedRange({ text.indexOf(QStringLiteral("5-column")) + 2, 0 });
        bench::typeKey(view, Qt::Key_Space, QStringLiteral(" "));
        bench::typeKey(view, Qt::Key_Backspace, QString());
        content->saveText();
        settle();
        if (!window->grab().save(folder + QLatin1Char('/') + QLatin1String(shot.file)))
            fail("could not write the screenshot");
    }

    // The add-link popover open over the light window, an address typed in it. The popover is a
    // window of its own: it is drawn over the grab where it stands on the screen.
    QApplication::setPalette(light);
    auto window = openWindow(library, text.size());
    window->resize(TDNoteWindow::defaultWidth, 460);
    TDLinksPane* pane = contentOf(window.get())->noteView()->linksPane();
    pane->header()->button()->click();
    QLineEdit* field = pane->addLinkPopover()->field();
    field->setText(QStringLiteral("https://example.com/type/specimens"));
    settle();
    if (!grabWithPopover(window.get(), pane->header()->popover())
             .save(folder + QStringLiteral("/note-window-add-link.png")))
        fail("could not write the screenshot");
    window.reset();
    appearanceScreenshots(library, text, folder);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // Under the build folder rather than /tmp, which may be a memory file system where a flush
    // costs nothing.
    QTemporaryDir home(QCoreApplication::applicationDirPath() + QStringLiteral("/bench-note-XXXXXX"));
    if (!home.isValid())
        fail("no temporary folder");
    if (argc >= 3 && QByteArray(argv[1]) == "--screenshot")
        return screenshots(home.path(), QString::fromLocal8Bit(argv[2]));
    benchmarks(home.path());
    noteLookup();
    return 0;
}
