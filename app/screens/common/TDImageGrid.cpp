#include "app/screens/common/TDImageGrid.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDMedia.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDKeyboardStep.h"
#include "app/screens/common/TDListAccessible.h"
#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/Print.h"
#include "platform/graphics/Image.h"

#include <QAccessible>
#include <QAction>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

using tdappearance::SystemColor;

namespace {

// A frame in whole pixels whose edges are the rounded edges of `rect`, so neighbours never overlap
// or leave a gap by rounding.
QRect pixelFrame(const QRectF& rect)
{
    const int left = int(std::lround(rect.left())), top = int(std::lround(rect.top()));
    const int right = int(std::lround(rect.right())), bottom = int(std::lround(rect.bottom()));
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

QRectF between(const QRectF& from, const QRectF& to, double progress)
{
    auto mix = [progress](double a, double b) { return a + (b - a) * progress; };
    return QRectF(mix(from.left(), to.left()), mix(from.top(), to.top()), mix(from.width(), to.width()),
        mix(from.height(), to.height()));
}

} // namespace

// The rounded corners and the selection outline, over the thumbnail.
class TDImageGridCellOverlay : public QWidget {
public:
    explicit TDImageGridCellOverlay(TDImageGridCell* cell)
        : QWidget(cell)
        , m_cell(cell)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_cell->paintOverlay(painter);
    }

private:
    TDImageGridCell* m_cell;
};

// An image of the grid as a screen reader hears it: an item of the list, named by the image's file,
// selected with the selection.
class TDImageGridCellAccessible : public TDListItemAccessible {
public:
    explicit TDImageGridCellAccessible(TDImageGridCell* cell)
        : TDListItemAccessible(cell)
    {
    }

protected:
    bool hasKeys() const override { return cell()->m_grid && cell()->m_grid->hasKeysOn(cell()); }
    std::optional<bool> isSelected() const override { return cell()->isSelected(); }
    void press() override
    {
        if (cell()->m_grid)
            cell()->m_grid->pressOn(cell(), Qt::Key_Return);
    }
    void showMenu() override
    {
        if (cell()->m_grid)
            cell()->m_grid->pressOn(cell(), Qt::Key_Menu);
    }

private:
    TDImageGridCell* cell() const { return static_cast<TDImageGridCell*>(widget()); }
};

namespace {

class TDImageGridAccessible : public TDListAccessible {
public:
    explicit TDImageGridAccessible(TDImageGrid* grid)
        : TDListAccessible(grid)
    {
    }

protected:
    QWidget* itemWithKeys() const override
    {
        for (TDImageGridCell* cell : static_cast<const TDImageGrid*>(widget())->cells()) {
            const QAccessibleInterface* item = QAccessible::queryAccessibleInterface(cell);
            if (item && item->state().focused)
                return cell;
        }
        return nullptr;
    }
};

QAccessibleInterface* imageGridAccessibleFactory(const QString&, QObject* object)
{
    if (auto* cell = dynamic_cast<TDImageGridCell*>(object))
        return new TDImageGridCellAccessible(cell);
    if (auto* grid = dynamic_cast<TDImageGrid*>(object))
        return new TDImageGridAccessible(grid);
    return nullptr;
}

// By the type the desktop gives the file: its name first, then its content.
bool isImageFile(const QString& path)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (type.name().startsWith(QLatin1String("image/")))
        return true;
    const QStringList ancestors = type.allAncestors();
    return std::any_of(ancestors.begin(), ancestors.end(),
        [](const QString& ancestor) { return ancestor.startsWith(QLatin1String("image/")); });
}

} // namespace

