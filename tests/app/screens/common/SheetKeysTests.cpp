#include "../ScreenTestSupport.h"
#include "app/screens/browser/CreateTDProjectSheet.h"
#include "app/screens/common/EditTDProjectSheet.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/screens/settings/SettingsView.h"
#include "app/screens/workspace/TDProjectDetailView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using apptest::LibraryRoot;

namespace {

// One sheet of the program: how it opens with a text typed into its field (which keeps the focus),
// and whether what its default button does has happened.
struct Sheet {
    const char* name;
    std::function<std::pair<QDialog*, QLineEdit*>(const QString& typed)> open;
    std::function<bool()> done;
};

} // namespace

// Where the keys are when Return, Enter or Escape is pressed.
enum class Focus { field, cancel, cancelThenField };

// Return and Enter, with the focus in the sheet's field, press the default button; on a focused
// Cancel they press Cancel, as in every other dialog of the desktop, and the default button is the
// default again once the focus moves on. Escape cancels and does nothing else.
TEST(SheetKeys, ReturnAndEnterPressTheDefaultButtonAndEscapeCancels)
{
    const std::pair<Qt::Key, Focus> presses[] = { { Qt::Key_Return, Focus::field },
        { Qt::Key_Enter, Focus::field }, { Qt::Key_Escape, Focus::field }, { Qt::Key_Return, Focus::cancel },
        { Qt::Key_Enter, Focus::cancel }, { Qt::Key_Return, Focus::cancelThenField } };
    for (const auto& [key, focus] : presses) {
        LibraryRoot root;
        TDStores stores = screentest::makeStores();
        auto project = screentest::onlyProjectOf(root, stores, "Alpha");
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* workspace = new TDProjectDetailView(project, stores, &window);
        auto* settings = new SettingsView(stores, &window);
        layout->addWidget(workspace);
        layout->addWidget(settings);
        window.show();

        auto typeInto = [](QDialog* sheet, QLineEdit* field, const QString& text) {
            field->setFocus();
            field->selectAll();
            screentest::typeText(field, text);
            return std::pair { sheet, field };
        };
        const Sheet sheets[] = {
            { "add a note",
                [&](const QString& typed) {
                    workspace->openCreateNewNoteSheet();
                    return typeInto(workspace->createNoteSheet(), workspace->newNoteField(), typed);
                },
                [&] { return project->tdNote().size() == 1; } },
            { "category name",
                [&](const QString& typed) {
                    settings->openNewCategorySheet();
                    return typeInto(settings->newCategorySheet(), settings->newCategoryField(), typed);
                },
                [&] { return stores.categoryStore->tdCategories().back()->name() == "Name"; } },
            { "new project",
                [&](const QString& typed) {
                    auto* sheet = new CreateTDProjectSheet(stores, &window);
                    sheet->open();
                    QCoreApplication::processEvents();
                    return typeInto(sheet, sheet->form()->nameField(), typed);
                },
                [&] { return stores.projectStore->tdProjects().size() == 2; } },
            { "edit project",
                [&](const QString& typed) {
                    auto* sheet = new EditTDProjectSheet(project, stores, &window);
                    sheet->open();
                    QCoreApplication::processEvents();
                    return typeInto(sheet, sheet->form()->nameField(), typed);
                },
                [&] { return project->name() == "Renamed"; } },
        };
        for (const Sheet& sheet : sheets) {
            SCOPED_TRACE(std::string(sheet.name) + " " + QKeySequence(key).toString().toStdString() + " focus "
                + std::to_string(int(focus)));
            const QString typed = QString(sheet.name) == "edit project" ? "Renamed" : "Name";
            auto [opened, field] = sheet.open(typed);
            QPointer<QDialog> dialog = opened;
            ASSERT_TRUE(dialog && field);
            QWidget* target = field;
            if (focus != Focus::field) {
                QPushButton* cancel = nullptr;
                for (auto* button : dialog->findChildren<QPushButton*>())
                    cancel = button->text() == "Cancel" ? button : cancel;
                ASSERT_TRUE(cancel);
                cancel->setFocus(Qt::TabFocusReason);
                QCoreApplication::processEvents();
                target = cancel;
                if (focus == Focus::cancelThenField) {
                    field->setFocus(Qt::BacktabFocusReason);
                    QCoreApplication::processEvents();
                    target = field;
                }
            }
            QTest::keyClick(target, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            const bool pressed = key != Qt::Key_Escape && focus != Focus::cancel;
            EXPECT_TRUE(testsupport::waitUntil([&] { return !dialog || !dialog->isVisible(); }, 2000))
                << "the sheet closes";
            QCoreApplication::processEvents();
            EXPECT_EQ(sheet.done(), pressed);
            EXPECT_TRUE(testsupport::waitUntil([&] { return workspace->savesInFlight() == 0; }));
        }
    }
}
