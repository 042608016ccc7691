#include "app/screens/workspace/TDProjectDetailView.h"

#include "app/model/TDMedia.h"
#include "app/model/TDProject.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDGroupedBox.h"
#include "app/screens/common/TDLocalizedText.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDPrimaryButton.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/workspace/TDCoverImagePopover.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDStatusPicker.h"
#include "app/store/TDCoverImage.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/Print.h"

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
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

using tdappearance::SystemColor;

namespace {

constexpr int toolbarIconSize = 18;
constexpr int addNotePadding = 12;
constexpr int addNoteSpacing = 5;
constexpr int addNoteFontSize = 13;
constexpr int placeholderFontSize = 16;
constexpr int placeholderSymbolSize = 32;
constexpr int placeholderSpacing = 12;
constexpr int sheetPadding = 20;

void printFailure(const platform::PlatformError& error)
{
    platform::print(QStringLiteral("An error occurred: ") + error.description);
}

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
        const QRectF symbol(left, (height() - addNoteFontSize) / 2.0, addNoteFontSize, addNoteFontSize);
        SymbolPainter::paint(painter, Symbol::plusCircleFill, symbol, ink);
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(QRect(left + addNoteFontSize + addNoteSpacing, 0, textWidth + 2, height()),
            Qt::AlignLeft | Qt::AlignVCenter, text());
        if (hasFocus())
            painter.fillRect(
                QRect(0, height() - 2, width(), 2), tdappearance::color(SystemColor::blue, dark));
    }
};

