#pragma once

#include "app/TDStores.h"
#include "app/screens/workspace/TDProjectDetailView.h"

#include <QCoreApplication>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

namespace screentest {

// Shows `project`'s workspace filling `window` at 1300 x 700; with `active`, once the window is the
// active one, so that focus and keys reach it.
inline TDProjectDetailView* showWorkspace(
    QWidget& window, const std::shared_ptr<TDProject>& project, const TDStores& stores, bool active)
{
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new TDProjectDetailView(project, stores, &window);
    layout->addWidget(view);
    window.resize(1300, 700);
    window.show();
    if (active) {
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QCoreApplication::processEvents();
    return view;
}

} // namespace screentest
