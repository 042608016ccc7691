#pragma once

// What the benchmarks that open a note window share: a library holding one note, a key typed into
// a widget, and for their screenshots a short note and a dark palette.

#include "app/TDStores.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/Environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPalette>
#include <QWidget>
#include <QString>

#include <memory>
#include <utility>

namespace bench {

// A library in `home` with one project holding one note of `text`. `fail` reports what went wrong
// and ends the program.
struct NoteLibrary {
    std::shared_ptr<TDProjectStore> projectStore = std::make_shared<TDProjectStore>();
    std::shared_ptr<TDLinkStore> linkStore = std::make_shared<TDLinkStore>();
    std::shared_ptr<TDNote> note;

    NoteLibrary(const QString& home, const QString& projectName, const QString& title, const QString& text,
        void (*fail)(const char*))
    {
        QDir(home).mkdir(QStringLiteral("Documents"));
        platform::Environment::setRoots(
            { home + QStringLiteral("/Documents"), home, home + QStringLiteral("/settings.ini"), {} });
        // A note is made only inside a library folder that is there.
        QDir().mkpath(TDDirectoryPath::libraryFolderURL().path());
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
        if (!writeNote(path(), text))
            fail("could not write the note");
    }

    QString path() const { return note->contentURL().path(); }
    TDStores stores() const { return TDStores { projectStore, nullptr, linkStore, nullptr }; }

    // Replaces the file at `path` with `text` as UTF-8; false when not all of it was written.
    static bool writeNote(const QString& path, const QString& text)
    {
        QFile out(path);
        const QByteArray bytes = text.toUtf8();
        return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size();
    }
};

// A key pressed and released on `widget`, as the keyboard sends it.
inline void typeKey(
    QWidget* widget, Qt::Key key, const QString& text = {}, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(widget, &release);
}

// The note the screenshots show: a poster's layout grid, type and a to-do list.
inline QString posterNoteText()
{
    return QStringLiteral("Layout grid for the poster series\n"
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
}

// A dark palette for the screenshots' dark variants: the offscreen platform has no dark theme.
inline QPalette darkPalette()
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

} // namespace bench
