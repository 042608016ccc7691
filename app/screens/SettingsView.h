#pragma once

#include "app/TDStores.h"
#include "app/screens/ObservingWidget.h"

class QLabel;

// The settings window's content. For now a plain stand-in for the category editor.
class SettingsView : public ObservingWidget {
public:
    explicit SettingsView(TDStores stores, QWidget* parent = nullptr);

protected:
    void render() override;

private:
    TDStores m_stores;
    QLabel* m_categories;
};