TDImageGrid::TDImageGrid(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_opener([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    // Before anything asks for the grid's interface or a cell's, which is then kept for good.
    static std::once_flag accessible;
    std::call_once(accessible, [] { QAccessible::installFactory(imageGridAccessibleFactory); });
    setObjectName(QStringLiteral("referenceGrid"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only when there is more to see; the cells keep the bar's width free either way (layoutWidth).
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(24);
}

TDImageGrid::~TDImageGrid() = default;

int TDImageGrid::columnsFor(double storedCount)
{
    if (std::isnan(storedCount))
        return maximumColumnCount;
    return int(std::clamp(storedCount, double(minimumColumnCount), double(maximumColumnCount)));
}

void TDImageGrid::setMedia(std::vector<std::shared_ptr<TDMedia>> media)
{
    std::unordered_set<const TDMedia*> kept;
    for (const auto& item : media)
        kept.insert(item.get());
    auto leaves = [&](const TDImageGridCell* cell) {
        return cell && cell->isVisible() && m_expectedRemovals.contains(cell->media()->id());
    };
    // A spring under way ends first, on the images it was started for; only a removal does that,
    // so the renders that hand over the same images leave a re-flow of the columns running.
    if (std::any_of(m_cells.begin(), m_cells.end(),
            [&](const auto& entry) { return !kept.contains(entry.first) && leaves(entry.second); })) {
        m_removalSpring.finish();
        m_layoutSpring.finish();
    }
    std::vector<QPointer<TDImageGridCell>> leaving;
    for (auto it = m_cells.begin(); it != m_cells.end();) {
        if (kept.contains(it->first)) {
            ++it;
            continue;
        }
        TDImageGridCell* cell = it->second;
        if (leaves(cell))
            leaving.push_back(cell);
        else
            delete cell;
        it = m_cells.erase(it);
    }
    m_expectedRemovals.clear();
    if (!leaving.empty())
        springFrom(placesInView(), removalSpringResponse, std::move(leaving));
    // The keys stay on their image when others come or go; when it goes itself, they go on from the
    // same place.
    const std::shared_ptr<TDMedia> current
        = m_current >= 0 && m_current < static_cast<int>(m_media.size()) ? m_media[std::size_t(m_current)] : nullptr;
    m_media = std::move(media);
    // The record itself, or one of its id read back from the library file.
    auto stays = std::find(m_media.begin(), m_media.end(), current);
    if (current && stays == m_media.end())
        stays = std::find_if(m_media.begin(), m_media.end(),
            [&](const auto& item) { return item && item->id() == current->id(); });
    if (current && stays != m_media.end())
        m_current = static_cast<int>(stays - m_media.begin());
    else
        m_current = std::min(m_current, static_cast<int>(m_media.size()) - 1);
    updateScrollRange();
    layoutCells();
    // A reader told of an image that has gone hears where the keys went on.
    if (current && stays == m_media.end())
        announceCurrent();
}

void TDImageGrid::setColumnCount(double storedCount)
{
    const int columns = columnsFor(storedCount);
    if (columns == m_columns)
        return;
    const bool animated = m_laidOutWidth > 0 && isVisible();
    if (animated) {
        m_removalSpring.finish();
        m_layoutSpring.finish();
    }
    const auto shown = animated ? placesInView() : std::unordered_map<const TDMedia*, QRect> {};
    const auto anchor = scrollAnchor();
    m_columns = columns;
    updateScrollRange();
    scrollTo(anchor);
    if (animated)
        springFrom(shown, layoutSpringResponse);
    layoutCells();
}

void TDImageGrid::setContentMode(ContentMode mode)
{
    if (mode == m_contentMode)
        return;
    m_contentMode = mode;
    const bool animated = isVisible();
    for (const auto& [record, cell] : m_cells) {
        if (cell)
            cell->followContentMode(animated);
    }
}

void TDImageGrid::tap(const std::shared_ptr<TDMedia>& media)
{
    if (m_selected && m_selected->id() == media->id()) {
        m_selected.reset();
        refreshSelection();
        return;
    }
    m_selected = media;
    refreshSelection();
    // The path comes from the library file: only an image file inside the library is handed to the
    // desktop, never another kind of address that could start a program.
    const platform::Url url = media->url();
    if (!TDDirectoryPath::isOpenableLibraryFile(url)) {
        platform::print(QStringLiteral("An error occurred: ") + url.absoluteString()
            + QStringLiteral(" is not an image file of the library"));
        // Its copy was moved or deleted by another program: a tap that did nothing would leave the
        // user guessing.
        if (url.isFileUrl() && TDDirectoryPath::isInsideLibraryFolder(url))
            presentTDAlert(window(), tdLocalized("The image cannot be opened."),
                tdLocalized("\u201C%1\u201D is no longer in the project's folder.")
                    .arg(tdDisplayText(url.lastPathComponent())));
        return;
    }
    // The desktop opens a file by its type, not by where it lies: a library copied from elsewhere
    // could name a launcher or a script that a tap on its picture would start.
    if (!isImageFile(url.path())) {
        platform::print(QStringLiteral("An error occurred: ") + url.absoluteString()
            + QStringLiteral(" is not an image file"));
        presentTDAlert(window(), tdLocalized("The image cannot be opened."),
            tdLocalized("\u201C%1\u201D is not an image file.").arg(tdDisplayText(url.lastPathComponent())));
        return;
    }
    if (m_opener)
        m_opener(url.qUrl());
}

void TDImageGrid::setOnDelete(std::function<void(const std::shared_ptr<TDMedia>&)> onDelete)
{
    m_onDelete = std::move(onDelete);
}

double TDImageGrid::layoutWidth() const
{
    // The same with and without the scroll bar: a bar coming or going never re-flows the cells,
    // which could make it go or come again.
    const QScrollBar* bar = verticalScrollBar();
    const bool overlays = style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, bar);
    const int reserved = overlays ? 0 : bar->sizeHint().width();
    return std::max(0, std::min(viewport()->width(), contentsRect().width() - reserved));
}

QRectF TDImageGrid::cellRect(int index) const
{
    const double width = layoutWidth();
    const int columns = m_columns;
    const double columnWidth = (width - 2 * padding - (columns - 1) * columnSpacing) / columns;
    const double cellWidth = std::max(0.0, width / columns - columnSpacing);
    const double cellHeight = std::max(0.0, width / columns);
    // The first image sits at the leading edge, where the arrow keys start from.
    int column = index % columns;
    if (isRightToLeft())
        column = columns - 1 - column;
    const int row = index / columns;
    // Right to left, the room kept for a hidden bar lies past the last column, on the left.
    const double start = isRightToLeft() ? viewport()->width() - width : 0;
    const double left
        = start + padding + column * (columnWidth + columnSpacing) + (columnWidth - cellWidth) / 2;
    return QRectF(left, padding + row * (cellHeight + rowSpacing), cellWidth, cellHeight);
}

double TDImageGrid::contentHeight() const
{
    const int count = static_cast<int>(m_media.size());
    const int rows = (count + m_columns - 1) / m_columns;
    if (rows == 0)
        return 2 * padding;
    const double cellHeight = std::max(0.0, layoutWidth() / double(m_columns));
    return 2 * padding + rows * cellHeight + (rows - 1) * rowSpacing;
}

std::vector<TDImageGridCell*> TDImageGrid::cells() const
{
    std::vector<TDImageGridCell*> list;
    for (const auto& media : m_media) {
        auto it = m_cells.find(media.get());
        if (it != m_cells.end() && it->second)
            list.push_back(it->second);
    }
    return list;
}

TDImageGridCell* TDImageGrid::cellFor(const platform::Uuid& id) const
{
    for (TDImageGridCell* cell : cells()) {
        if (cell->media()->id() == id)
            return cell;
    }
    return nullptr;
}

void TDImageGrid::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange)
        layoutCells();
}

void TDImageGrid::resizeEvent(QResizeEvent* event)
{
    const auto anchor = scrollAnchor();
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    scrollTo(anchor);
    layoutCells();
}

void TDImageGrid::scrollContentsBy(int, int)
{
    layoutCells();
}

void TDImageGrid::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 comes only as a key; the menu key, where the desktop has already asked for the
    // menu, opens nothing more.
    const bool answered = std::exchange(m_menuKeyAnswered, false);
    if (tdfocusring::opensMenu(event)) {
        event->accept();
        if (event->key() != Qt::Key_Menu || !answered) {
            const QPoint center = viewport()->rect().center();
            QContextMenuEvent menu(QContextMenuEvent::Keyboard, center, viewport()->mapToGlobal(center));
            contextMenuEvent(&menu);
            m_menuKeyAnswered = false;
        }
        return;
    }
    const int count = static_cast<int>(m_media.size());
    if (count == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const int current = std::max(0, m_current);
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        m_keyboardFocus = true;
        setCurrent(current);
        // A held key opens the image once, not once per repeat.
        if (!event->isAutoRepeat())
            tap(m_media[std::size_t(current)]);
        event->accept();
        return;
    }
    const double pitch = layoutWidth() / double(m_columns) + rowSpacing;
    const int rowsInView = pitch > 0 ? std::max(1, int(viewport()->height() / pitch)) : 1;
    const std::optional<int> next
        = tdKeyboardStep(event->key(), current, count, m_columns, rowsInView, layoutDirection());
    if (!next) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
    m_keyboardFocus = true;
    setCurrent(*next);
}

