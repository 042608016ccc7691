#include "app/screens/browser/TDLinkMasterView.h"

TDLinkMasterView::TDLinkMasterView(TDStores stores, QWidget* parent)
    : QWidget(parent)
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("linkMasterView"));
}
