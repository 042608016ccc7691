#pragma once

#include "app/model/TDProject.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/FileManager.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace apptest {

// Points Documents, caches and the settings file into a temporary folder for one test. Resources
// stay the compiled-in ones unless `resources` is given.
class LibraryRoot {
public:
    explicit LibraryRoot(std::optional<QString> resources = {})
    {
        QDir(m_dir.path()).mkdir("Documents");
        platform::Environment::setRoots({ documents(), m_dir.path() + "/Caches", m_dir.path() + "/settings.ini",
                                          std::move(resources) });
    }
    ~LibraryRoot() { platform::Environment::resetRoots(); }

    QString root() const { return m_dir.path(); }
    QString documents() const { return m_dir.path() + "/Documents"; }
    QString library() const { return documents() + "/Tindrel.folder"; }
    QString file(const QString& name) const { return library() + "/" + name; }

    void makeLibraryFolder() const { QDir().mkpath(library()); }
    void write(const QString& name, const QByteArray& bytes) const
    {
        makeLibraryFolder();
        QFile out(file(name));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    QByteArray read(const QString& name) const
    {
        QFile in(file(name));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    // Every path under the root with its content (folders map to "<dir>").
    std::map<QString, QByteArray> snapshot() const
    {
        std::map<QString, QByteArray> tree;
        QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QString path = it.next();
            QFileInfo info(path);
            if (info.isDir()) {
                tree[path] = "<dir>";
            } else {
                QFile f(path);
                tree[path] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
            }
        }
        return tree;
    }
    QStringList libraryEntries() const
    {
        return QDir(library()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

private:
    QTemporaryDir m_dir;
};

// Captures what the process writes to one standard stream (stdout or stderr) until `take`.
class CapturedStream {
public:
    explicit CapturedStream(FILE* stream)
        : m_stream(stream)
        , m_fd(fileno(stream))
    {
        std::fflush(m_stream);
        m_saved = ::dup(m_fd);
        m_file = std::tmpfile();
        ::dup2(fileno(m_file), m_fd);
    }
    ~CapturedStream() { restore(); }

    QByteArray take()
    {
        restore();
        return m_text;
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(m_stream);
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        m_saved = -1;
        std::rewind(m_file);
        char buffer[4096];
        size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            m_text.append(buffer, qsizetype(count));
        std::fclose(m_file);
    }

    FILE* m_stream;
    int m_fd;
    int m_saved = -1;
    FILE* m_file = nullptr;
    QByteArray m_text;
};

inline platform::Url fileUrl(const QString& path)
{
    return platform::Url::fileUrl(path);
}

// A project with `noteCount` notes, all fields set.
inline std::shared_ptr<TDProject> makeProject(const QString& name, int noteCount = 0, bool withCover = false)
{
    TDProject::Fields fields;
    fields.name = name;
    fields.category = TDCategory::make(platform::Uuid::random(), "Music");
    fields.id = platform::Uuid::random();
    fields.quickAccessURL = { *platform::Url::fromString("https://example.com/a?b=c") };
    fields.status = TDStatus::archived;
    fields.isFavorite = true;
    fields.startDate = platform::Date(786840000.25);
    fields.imageColumnCount = 7.5;
    if (withCover)
        fields.coverImageURL = fileUrl("/home/u/Documents/Tindrel.folder/" + name + "/c-cover-image.jpeg");
    for (int i = 0; i < noteCount; ++i)
        fields.tdNote.push_back(TDNote::make(platform::Uuid::random(), fields.id, QStringLiteral("Note %1").arg(i),
                                             fileUrl(QStringLiteral("/notes/Note %1.txt").arg(i)),
                                             platform::Date(800000000.0 + i * 0.001)));
    return TDProject::make(std::move(fields));
}

} // namespace apptest