// The line between the two columns, laid over the notes column's trailing edge so that it takes
// no width of its own.
class TDColumnDivider : public QWidget {
public:
    explicit TDColumnDivider(QWidget* column)
        : QWidget(column)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        column->installEventFilter(this);
        place();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
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
        setGeometry(parentWidget()->width() - 1, 0, 1, parentWidget()->height());
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
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
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
    , m_lastStatus(m_project->status())
    , m_coverImagePicker(pickImageFile)
{
    setObjectName(QStringLiteral("projectDetailView"));
    setMinimumWidth(notesColumnWidth + imagesColumnMinimumWidth);

    m_statusAction = new TDStatusAction(m_project, this);
    m_favoriteAction = new QAction(tdLocalized("favorite"), this);
    m_favoriteAction->setObjectName(QStringLiteral("favoriteAction"));
    m_favoriteAction->setToolTip(tdLocalized("favorite"));
    connect(m_favoriteAction, &QAction::triggered, this, [this] { toggleFavorite(); });
    m_photoAction = new QAction(tdLocalized("Photo"), this);
    m_photoAction->setObjectName(QStringLiteral("photoAction"));
    m_photoAction->setToolTip(tdLocalized("Photo"));
    connect(m_photoAction, &QAction::triggered, this,
        [this] { setShowCoverImagePopover(!m_showCoverImagePopover); });
    m_settingsAction = new QAction(tdLocalized("Settings"), this);
    m_settingsAction->setObjectName(QStringLiteral("settingsAction"));
    m_settingsAction->setToolTip(tdLocalized("Settings"));
    connect(m_settingsAction, &QAction::triggered, this, [this] { openEditSheet(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The quick-access bar's place: empty until the project has quick-access entries.
    m_quickAccess = new QWidget(this);
    m_quickAccess->setObjectName(QStringLiteral("quickAccess"));
    m_quickAccess->hide();
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
    renderNow();
}

TDProjectDetailView::~TDProjectDetailView()
{
    delete m_editSheet.data();
    delete m_noteSheet.data();
}

void TDProjectDetailView::buildNotesColumn(QWidget* column)
{
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new TDProjectDetailViewSectionTitle(tdLocalized("Notes"), column));

    auto* scroll = new QScrollArea(column);
    scroll->setObjectName(QStringLiteral("notesScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    m_notesList = new QWidget(scroll);
    m_notesList->setObjectName(QStringLiteral("notesList"));
    m_notesLayout = new QVBoxLayout(m_notesList);
    m_notesLayout->setContentsMargins(notesPadding, notesPadding, notesPadding, notesPadding);
    m_notesLayout->setSpacing(notesSpacing);
    m_notesLayout->addStretch(1);
    scroll->setWidget(m_notesList);
    layout->addWidget(scroll, 1);

    m_addNoteButton = new TDAddNoteButton(column);
    connect(m_addNoteButton, &QPushButton::clicked, this, [this] { openCreateNewNoteSheet(); });
    layout->addWidget(m_addNoteButton);
    new TDColumnDivider(column);
}

void TDProjectDetailView::buildImagesColumn(QWidget* column)
{
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The grid settings popover comes with the grid; without an action the title shows no button.
    m_imagesTitle = new TDProjectDetailViewSectionTitleWithPopover(tdLocalized("Reference Images"),
        Symbol::sliderHorizontal3, {},
        { [this] { return m_showPopoverToChangeImageColumnCount; },
            [this](bool open) { m_showPopoverToChangeImageColumnCount = open; } },
        {}, column);
    layout->addWidget(m_imagesTitle);

    m_placeholder = new QWidget(column);
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
    layout->addWidget(m_placeholder, 1);
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
        symbol->setPixmap(SymbolPainter::pixmap(Symbol::photoBadgePlusFill, placeholderSymbolSize, tertiary,
            SymbolPainter::Fill::flat, devicePixelRatioF()));
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
    if (tint != m_favoriteTint) {
        m_favoriteTint = tint;
        m_favoriteAction->setIcon(
            SymbolPainter::icon(Symbol::starFill, toolbarIconSize, tint, SymbolPainter::Fill::gradient));
    }

    // The notes by date, oldest first; notes of one date keep their stored order.
    auto notes = m_project->tdNote();
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) {
        return a->date().timeIntervalSinceReferenceDate() < b->date().timeIntervalSinceReferenceDate();
    });
    std::vector<std::string> keys;
    std::unordered_map<std::string, std::shared_ptr<TDNote>> byKey;
    for (const auto& note : notes) {
        std::string key = note->id().uuidString().toStdString();
        keys.push_back(key);
        byKey.emplace(key, note);
    }
    m_noteItems.reconcile(keys, [&](const std::string& key) {
        auto note = byKey.at(key);
        auto* row = new TDNoteItem(note, m_project, m_stores, m_notesList);
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
        row->show();
        return row;
    });
    m_noteItems.arrange(m_notesLayout);

    qint64 images = 0;
    for (const auto& media : m_stores.mediaStore->tdMedia()) {
        if (media->tdProjectId() == m_project->id())
            ++images;
    }
    m_bar->setBarType(bottombar::ProjectDetail { static_cast<qint64>(m_project->tdNote().size()), images });
}

void TDProjectDetailView::watchStatus()
{
    QPointer<TDProjectDetailView> self(this);
    platform::withObservationTracking([this] { m_project->status(); },
        [self] {
            // Told before the new value is stored: look at it once the write is done.
            platform::DispatchQueue::main()->async([self] {
                if (self)
                    self->statusMayHaveChanged();
            });
        });
}

void TDProjectDetailView::statusMayHaveChanged()
{
    TDStatus status = m_project->status();
    if (status != m_lastStatus) {
        m_lastStatus = status;
        saveProjects();
    }
    watchStatus();
}

void TDProjectDetailView::saveProjects(std::function<void(bool)> then)
{
    auto inFlight = m_savesInFlight;
    ++*inFlight;
    m_stores.projectStore->save(
        m_stores.projectStore->tdProjects(), [inFlight, then = std::move(then)](auto saved) {
            --*inFlight;
            if (!saved)
                printFailure(saved.error());
            if (then)
                then(bool(saved));
        });
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
    auto* sheet = new QDialog(window());
    sheet->setObjectName(QStringLiteral("createNoteSheet"));
    sheet->setWindowTitle(tdLocalized("Add a note"));
    sheet->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* formArea = new QVBoxLayout;
    formArea->setContentsMargins(sheetPadding, sheetPadding, sheetPadding, 12);
    auto* group = new TDGroupedBox(sheet);
    auto* field = new QLineEdit(sheet);
    field->setObjectName(QStringLiteral("newNoteField"));
    field->setPlaceholderText(tdLocalized("New project name"));
    field->setAccessibleName(tdLocalized("Title"));
    field->setMinimumWidth(260);
    field->setText(m_newNoteTitle);
    connect(field, &QLineEdit::textEdited, this, [this](const QString& text) { m_newNoteTitle = text; });
    group->addRow(tdLocalized("Title"), field, TDGroupedBox::Width::expanding);
    formArea->addWidget(group);
    layout->addLayout(formArea);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(sheetPadding, 8, sheetPadding, sheetPadding);
    QPushButton* cancel = makeTDSheetButton(tdLocalized("Cancel"), sheet);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, sheet, &QDialog::reject);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto* create = new TDPrimaryButton(tdLocalized("Create"), sheet);
    create->setObjectName(QStringLiteral("createButton"));
    connect(create, &QPushButton::clicked, this, [this] { confirmNewNote(); });
    buttons->addWidget(create);
    layout->addLayout(buttons);

    // However the sheet closes, the next one starts from "New note".
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        m_openCreateNewNoteSheet = false;
        m_newNoteTitle = defaultNewNoteTitle;
        m_noteSheet = nullptr;
        sheet->deleteLater();
    });
    m_noteSheet = sheet;
    m_newNoteField = field;
    m_createButton = create;
    m_openCreateNewNoteSheet = true;
    sheet->open();
    field->setFocus();
    field->selectAll();
}

