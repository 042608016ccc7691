#pragma once

#include "app/TDStores.h"
#include "app/screens/common/TDBinding.h"
#include "platform/foundation/Date.h"
#include "platform/ui/ObservedWidget.h"

#include <QString>

#include <functional>
#include <memory>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class TDCategory;

// The form both project sheets show: the name, the start date and the category in a grouped box,
// then "Cancel" and the sheet's primary button. It writes only through its three bindings and
// calls the two closures; every check and every save is the sheet's business.
class TDProjectSheetTemplate : public platform::ObservedWidget {
public:
    static constexpr int buttonRowTop = 8;
    static constexpr int buttonRowSides = 20;
    static constexpr int buttonRowBottom = 15;

    TDProjectSheetTemplate(TDStores stores, TDBinding<std::shared_ptr<TDCategory>> selectedCategory,
        TDBinding<QString> name, TDBinding<platform::Date> date, std::function<void()> dismiss,
        std::function<void()> primaryAction, QString primaryActionButtonLabel, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QDateEdit* dateField() const { return m_date; }
    QComboBox* categoryPicker() const { return m_category; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* primaryButton() const { return m_primary; }

    // Shows the bound values again (after the sheet changed its state itself).
    void refresh() { renderNow(); }

    // The instant `date` falls on `day`, at the same local time of day to the fraction of a second.
    static platform::Date movedToDay(platform::Date date, const QDate& day);

protected:
    void render() override;
    void changeEvent(QEvent* event) override;

private:
    void applyStyle();

    TDStores m_stores;
    TDBinding<std::shared_ptr<TDCategory>> m_selectedCategory;
    TDBinding<QString> m_nameBinding;
    TDBinding<platform::Date> m_dateBinding;
    std::function<void()> m_dismiss;
    std::function<void()> m_primaryAction;
    QLineEdit* m_name;
    QDateEdit* m_date;
    QComboBox* m_category;
    QPushButton* m_cancel;
    QPushButton* m_primary;
    QWidget* m_group;
};
