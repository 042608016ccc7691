// A 10 MB note in the note window, against bare Qt doing the same with the same bytes:
// - open to the first painted frame: the note window made, shown, its file read (one read, one
//   strict UTF-8 decode) and the text shown in the editor, against QFile::readAll, QString::fromUtf8
//   and QPlainTextEdit::setPlainText (no wrapping, as the note editor, same size and font);
// - save after one keystroke: a key typed into the window's text view and Ctrl+S's save, against a
//   QSaveFile write and commit of the same text as UTF-8 (at the end of the note, and for
//   information in its middle), and (for information) against the whole bare road: a key typed
//   into QPlainTextEdit, toPlainText, and the same write;
// - the model's save and load alone, against the same baselines (for information).
// Prints medians and ratios.
//
// With --screenshot FOLDER it instead writes note-window.png and note-window-dark.png there: a note
// window with a short note and four links, grabbed in a light and a dark palette, and
// note-window-add-link.png: the light window with its add-link popover open.

#include "EDTextView/EDTextContentStorage.h"
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
#include "app/store/TDLinkStore.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Compare.h"
#include "platform/foundation/Environment.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSaveFile>
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

void writeNote(const QString& path, const QString& text)
{
    QFile out(path);
    const QByteArray bytes = text.toUtf8();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
        fail("could not write the note");
}

// A library in `home` with one project holding one note of `text`.
struct Library {
    std::shared_ptr<TDProjectStore> projectStore = std::make_shared<TDProjectStore>();
    std::shared_ptr<TDLinkStore> linkStore = std::make_shared<TDLinkStore>();
    std::shared_ptr<TDNote> note;

    Library(const QString& home, const QString& projectName, const QString& title, const QString& text)
    {
        QDir(home).mkdir(QStringLiteral("Documents"));
        platform::Environment::setRoots(
            { home + QStringLiteral("/Documents"), home, home + QStringLiteral("/settings.ini"), {} });
        TDProject::Fields fields;
        fields.name = projectName;
        fields.id = platform::Uuid::random();
        auto file = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL(fields.name), title);
        if (!file)
            fail("could not create the note's files");
        note = TDNote::make(platform::Uuid::random(), fields.id, title, file.value(), platform::Date::now());
        fields.tdNote = { note };
        projectStore->setTdProjects({ TDProject::make(std::move(fields)) });
        projectStore->setNoteMap({ { note->id(), { 0, 0 } } });
        writeNote(path(), text);
    }

    QString path() const { return note->contentURL().path(); }
    TDStores stores() const { return TDStores { projectStore, nullptr, linkStore, nullptr }; }
};

TDNoteWindow* contentOf(QMainWindow* window)
{
    return static_cast<TDNoteWindow*>(window->centralWidget());
}

// Shows a note window and runs the event loop until its editor shows the whole note.
std::unique_ptr<QMainWindow> openWindow(const Library& library, qsizetype length)
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