void TDImageGrid::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Keyboard)
        m_menuKeyAnswered = true;
    if (event->reason() != QContextMenuEvent::Keyboard || m_current < 0) {
        QAbstractScrollArea::contextMenuEvent(event);
        return;
    }
    setCurrent(m_current);
    TDImageGridCell* cell = cellFor(m_media[std::size_t(m_current)]->id());
    if (!cell)
        return;
    event->accept();
    QMenu::exec(cell->actions(), cell->mapToGlobal(cell->rect().center()), nullptr, cell);
}

void TDImageGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    m_keyboardFocus = tdfocusring::fromKeyboard(event->reason()).value_or(m_keyboardFocus);
    if (m_current < 0 && !m_media.empty())
        m_current = 0;
    if (m_keyboardFocus && m_current >= 0) {
        setCurrent(m_current);
        // The grid's own focus is told once this returns, and would be heard after the image.
        QMetaObject::invokeMethod(
            this,
            [grid = QPointer<TDImageGrid>(this)] {
                if (grid)
                    grid->announceCurrent();
            },
            Qt::QueuedConnection);
    }
}

void TDImageGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    // A menu or another window taking the focus for a while leaves the ring to come back with it.
    if (tdfocusring::fromKeyboard(event->reason()).has_value())
        m_keyboardFocus = false;
    refreshSelection();
}

