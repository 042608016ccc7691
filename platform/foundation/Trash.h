#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Url.h"

namespace platform {

// The desktop's trash, as the freedesktop.org layout has it: a trash folder holds "files", where a
// trashed item lies under a name of its own, and "info", where "NAME.trashinfo" says where it came
// from and when. An item goes to the trash on its own mount, so that it is renamed, never copied:
// the home trash ($XDG_DATA_HOME/Trash) for an item on the home trash's mount; elsewhere, $topdir
// being the folder that mount is mounted on (also for a second mount of the home's disk, which
// nothing can be renamed across), "$topdir/.Trash/$uid" where an administrator made "$topdir/.Trash"
// (a sticky folder, no link), or else "$topdir/.Trash-$uid".
//
// A move survives a power cut at any point: the record is made exclusively, written and synced
// with its folder before the item is renamed into "files", and the folders the rename changed are
// synced after it. So an item in the trash always has its whole record; at worst a record of
// nothing is left, which the desktop's trash passes over.
class Trash {
public:
    // Moves the file or folder at `item` to the trash and gives back where it now lies: under its
    // own name, or that name + "-0001" and on where it is taken, cut at a character where its
    // record's name would be too long. Fails, with the item where it was, when no trash on its mount
    // takes it (EXDEV when there is none there or it can never be made there; the item is never
    // copied to another disk). A trash that cannot be made now (a full disk, a quota) fails with that
    // reason, not EXDEV.
    static Result<Url, PlatformError> moveToTrash(const Url& item);
};

} // namespace platform
