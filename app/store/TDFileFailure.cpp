#include "app/store/TDFileFailure.h"

#include "app/TDLocalizedText.h"

#include <QFileInfo>

#include <cerrno>

using platform::PlatformError;

QString tdFileInTheWay(const QString& path)
{
    for (QFileInfo info(path); !info.isRoot(); info = QFileInfo(info.absolutePath())) {
        if (info.isDir())
            return {};
        if (info.exists())
            return info.absoluteFilePath();
    }
    return {};
}

QString tdPlainFileFailure(const PlatformError& error)
{
    const QString plain = error.plainDescription();
    if (plain != error.description)
        return plain;
    const PlatformError* posix = error.posixFailure();
    // Only a failure whose text is the path and the system's words is put in other words: one that
    // says more already (a name a disk refuses) is kept as it is.
    const QString path = posix ? posix->posixContext() : QString();
    if (path.isEmpty())
        return plain;
    // A move names both ends; the system does not say which one a missing folder or a file in the
    // way belongs to, so those two are told only of a single item.
    const QString arrow = QStringLiteral(" -> ");
    const bool move = path.contains(arrow);
    const QString item = path.section(arrow, -1);
    switch (posix->code) {
    case ENOTDIR: {
        if (move)
            return plain;
        const QString file = tdFileInTheWay(item);
        if (file.isEmpty())
            return tdLocalized("A file stands where a folder on the way to %1 should be. Move or rename that "
                               "file in the file manager, then try again.")
                .arg(item);
        return tdLocalized("%1 is a file, not a folder, so %2 cannot be reached. Move or rename that file in "
                           "the file manager, then try again.")
            .arg(file, item);
    }
    case EEXIST:
        return tdLocalized("Something named %1 is there already. Choose another name, or move that item "
                           "away, then try again.")
            .arg(item);
    case EISDIR:
        return tdLocalized("%1 is a folder where a file was expected. Move that folder away, then try again.")
            .arg(item);
    case ENAMETOOLONG:
        return tdLocalized("The name or the path of %1 is too long for the disk. Choose a shorter name, "
                           "then try again.")
            .arg(item);
    case ENOENT:
        if (move)
            return plain;
        return tdLocalized("%1, or a folder on the way to it, is not there. Check that the library's disk "
                           "is connected and its folders are in place, then try again.")
            .arg(item);
    default:
        return plain;
    }
}