void TDImageGrid::mousePressEvent(QMouseEvent* event)
{
    m_keyboardFocus = false;
    refreshSelection();
    QAbstractScrollArea::mousePressEvent(event);
}

void TDImageGrid::setCurrent(int index)
{
    m_current = index;
    // Scrolled just enough to show the whole image.
    const QRectF place = cellRect(index);
    QScrollBar* bar = verticalScrollBar();
    if (place.top() - padding < bar->value())
        bar->setValue(int(std::floor(place.top() - padding)));
    else if (place.bottom() + padding > bar->value() + viewport()->height())
        bar->setValue(int(std::ceil(place.bottom() + padding)) - viewport()->height());
    refreshSelection();
    announceCurrent();
}

// The grid keeps the keys; a screen reader is told which image they act on.
void TDImageGrid::announceCurrent()
{
    if (!hasFocus() || m_current < 0 || m_current >= static_cast<int>(m_media.size()))
        return;
    if (TDImageGridCell* cell = cellFor(m_media[std::size_t(m_current)]->id())) {
        QAccessibleEvent focus(cell, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

bool TDImageGrid::hasKeysOn(const TDImageGridCell* cell) const
{
    return hasFocus() && m_current >= 0 && m_current < static_cast<int>(m_media.size())
        && m_media[std::size_t(m_current)] == cell->media();
}

void TDImageGrid::pressOn(TDImageGridCell* cell, Qt::Key key)
{
    const auto it = std::find(m_media.begin(), m_media.end(), cell->media());
    if (it == m_media.end())
        return;
    m_current = static_cast<int>(it - m_media.begin());
    // What the key does from the keyboard; it may delete the cell.
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(this, &press);
}

bool TDImageGrid::showsFocusRing(const TDImageGridCell* cell) const
{
    return m_keyboardFocus && hasFocus() && m_current >= 0 && m_current < static_cast<int>(m_media.size())
        && m_media[std::size_t(m_current)] == cell->media();
}

void TDImageGrid::updateScrollRange()
{
    const int visible = viewport()->height();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(std::max(1, visible));
    bar->setRange(0, std::max(0, int(std::ceil(contentHeight())) - visible));
}

std::optional<TDImageGrid::ScrollAnchor> TDImageGrid::scrollAnchor() const
{
    const int scroll = verticalScrollBar()->value();
    if (m_laidOutWidth <= 0 || scroll <= 0)
        return std::nullopt;
    const double pitch = m_laidOutWidth / m_columns + rowSpacing;
    const double into = scroll - padding;
    const int row = std::max(0, int(std::floor(into / pitch)));
    return ScrollAnchor { row * m_columns, (into - row * pitch) / pitch };
}

void TDImageGrid::scrollTo(const std::optional<ScrollAnchor>& anchor)
{
    const double width = layoutWidth();
    if (!anchor || width <= 0)
        return;
    const double pitch = width / m_columns + rowSpacing;
    const int row = anchor->index / m_columns;
    verticalScrollBar()->setValue(int(std::lround(padding + (row + anchor->share) * pitch)));
}

void TDImageGrid::layoutCells()
{
    const double width = layoutWidth();
    if (width <= 0)
        return;
    m_laidOutWidth = width;
    const int scroll = verticalScrollBar()->value();
    const double pitch = width / m_columns + rowSpacing;
    // The rows in view and one more on either side, so a cell is ready as it scrolls in.
    const int firstRow = std::max(0, int(std::floor((scroll - padding) / pitch)) - 1);
    const int lastRow = std::max(0, int(std::floor((scroll + viewport()->height() - padding) / pitch)) + 1);
    const int count = static_cast<int>(m_media.size());
    const int first = std::min(count, firstRow * m_columns);
    const int last = std::min<qint64>(count, qint64(lastRow + 1) * m_columns);

    std::unordered_set<const TDMedia*> wanted;
    for (int i = first; i < last; ++i)
        wanted.insert(m_media[std::size_t(i)].get());
    for (auto it = m_cells.begin(); it != m_cells.end();) {
        if (!it->second || !wanted.contains(it->first)) {
            delete it->second.data();
            it = m_cells.erase(it);
        } else {
            ++it;
        }
    }
    for (int i = first; i < last; ++i) {
        const auto& media = m_media[std::size_t(i)];
        auto& cell = m_cells[media.get()];
        if (!cell)
            cell = makeCell(media);
        QRectF place = cellRect(i);
        if (auto from = m_from.find(media.get()); from != m_from.end())
            place = between(from->second, place, m_progress);
        cell->setGeometry(pixelFrame(place.translated(0, -scroll)));
        cell->show();
    }
}

std::unordered_map<const TDMedia*, QRect> TDImageGrid::placesInView() const
{
    std::unordered_map<const TDMedia*, QRect> places;
    for (const auto& [record, cell] : m_cells) {
        if (cell && cell->isVisible())
            places.emplace(record, cell->geometry());
    }
    return places;
}

void TDImageGrid::springFrom(std::unordered_map<const TDMedia*, QRect> places, double response,
    std::vector<QPointer<TDImageGridCell>> leaving)
{
    // From where they were on screen, whatever the scrolling since.
    const int scroll = verticalScrollBar()->value();
    m_from.clear();
    for (const auto& [record, place] : places)
        m_from.emplace(record, QRectF(place).translated(0, scroll));
    for (const auto& cell : leaving) {
        cell->setAttribute(Qt::WA_TransparentForMouseEvents);
        cell->setGraphicsEffect(new QGraphicsOpacityEffect(cell));
    }
    m_progress = 0;
    TDSpringAnimation& spring = response == removalSpringResponse ? m_removalSpring : m_layoutSpring;
    spring.start(
        [this, leaving](double progress) {
            m_progress = progress;
            for (const auto& cell : leaving) {
                if (cell)
                    static_cast<QGraphicsOpacityEffect*>(cell->graphicsEffect())->setOpacity(1 - progress);
            }
            layoutCells();
        },
        [this, leaving] {
            for (const auto& cell : leaving)
                delete cell.data();
            m_from.clear();
            m_progress = 1;
        });
}

TDImageGridCell* TDImageGrid::makeCell(const std::shared_ptr<TDMedia>& media)
{
    return new TDImageGridCell(media, this, viewport());
}

void TDImageGrid::refreshSelection()
{
    for (const auto& [record, cell] : m_cells) {
        if (cell)
            cell->m_overlay->update();
    }
}

TDImageGridCell::TDImageGridCell(std::shared_ptr<TDMedia> media, TDImageGrid* grid, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_media(std::move(media))
    , m_grid(grid)
    , m_shownMode(grid->contentMode())
    , m_fromMode(m_shownMode)
{
    setObjectName(QStringLiteral("referenceImageCell"));
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* remove = new QAction(tdLocalized("Delete"), this);
    remove->setObjectName(QStringLiteral("deleteImageAction"));
    connect(remove, &QAction::triggered, this, [this] {
        if (m_grid && m_grid->m_onDelete)
            m_grid->m_onDelete(m_media);
    });
    addAction(remove);
    m_overlay = new TDImageGridCellOverlay(this);
    renderNow();
}

bool TDImageGridCell::isSelected() const
{
    return m_grid && m_grid->selectedTDMedia() && m_grid->selectedTDMedia()->id() == m_media->id();
}

void TDImageGridCell::render()
{
    setAccessibleName(m_media->url().lastPathComponent());
    // The path comes from the library file: only a regular file inside the library is read.
    const platform::Url thumbnail = m_media->thumbnailURL();
    if (TDDirectoryPath::isOpenableLibraryFile(thumbnail)) {
        // A view value of the same source keeps its binder, and with it the image.
        auto view = iris::IRImage(thumbnail.qUrl()).resizable();
        if (!m_view) {
            m_view = new iris::IRImageView(view, this);
            m_view->setAttribute(Qt::WA_TransparentForMouseEvents);
            m_view->show();
        } else {
            m_view->setView(view);
        }
        // Placed again when the image arrives, by its size.
        m_view->binder()->observe();
    } else if (m_view) {
        delete m_view.data();
    }
    m_overlay->raise();
    placeImage();
    update();
    m_overlay->update();
}

QRectF TDImageGridCell::frameFor(TDImageGrid::ContentMode mode) const
{
    const QRectF cell(rect());
    const auto& image = m_view ? m_view->binder()->loadedImage : nullptr;
    if (!image || image->size().width <= 0 || image->size().height <= 0 || cell.isEmpty())
        return cell;
    const double widthScale = cell.width() / image->size().width;
    const double heightScale = cell.height() / image->size().height;
    const double scale = mode == TDImageGrid::ContentMode::fill ? std::max(widthScale, heightScale)
                                                                : std::min(widthScale, heightScale);
    const QSizeF size(image->size().width * scale, image->size().height * scale);
    return QRectF(cell.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

QRectF TDImageGridCell::imageFrame() const
{
    return between(frameFor(m_fromMode), frameFor(m_shownMode), m_modeProgress);
}

void TDImageGridCell::placeImage()
{
    if (!m_view)
        return;
    const QRectF exact = imageFrame();
    QRect frame = pixelFrame(exact);
    // A long banner fitted to a cell is thinner than a pixel; rounded to nothing, its cell would
    // look empty.
    if (exact.width() > 0 && frame.width() == 0)
        frame.setWidth(1);
    if (exact.height() > 0 && frame.height() == 0)
        frame.setHeight(1);
    if (m_view->geometry() != frame)
        m_view->setGeometry(frame);
}

void TDImageGridCell::followContentMode(bool animated)
{
    if (!m_grid)
        return;
    const TDImageGrid::ContentMode mode = m_grid->contentMode();
    if (!animated) {
        m_modeSpring.finish();
        m_fromMode = m_shownMode = mode;
        m_modeProgress = 1;
    } else if (mode != m_shownMode) {
        m_fromMode = m_shownMode;
        m_shownMode = mode;
        m_modeProgress = 0;
        m_modeSpring.start([this](double progress) {
            m_modeProgress = progress;
            placeImage();
            m_overlay->update();
        });
        return;
    }
    placeImage();
    m_overlay->update();
}

void TDImageGridCell::paintEvent(QPaintEvent*)
{
    if (m_view && m_view->binder()->loadedImage)
        return;
    // Until the thumbnail is there (or when there is none), the cell shows where it is.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), TDImageGrid::cornerRadius, TDImageGrid::cornerRadius);
    painter.fillPath(shape, tdappearance::color(SystemColor::tertiaryFill, this));
}

void TDImageGridCell::paintOverlay(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF cell(rect());
    const double radius = TDImageGrid::cornerRadius;
    if (m_view && m_view->binder()->loadedImage) {
        // The thumbnail is a child of its own: its corners are rounded off by painting the ground the
        // grid lies on over them. They are the corners of the whole pixels it covers: those of its
        // exact frame would leave a sliver thinner than a pixel under the ground.
        const QRectF shown = QRectF(m_view->geometry()).intersected(cell);
        if (!shown.isEmpty()) {
            QPainterPath rounded;
            rounded.addRoundedRect(shown, radius, radius);
            QPainterPath corners;
            corners.addRect(shown);
            corners = corners.subtracted(rounded);
            const QWidget* ground = m_grid ? m_grid->viewport() : parentWidget();
            painter.fillPath(corners, ground->palette().color(QPalette::Window));
        }
    }
    if (m_grid && m_grid->showsFocusRing(this)) {
        // Inside where the selection's outline goes, so both show on the one image.
        const double inset = TDImageGrid::selectionLineWidth + 1.5;
        QPainterPath ring;
        ring.addRoundedRect(cell.adjusted(inset, inset, -inset, -inset), radius, radius);
        painter.strokePath(ring, QPen(tdfocusring::color(this), 3));
        // A white line inside it: the blue alone vanishes on an image as light as itself.
        const double inner = inset + 2;
        QPainterPath edge;
        edge.addRoundedRect(cell.adjusted(inner, inner, -inner, -inner), radius - 2, radius - 2);
        painter.strokePath(edge, QPen(QColor(Qt::white), 1.5));
    }
    if (isSelected()) {
        const double inset = TDImageGrid::selectionLineWidth / 2;
        QPainterPath border;
        border.addRoundedRect(cell.adjusted(inset, inset, -inset, -inset), radius - inset, radius - inset);
        QPen pen(tdappearance::color(SystemColor::blue, this), TDImageGrid::selectionLineWidth, Qt::SolidLine,
            Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        painter.strokePath(border, pen);
    }
}

void TDImageGridCell::resizeEvent(QResizeEvent* event)
{
    platform::ObservedWidget::resizeEvent(event);
    m_overlay->setGeometry(rect());
    placeImage();
}

void TDImageGridCell::mousePressEvent(QMouseEvent* event)
{
    m_click.press(event);
    // The grid takes the press too, for the keyboard focus.
    platform::ObservedWidget::mousePressEvent(event);
}

void TDImageGridCell::mouseReleaseEvent(QMouseEvent* event)
{
    const bool inside = rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton && inside && m_grid) {
        event->accept();
        if (!m_click.release(inside))
            return;
        // The keyboard goes on from the image last tapped.
        const auto& media = m_grid->m_media;
        if (auto it = std::find(media.begin(), media.end(), m_media); it != media.end())
            m_grid->m_current = static_cast<int>(it - media.begin());
        m_grid->tap(m_media);
        return;
    }
    if (event->button() == Qt::LeftButton)
        m_click.release(false);
    platform::ObservedWidget::mouseReleaseEvent(event);
}

void TDImageGridCell::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        update();
        m_overlay->update();
    }
}
