#pragma once

#include "app/TDStores.h"
#include "platform/foundation/Date.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <memory>

class TDCategory;
class TDProjectSheetTemplate;

// What the sheets that make and edit a project share: the name, start date and category the form
// edits, the form itself, and at most one alert at a time.
class TDProjectSheet : public QDialog {
public:
    static constexpr int sheetWidth = 640;

    TDProjectSheetTemplate* form() const { return m_form; }
    // The alert up at the moment, if any.
    QMessageBox* alert() const { return m_alert; }
    // Whether the save the primary button started still runs.
    bool isSaving() const { return m_saving; }

    void reject() override;

protected:
    TDProjectSheet(TDStores stores, QString name, platform::Date startDate,
        std::shared_ptr<TDCategory> category, QWidget* parent);

    // Lays out the form, its primary button labelled `primaryLabel` running `primaryAction`; Cancel
    // rejects the sheet.
    void addForm(const QString& primaryLabel, std::function<void()> primaryAction);
    // While the save runs, neither button nor Escape nor the window's close closes the sheet: the
    // project has changed already, and the outcome, a failure too, is shown on the sheet.
    void setSaving(bool saving);
    // Raises an alert unless one is up already.
    void raiseAlert(const QString& title, const QString& message);
    // Project names compare as the same text whatever its Unicode form.
    static bool sameName(const QString& a, const QString& b);
    // Whether the picked category is still in the list: the settings window can delete it while the
    // sheet is open (the picker then shows none).
    bool isPickedCategoryListed() const;

    TDStores m_stores;
    QString m_name;
    platform::Date m_startDate;
    std::shared_ptr<TDCategory> m_selectedTDCategory;
    TDProjectSheetTemplate* m_form = nullptr;
    QPointer<QMessageBox> m_alert;

private:
    bool m_saving = false;
};
