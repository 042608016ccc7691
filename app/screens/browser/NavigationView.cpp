#include "app/screens/browser/NavigationView.h"

#include "app/TDLocalizedText.h"
#include "app/screens/browser/TDLinkMasterView.h"
#include "app/screens/browser/TDMediaMasterView.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDKeyboardStep.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

using tdappearance::SystemColor;

namespace {

constexpr int splitterHandleWidth = 1;
constexpr int destinationRole = Qt::UserRole;
constexpr int headerRole = Qt::UserRole + 1;
constexpr int rowHeight = 28;
constexpr int headerHeight = 28;
constexpr int iconBox = 13;
constexpr int rowFontSize = 13;
constexpr int headerFontSize = 11;

// One sidebar row as `NavigationItemLabel` describes it.
struct NavigationItemLabel {
    const char* label;
    NavigationType destination;
    Symbol icon;
    SystemColor iconColorPalette;
    int iconSize;
};

constexpr NavigationItemLabel projectRows[] = {
    { "All", NavigationType::projects, Symbol::bookAndWrenchFill, SystemColor::white, 13 },
    { "In Progress", NavigationType::inProgress, Symbol::circleFill, SystemColor::green, 7 },
    { "Archived", NavigationType::archived, Symbol::circleFill, SystemColor::gray, 7 },
    { "Finished", NavigationType::finished, Symbol::circleFill, SystemColor::blue, 7 },
    { "Favorite", NavigationType::favorite, Symbol::starFill, SystemColor::orange, 13 },
};
constexpr NavigationItemLabel otherRows[] = {
    { "Media", NavigationType::media, Symbol::photoOnRectangleAngled, SystemColor::pink, 13 },
    { "Links", NavigationType::links, Symbol::link, SystemColor::gray, 13 },
};

const NavigationItemLabel* labelFor(NavigationType destination)
{
    for (const auto& row : projectRows) {
        if (row.destination == destination)
            return &row;
    }
    for (const auto& row : otherRows) {
        if (row.destination == destination)
            return &row;
    }
    return nullptr;
}

// Draws the sidebar: section headers in small grey bold type with a disclosure chevron, rows with
// their symbol and title, the selected row on a rounded accent background.
class SidebarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        Q_UNUSED(option);
        return QSize(120, index.data(headerRole).toBool() ? headerHeight : rowHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QWidget* view = option.widget;
        const bool dark = tdappearance::isDark(view);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setRenderHint(QPainter::TextAntialiasing, true);
        const QRect rect = option.rect;
        // Laid out from the left, then mirrored whole in a right-to-left layout: the symbol stays
        // beside its title and the chevron at the header's far end.
        const bool mirrored = option.direction == Qt::RightToLeft;
        auto place = [&](const QRectF& logical) {
            if (!mirrored)
                return logical;
            const QRectF bounds(rect);
            return QRectF(bounds.left() + bounds.right() - logical.right(), logical.top(), logical.width(),
                logical.height());
        };
        // Absolute: the painter would mirror a plain left or right once more.
        const Qt::Alignment leading
            = (mirrored ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute | Qt::AlignVCenter;
        if (index.data(headerRole).toBool()) {
            const auto* tree = static_cast<const QTreeWidget*>(view);
            // A header the keys reached (Left from one of its rows) is where they act.
            if (tree && tree->hasFocus() && tree->currentIndex() == index)
                tdfocusring::paint(*painter, QRectF(rect).adjusted(10, 1, -10, -1), 5, view);
            QFont font = tdappearance::systemFont(headerFontSize, QFont::Bold);
            painter->setFont(font);
            painter->setPen(tdappearance::color(SystemColor::secondaryLabel, dark));
            const QRectF text = place(QRectF(rect.adjusted(18, 6, -30, 0)));
            painter->drawText(text, leading, index.data(Qt::DisplayRole).toString());
            bool expanded = tree && tree->isExpanded(index);
            const QRectF chevron = place(QRectF(rect.right() - 24, rect.center().y() - 2, 9, 9));
            const Symbol folded = mirrored ? Symbol::chevronLeft : Symbol::chevronRight;
            SymbolPainter::paint(*painter, expanded ? Symbol::chevronDown : folded, chevron,
                tdappearance::color(SystemColor::tertiaryLabel, dark).darker(dark ? 70 : 130));
            painter->restore();
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        QRectF background = QRectF(rect).adjusted(10, 1, -10, -1);
        if (selected) {
            QPainterPath path;
            path.addRoundedRect(background, 5, 5);
            painter->fillPath(path, tdappearance::color(SystemColor::selectedContentBackground, dark));
            // Where the keys act: the selection alone looks the same with and without focus.
            if (view && view->hasFocus() && static_cast<const QTreeWidget*>(view)->currentIndex() == index) {
                QPainterPath ring;
                ring.addRoundedRect(background.adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
                painter->strokePath(ring, QPen(QColor(255, 255, 255, 200), 1.5));
            }
        }
        auto destination = static_cast<NavigationType>(index.data(destinationRole).toInt());
        if (const NavigationItemLabel* label = labelFor(destination)) {
            const double glyph = label->iconSize == iconBox ? iconBox : label->iconSize;
            const QRectF box(
                background.left() + 10, rect.center().y() - iconBox / 2.0 + 0.5, iconBox, iconBox);
            const QRectF symbol
                = place(QRectF(box.center().x() - glyph / 2, box.center().y() - glyph / 2, glyph, glyph));
            // On the selection every symbol is white, as the title is; elsewhere a symbol keeps its
            // colour unless that colour would vanish into the sidebar (the white of "All").
            const QColor tint = selected
                ? QColor(Qt::white)
                : tdappearance::readableTint(tdappearance::color(label->iconColorPalette, dark),
                    tdappearance::color(SystemColor::windowBackground, dark),
                    tdappearance::color(SystemColor::primaryLabel, dark));
            SymbolPainter::paint(*painter, label->icon, symbol, tint, SymbolPainter::Fill::gradient);
            painter->setFont(tdappearance::systemFont(rowFontSize));
            painter->setPen(
                selected ? QColor(Qt::white) : tdappearance::color(SystemColor::primaryLabel, dark));
            const QRectF text = place(
                QRectF(box.right() + 8, rect.top(), background.right() - box.right() - 14, rect.height()));
            painter->drawText(text, leading,
                painter->fontMetrics().elidedText(
                    index.data(Qt::DisplayRole).toString(), Qt::ElideRight, static_cast<int>(text.width())));
        }
        painter->restore();
    }
};

// A hairline between the sidebar and the detail column.
class TDSplitterHandle : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const bool dark = tdappearance::isDark(this);
        QColor base = tdappearance::color(SystemColor::windowBackground, dark);
        QColor line = tdappearance::color(SystemColor::separator, dark);
        painter.fillRect(rect(), base);
        painter.fillRect(rect(), line);
    }
};

class TDNavigationSplitter : public QSplitter {
public:
    explicit TDNavigationSplitter(QWidget* parent)
        : QSplitter(Qt::Horizontal, parent)
    {
    }

protected:
    QSplitterHandle* createHandle() override { return new TDSplitterHandle(orientation(), this); }
};

} // namespace