void typeKey(QWidget* widget, Qt::Key key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

void benchmarks(const QString& home)
{
    const QString text = noteText();
    Library library(home, QStringLiteral("Bench"), QStringLiteral("Long note"), text);
    const QString path = library.path();
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
                typeKey(view, Qt::Key_X, QStringLiteral("x"));
            else
                typeKey(view, Qt::Key_Backspace, QString());
            content->saveText();
            if (content->model()->hasUnsavedText())
                fail("the window's save failed");
        };
        bench::compare(
            "save a 10 MB note after one keystroke, through the window (target <= 1.2)", typeAndSave,
            [&] { saveWithQSaveFile(path, typed ? keyed : text); }, runs);

        // The same with the caret in the middle, where the model's text moves half its length
        // for each keystroke.
        const qsizetype middle = text.indexOf(QLatin1Char('\n'), text.size() / 2) + 1;
        const QString keyedInMiddle = QString(text).insert(middle, QLatin1Char('x'));
        view->setSelectedRange({ middle, 0 });
        bench::compare(
            "save a 10 MB note after one keystroke in its middle, through the window (information)",
            typeAndSave, [&] { saveWithQSaveFile(path, typed ? keyedInMiddle : text); }, runs);
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
                    typeKey(&edit, Qt::Key_X, QStringLiteral("x"));
                else
                    typeKey(&edit, Qt::Key_Backspace, QString());
                saveWithQSaveFile(path, edit.toPlainText());
            },
            runs);
    }

    auto model = TDNoteWindowModel::make(library.projectStore, library.note);
    writeNote(path, text);
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
        [&] { saveWithQSaveFile(path, withKey ? typed : text); }, runs);

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

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x32, 0x32, 0x32), base(0x1E, 0x1E, 0x1E), button(0x3C, 0x3C, 0x3C);
    for (auto [role, color] : { std::pair { QPalette::Window, window }, { QPalette::Base, base },
             { QPalette::AlternateBase, button }, { QPalette::Button, button },
             { QPalette::WindowText, QColor(Qt::white) }, { QPalette::Text, QColor(Qt::white) },
             { QPalette::ButtonText, QColor(Qt::white) }, { QPalette::Light, QColor(0x50, 0x50, 0x50) },
             { QPalette::Midlight, QColor(0x46, 0x46, 0x46) }, { QPalette::Mid, QColor(0x2A, 0x2A, 0x2A) },
             { QPalette::Dark, QColor(0x20, 0x20, 0x20) }, { QPalette::Shadow, QColor(Qt::black) },
             { QPalette::PlaceholderText, QColor(0x80, 0x80, 0x80) },
             { QPalette::Highlight, QColor(0x0A, 0x84, 0xFF) } })
        palette.setColor(role, color);
    return palette;
}

int screenshots(const QString& home, const QString& folder)
{
    const QString text = QStringLiteral("Layout grid for the poster series\n"
                                        "\n"
                                        "Format: A2 portrait, 420 x 594 mm, 10 mm bleed.\n"
                                        "Columns: 12, gutter 5 mm; margins 24 mm outside, 18 mm inside.\n"
                                        "Baseline: 6 mm, the headline on three baselines.\n"
                                        "\n"
                                        "Type\n"
                                        "\tHeadline: condensed grotesque, 144 pt, tracking -20.\n"
                                        "\tDates and venue: 36 pt, the same family, regular.\n"
                                        "\tSmall print: 9 pt on the bottom baseline.\n"
                                        "\n"
                                        "To do\n"
                                        "- Try the photo bleeding off the top edge.\n"
                                        "- Check the caf\u00E9 poster in the 5-column variant.\n"
                                        "- Ask the printer about the fluorescent pink (Pantone 806).\n"
                                        "- Proofs on Thursday; print run quotes by Friday.\n");
    Library library(home, QStringLiteral("Poster Series"), QStringLiteral("Layout grid"), text);
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
        QApplication::setPalette(shot.dark ? darkPalette() : light);
        auto window = openWindow(library, text.size());
        window->resize(TDNoteWindow::defaultWidth, 460);
        TDNoteWindow* content = contentOf(window.get());
        EDTextView* view = content->noteView()->editor()->textView();
        view->setFocus();
        view->setSelectedRange({ text.indexOf(QStringLiteral("5-column")) + 2, 0 });
        typeKey(view, Qt::Key_Space, QStringLiteral(" "));
        typeKey(view, Qt::Key_Backspace, QString());
        content->saveText();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents();
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
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents();
    QWidget* popover = pane->header()->popover();
    // The popover may hang past the window's edge, as it does on the desktop.
    const QRect windowArea(window->mapToGlobal(QPoint()), window->size());
    const QRect popoverArea(popover->mapToGlobal(QPoint()), popover->size());
    const QRect area = windowArea.united(popoverArea).adjusted(0, 0, 8, 8);
    QPixmap shot(area.size());
    shot.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&shot);
    painter.drawPixmap(windowArea.topLeft() - area.topLeft(), window->grab());
    painter.drawPixmap(popoverArea.topLeft() - area.topLeft(), popover->grab());
    painter.end();
    if (!shot.save(folder + QStringLiteral("/note-window-add-link.png")))
        fail("could not write the screenshot");
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
    return 0;
}
