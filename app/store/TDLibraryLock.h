#pragma once

#include "platform/foundation/Url.h"

#include <memory>

// Claims the library in a folder for this process, for as long as the object lives. Two processes
// on one library would each save their own lists over the other's files, so a project made in one
// would vanish from the other's next save. The claim is an advisory lock on a file in the user's
// runtime folder named after the library's resolved path; the system drops it when the process ends,
// however it ends, so a crash never leaves the library locked.
class TDLibraryLock {
public:
    enum class Outcome {
        acquired,
        // Another process holds the library.
        heldElsewhere,
        // No lock could be made (no runtime folder, no documents folder): the library is opened
        // unguarded rather than not at all.
        unavailable,
    };

    ~TDLibraryLock();
    TDLibraryLock(const TDLibraryLock&) = delete;
    TDLibraryLock& operator=(const TDLibraryLock&) = delete;

    // Claims `libraryFolder`. The lock (null unless acquired) is held until it is destroyed.
    static std::unique_ptr<TDLibraryLock> acquire(const platform::Url& libraryFolder, Outcome* outcome);

private:
    explicit TDLibraryLock(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    int m_descriptor;
};
