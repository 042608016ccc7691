#pragma once

#include "app/TDStores.h"
#include "app/screens/ObservingWidget.h"

#include <functional>

class QLabel;

// The main window's content. For now a plain stand-in for the project browser: it says what it is
// and shows how many projects, media and links the library holds.
class NavigationView : public ObservingWidget {
public:
    explicit NavigationView(TDStores stores, QWidget* parent = nullptr);

    // Runs each time the view is shown.
    void setOnAppear(std::function<void()> onAppear) { m_onAppear = std::move(onAppear); }

    QString countsText() const;

protected:
    void render() override;
    void showEvent(QShowEvent* event) override;

private:
    TDStores m_stores;
    std::function<void()> m_onAppear;
    QLabel* m_counts;
};
