#pragma once

#include <QString>

#include <optional>

namespace platform {

// Every root folder the program reads or writes under, in one place, so tests can point all of
// them into a temporary folder. A root left unset follows the user's standard locations (which
// follow HOME at each call).
class Environment {
public:
    struct Roots {
        std::optional<QString> documentsDirectory;
        std::optional<QString> cachesDirectory;
        std::optional<QString> settingsFile;
        // A folder (or Qt resource prefix such as ":/") holding the bundled resources.
        std::optional<QString> resourcesDirectory;
    };

    // The user's Documents folder; empty when the system names none.
    static QString documentsDirectory();
    // The program's own caches folder.
    static QString cachesDirectory();
    // The INI file behind the user defaults.
    static QString settingsFile();
    // Where bundled resources are looked up; the compiled-in Qt resources by default.
    static QString resourcesDirectory();

    // Replaces the roots that `roots` sets; the others follow the standard locations.
    static void setRoots(Roots roots);
    static Roots roots();
    static void resetRoots();
};

} // namespace platform
