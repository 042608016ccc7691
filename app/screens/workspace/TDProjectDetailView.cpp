#include "app/screens/workspace/TDProjectDetailView.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDMedia.h"
#include "app/model/TDProject.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDGroupedBox.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDPrimaryButton.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/workspace/ReferenceImageDropDelegate.h"
#include "app/screens/workspace/TDCoverImagePopover.h"
#include "app/screens/workspace/TDImageGridSettings.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDNoteOrder.h"
#include "app/screens/workspace/TDQuickAccessBar.h"
#include "app/screens/workspace/TDStatusPicker.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDImageImport.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ObservationRegistrar.h"

#include <QAction>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

using tdappearance::SystemColor;

namespace {

constexpr int toolbarIconSize = 18;
constexpr int addNotePadding = 12;
constexpr int addNoteSpacing = 5;
constexpr int addNoteFontSize = 13;
constexpr int placeholderFontSize = 16;
constexpr int placeholderSymbolSize = 32;
constexpr int placeholderSpacing = 12;
// Files named in the alert after a drop; the rest are counted.
constexpr int listedFailures = 8;

// "Add a note" across the foot of the notes column: the symbol and the text on a translucent fill
// of the window's colour, a hairline along its top.
class TDAddNoteButton : public QPushButton {
public:
    explicit TDAddNoteButton(QWidget* parent)
        : QPushButton(tdLocalized("Add a note"), parent)
    {
        setObjectName(QStringLiteral("addNoteButton"));
        setFlat(true);
        setAutoDefault(false);
        setFont(tdappearance::systemFont(addNoteFontSize));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::ArrowCursor);
        // Reached with Tab; a click leaves the focus where it was.
        setFocusPolicy(Qt::TabFocus);
        tdfocusring::attach(this, 3);
    }

    QSize sizeHint() const override
    {
        QFontMetrics metrics(font());
        return QSize(metrics.horizontalAdvance(text()) + addNoteFontSize + addNoteSpacing + 24,
            std::max(metrics.height(), addNoteFontSize) + 2 * addNotePadding + 1);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const bool dark = tdappearance::isDark(this);
        QColor material = tdappearance::color(SystemColor::windowBackground, dark);
        material.setAlphaF(isDown() ? 0.98f : 0.85f);
        painter.fillRect(rect(), material);
        if (isDown())
            painter.fillRect(rect(), tdappearance::color(SystemColor::tertiaryFill, dark));
        painter.fillRect(QRect(0, 0, width(), 1), tdappearance::color(SystemColor::separator, dark));
        const QColor ink = tdappearance::color(SystemColor::primaryLabel, dark);
        QFontMetrics metrics(font());
        const int textWidth = metrics.horizontalAdvance(text());
        const int total = addNoteFontSize + addNoteSpacing + textWidth;
        const int left = (width() - total) / 2;
        // The symbol leads the text: on its right, right to left.
        auto visual = [this](const QRectF& logical) {
            return isRightToLeft()
                ? QRectF(width() - logical.right(), logical.top(), logical.width(), logical.height())
                : logical;
        };
        const QRectF symbol(left, (height() - addNoteFontSize) / 2.0, addNoteFontSize, addNoteFontSize);
        SymbolPainter::paint(painter, Symbol::plusCircleFill, visual(symbol), ink);
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(visual(QRectF(left + addNoteFontSize + addNoteSpacing, 0, textWidth + 2, height())),
            Qt::AlignLeft | Qt::AlignVCenter, text());
    }
};

// The line between the two columns, laid over the notes column's trailing edge so that it takes
// no width of its own.
class TDColumnDivider : public QWidget {
public:
    explicit TDColumnDivider(QWidget* column)
        : QWidget(column)
    {
        setObjectName(QStringLiteral("columnDivider"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        column->installEventFilter(this);
        place();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::LayoutDirectionChange)
            place();
        return false;
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), tdappearance::color(SystemColor::separator, tdappearance::isDark(this)));
    }

private:
    void place()
    {
        // Right to left the images column lies on the left: the trailing edge is the left one.
        const QWidget* column = parentWidget();
        setGeometry(column->isRightToLeft() ? 0 : column->width() - 1, 0, 1, column->height());
        raise();
    }
};

