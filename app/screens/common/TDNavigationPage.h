#pragma once

#include "app/TDStores.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QWidget;
class TDProject;

// A page the project browser pushes onto its navigation stack: its widget, the navigation title and
// subtitle the toolbar shows for it, and the toolbar items it brings. The browser knows pages only
// through this, so it does not depend on the screens it navigates to.
class TDNavigationPage {
public:
    virtual ~TDNavigationPage() = default;

    virtual QWidget* pageWidget() = 0;
    virtual QString title() const = 0;
    virtual QString subtitle() const = 0;
    virtual QList<QAction*> toolbarActions() const = 0;
    virtual void setOnTitleChange(std::function<void(const QString&)> onTitleChange) = 0;
    virtual void setOnSubtitleChange(std::function<void(const QString&)> onSubtitleChange) = 0;
};

// The workspace of `project` as a page (made by the workspace screens).
TDNavigationPage* makeTDProjectPage(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent);
