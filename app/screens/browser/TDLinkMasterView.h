#pragma once

#include "app/TDStores.h"

#include <QWidget>

// The list of all saved links. For now an empty page; the link list takes its place later.
class TDLinkMasterView : public QWidget {
public:
    explicit TDLinkMasterView(TDStores stores, QWidget* parent = nullptr);

private:
    TDStores m_stores;
};
