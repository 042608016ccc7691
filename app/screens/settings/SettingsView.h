#pragma once

#include "app/TDStores.h"
#include "app/screens/common/TDTextFieldSheet.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"
#include "platform/ui/ObservedWidget.h"

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <memory>

class QFormLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QToolButton;
class QVBoxLayout;
class TDCategory;
class TDCategoryRow;

// The settings window's content: one tab, "Settings", with the editable category list, its
// "Restore the default" button and the "minus" and "plus" buttons. Every change goes through the
// category store, which saves at once.
class SettingsView : public platform::ObservedWidget {
public:
    static constexpr int tabPadding = 20;
    static constexpr int controlGroupWidth = 120;
    static constexpr int newCategoryFieldMinimumWidth = 220;

    explicit SettingsView(TDStores stores, QWidget* parent = nullptr);
    ~SettingsView() override;

    // The highlighted category (a record of its own, compared by id); none when the stored list
    // was empty.
    std::shared_ptr<TDCategory> selectedTDCategory() const { return m_selectedTDCategory; }
    void select(const std::shared_ptr<TDCategory>& category);

    // "minus": refuses a category in use or the last one with an alert; otherwise deletes it.
    void deleteCategory();
    // "Restore the default": appends the missing default categories, then saves.
    void restoreDefaultCategories();
    // "plus" opens the new-category sheet; "Add" runs `addCategory`.
    void openNewCategorySheet();
    void addCategory();

    QString newCategoryTitle() const { return m_newCategoryTitle; }
    QDialog* newCategorySheet() const { return m_sheet; }
    QLineEdit* newCategoryField() const;
    QMessageBox* alert() const { return m_alert; }
    QList<TDCategoryRow*> rows() const;
    QPushButton* restoreButton() const { return m_restore; }
    QToolButton* deleteButton() const { return m_minus; }
    QToolButton* addButton() const { return m_plus; }
    // The list of categories: one Tab stop; the arrows, Home and End move the selection.
    QScrollArea* categoryList() const { return m_list; }

protected:
    void render() override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void raiseAlert(QWidget* parent, const QString& title, const QString& message);
    // A failed save of the category list is shown as a failed library save is.
    void showSaveFailure(
        QWidget* parent, const platform::Result<platform::Success, platform::PlatformError>& saved);
    void applyColors();
    void placeFormLabel();
    // "Remove" is enabled only while a category of the list is selected, the one it would act on.
    void updateDeleteButton();

    TDStores m_stores;
    std::shared_ptr<TDCategory> m_selectedTDCategory;
    QString m_newCategoryTitle;
    QTabWidget* m_tabs;
    QFormLayout* m_form = nullptr;
    QLabel* m_formLabel = nullptr;
    QScrollArea* m_list;
    QWidget* m_box;
    QWidget* m_rowsHolder;
    QVBoxLayout* m_rowsLayout;
    QPushButton* m_restore;
    QToolButton* m_minus;
    QToolButton* m_plus;
    QPointer<TDTextFieldSheet> m_sheet;
    QPointer<QMessageBox> m_alert;
    // Set by an Add or a Restore that appended: the next render scrolls to the new last row.
    bool m_revealLastRow = false;
};

// One row of the category list: the name, highlighted when its category is the selected one. A
// press anywhere across the row selects it.
class TDCategoryRow : public QWidget {
public:
    TDCategoryRow(std::shared_ptr<TDCategory> category, std::function<void()> onSelect, QWidget* parent);

    const std::shared_ptr<TDCategory>& category() const { return m_category; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    void setText(const QString& text);
    QString text() const { return m_text; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<TDCategory> m_category;
    std::function<void()> m_onSelect;
    QString m_text;
    bool m_selected = false;
};
