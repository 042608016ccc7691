#pragma once

#include "app/TDStores.h"
#include "app/model/TDNote.h"
#include "app/model/TDStatus.h"
#include "app/screens/common/EditTDProjectSheet.h"
#include "app/screens/common/TDImageGrid.h"
#include "app/screens/common/TDNavigationPage.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDTextFieldSheet.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDNoteList.h"
#include "app/store/TDLibrary.h"
#include "platform/foundation/Url.h"
#include "platform/ui/ObservedWidget.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

class BottomBar;
class QAction;
class QDialog;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QStackedLayout;
class ReferenceImageDropDelegate;
class TDCoverImagePopover;
class TDImageGridSettings;
class TDMedia;
class TDNote;
class TDNoteOrder;
class TDProject;
class TDProjectDetailViewSectionTitleWithPopover;
class TDQuickAccessBar;
class TDStatusAction;

// A project's workspace, which a card opens: the notes column (320 wide: the "Notes" title, one
// row per note in date order, "Add a note" at the bottom) beside the reference images column (at
// least 800 wide: the "Reference Images" title with the grid settings popover, over the grid of the
// project's images or, while it has none, the placeholder; image files dropped on either are
// imported), over the bar of counts. Its toolbar items are the status, the favourite star,
// the cover image ("Photo") and the project's settings, with the quick-access bar under them.
// Every change it makes to a model is followed by a save of the store that holds it.
class TDProjectDetailView : public platform::ObservedWidget, public TDNavigationPage {
public:
    static constexpr int notesColumnWidth = 320;
    static constexpr int imagesColumnMinimumWidth = 800;
    static constexpr int notesSpacing = TDNoteList::rowSpacing;
    static constexpr int notesPadding = TDNoteList::padding;
    static constexpr int newNoteFieldMinimumWidth = 260;
    // The springs a deleted note's row leaves on.
    static constexpr double noteRemovalSpringResponse = 0.1;
    static inline const QString defaultNewNoteTitle = QStringLiteral("New note");

    // Asks for an image file; `chosen` runs once, with nothing when the user cancels.
    using FilePicker
        = std::function<void(QWidget* parent, std::function<void(std::optional<QString>)> chosen)>;

    TDProjectDetailView(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent = nullptr);
    ~TDProjectDetailView() override;

    const std::shared_ptr<TDProject>& project() const { return m_project; }
    QWidget* pageWidget() override { return this; }
    // The navigation title (the project's name) and subtitle (its category's name).
    QString title() const override { return m_title; }
    QString subtitle() const override { return m_subtitle; }
    void setOnTitleChange(std::function<void(const QString&)> onTitleChange) override;
    void setOnSubtitleChange(std::function<void(const QString&)> onSubtitleChange) override;

    // The toolbar items in order: status, favourite, cover image, settings.
    QList<QAction*> toolbarActions() const override;
    TDStatusAction* statusAction() const { return m_statusAction; }
    QAction* favoriteAction() const { return m_favoriteAction; }
    QAction* photoAction() const { return m_photoAction; }
    QAction* settingsAction() const { return m_settingsAction; }
    // The quick-access bar of the project's files and folders, under the toolbar.
    TDQuickAccessBar* quickAccessBar() const { return m_quickAccess; }
    // The star's colour: orange for a favourite, gray otherwise.
    QColor favoriteTint() const { return m_favoriteTint; }

    // The rows that exist now (those in or near view), in the order shown.
    std::vector<TDNoteItem*> noteItems() const { return m_noteList->rows(); }
    TDNoteList* noteList() const { return m_noteList; }
    QWidget* notesColumn() const { return m_notesColumn; }
    QWidget* imagesColumn() const { return m_imagesColumn; }
    QWidget* imagesPlaceholder() const { return m_placeholder; }
    // The images area: the drop target holding the placeholder or the grid.
    QWidget* imagesArea() const { return m_imagesArea; }
    TDImageGrid* referenceGrid() const { return m_grid; }
    ReferenceImageDropDelegate* dropDelegate() const { return m_dropDelegate; }
    TDProjectDetailViewSectionTitleWithPopover* imagesTitle() const { return m_imagesTitle; }
    QPushButton* addNoteButton() const { return m_addNoteButton; }
    BottomBar* bottomBar() const { return m_bar; }

    // The add-note sheet: "Create" runs `confirmNewNote`, which checks the title and creates the note.
    void openCreateNewNoteSheet();
    QDialog* createNoteSheet() const;
    QLineEdit* newNoteField() const;
    QString newNoteTitle() const { return m_newNoteTitle; }
    void confirmNewNote();
    QMessageBox* alert() const { return m_alert; }

    // Removes the note and its links (its row leaves on a spring), saves the links and then the
    // projects, and only then moves the note's folder to the trash. The row's "Delete" also closes
    // the note's window.
    void deleteNote(const std::shared_ptr<TDNote>& note);