NavigationView::NavigationView(TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("navigationView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_splitter = new TDNavigationSplitter(this);
    m_splitter->setObjectName(QStringLiteral("navigationSplitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(splitterHandleWidth);
    layout->addWidget(m_splitter);

    m_sidebar = new QTreeWidget(m_splitter);
    buildSidebar();

    auto* detail = new QWidget(m_splitter);
    m_detail = detail;
    detail->setObjectName(QStringLiteral("detailColumn"));
    // A page pushed or popped changes the column's minimum width, which asks it for a new layout.
    detail->installEventFilter(this);
    m_splitter->installEventFilter(this);
    installEventFilter(this);
    m_detailLayout = new QVBoxLayout(detail);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    m_detailLayout->setSpacing(0);
    m_toolbar = new TDToolbar(detail);
    m_toolbar->setOnTitleChange([this](const QString& title) {
        if (QWidget* shell = window(); shell != this)
            shell->setWindowTitle(tdWindowTitleText(title));
    });
    m_detailLayout->addWidget(m_toolbar);
    m_bar = new BottomBar(bottombar::Projects {}, detail);
    m_detailLayout->addWidget(m_bar);

    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(detail);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({ sidebarWidth, 980 });

    replaceDestination();
    applySidebarColors();
    renderNow();
}

void NavigationView::buildSidebar()
{
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setAccessibleName(tdLocalized("Sidebar"));
    m_sidebar->setHeaderHidden(true);
    m_sidebar->setRootIsDecorated(false);
    m_sidebar->setIndentation(0);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setMinimumWidth(sidebarMinimumWidth);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setItemDelegate(new SidebarDelegate(m_sidebar));
    // Tab reaches it and the arrows move between the destinations, as in a desktop's sidebar. A
    // click leaves the focus where it was, so a mouse user sees no focus ring, as on the grid.
    m_sidebar->setFocusPolicy(Qt::TabFocus);
    m_sidebar->installEventFilter(this);
    m_sidebar->setMouseTracking(true);
    m_sidebar->setExpandsOnDoubleClick(false);
    m_sidebar->setAnimated(false);

    auto addSection = [this](const char* header, const auto& rows) {
        auto* section = new QTreeWidgetItem(m_sidebar, { tdLocalized(header) });
        section->setFlags(Qt::ItemIsEnabled);
        section->setData(0, headerRole, true);
        // The chevron is the header's only sign that a click folds the section.
        section->setToolTip(0, tdLocalized("Show or hide the section"));
        for (const auto& row : rows) {
            // Row titles are shown as written.
            auto* item = new QTreeWidgetItem(section, { QString::fromLatin1(row.label) });
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setData(0, destinationRole, static_cast<int>(row.destination));
            item->setData(0, headerRole, false);
        }
        section->setExpanded(true);
        return section;
    };
    QTreeWidgetItem* projects = addSection("Projects", projectRows);
    QTreeWidgetItem* other = addSection("Other", otherRows);

    connect(m_sidebar, &QTreeWidget::itemClicked, this, [](QTreeWidgetItem* item) {
        if (item->data(0, headerRole).toBool())
            item->setExpanded(!item->isExpanded());
    });
    connect(m_sidebar, &QTreeWidget::itemExpanded, this, [this, projects, other](QTreeWidgetItem* item) {
        if (item == projects)
            m_isMenuExpanded = true;
        else if (item == other)
            m_isStatusExpanded = true;
    });
    connect(m_sidebar, &QTreeWidget::itemCollapsed, this, [this, projects, other](QTreeWidgetItem* item) {
        if (item == projects)
            m_isMenuExpanded = false;
        else if (item == other)
            m_isStatusExpanded = false;
    });
    connect(m_sidebar, &QTreeWidget::itemSelectionChanged, this, [this] {
        auto selected = m_sidebar->selectedItems();
        if (selected.isEmpty() || selected.front()->data(0, headerRole).toBool()) {
            // Folding a section from its header drops its rows' selection; the keys stay there.
            QTreeWidgetItem* header = keyHeader();
            keepSelection();
            if (header)
                setKeyHeader(header);
            return;
        }
        select(static_cast<NavigationType>(selected.front()->data(0, destinationRole).toInt()));
    });
    keepSelection();
}

QTreeWidgetItem* NavigationView::sidebarRow(NavigationType destination) const
{
    for (int section = 0; section < m_sidebar->topLevelItemCount(); ++section) {
        QTreeWidgetItem* header = m_sidebar->topLevelItem(section);
        for (int row = 0; row < header->childCount(); ++row) {
            if (header->child(row)->data(0, destinationRole).toInt() == static_cast<int>(destination))
                return header->child(row);
        }
    }
    return nullptr;
}

// The sidebar mirrors the state; a click that would leave no row selected (Ctrl+click on the
// selected one) puts the selection back.
void NavigationView::keepSelection()
{
    QTreeWidgetItem* row = sidebarRow(m_selectedNavigationItem);
    const QSignalBlocker block(m_sidebar);
    m_sidebar->clearSelection();
    if (row) {
        row->setSelected(true);
        // The tree scrolls to a new current item and unfolds its section for it: a click on the
        // header of a folded section would then unfold it on the press and fold it on the release.
        const bool folded = row->parent() && !row->parent()->isExpanded();
        const bool autoScroll = m_sidebar->hasAutoScroll();
        if (folded)
            m_sidebar->setAutoScroll(false);
        m_sidebar->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        m_sidebar->setAutoScroll(autoScroll);
    }
    m_sidebar->viewport()->update();
}

void NavigationView::select(NavigationType destination)
{
    if (destination == m_selectedNavigationItem) {
        keepSelection();
        return;
    }
    m_selectedNavigationItem = destination;
    keepSelection();
    replaceDestination();
    renderNow();
}

QString NavigationView::navigationTitle() const
{
    return rawValue(m_selectedNavigationItem);
}

// Each destination is a view of its own: a change of destination replaces it, and a project grid
// reached again starts afresh. Nothing else rebuilds it, so a count that changes leaves a pushed
// page where it is.
void NavigationView::replaceDestination()
{
    // A click on the sidebar leaves the keys where they were, which may be in the page that goes.
    QWidget* focused = QApplication::focusWidget();
    const bool hadKeys = m_destination && focused && m_destination->isAncestorOf(focused);
    if (m_destination) {
        m_detailLayout->removeWidget(m_destination);
        delete m_destination;
        m_destination = nullptr;
    }
    m_toolbar->setActions({});
    m_toolbar->setBackAction({});
    m_toolbar->setPushedTitle(std::nullopt);
    m_toolbar->setNavigationTitle(navigationTitle());
    QWidget* parent = m_toolbar->parentWidget();
    switch (m_selectedNavigationItem) {
    case NavigationType::media:
        m_destination = new TDMediaMasterView(m_stores, parent);
        break;
    case NavigationType::links:
        m_destination = new TDLinkMasterView(m_stores, parent);
        break;
    default:
        m_destination = new TDProjectMasterView(m_stores, m_selectedNavigationItem, m_toolbar, parent);
        break;
    }
    m_detailLayout->insertWidget(1, m_destination, 1);
    m_destination->show();
    if (hadKeys)
        giveKeysToDestination();
}

// The keys go on at the new page's first stop, or in the sidebar when the page has none (an empty
// state), rather than nowhere, where the arrows would do nothing.
void NavigationView::giveKeysToDestination()
{
    for (QWidget* next = m_destination->nextInFocusChain(); next != m_destination;
         next = next->nextInFocusChain()) {
        if (m_destination->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus) && next->isEnabled()
            && next->isVisibleTo(m_destination)) {
            next->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    m_sidebar->setFocus(Qt::OtherFocusReason);
}

void NavigationView::render()
{
    switch (m_selectedNavigationItem) {
    case NavigationType::media:
        m_bar->setBarType(bottombar::Media { static_cast<qint64>(m_stores.mediaStore->tdMedia().size()) });
        break;
    case NavigationType::links:
        m_bar->setBarType(bottombar::Links { static_cast<qint64>(m_stores.linkStore->tdLinks().size()) });
        break;
    default:
        m_bar->setBarType(bottombar::Projects { static_cast<qint64>(
            TDProjectMasterView::selection(*m_stores.projectStore, m_selectedNavigationItem).size()) });
        break;
    }
}

void NavigationView::showEvent(QShowEvent* event)
{
    platform::ObservedWidget::showEvent(event);
    if (QWidget* shell = window(); shell != this) {
        shell->setWindowTitle(tdWindowTitleText(m_toolbar->title()));
        shell->installEventFilter(this);
    }
    if (m_onAppear)
        m_onAppear();
}

void NavigationView::setAvailableArea(std::function<QRect()> availableArea)
{
    m_availableArea = std::move(availableArea);
    fitSidebar();
}

QRect NavigationView::availableArea() const
{
    if (m_availableArea)
        return m_availableArea();
    QScreen* screen = window()->screen();
    return screen ? screen->availableGeometry() : QRect();
}

// The visible destination rows, top to bottom: a collapsed section's rows are skipped.
std::vector<NavigationType> NavigationView::visibleDestinations() const
{
    std::vector<NavigationType> rows;
    for (int section = 0; section < m_sidebar->topLevelItemCount(); ++section) {
        QTreeWidgetItem* header = m_sidebar->topLevelItem(section);
        if (!header->isExpanded())
            continue;
        for (int row = 0; row < header->childCount(); ++row)
            rows.push_back(static_cast<NavigationType>(header->child(row)->data(0, destinationRole).toInt()));
    }
    return rows;
}

std::optional<NavigationType> NavigationView::nearestVisibleDestination(bool below) const
{
    std::optional<NavigationType> nearest;
    bool passed = false;
    for (int section = 0; section < m_sidebar->topLevelItemCount(); ++section) {
        QTreeWidgetItem* header = m_sidebar->topLevelItem(section);
        for (int row = 0; row < header->childCount(); ++row) {
            const auto destination
                = static_cast<NavigationType>(header->child(row)->data(0, destinationRole).toInt());
            if (destination == m_selectedNavigationItem) {
                if (!below)
                    return nearest;
                passed = true;
            } else if (header->isExpanded() && (!below || passed)) {
                if (below)
                    return destination;
                nearest = destination;
            }
        }
    }
    return below ? std::nullopt : nearest;
}

QTreeWidgetItem* NavigationView::keyHeader() const
{
    QTreeWidgetItem* current = m_sidebar->currentItem();
    return current && current->data(0, headerRole).toBool() ? current : nullptr;
}

void NavigationView::setKeyHeader(QTreeWidgetItem* header)
{
    // The header becomes the tree's current item, which a screen reader follows, while the
    // selection (the page shown) stays.
    const QSignalBlocker block(m_sidebar);
    m_sidebar->setCurrentItem(header, 0, QItemSelectionModel::NoUpdate);
    m_sidebar->viewport()->update();
}

// The headers fold as a tree's parents do: Left goes from a destination to its section's header
// and then folds it, Right unfolds the header and then goes back down, Space and Return fold or
// unfold. Up and Down step over the headers, as a click cannot land on one to select it; from a
// header they step to its neighbours, headers included, so two folded sections stay reachable.
bool NavigationView::moveSidebarSelection(int key)
{
    const bool rightToLeft = m_sidebar->layoutDirection() == Qt::RightToLeft;
    const int fold = rightToLeft ? Qt::Key_Right : Qt::Key_Left;
    const int unfold = rightToLeft ? Qt::Key_Left : Qt::Key_Right;
    QTreeWidgetItem* header = keyHeader();
    if (header) {
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
            header->setExpanded(!header->isExpanded());
        } else if (key == fold) {
            header->setExpanded(false);
        } else if (key == unfold) {
            if (!header->isExpanded()) {
                header->setExpanded(true);
            } else if (header->childCount() > 0) {
                QTreeWidgetItem* row = sidebarRow(m_selectedNavigationItem);
                row = row && row->parent() == header ? row : header->child(0);
                select(static_cast<NavigationType>(row->data(0, destinationRole).toInt()));
            }
        } else {
            return stepFromHeader(header, key);
        }
        m_sidebar->viewport()->update();
        return true;
    }
    if (key == fold) {
        if (QTreeWidgetItem* row = sidebarRow(m_selectedNavigationItem))
            setKeyHeader(row->parent());
        return true;
    }
    if (key == unfold)
        return true;
    const auto rows = visibleDestinations();
    if (rows.empty())
        return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End;
    auto at = std::find(rows.begin(), rows.end(), m_selectedNavigationItem);
    if (at == rows.end() && (key == Qt::Key_Up || key == Qt::Key_Down)) {
        // The page shown is in a folded section: a step goes to the nearest row shown on its side,
        // not round to the far end of the sidebar.
        if (auto nearest = nearestVisibleDestination(key == Qt::Key_Down))
            select(*nearest);
        return true;
    }
    const int current = at == rows.end() ? -1 : static_cast<int>(at - rows.begin());
    const std::optional<int> next = tdKeyboardStep(key, current, static_cast<int>(rows.size()));
    if (!next)
        return false;
    select(rows[std::size_t(*next)]);
    return true;
}

bool NavigationView::stepFromHeader(QTreeWidgetItem* header, int key)
{
    std::vector<QTreeWidgetItem*> items;
    for (int section = 0; section < m_sidebar->topLevelItemCount(); ++section) {
        QTreeWidgetItem* top = m_sidebar->topLevelItem(section);
        items.push_back(top);
        for (int row = 0; top->isExpanded() && row < top->childCount(); ++row)
            items.push_back(top->child(row));
    }
    const auto at = std::find(items.begin(), items.end(), header);
    const std::optional<int> next
        = tdKeyboardStep(key, static_cast<int>(at - items.begin()), static_cast<int>(items.size()));
    if (!next)
        return false;
    QTreeWidgetItem* item = items[std::size_t(*next)];
    if (item->data(0, headerRole).toBool())
        setKeyHeader(item);
    else
        select(static_cast<NavigationType>(item->data(0, destinationRole).toInt()));
    return true;
}

bool NavigationView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_sidebar && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!(key->modifiers() & ~Qt::KeypadModifier) && moveSidebarSelection(key->key()))
            return true;
    }
    if (watched == m_sidebar && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // Tab comes back to the page shown, not to a header clicked or reached before.
        if (event->type() == QEvent::FocusIn && keyHeader())
            keepSelection();
        m_sidebar->viewport()->update();
    }
    // Before a layout passes the column's new minimum up to the window, which would otherwise grow
    // past the screen first: whichever of the layouts on the way up is asked first.
    if (event->type() == QEvent::LayoutRequest
        && (watched == m_detail || watched == m_splitter || watched == this || watched == window())) {
        fitSidebar();
        followPageWidth();
    }
    if (event->type() == QEvent::Resize && watched == window() && watched != this)
        keepWidenedWindowOnScreen();
    return platform::ObservedWidget::eventFilter(watched, event);
}