void TDProjectDetailView::confirmNewNote()
{
    if (m_creatingNote)
        return;
    QWidget* sheet = m_noteSheet ? static_cast<QWidget*>(m_noteSheet.data()) : window();
    auto title
        = tdnotefiles::checkedTitle(m_newNoteTitle, m_project->tdNote(), tdnotefiles::TitleUse::newNote);
    if (!title) {
        raiseAlert(sheet, title.error().title, title.error().message);
        return;
    }
    createNote(title.value());
}

void TDProjectDetailView::createNote(const QString& title)
{
    QWidget* sheet = m_noteSheet ? static_cast<QWidget*>(m_noteSheet.data()) : window();
    const platform::Url projectFolder = TDDirectoryPath::projectDirectoryURL(m_project->name());
    auto files = tdnotefiles::createNoteFiles(projectFolder, title);
    if (!files) {
        if (files.error().domain == platform::PlatformError::posixDomain && files.error().code == EEXIST) {
            // A folder of that name is there already (a note a failed save left, or a folder of the
            // user's): it is never taken over.
            const auto exists = tdnotefiles::existingTitleProblem();
            raiseAlert(sheet, exists.title, exists.message);
            return;
        }
        printFailure(files.error());
        raiseAlert(sheet, tdLocalized("The note could not be created."), files.error().description);
        return;
    }

    auto note = TDNote::make(
        platform::Uuid::random(), m_project->id(), title, files.value(), platform::Date::now());
    auto notes = m_project->tdNote();
    notes.push_back(note);
    m_project->setTdNote(notes);
    auto projects = m_stores.projectStore->tdProjects();
    auto found = std::find(projects.begin(), projects.end(), m_project);
    if (found != projects.end()) {
        auto map = m_stores.projectStore->noteMap();
        map[note->id()] = TDProjectStore::NoteLocation { static_cast<int>(found - projects.begin()),
            static_cast<int>(notes.size()) - 1 };
        m_stores.projectStore->setNoteMap(std::move(map));
    }

    m_creatingNote = true;
    if (m_createButton)
        m_createButton->setEnabled(false);
    QPointer<TDProjectDetailView> self(this);
    auto windows = m_stores.noteWindows;
    saveProjects([self, note, windows](bool saved) {
        if (self) {
            self->m_creatingNote = false;
            if (self->m_createButton)
                self->m_createButton->setEnabled(true);
        }
        if (!saved) {
            // The note is listed and its files are on disk; the next save of the projects keeps it.
            if (self)
                self->raiseAlert(
                    self->m_noteSheet ? static_cast<QWidget*>(self->m_noteSheet.data()) : self->window(),
                    tdLocalized("The library could not be saved."),
                    tdLocalized("The note was made but could not be saved in the library yet."));
            return;
        }
        if (self && self->m_noteSheet)
            self->m_noteSheet->accept();
        if (windows && windows->openWindow)
            windows->openWindow(note);
    });
}

