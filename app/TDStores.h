#pragma once

#include <memory>

class TDProjectStore;
class TDMediaStore;
class TDLinkStore;
class TDCategoryStore;

// The four stores every screen works on, handed down from the application.
struct TDStores {
    std::shared_ptr<TDProjectStore> projectStore;
    std::shared_ptr<TDMediaStore> mediaStore;
    std::shared_ptr<TDLinkStore> linkStore;
    std::shared_ptr<TDCategoryStore> categoryStore;
};