    void toggleFavorite();

    void setShowCoverImagePopover(bool show);
    bool showCoverImagePopover() const { return m_showCoverImagePopover; }
    TDPopover* coverPopover() const { return m_coverPopover; }
    TDCoverImagePopover* coverPopoverContent() const;
    void setCoverImagePicker(FilePicker picker) { m_coverImagePicker = std::move(picker); }
    // Makes a JPEG copy of the image at `path` the project's cover; the old cover file goes once the
    // projects are saved.
    void setCoverImage(const QString& path);
    void removeCoverImage(const platform::Url& url);

    // Reference images. The grid's selection is the workspace's; fit or fill is kept by the
    // workspace only, and starts as fill for every workspace.
    std::shared_ptr<TDMedia> selectedTDMedia() const { return m_grid->selectedTDMedia(); }
    TDImageGrid::ContentMode contentMode() const { return m_contentMode; }
    void setContentMode(TDImageGrid::ContentMode mode);
    void setShowPopoverToChangeImageColumnCount(bool show);
    bool showPopoverToChangeImageColumnCount() const { return m_showPopoverToChangeImageColumnCount; }
    TDImageGridSettings* gridSettings() const;
    // Saves the projects after the column count changed.
    void saveColumnCount();
    // Imports dropped files into the project; the files that could not be added are listed in an
    // alert once the drop is done.
    void importImages(std::vector<QUrl> urls);
    // Removes the image (its cell leaves on a spring), saves the media, and only then moves its
    // files to the trash.
    void deleteReferenceImage(const std::shared_ptr<TDMedia>& media);

    void openEditSheet();
    EditTDProjectSheet* editSheet() const { return m_editSheet; }

    // Changes of the library started here that have not finished yet.
    int savesInFlight() const { return m_library.operationsInFlight(); }

protected:
    void render() override;
    void changeEvent(QEvent* event) override;

private:
    void buildNotesColumn(QWidget* column);
    void buildImagesColumn(QWidget* column);
    TDNoteItem* makeNoteRow(const std::shared_ptr<TDNote>& note, QWidget* parent);
    void raiseAlert(QWidget* parent, const QString& title, const QString& message);
    void showFailure(QWidget* parent, const TDLibraryFailure& failure);
    // A completion that shows a failure on the window.
    TDLibrary::Done reportingFailures();
    void watchStatus();
    void statusMayHaveChanged();
    // Picks the project's images out of the library's, under an observation of its own, so that a
    // render for any other change does not go through every image of the library again.
    void followMedia();
    void applyColors();

    std::shared_ptr<TDProject> m_project;
    TDStores m_stores;
    TDLibrary m_library;
    QString m_title;
    QString m_subtitle;
    std::function<void(const QString&)> m_onTitleChange;
    std::function<void(const QString&)> m_onSubtitleChange;

    // State of the view.
    QString m_newNoteTitle = defaultNewNoteTitle;
    bool m_openCreateNewNoteSheet = false;
    bool m_creatingNote = false;
    bool m_showCoverImagePopover = false;
    bool m_showFileImporter = false;
    bool m_showPopoverToChangeImageColumnCount = false;
    TDStatus m_lastStatus;
    platform::ObservationTracking m_statusTracking;
    // The project's images, in the store's order, as last picked out; whether the grid has them.
    std::vector<std::shared_ptr<TDMedia>> m_images;
    bool m_gridHasImages = false;
    platform::ObservationTracking m_mediaTracking;
    QColor m_favoriteTint;
    FilePicker m_coverImagePicker;
    // Notes whose rows leave on a spring at the next render.
    std::unordered_set<platform::Uuid> m_expectedNoteRemovals;

    TDStatusAction* m_statusAction;
    QAction* m_favoriteAction;
    QAction* m_photoAction;
    QAction* m_settingsAction;
    TDQuickAccessBar* m_quickAccess;
    QWidget* m_notesColumn;
    TDNoteList* m_noteList;
    std::unique_ptr<TDNoteOrder> m_noteOrder;
    // Declared after the order it feeds, so that it is destroyed first.
    std::unique_ptr<TDNote::DateWatch> m_dateWatch;
    QPushButton* m_addNoteButton;
    QWidget* m_imagesColumn;
    TDProjectDetailViewSectionTitleWithPopover* m_imagesTitle;
    QWidget* m_imagesArea;
    QStackedLayout* m_imagesStack;
    QWidget* m_placeholder;
    TDImageGrid* m_grid;
    ReferenceImageDropDelegate* m_dropDelegate;
    TDImageGrid::ContentMode m_contentMode = TDImageGrid::ContentMode::fill;
    BottomBar* m_bar;
    QPointer<TDPopover> m_coverPopover;
    QPointer<TDTextFieldSheet> m_noteSheet;
    QPointer<QMessageBox> m_alert;
    QPointer<EditTDProjectSheet> m_editSheet;
};