// A file dialog for one image file, not blocking the window.
void pickImageFile(QWidget* parent, std::function<void(std::optional<QString>)> chosen)
{
    auto* dialog = new QFileDialog(parent, tdLocalized("Choose a cover image"));
    dialog->setObjectName(QStringLiteral("coverImageFileDialog"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        // Drawings are not read: they can name other files.
        if (format != "svg" && format != "svgz")
            patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    }
    // Phone photos: read through libheif, which Qt's list does not know of.
    for (const char* extension : { "*.heic", "*.heif", "*.avif" })
        if (!patterns.contains(QLatin1String(extension)))
            patterns.append(QLatin1String(extension));
    dialog->setNameFilter(
        tdLocalized("Images") + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen = std::move(chosen)](int result) {
        QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty())
            chosen(files.front());
        else
            chosen(std::nullopt);
    });
    dialog->open();
}

} // namespace

TDProjectDetailView::TDProjectDetailView(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_stores(std::move(stores))
    , m_library(m_stores)
    , m_lastStatus(m_project->status())
    , m_coverImagePicker(pickImageFile)
{
    setObjectName(QStringLiteral("projectDetailView"));
    setMinimumWidth(notesColumnWidth + imagesColumnMinimumWidth);

    // The choice is saved in the event that made it: a save left to a later turn of the loop would
    // be lost to a page replaced or a quit in the same event batch.
    m_statusAction = new TDStatusAction(m_project, this, [self = QPointer<TDProjectDetailView>(this)] {
        if (self)
            self->statusMayHaveChanged();
    });
    m_favoriteAction = new QAction(tdLocalized("favorite"), this);
    m_favoriteAction->setObjectName(QStringLiteral("favoriteAction"));
    m_favoriteAction->setToolTip(tdLocalized("Add to Favorite"));
    // Checkable, so that a screen reader says whether the project is a favourite; the star's colour
    // says it on screen.
    m_favoriteAction->setCheckable(true);
    m_favoriteAction->setChecked(m_project->isFavorite());
    connect(m_favoriteAction, &QAction::triggered, this, [this] { toggleFavorite(); });
    m_photoAction = new QAction(tdLocalized("Photo"), this);
    m_photoAction->setObjectName(QStringLiteral("photoAction"));
    m_photoAction->setToolTip(tdLocalized("Show the cover image"));
    connect(m_photoAction, &QAction::triggered, this,
        [this] { setShowCoverImagePopover(!m_showCoverImagePopover); });
    m_settingsAction = new QAction(tdLocalized("Settings"), this);
    m_settingsAction->setObjectName(QStringLiteral("settingsAction"));
    m_settingsAction->setToolTip(tdLocalized("Edit the project"));
    connect(m_settingsAction, &QAction::triggered, this, [this] { openEditSheet(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The quick-access bar: the accessory row under the toolbar.
    m_quickAccess = new TDQuickAccessBar(m_project, m_library, this);
    layout->addWidget(m_quickAccess);

    auto* columns = new QHBoxLayout;
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    m_notesColumn = new QWidget(this);
    m_notesColumn->setObjectName(QStringLiteral("notesColumn"));
    m_notesColumn->setFixedWidth(notesColumnWidth);
    buildNotesColumn(m_notesColumn);
    columns->addWidget(m_notesColumn);
    m_imagesColumn = new QWidget(this);
    m_imagesColumn->setObjectName(QStringLiteral("imagesColumn"));
    m_imagesColumn->setMinimumWidth(imagesColumnMinimumWidth);
    buildImagesColumn(m_imagesColumn);
    columns->addWidget(m_imagesColumn, 1);
    layout->addLayout(columns, 1);

    m_bar = new BottomBar(bottombar::ProjectDetail {}, this);
    layout->addWidget(m_bar);

    m_coverPopover = new TDPopover(new TDCoverImagePopover(
                                       m_project,
                                       [this] {
                                           setShowCoverImagePopover(false);
                                           m_showFileImporter = true;
                                           QPointer<TDProjectDetailView> self(this);
                                           m_coverImagePicker(window(), [self](std::optional<QString> path) {
                                               if (!self)
                                                   return;
                                               self->m_showFileImporter = false;
                                               if (path)
                                                   self->setCoverImage(*path);
                                           });
                                       },
                                       [this](const platform::Url& url) { removeCoverImage(url); }),
        this);
    m_coverPopover->setOnHide([this] { m_showCoverImagePopover = false; });

    applyColors();
    watchStatus();
    followMedia();
    renderNow();
}

TDNavigationPage* makeTDProjectPage(std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent)
{
    return new TDProjectDetailView(std::move(project), std::move(stores), parent);
}

TDProjectDetailView::~TDProjectDetailView()
{
    m_statusTracking.cancel();
    m_mediaTracking.cancel();
    delete m_editSheet.data();
    delete m_noteSheet.data();
}

void TDProjectDetailView::buildNotesColumn(QWidget* column)
{
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new TDProjectDetailViewSectionTitle(tdLocalized("Notes"), column));

    m_noteList = new TDNoteList(
        [this](const std::shared_ptr<TDNote>& note, QWidget* parent) { return makeNoteRow(note, parent); },
        noteRemovalSpringResponse, column);
    layout->addWidget(m_noteList, 1);
    m_noteOrder = std::make_unique<TDNoteOrder>(m_noteList);
    // Called while the view lives: the watch goes with it.
    m_dateWatch = std::make_unique<TDNote::DateWatch>([this](const TDNote& note, platform::Date previous) {
        if (m_noteOrder->dateChanged(note, previous))
            setNeedsRender();
    });

    m_addNoteButton = new TDAddNoteButton(column);
    connect(m_addNoteButton, &QPushButton::clicked, this, [this] { openCreateNewNoteSheet(); });
    layout->addWidget(m_addNoteButton);
    new TDColumnDivider(column);
}

TDNoteItem* TDProjectDetailView::makeNoteRow(const std::shared_ptr<TDNote>& note, QWidget* parent)
{
    auto* row = new TDNoteItem(note, m_project, m_stores, parent);
    row->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* remove = new QAction(tdLocalized("Delete"), row);
    remove->setObjectName(QStringLiteral("deleteNoteAction"));
    std::weak_ptr<TDNote> weak = note;
    QPointer<TDProjectDetailView> self(this);
    auto windows = m_stores.noteWindows;
    connect(remove, &QAction::triggered, this, [self, weak, windows] {
        auto note = weak.lock();
        if (!note || !self)
            return;
        self->deleteNote(note);
        if (windows && windows->dismissWindow)
            windows->dismissWindow(note);
    });
    row->addAction(remove);
    return row;
}

void TDProjectDetailView::buildImagesColumn(QWidget* column)
{
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_imagesTitle = new TDProjectDetailViewSectionTitleWithPopover(
        tdLocalized("Reference Images"), Symbol::sliderHorizontal3,
        [this] { setShowPopoverToChangeImageColumnCount(!m_showPopoverToChangeImageColumnCount); },
        { [this] { return m_showPopoverToChangeImageColumnCount; },
            [this](bool open) { m_showPopoverToChangeImageColumnCount = open; } },
        [this] {
            return new TDImageGridSettings(m_project,
                { [this] { return m_contentMode; },
                    [this](TDImageGrid::ContentMode mode) { setContentMode(mode); } },
                [this] { saveColumnCount(); });
        },
        column);
    m_imagesTitle->button()->setToolTip(tdLocalized("Image grid settings"));
    m_imagesTitle->button()->setAccessibleName(tdLocalized("Image grid settings"));
    layout->addWidget(m_imagesTitle);

    // The placeholder or the grid, both inside the one drop target.
    m_imagesArea = new QWidget(column);
    m_imagesArea->setObjectName(QStringLiteral("imagesArea"));
    m_imagesArea->setMinimumWidth(imagesColumnMinimumWidth);
    m_imagesStack = new QStackedLayout(m_imagesArea);
    m_imagesStack->setContentsMargins(0, 0, 0, 0);

    m_placeholder = new QWidget(m_imagesArea);
    m_placeholder->setObjectName(QStringLiteral("imagesPlaceholder"));
    m_placeholder->setMinimumWidth(imagesColumnMinimumWidth);
    auto* stack = new QVBoxLayout(m_placeholder);
    stack->setContentsMargins(placeholderSpacing, 0, placeholderSpacing, 0);
    stack->setSpacing(placeholderSpacing);
    stack->addStretch(1);
    auto* text = new QLabel(tdLocalized("Drag images for the reference."), m_placeholder);
    text->setObjectName(QStringLiteral("imagesPlaceholderText"));
    text->setFont(tdappearance::systemFont(placeholderFontSize));
    text->setAlignment(Qt::AlignCenter);
    stack->addWidget(text);
    auto* symbol = new QLabel(m_placeholder);
    symbol->setObjectName(QStringLiteral("imagesPlaceholderSymbol"));
    symbol->setAlignment(Qt::AlignCenter);
    stack->addWidget(symbol);
    stack->addStretch(1);
    m_imagesStack->addWidget(m_placeholder);

    m_grid = new TDImageGrid(m_imagesArea);
    m_grid->setMinimumWidth(imagesColumnMinimumWidth);
    m_grid->setAccessibleName(tdLocalized("Reference Images"));
    m_grid->setContentMode(m_contentMode);
    m_grid->setOnDelete([this](const std::shared_ptr<TDMedia>& media) { deleteReferenceImage(media); });
    m_imagesStack->addWidget(m_grid);
    layout->addWidget(m_imagesArea, 1);

    m_dropDelegate = new ReferenceImageDropDelegate(
        m_imagesArea, [this](std::vector<QUrl> urls) { importImages(std::move(urls)); });
}

void TDProjectDetailView::applyColors()
{
    const bool dark = tdappearance::isDark(this);
    const QColor tertiary = tdappearance::color(SystemColor::tertiaryLabel, dark);
    if (auto* text = m_placeholder->findChild<QLabel*>(QStringLiteral("imagesPlaceholderText"))) {
        QPalette palette = text->palette();
        palette.setColor(QPalette::WindowText, tertiary);
        text->setPalette(palette);
    }
    if (auto* symbol = m_placeholder->findChild<QLabel*>(QStringLiteral("imagesPlaceholderSymbol")))
        SymbolPainter::setPixmap(symbol, Symbol::photoBadgePlusFill, placeholderSymbolSize, tertiary);
    m_photoAction->setIcon(SymbolPainter::icon(
        Symbol::photo, toolbarIconSize, tdappearance::color(SystemColor::secondaryLabel, dark).toRgb()));
    m_settingsAction->setIcon(
        SymbolPainter::icon(Symbol::gear, toolbarIconSize, tdappearance::color(SystemColor::gray, dark)));
    m_favoriteTint = QColor();
    setNeedsRender();
}

void TDProjectDetailView::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

QList<QAction*> TDProjectDetailView::toolbarActions() const
{
    return { m_statusAction, m_favoriteAction, m_photoAction, m_settingsAction };
}

void TDProjectDetailView::setOnTitleChange(std::function<void(const QString&)> onTitleChange)
{
    m_onTitleChange = std::move(onTitleChange);
}

void TDProjectDetailView::setOnSubtitleChange(std::function<void(const QString&)> onSubtitleChange)
{
    m_onSubtitleChange = std::move(onSubtitleChange);
}

void TDProjectDetailView::render()
{
    QString name = tdDisplayText(m_project->name());
    auto category = m_project->category();
    QString categoryName = category ? tdDisplayText(category->name()) : QString();
    if (name != m_title) {
        m_title = name;
        if (m_onTitleChange)
            m_onTitleChange(m_title);
    }
    if (categoryName != m_subtitle) {
        m_subtitle = categoryName;
        if (m_onSubtitleChange)
            m_onSubtitleChange(m_subtitle);
    }

    const bool dark = tdappearance::isDark(this);
    QColor tint
        = tdappearance::color(m_project->isFavorite() ? SystemColor::orange : SystemColor::gray, dark);
    m_favoriteAction->setToolTip(
        m_project->isFavorite() ? tdLocalized("Remove from Favorite") : tdLocalized("Add to Favorite"));
    // The click has already flipped the check; this follows changes made anywhere else too.
    m_favoriteAction->setChecked(m_project->isFavorite());
    if (tint != m_favoriteTint) {
        m_favoriteTint = tint;
        m_favoriteAction->setIcon(
            SymbolPainter::icon(Symbol::starFill, toolbarIconSize, tint, SymbolPainter::Fill::gradient));
    }

    // The notes by date, oldest first; notes of one date keep their stored order. The order follows
    // the change of the list read here and the dates changed since the last render.
    const auto stored = m_project->tdNoteInPlace();
    const auto noteCount = static_cast<qint64>(stored.size());
    m_noteOrder->follow(stored, m_expectedNoteRemovals);
    m_expectedNoteRemovals.clear();

    const bool hasImages = !m_images.empty();
    m_bar->setBarType(bottombar::ProjectDetail { noteCount, static_cast<qint64>(m_images.size()) });
    m_grid->setColumnCount(m_project->imageColumnCount());
    if (!m_gridHasImages) {
        m_grid->setMedia(m_images);
        m_gridHasImages = true;
    }
    QWidget* shown = hasImages ? static_cast<QWidget*>(m_grid) : m_placeholder;
    if (m_imagesStack->currentWidget() != shown) {
        // The placeholder takes no keys, though the stack would hand it the grid's: they go to the
        // settings button over it, ringed as the grid was.
        QWidget* focus = window()->focusWidget();
        if (!hasImages && focus && (focus == m_grid || m_grid->isAncestorOf(focus)))
            m_imagesTitle->button()->setFocus(
                m_grid->showsFocusRing() ? Qt::BacktabFocusReason : Qt::OtherFocusReason);
        m_imagesStack->setCurrentWidget(shown);
    }
}

void TDProjectDetailView::watchStatus()
{
    QPointer<TDProjectDetailView> self(this);
    // A choice saved at once watches again before the look it posted does: one watch at a time.
    m_statusTracking.cancel();
    m_statusTracking = platform::withObservationTracking([this] { m_project->status(); },
        [self] {
            // Told before the new value is stored: look at it once the write is done.
            platform::DispatchQueue::main()->async([self] {
                if (self)
                    self->statusMayHaveChanged();
            });
        });
}

void TDProjectDetailView::followMedia()
{
    // The project's images, in the store's order; an image of no project belongs to no workspace.
    std::vector<std::shared_ptr<TDMedia>> images;
    QPointer<TDProjectDetailView> self(this);
    m_mediaTracking.cancel();
    m_mediaTracking = platform::withObservationTracking(
        [&] {
            for (const auto& media : m_stores.mediaStore->tdMedia()) {
                if (media->tdProjectId() == m_project->id())
                    images.push_back(media);
            }
        },
        [self] {
            // Told before the new value is stored: pick again once the write is done.
            platform::DispatchQueue::main()->async([self] {
                if (self) {
                    self->followMedia();
                    self->setNeedsRender();
                }
            });
        });
    m_images = std::move(images);
    m_gridHasImages = false;
}

void TDProjectDetailView::statusMayHaveChanged()
{
    TDStatus status = m_project->status();
    if (status != m_lastStatus) {
        m_lastStatus = status;
        m_library.saveProjectChange(reportingFailures());
    }
    watchStatus();
}

void TDProjectDetailView::showFailure(QWidget* parent, const TDLibraryFailure& failure)
{
    raiseAlert(parent ? parent : window(), failure.title, failure.message);
}

TDLibrary::Done TDProjectDetailView::reportingFailures()
{
    QPointer<TDProjectDetailView> self(this);
    return [self](auto done) {
        if (!done && self)
            self->showFailure(self->window(), done.error());
    };
}

void TDProjectDetailView::raiseAlert(QWidget* parent, const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(parent, title, message);
}

void TDProjectDetailView::openCreateNewNoteSheet()
{
    if (m_noteSheet) {
        m_noteSheet->raise();
        return;
    }
    auto* sheet = new TDTextFieldSheet(
        { tdLocalized("Add a note"), tdLocalized("Title"), tdLocalized("New project name"),
            tdLocalized("Title"), tdLocalized("Create") },
        m_newNoteTitle, newNoteFieldMinimumWidth, window());
    sheet->setObjectName(QStringLiteral("createNoteSheet"));
    sheet->field()->setObjectName(QStringLiteral("newNoteField"));
    sheet->primaryButton()->setObjectName(QStringLiteral("createButton"));
    sheet->setOnEdit([this](const QString& text) { m_newNoteTitle = text; });
    sheet->setOnPrimary([this] { confirmNewNote(); });
    // However the sheet closes, the next one starts from "New note".
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        m_openCreateNewNoteSheet = false;
        m_newNoteTitle = defaultNewNoteTitle;
        m_noteSheet = nullptr;
        sheet->deleteLater();
    });
    m_noteSheet = sheet;
    m_openCreateNewNoteSheet = true;
    sheet->present();
}

QDialog* TDProjectDetailView::createNoteSheet() const
{
    return m_noteSheet;
}

QLineEdit* TDProjectDetailView::newNoteField() const
{
    return m_noteSheet ? m_noteSheet->field() : nullptr;
}

void TDProjectDetailView::confirmNewNote()
{
    if (m_creatingNote)
        return;
    m_creatingNote = true;
    if (m_noteSheet)
        m_noteSheet->primaryButton()->setEnabled(false);
    QPointer<TDProjectDetailView> self(this);
    auto windows = m_stores.noteWindows;
    m_library.createNote(m_project, m_newNoteTitle, [self, windows](auto created) {
        if (self) {
            self->m_creatingNote = false;
            if (self->m_noteSheet)
                self->m_noteSheet->primaryButton()->setEnabled(true);
        }
        if (!created) {
            // The sheet stays open with the alert over it.
            if (self)
                self->showFailure(self->m_noteSheet, created.error());
            return;
        }
        if (self && self->m_noteSheet)
            self->m_noteSheet->accept();
        if (windows && windows->openWindow)
            windows->openWindow(created.value());
    });
}

void TDProjectDetailView::deleteNote(const std::shared_ptr<TDNote>& note)
{
    m_expectedNoteRemovals.insert(note->id());
    // The alert goes on the window even when the workspace has been left meanwhile.
    QPointer<QWidget> window = this->window();
    m_library.deleteNote(m_project, note, [window](auto deleted) {
        if (!deleted && window)
            presentTDAlert(window, deleted.error().title, deleted.error().message);
    });
}

void TDProjectDetailView::toggleFavorite()
{
    m_library.toggleFavorite(m_project, reportingFailures());
}

void TDProjectDetailView::setShowCoverImagePopover(bool show)
{
    m_showCoverImagePopover = show;
    if (!m_coverPopover)
        return;
    if (show && !m_coverPopover->isVisible()) {
        QWidget* anchor = nullptr;
        for (QObject* object : m_photoAction->associatedObjects()) {
            if (auto* widget = qobject_cast<QWidget*>(object); widget && widget->isVisible())
                anchor = widget;
        }
        m_coverPopover->showBelow(anchor ? anchor : this);
    } else if (!show && m_coverPopover->isVisible()) {
        m_coverPopover->hide();
    }
}

TDCoverImagePopover* TDProjectDetailView::coverPopoverContent() const
{
    return m_coverPopover ? static_cast<TDCoverImagePopover*>(m_coverPopover->content()) : nullptr;
}

void TDProjectDetailView::setCoverImage(const QString& path)
{
    setShowCoverImagePopover(false);
    m_library.setCoverImage(m_project, path, reportingFailures());
}

void TDProjectDetailView::removeCoverImage(const platform::Url& url)
{
    m_library.removeCoverImage(m_project, url, reportingFailures());
}

void TDProjectDetailView::setContentMode(TDImageGrid::ContentMode mode)
{
    m_contentMode = mode;
    m_grid->setContentMode(mode);
    if (TDImageGridSettings* settings = gridSettings())
        settings->showContentMode();
}

void TDProjectDetailView::setShowPopoverToChangeImageColumnCount(bool show)
{
    m_showPopoverToChangeImageColumnCount = show;
    m_imagesTitle->sync();
}

TDImageGridSettings* TDProjectDetailView::gridSettings() const
{
    TDPopover* popover = m_imagesTitle->popover();
    return popover ? static_cast<TDImageGridSettings*>(popover->content()) : nullptr;
}

void TDProjectDetailView::saveColumnCount()
{
    m_library.saveProjectChange(reportingFailures());
}

void TDProjectDetailView::importImages(std::vector<QUrl> urls)
{
    // The alert goes on the window even when the workspace has been left meanwhile.
    QPointer<QWidget> window = this->window();
    m_library.importImages(m_project, std::move(urls), [window](auto imported) {
        if (!window)
            return;
        if (!imported) {
            presentTDAlert(window, imported.error().title, imported.error().message);
            return;
        }
        const auto& failures = imported.value().failures;
        if (failures.empty())
            return;
        QStringList lines;
        for (std::size_t i = 0; i < failures.size() && i < std::size_t(listedFailures); ++i)
            lines.append(
                tdimageimport::refusedFileLine(tdDisplayText(failures[i].fileName), failures[i].reason));
        if (failures.size() > std::size_t(listedFailures))
            lines.append(tdLocalized("and %1 more.").arg(failures.size() - listedFailures));
        const QString title = failures.size() == 1
            ? tdLocalized("A file could not be added.")
            : tdLocalized("%1 files could not be added.").arg(failures.size());
        presentTDAlert(window, title, lines.join(QLatin1Char('\n')));
    });
}

void TDProjectDetailView::deleteReferenceImage(const std::shared_ptr<TDMedia>& media)
{
    m_grid->expectRemoval(media->id());
    m_library.removeMedia(media->id(), reportingFailures());
}

void TDProjectDetailView::openEditSheet()
{
    if (m_editSheet)
        return;
    auto* sheet = new EditTDProjectSheet(m_project, m_stores, window());
    m_editSheet = sheet;
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        m_editSheet = nullptr;
        sheet->deleteLater();
    });
    sheet->open();
}
