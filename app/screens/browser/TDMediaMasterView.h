#pragma once

#include "app/TDStores.h"

#include <QWidget>

// The grid of all reference images. For now an empty page; the media grid takes its place later.
class TDMediaMasterView : public QWidget {
public:
    static constexpr double initialImageColumnCount = 12;

    explicit TDMediaMasterView(TDStores stores, QWidget* parent = nullptr);

private:
    TDStores m_stores;
};
