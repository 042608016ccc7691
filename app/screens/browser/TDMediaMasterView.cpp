#include "app/screens/browser/TDMediaMasterView.h"

TDMediaMasterView::TDMediaMasterView(TDStores stores, QWidget* parent)
    : QWidget(parent)
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("mediaMasterView"));
}