int NavigationView::preferredWindowWidth()
{
    return sidebarWidth + splitterHandleWidth + TDProjectDetailView::notesColumnWidth
        + TDProjectDetailView::imagesColumnMinimumWidth;
}

void NavigationView::fitSidebar()
{
    auto* projects = dynamic_cast<TDProjectMasterView*>(m_destination);
    // Only a pushed page gives the sidebar up: on a destination's own browser the sidebar is the way
    // to the others.
    bool hide = false;
    if (projects && projects->stackDepth() > 0) {
        const QWidget* shell = window();
        const int available = availableArea().width() - (shell->frameGeometry().width() - shell->width());
        const int needed = sidebarMinimumWidth + m_splitter->handleWidth()
            + std::max(m_detail->minimumWidth(), m_detailLayout->totalMinimumSize().width());
        hide = available > 0 && needed > available;
    }
    if (m_sidebar->isHidden() != hide)
        m_sidebar->setHidden(hide);
}

// Notes the window's width before a pushed page can widen it (the layouts have not passed the page's
// minimum up yet), and once the page has gone gives back what the page took, while the window is
// still as the page left it.
void NavigationView::followPageWidth()
{
    QWidget* shell = window();
    if (shell == this)
        return;
    auto* projects = dynamic_cast<TDProjectMasterView*>(m_destination);
    if (projects && projects->stackDepth() > 0) {
        if (!m_pageWidening)
            m_pageWidening = PageWidening { shell->width() };
        return;
    }
    if (!m_pageWidening)
        return;
    const PageWidening widening = *m_pageWidening;
    m_pageWidening.reset();
    if (!widening.widthAfter || shell->width() != *widening.widthAfter
        || (shell->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    // Once the layouts have let the window's minimum down again.
    QMetaObject::invokeMethod(
        shell,
        [shell = QPointer<QWidget>(shell), widening] {
            if (!shell)
                return;
            // The new minimum goes up one layout at a time, each by an event of its own.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            if (QLayout* layout = shell->layout())
                layout->activate();
            shell->resize(widening.widthBefore, shell->height());
            if (widening.shift > 0)
                shell->move(shell->x() + widening.shift, shell->y());
        },
        Qt::QueuedConnection);
}

// A window that a pushed page has just widened to its minimum grows to the right, past the edge of
// the screen when it stood near it: it is moved in, so the page's toolbar stays in reach.
void NavigationView::keepWidenedWindowOnScreen()
{
    QWidget* shell = window();
    auto* projects = dynamic_cast<TDProjectMasterView*>(m_destination);
    if (!m_pageWidening || !projects || projects->stackDepth() == 0
        || shell->width() <= m_pageWidening->widthBefore || shell->width() > shell->minimumWidth()
        || (shell->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QRect area = availableArea();
    const QRect frame = shell->frameGeometry();
    const int shift
        = area.isValid() ? std::clamp(frame.right() - area.right(), 0, frame.left() - area.left()) : 0;
    if (shift > 0) {
        shell->move(shell->x() - shift, shell->y());
        m_pageWidening->shift += shift;
    }
    m_pageWidening->widthAfter = shell->width();
}

void NavigationView::applySidebarColors()
{
    QPalette palette = m_sidebar->palette();
    const bool dark = tdappearance::isDark(this);
    QColor background = tdappearance::color(SystemColor::windowBackground, dark);
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Window, background);
    m_sidebar->setPalette(palette);
}

void NavigationView::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applySidebarColors();
}
