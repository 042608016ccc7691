#pragma once

#include "app/TDStores.h"
#include "app/model/NavigationType.h"
#include "platform/ui/ObservedWidget.h"

#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class BottomBar;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;
class TDToolbar;

// The main window's content: a sidebar of the library's seven destinations in two collapsible
// sections, and a detail column of the toolbar, the selected destination's browser and the bar of
// counts. Exactly one destination is selected at all times.
class NavigationView : public platform::ObservedWidget {
public:
    static constexpr int sidebarWidth = 220;
    static constexpr int sidebarMinimumWidth = 180;
    // The width of a window that holds a project's workspace beside the sidebar at its own width, so
    // that opening a project does not widen the window.
    static int preferredWindowWidth();

    explicit NavigationView(TDStores stores, QWidget* parent = nullptr);

    // Runs each time the view is shown.
    void setOnAppear(std::function<void()> onAppear) { m_onAppear = std::move(onAppear); }

    NavigationType selectedNavigationItem() const { return m_selectedNavigationItem; }
    // Selects a destination, as a click on its sidebar row does.
    void select(NavigationType destination);
    bool isMenuExpanded() const { return m_isMenuExpanded; }
    bool isStatusExpanded() const { return m_isStatusExpanded; }

    QTreeWidget* sidebar() const { return m_sidebar; }
    QTreeWidgetItem* sidebarRow(NavigationType destination) const;
    TDToolbar* toolbar() const { return m_toolbar; }
    BottomBar* bottomBar() const { return m_bar; }
    // The browser of the selected destination.
    QWidget* destinationView() const { return m_destination; }
    QString navigationTitle() const;

    // The area windows may take on the window's screen. While a page pushed in the detail column (a
    // project's workspace) needs more than the screen leaves beside the sidebar, the sidebar steps
    // aside, so nothing of the page lies off the screen; going back brings it again. A window the
    // page widens is moved in to stay inside the area, and going back gives it its earlier width
    // and place, unless it was resized meanwhile. Tests replace the screen's area.
    void setAvailableArea(std::function<QRect()> availableArea);

protected:
    void render() override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRect availableArea() const;
    void fitSidebar();
    void followPageWidth();
    void keepWidenedWindowOnScreen();
    void buildSidebar();
    void applySidebarColors();
    void replaceDestination();
    void giveKeysToDestination();
    void keepSelection();
    std::vector<NavigationType> visibleDestinations() const;
    // The destination of the nearest row shown below (or above) the selected one, in sidebar order.
    std::optional<NavigationType> nearestVisibleDestination(bool below) const;
    bool moveSidebarSelection(int key);
    bool stepFromHeader(QTreeWidgetItem* header, int key);
    // The section header the keys are on, if they are on one rather than on the selected row.
    QTreeWidgetItem* keyHeader() const;
    void setKeyHeader(QTreeWidgetItem* header);

    TDStores m_stores;
    std::function<void()> m_onAppear;
    NavigationType m_selectedNavigationItem = NavigationType::projects;
    bool m_isMenuExpanded = true;
    bool m_isStatusExpanded = true;
    QSplitter* m_splitter;
    QTreeWidget* m_sidebar;
    TDToolbar* m_toolbar;
    QWidget* m_detail;
    QVBoxLayout* m_detailLayout;
    std::function<QRect()> m_availableArea;
    // The window's width before a pushed page widened it, how far it was then moved in to stay on
    // the screen, and the width the page gave it.
    struct PageWidening {
        int widthBefore = 0;
        int shift = 0;
        std::optional<int> widthAfter;
    };
    std::optional<PageWidening> m_pageWidening;
    QWidget* m_destination = nullptr;
    BottomBar* m_bar;
};
