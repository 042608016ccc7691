#pragma once

#include "app/TDStores.h"
#include "app/store/TDLibrary.h"
#include "platform/ui/ObservedWidget.h"

#include <memory>

class QStackedLayout;
class TDContentUnavailableView;
class TDImageGrid;
class TDMedia;

// The Media page of the sidebar: every reference image of every project, in the order they were
// added, in a grid of twelve columns whose thumbnails fill their cells; "No media found" while
// there are none. A click selects an image and opens its file, a click on the selected one clears
// the selection, "Delete" removes the image from the library (its files go to the trash once the
// library is saved). At least 800 wide.
class TDMediaMasterView : public platform::ObservedWidget {
public:
    static constexpr double initialImageColumnCount = 12;
    static constexpr int minimumWidth = 800;

    explicit TDMediaMasterView(TDStores stores, QWidget* parent = nullptr);

    TDImageGrid* grid() const { return m_grid; }
    TDContentUnavailableView* emptyState() const { return m_empty; }
    bool showsEmptyState() const;
    std::shared_ptr<TDMedia> selectedTDMedia() const;
    int savesInFlight() const { return m_library.operationsInFlight(); }

protected:
    void render() override;

private:
    TDStores m_stores;
    TDLibrary m_library;
    QStackedLayout* m_stack;
    TDContentUnavailableView* m_empty;
    TDImageGrid* m_grid;
};
