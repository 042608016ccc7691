#pragma once

#include <functional>
#include <memory>

class TDProjectStore;
class TDMediaStore;
class TDLinkStore;
class TDCategoryStore;
class TDNote;

// The note windows, one per note id: `openWindow` opens the note's window or brings it forward,
// `dismissWindow` closes it (nothing when none is open).
struct TDNoteWindows {
    std::function<void(const std::shared_ptr<TDNote>&)> openWindow;
    std::function<void(const std::shared_ptr<TDNote>&)> dismissWindow;
};

// The four stores every screen works on, and the note windows, handed down from the application.
struct TDStores {
    std::shared_ptr<TDProjectStore> projectStore;
    std::shared_ptr<TDMediaStore> mediaStore;
    std::shared_ptr<TDLinkStore> linkStore;
    std::shared_ptr<TDCategoryStore> categoryStore;
    std::shared_ptr<TDNoteWindows> noteWindows = {};
};
