#pragma once

#include "app/TDStores.h"
#include "app/screens/browser/EditTDProjectSheet.h"
#include "platform/ui/ObservedWidget.h"

#include <QPointer>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class TDProject;

// The page a card opens. For now a plain page that names the project and opens the edit sheet; the
// project's workspace takes its place later.
class TDProjectDetailView : public platform::ObservedWidget {
public:
    TDProjectDetailView(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent = nullptr);
    ~TDProjectDetailView() override;

    const std::shared_ptr<TDProject>& project() const { return m_project; }
    // The navigation title: the project's name.
    QString title() const { return m_title; }
    void setOnTitleChange(std::function<void(const QString&)> onTitleChange)
    {
        m_onTitleChange = std::move(onTitleChange);
    }

    void openEditSheet();
    EditTDProjectSheet* editSheet() const { return m_editSheet; }

protected:
    void render() override;

private:
    std::shared_ptr<TDProject> m_project;
    TDStores m_stores;
    QString m_title;
    std::function<void(const QString&)> m_onTitleChange;
    QLabel* m_name;
    QLabel* m_details;
    QPushButton* m_edit;
    QPointer<EditTDProjectSheet> m_editSheet;
};
