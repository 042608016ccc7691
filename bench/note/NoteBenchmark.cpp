// Saving a 10 MB note after one keystroke through the note window's model, against bare Qt writing
// the same text: QString::toUtf8 plus a QSaveFile write and commit, on the same file. Also times
// the model's load (one read, one strict UTF-8 decode) against QFile::readAll plus
// QString::fromUtf8, which checks nothing, for information. Prints medians and ratios.

#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Compare.h"
#include "platform/foundation/Environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr qsizetype noteBytes = 10'000'000;
constexpr int runs = 15;

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // Under the build folder rather than /tmp, which may be a memory file system where a flush
    // costs nothing.
    QTemporaryDir home(QCoreApplication::applicationDirPath() + QStringLiteral("/bench-note-XXXXXX"));
    if (!home.isValid())
        fail("no temporary folder");
    QDir(home.path()).mkdir(QStringLiteral("Documents"));
    platform::Environment::setRoots({ home.path() + QStringLiteral("/Documents"), home.path(),
        home.path() + QStringLiteral("/settings.ini"), {} });

    TDProject::Fields fields;
    fields.name = QStringLiteral("Bench");
    fields.id = platform::Uuid::random();
    auto file = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL(fields.name), "Long note");
    if (!file)
        fail("could not create the note's files");
    auto note
        = TDNote::make(platform::Uuid::random(), fields.id, "Long note", file.value(), platform::Date::now());
    fields.tdNote = { note };
    auto store = std::make_shared<TDProjectStore>();
    store->setTdProjects({ TDProject::make(std::move(fields)) });
    store->setNoteMap({ { note->id(), { 0, 0 } } });

    const QString text = noteText();
    const QString path = file.value().path();
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) != text.toUtf8().size())
            fail("could not write the note");
    }

    auto model = TDNoteWindowModel::make(store, note);
    if (model->loadText() || model->text() != text)
        fail("the model did not load the note");
    // One keystroke, typed and then taken back, so every save writes a changed text.
    const QString typed = text + QLatin1Char('x');
    bool withKey = false;
    bench::compare(
        "save 10 MB after one keystroke (target <= 1.2)",
        [&] {
            withKey = !withKey;
            model->setText(withKey ? typed : text);
            if (model->saveText())
                fail("the model's save failed");
        },
        [&] {
            const QString& current = withKey ? typed : text;
            QSaveFile out(path);
            if (!out.open(QIODevice::WriteOnly))
                fail("QSaveFile could not open");
            out.write(current.toUtf8());
            if (!out.commit())
                fail("QSaveFile could not commit");
        },
        runs);

    bench::compare(
        "load 10 MB, strict UTF-8 (information)",
        [&] {
            auto fresh = TDNoteWindowModel::make(store, note);
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
    return 0;
}