void TDProjectDetailView::removeNoteRecords(const std::shared_ptr<TDNote>& note)
{
    const platform::Uuid id = note->id();
    auto notes = m_project->tdNote();
    std::erase_if(notes, [&](const auto& element) { return element->id() == id; });
    m_project->setTdNote(notes);
    auto links = m_stores.linkStore->tdLinks();
    std::erase_if(links, [&](const TDLink& link) { return link.tdNoteId == id; });
    m_stores.linkStore->setTdLinks(std::move(links));
    // The deleted note's entry goes; the entries of the notes after it in this project would point
    // one place too far, so they follow their notes.
    auto map = m_stores.projectStore->noteMap();
    map.erase(id);
    for (int i = 0; i < static_cast<int>(notes.size()); ++i) {
        auto entry = map.find(notes[std::size_t(i)]->id());
        if (entry != map.end())
            entry->second.progressIndex = i;
    }
    m_stores.projectStore->setNoteMap(std::move(map));
}

void TDProjectDetailView::deleteNote(const std::shared_ptr<TDNote>& note)
{
    const platform::Url projectFolder = TDDirectoryPath::projectDirectoryURL(m_project->name());
    removeNoteRecords(note);

    // The folder goes only once both library files stopped listing the note: a save that fails
    // leaves the note's text on disk, where the library still points.
    TDStores stores = m_stores;
    QPointer<QWidget> window = this->window();
    auto inFlight = m_savesInFlight;
    ++*inFlight;
    auto fail = [window, inFlight](const platform::PlatformError& error) {
        --*inFlight;
        printFailure(error);
        if (window)
            presentTDAlert(window, tdLocalized("The library could not be saved."), error.description);
    };
    stores.linkStore->save(stores.linkStore->tdLinks(), [=](auto linksSaved) {
        if (!linksSaved)
            return fail(linksSaved.error());
        stores.projectStore->save(stores.projectStore->tdProjects(), [=](auto projectsSaved) {
            if (!projectsSaved)
                return fail(projectsSaved.error());
            --*inFlight;
            auto removed
                = tdnotefiles::removeNoteFolder(projectFolder, *note, stores.projectStore->tdProjects());
            if (!removed) {
                printFailure(removed.error());
                if (window)
                    presentTDAlert(window, tdLocalized("The note's folder could not be removed."),
                        removed.error().description);
            }
        });
    });
}

void TDProjectDetailView::toggleFavorite()
{
    m_project->setIsFavorite(!m_project->isFavorite());
    saveProjects();
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
    auto jpeg = tdcoverimage::jpegData(path);
    if (!jpeg) {
        printFailure(jpeg.error());
        raiseAlert(window(), tdLocalized("The image cannot be used as a cover."), jpeg.error().description);
        return;
    }
    const platform::Url projectFolder = TDDirectoryPath::projectDirectoryURL(m_project->name());
    auto file = tdcoverimage::writeCoverFile(projectFolder, jpeg.value());
    if (!file) {
        printFailure(file.error());
        raiseAlert(window(), tdLocalized("The cover image could not be saved."), file.error().description);
        return;
    }
    auto old = m_project->coverImageURL();
    m_project->setCoverImageURL(file.value());
    saveProjects([old, projectFolder, file = file.value()](bool saved) {
        // The replaced cover's file goes once the library no longer names it.
        if (!saved || !old || *old == file)
            return;
        auto removed = tdcoverimage::removeCoverFile(*old, projectFolder);
        if (!removed)
            printFailure(removed.error());
    });
}

void TDProjectDetailView::removeCoverImage(const platform::Url& url)
{
    const platform::Url projectFolder = TDDirectoryPath::projectDirectoryURL(m_project->name());
    auto removed = tdcoverimage::removeCoverFile(url, projectFolder);
    if (!removed) {
        printFailure(removed.error());
        return;
    }
    m_project->setCoverImageURL(std::nullopt);
    saveProjects();
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
