#pragma once

#include "app/model/TDLink.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The ".webloc" file of a link: a small XML property list holding its address, in the "links"
// folder of its note. Each link has a file of its own, named from its title and its id, so the name
// can be worked out again to remove exactly that file. Main thread (or any one thread at a time).
class TDWeblocFile {
public:
    static constexpr int idDigitsInName = 8;

    // The whole file for `address` (the absolute form of a parsed URL). Every character is written
    // so that the file is well-formed XML whatever the address holds.
    static QByteArray contents(const QString& address);

    // The file's name without its extension: the link's title made safe to be a file name, without
    // leading dots and text-direction controls ("Untitled" when nothing is left), a space, and the
    // first eight hexadecimal digits of its id.
    static QString name(const TDLink& link);

    // Where the link's file lives; invalid when the project name or note title cannot name a folder.
    static platform::Url location(const QString& projectName, const QString& noteTitle, const TDLink& link);

    // Every place the link's file may be: `location`, the name for a disk that refuses some of its
    // characters, and the name earlier versions gave it. Only valid URLs.
    static std::vector<platform::Url> places(
        const QString& projectName, const QString& noteTitle, const TDLink& link);

    // Writes the link's file atomically and returns where. The project folder must exist; the
    // note's "links" folder is created when missing. Refused: an address that does not parse, a
    // folder that resolves outside the library folder, and a symbolic link where the file goes.
    // Where the disk refuses characters of the name (a memory card), they become "-" and the file
    // is written under that name.
    static platform::Result<platform::Url, platform::PlatformError> write(
        const QString& projectName, const QString& noteTitle, const TDLink& link);

    // Removes the link's own file, under whichever name it was written (a symbolic link there is
    // removed, not followed). A file that is already gone is success.
    static platform::Result<platform::Success, platform::PlatformError> remove(
        const QString& projectName, const QString& noteTitle, const TDLink& link);
};
