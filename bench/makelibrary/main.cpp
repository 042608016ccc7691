// Not a benchmark: writes a lived-in library for trying the program at scale,
//   tindrel_makelibrary HOME COUNT
// then `HOME=HOME tindrel`. COUNT projects in HOME/Documents/Tindrel.folder with names, statuses,
// favourites and categories in turn (accents, CJK and over-long texts among them), two covers in
// three, notes with their text files, a link on every other note, and one to three reference images
// (with thumbnails) on half the projects. Every cover and image is painted in a colour of its own
// with its project's number, so a picture shown on the wrong card is seen at once. The paths in the
// library files point inside HOME: copy the library by regenerating it, not by moving it.

#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibraryCoding.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/UserDefaults.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

QByteArray jpeg(int w, int h, QColor colour, const QString& text)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    QFont font;
    font.setPixelSize(h / 4);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes;
}

void write(const platform::Url& url, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(url.path()).absolutePath());
    QFile file(url.path());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(url.path()));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString home = QString::fromLocal8Bit(argv[1]);
    const int count = QString::fromLocal8Bit(argv[2]).toInt();
    QDir().mkpath(home + "/Documents");
    platform::Environment::setRoots({ home + "/Documents", std::nullopt, std::nullopt, std::nullopt });

    const QStringList names = { "Software", "Hardware", "Illustration", "Graphic design", "Music", "Écriture",
        "写真", "Photography with a very long category name" };
    tdlibrary::CategoryList categories;
    for (const QString& name : names)
        categories.push_back(TDCategory::make(platform::Uuid::random(), name));

    const QStringList stems = { "Project", "Atelier Café", "音楽 作品", "Synth build", "Poster série",
        "A project whose name is long enough to wrap onto a second line and then be cut", "Zine" };
    tdlibrary::ProjectList projects;
    tdlibrary::MediaList media;
    tdlibrary::LinkList links;
    for (int i = 0; i < count; ++i) {
        TDProject::Fields fields;
        fields.name = QStringLiteral("%1 %2").arg(stems[i % stems.size()]).arg(i);
        fields.category = categories[i % categories.size()];
        fields.id = platform::Uuid::random();
        fields.status = static_cast<TDStatus>((i / 2) % 3);
        fields.isFavorite = i % 7 == 0;
        fields.startDate = platform::Date(786840000.0 + i * 3600.0);
        const platform::Url folder = TDDirectoryPath::projectDirectoryURL(fields.name);
        QDir().mkpath(folder.path() + "/notes");
        QDir().mkpath(folder.path() + "/images");
        const QColor colour = QColor::fromHsv((i * 37) % 360, 160, 150);
        if (i % 3 != 2) {
            platform::Url cover
                = TDDirectoryPath::coverImageFileURL(folder, platform::Uuid::random().lowercaseString());
            write(cover, jpeg(480, 320, colour, QString::number(i)));
            fields.coverImageURL = cover;
        }
        for (int n = 0; n < i % 5; ++n) {
            QString title = QStringLiteral("Note %1 of %2").arg(n).arg(i);
            platform::Url file = TDDirectoryPath::noteTextFileURL(folder, title);
            write(file, QStringLiteral("Text of note %1 in project %2.\n").arg(n).arg(i).toUtf8());
            auto note = TDNote::make(platform::Uuid::random(), fields.id, title, file,
                platform::Date(786840000.0 + i * 3600.0 + n));
            if (n % 2 == 0)
                links.push_back(TDLink { QStringLiteral("Link of %1").arg(title), QStringLiteral("A page"),
                    QStringLiteral("https://example.com/%1/%2").arg(i).arg(n), platform::Uuid::random(),
                    note->id() });
            fields.tdNote.push_back(note);
        }
        for (int m = 0; m < (i % 4 == 0 ? 3 : i % 4 == 1 ? 1 : 0); ++m) {
            auto id = platform::Uuid::random();
            platform::Url file
                = TDDirectoryPath::mediaFileURL(folder, id, QStringLiteral("ref-%1.jpg").arg(m));
            platform::Url thumb = TDDirectoryPath::mediaThumbnailURL(folder, id);
            QByteArray bytes = jpeg(640, 480, colour.darker(130), QStringLiteral("%1·%2").arg(i).arg(m));
            write(file, bytes);
            write(thumb, jpeg(320, 240, colour.darker(130), QStringLiteral("%1·%2").arg(i).arg(m)));
            media.push_back(TDMedia::make(id, file, thumb, fields.id));
        }
        projects.push_back(TDProject::make(std::move(fields)));
    }
    auto put = [](const platform::Url& url, const QByteArray& bytes) {
        if (!platform::FileManager::writeAtomically(url, bytes))
            std::exit(1);
    };
    put(TDDirectoryPath::projectsLibraryURL(), tdlibrary::encodeProjects(projects).value());
    put(TDDirectoryPath::mediaLibraryURL(), tdlibrary::encodeMedia(media).value());
    put(TDDirectoryPath::linksLibraryURL(), tdlibrary::encodeLinks(links).value());
    std::printf("%d projects, %zu images, %zu links\n", count, media.size(), links.size());
    return 0;
}
