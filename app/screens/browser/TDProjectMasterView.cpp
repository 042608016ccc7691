#include "app/screens/browser/TDProjectMasterView.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/screens/browser/CreateTDProjectSheet.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDListAccessible.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/screens/common/TDKeyboardStep.h"
#include "app/screens/common/TDNavigationPage.h"
#include "app/screens/common/TDSpringAnimation.h"
#include "app/screens/common/TDToolbar.h"
#include "app/store/TDProjectStore.h"
#include "platform/ui/ObservedWidget.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

using tdappearance::SystemColor;

namespace {

constexpr int gridPadding = 8;
constexpr int gridSpacing = 8;
constexpr int columnCount = 4;
// The spring a deleted card leaves on.
constexpr double deleteSpringResponse = 0.1;

// The grid's content: it positions the cards of the rows in view and builds only those, so a
// library of thousands of projects costs what its visible part costs.
class TDProjectGrid : public QWidget {
public:
    TDProjectGrid(QScrollArea* area, TDProjectMasterView* owner)
        : QWidget(area)
        , m_area(area)
        , m_owner(owner)
    {
        // Before the name is set: that asks for the interface, which is then kept for good.
        static std::once_flag accessible;
        std::call_once(accessible, [] { QAccessible::installFactory(accessibleFactory); });
        setObjectName(QStringLiteral("projectGrid"));
        setAccessibleName(tdLocalized("Projects"));
        // One stop in the Tab order; the arrows then move among the cards. Not taken by a click: a
        // card clicked would open with the ring on another card.
        setFocusPolicy(Qt::TabFocus);
    }

    // The project the keys act on (its card carries the ring while the grid has focus).
    std::shared_ptr<TDProject> currentProject() const
    {
        return m_current >= 0 && m_current < static_cast<int>(m_projects.size())
            ? m_projects[std::size_t(m_current)]
            : nullptr;
    }

    // The next change that drops `project` is animated: the card fades out and the cards after it
    // slide into their new places on a spring.
    void expectRemoval(const TDProject* project) { m_expectedRemovals.insert(project); }

    void setProjects(std::vector<std::shared_ptr<TDProject>> projects)
    {
        // The current card follows its project; when that one goes, the one now in its place.
        const TDProject* current = currentProject().get();
        std::unordered_map<const TDProject*, int> oldIndex;
        for (int i = 0; i < static_cast<int>(m_projects.size()); ++i)
            oldIndex.emplace(m_projects[i].get(), i);
        m_projects = std::move(projects);
        if (m_current >= 0) {
            auto found = std::find_if(m_projects.begin(), m_projects.end(),
                [&](const auto& project) { return project.get() == current; });
            m_current = found != m_projects.end()
                ? static_cast<int>(found - m_projects.begin())
                : std::min(m_current, static_cast<int>(m_projects.size()) - 1);
        }
        std::unordered_set<const TDProject*> kept;
        for (const auto& project : m_projects)
            kept.insert(project.get());
        bool animate = false;
        for (const auto& [project, index] : oldIndex)
            animate = animate || (!kept.contains(project) && m_expectedRemovals.contains(project));
        m_expectedRemovals.clear();

        if (animate)
            m_spring.finish();
        std::vector<QPointer<TDProjectItem>> leaving;
        for (auto it = m_cards.begin(); it != m_cards.end();) {
            if (!kept.contains(it->first)) {
                if (animate && it->second)
                    leaving.push_back(it->second);
                else
                    delete it->second.data();
                it = m_cards.erase(it);
            } else {
                ++it;
            }
        }
        setMinimumHeight(contentHeight());
        if (animate)
            startRemovalSpring(std::move(oldIndex), std::move(leaving));
        layoutCards();
    }

    int contentHeight() const
    {
        int rows = (static_cast<int>(m_projects.size()) + columnCount - 1) / columnCount;
        if (rows == 0)
            return 2 * gridPadding;
        return 2 * gridPadding + rows * TDProjectItem::tileHeight + (rows - 1) * gridSpacing;
    }

    // Lays out and builds the cards of the visible rows; those far from view are dropped.
    void layoutCards()
    {
        const double wholeWidth = m_area->width();
        const double cellWidth
            = (width() - 2 * gridPadding - (columnCount - 1) * gridSpacing) / double(columnCount);
        const int rowHeight = TDProjectItem::tileHeight + gridSpacing;
        QRect visible = m_area->viewport()->rect().translated(0, m_area->verticalScrollBar()->value());
        int firstRow = std::max(0, (visible.top() - gridPadding) / rowHeight);
        int lastRow = std::max(0, (visible.bottom() - gridPadding) / rowHeight);
        const int count = static_cast<int>(m_projects.size());
        int first = std::min(count, firstRow * columnCount);
        int last = std::min(count, (lastRow + 1) * columnCount);

        std::unordered_set<const TDProject*> wanted;
        for (int i = first; i < last; ++i)
            wanted.insert(m_projects[i].get());
        for (auto it = m_cards.begin(); it != m_cards.end();) {
            if (!wanted.contains(it->first) || !it->second) {
                delete it->second.data();
                it = m_cards.erase(it);
            } else {
                ++it;
            }
        }
        for (int i = first; i < last; ++i) {
            const auto& project = m_projects[i];
            auto& card = m_cards[project.get()];
            if (!card)
                card = makeCard(project, wholeWidth);
            card->setWholeWidth(wholeWidth, static_cast<int>(std::floor(cellWidth)));
            QPointF place = slotOrigin(i, card->width(), cellWidth);
            if (auto from = m_fromIndex.find(project.get()); from != m_fromIndex.end())
                place = slotOrigin(from->second, card->width(), cellWidth) * (1 - m_springProgress)
                    + place * m_springProgress;
            card->move(place.toPoint());
            card->setShowsFocusRing(i == m_current && hasFocus());
            card->show();
        }
    }

    QList<TDProjectItem*> cards() const
    {
        QList<TDProjectItem*> list;
        for (const auto& project : m_projects) {
            auto it = m_cards.find(project.get());
            if (it != m_cards.end() && it->second)
                list.append(it->second.data());
        }
        return list;
    }

    TDProjectItem* cardFor(const platform::Uuid& id) const
    {
        for (const auto& project : m_projects) {
            if (project->id() != id)
                continue;
            auto it = m_cards.find(project.get());
            return it == m_cards.end() ? nullptr : it->second.data();
        }
        return nullptr;
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        layoutCards();
    }

    void changeEvent(QEvent* event) override
    {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::LayoutDirectionChange)
            layoutCards();
    }

    void focusInEvent(QFocusEvent* event) override
    {
        QWidget::focusInEvent(event);
        if (!currentProject() && !m_projects.empty()) {
            // The first card in view, not the first of the library, which may be far above.
            const int scrolled = m_area->verticalScrollBar()->value() - gridPadding;
            const int row = std::max(
                0, (scrolled + TDProjectItem::tileHeight / 2) / (TDProjectItem::tileHeight + gridSpacing));
            m_current = std::min(row * columnCount, static_cast<int>(m_projects.size()) - 1);
        }
        revealCurrent();
        // The grid's own focus is told once this returns, and would be heard after the card.
        QMetaObject::invokeMethod(
            this,
            [grid = QPointer<TDProjectGrid>(this)] {
                if (grid)
                    grid->announceCurrent();
            },
            Qt::QueuedConnection);
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        QWidget::focusOutEvent(event);
        layoutCards();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const int count = static_cast<int>(m_projects.size());
        const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
        if (count == 0 || !plain) {
            if (count > 0 && event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)
                return showCurrentMenu();
            return QWidget::keyPressEvent(event);
        }
        const int current = std::clamp(m_current, 0, count - 1);
        const int rowsInView
            = std::max(1, m_area->viewport()->height() / (TDProjectItem::tileHeight + gridSpacing));
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            m_current = current;
            if (m_owner)
                m_owner->push(m_projects[std::size_t(current)]);
            return;
        case Qt::Key_Menu:
            m_current = current;
            return showCurrentMenu();
        }
        const std::optional<int> next
            = tdKeyboardStep(event->key(), current, count, columnCount, rowsInView, layoutDirection());
        if (!next)
            return QWidget::keyPressEvent(event);
        m_current = *next;
        revealCurrent();
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (event->reason() == QContextMenuEvent::Keyboard && currentProject())
            return showCurrentMenu();
        QWidget::contextMenuEvent(event);
    }

private:
    // A screen reader hears the grid as a list whose focused item is the ringed card.
    class Accessible : public TDListAccessible {
    public:
        explicit Accessible(TDProjectGrid* grid)
            : TDListAccessible(grid)
        {
        }

    protected:
        QWidget* itemWithKeys() const override
        {
            const auto* grid = static_cast<const TDProjectGrid*>(widget());
            const auto project = grid->currentProject();
            if (!project || !grid->hasFocus())
                return nullptr;
            const auto card = grid->m_cards.find(project.get());
            return card != grid->m_cards.end() ? card->second.data() : nullptr;
        }
    };

    static QAccessibleInterface* accessibleFactory(const QString&, QObject* object)
    {
        if (auto* grid = dynamic_cast<TDProjectGrid*>(object))
            return new Accessible(grid);
        return nullptr;
    }

    void announceCurrent()
    {
        const auto project = currentProject();
        auto card = project ? m_cards.find(project.get()) : m_cards.end();
        if (!hasFocus() || card == m_cards.end() || !card->second)
            return;
        QAccessibleEvent focus(card->second.data(), QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }

    // Scrolls the current card into view (which builds it) and rings it.
    void revealCurrent()
    {
        if (m_current >= 0) {
            const int rowHeight = TDProjectItem::tileHeight + gridSpacing;
            const int top = gridPadding + (m_current / columnCount) * rowHeight;
            m_area->ensureVisible(width() / 2, top + TDProjectItem::tileHeight / 2, 0,
                TDProjectItem::tileHeight / 2 + gridPadding);
        }
        layoutCards();
    }

    void showCurrentMenu()
    {
        auto project = currentProject();
        if (!project || !m_owner)
            return;
        revealCurrent();
        auto card = m_cards.find(project.get());
        QWidget* anchor = card != m_cards.end() && card->second ? static_cast<QWidget*>(card->second) : this;
        QMenu* menu = m_owner->cardMenu(project);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(anchor->mapToGlobal(anchor == this ? QPoint() : anchor->rect().center()));
    }

    QPointF slotOrigin(int index, int cardWidth, double cellWidth) const
    {
        const int rowHeight = TDProjectItem::tileHeight + gridSpacing;
        // The first card sits at the leading edge, where the arrow keys start from.
        int column = index % columnCount;
        if (isRightToLeft())
            column = columnCount - 1 - column;
        double cellLeft = gridPadding + column * (cellWidth + gridSpacing);
        return QPointF(std::round(cellLeft + (cellWidth - cardWidth) / 2),
            gridPadding + (index / columnCount) * rowHeight);
    }

    void startRemovalSpring(
        std::unordered_map<const TDProject*, int> oldIndex, std::vector<QPointer<TDProjectItem>> leaving)
    {
        m_fromIndex.clear();
        for (int i = 0; i < static_cast<int>(m_projects.size()); ++i) {
            auto from = oldIndex.find(m_projects[i].get());
            if (from != oldIndex.end() && from->second != i)
                m_fromIndex.emplace(m_projects[i].get(), from->second);
        }
        for (const auto& card : leaving) {
            card->setAttribute(Qt::WA_TransparentForMouseEvents);
            card->setGraphicsEffect(new QGraphicsOpacityEffect(card));
        }
        m_springProgress = 0;
        m_spring.start(
            [this, leaving](double progress) {
                m_springProgress = progress;
                for (const auto& card : leaving) {
                    if (card)
                        static_cast<QGraphicsOpacityEffect*>(card->graphicsEffect())
                            ->setOpacity(1 - progress);
                }
                layoutCards();
            },
            [this, leaving] {
                for (const auto& card : leaving)
                    delete card.data();
                m_fromIndex.clear();
                m_springProgress = 1;
            });
    }

    TDProjectItem* makeCard(const std::shared_ptr<TDProject>& project, double wholeWidth)
    {
        auto* card = new TDProjectItem(project, wholeWidth, this);
        std::weak_ptr<TDProject> weak = project;
        QPointer<TDProjectMasterView> owner = m_owner;
        card->setOnOpen([owner, weak] {
            if (auto project = weak.lock(); project && owner)
                owner->push(project);
        });
        card->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(
            card, &QWidget::customContextMenuRequested, card, [owner, weak, card](const QPoint& at) {
                auto project = weak.lock();
                if (!project || !owner)
                    return;
                QMenu* menu = owner->cardMenu(project);
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(card->mapToGlobal(at));
            });
        return card;
    }

    QScrollArea* m_area;
    TDProjectMasterView* m_owner;
    std::vector<std::shared_ptr<TDProject>> m_projects;
    // By record, not by id: a hand-edited library may hold two records of one id.
    std::unordered_map<const TDProject*, QPointer<TDProjectItem>> m_cards;
    std::unordered_set<const TDProject*> m_expectedRemovals;
    // The index of the card the keys act on; none until the grid first has focus.
    int m_current = -1;
    // While a removal springs: where each moving card started, and how far along it is.
    TDSpringAnimation m_spring { deleteSpringResponse };
    std::unordered_map<const TDProject*, int> m_fromIndex;
    double m_springProgress = 1;
};

// The scroll area hands its whole width to the cards, and lays them out again when it scrolls.
class TDProjectScrollArea : public QScrollArea {
public:
    explicit TDProjectScrollArea(QWidget* parent)
        : QScrollArea(parent)
    {
        setObjectName(QStringLiteral("projectScrollArea"));
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        viewport()->setAutoFillBackground(false);
        // The grid inside takes the focus and the keys.
        setFocusPolicy(Qt::NoFocus);
    }

    TDProjectGrid* grid() const { return static_cast<TDProjectGrid*>(widget()); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QScrollArea::resizeEvent(event);
        if (grid())
            grid()->layoutCards();
    }
    void scrollContentsBy(int dx, int dy) override
    {
        QScrollArea::scrollContentsBy(dx, dy);
        if (grid())
            grid()->layoutCards();
    }
    // The scroll area's own version scrolls to the grid it just gave the focus away from (the
    // whole grid, so somewhere rows down); the grid keeps its ringed card in view itself.
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

} // namespace

// The root of the stack: the observed selection, shown as the grid or the empty state.
class TDProjectGridRoot : public platform::ObservedWidget {
public:
    TDProjectGridRoot(TDStores stores, NavigationType type, TDProjectMasterView* owner)
        : platform::ObservedWidget(owner)
        , m_stores(std::move(stores))
        , m_type(type)
    {
        setObjectName(QStringLiteral("projectGridRoot"));
        m_layout = new QStackedLayout(this);
        m_empty = new TDContentUnavailableView(tdLocalized("No project found"), Symbol::folder,
            tdLocalized("Oops! looks like there is no project. Try to make one for your creative journey."),
            this);
        m_area = new TDProjectScrollArea(this);
        m_grid = new TDProjectGrid(m_area, owner);
        m_area->setWidget(m_grid);
        m_layout->addWidget(m_empty);
        m_layout->addWidget(m_area);
        renderNow();
    }

    bool showsEmptyState() const { return m_layout->currentWidget() == m_empty; }
    QWidget* emptyState() const { return m_empty; }

    // The empty state has nothing to act on: the keys the grid had go on to the window's next stop,
    // as Tab would take them, rather than staying where arrows and Return do nothing.
    void passKeysOn()
    {
        // Unless they have found a place of their own meanwhile.
        if (QWidget* focused = QApplication::focusWidget();
            focused && focused->isVisible() && focused != m_grid && !isAncestorOf(focused))
            return;
        QWidget* shell = window();
        for (QWidget* next = m_grid->nextInFocusChain(); next != m_grid; next = next->nextInFocusChain()) {
            if (next != shell && !shell->isAncestorOf(next))
                continue;
            if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled() && next->isVisibleTo(shell)
                && !isAncestorOf(next)) {
                next->setFocus(Qt::TabFocusReason);
                return;
            }
        }
    }
    QScrollArea* scrollArea() const { return m_area; }
    TDProjectGrid* grid() const { return m_grid; }

protected:
    void render() override
    {
        auto projects = TDProjectMasterView::selection(*m_stores.projectStore, m_type);
        bool empty = projects.empty();
        const bool hadKeys = m_grid->hasFocus();
        m_grid->setProjects(std::move(projects));
        m_layout->setCurrentWidget(empty ? static_cast<QWidget*>(m_empty) : m_area);
        if (empty && hadKeys)
            passKeysOn();
    }

private:
    TDStores m_stores;
    NavigationType m_type;
    QStackedLayout* m_layout;
    TDContentUnavailableView* m_empty;
    TDProjectScrollArea* m_area;
    TDProjectGrid* m_grid;
};

TDProjectMasterView::TDProjectMasterView(
    TDStores stores, NavigationType type, TDToolbar* toolbar, QWidget* parent)
    : QWidget(parent)
    , m_stores(std::move(stores))
    , m_library(m_stores)
    , m_type(type)
    , m_toolbar(toolbar)
{
    setObjectName(QStringLiteral("projectMasterView"));
    setMinimumWidth(minimumWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack);
    m_root = new TDProjectGridRoot(m_stores, m_type, this);
    m_stack->addWidget(m_root);

    if (m_type == NavigationType::projects) {
        m_createAction = new QAction(this);
        m_createAction->setObjectName(QStringLiteral("createProjectAction"));
        // The text is the button's name for a screen reader; the button shows only the symbol.
        m_createAction->setText(tdLocalized("New Project"));
        m_createAction->setToolTip(tdLocalized("New Project"));
        // The desktop's New key, in the main window while its button shows (a sheet over the window
        // blocks it, so it never opens a second one).
        m_createAction->setShortcut(QKeySequence::New);
        m_createAction->setShortcutContext(Qt::WindowShortcut);
        connect(m_createAction, &QAction::triggered, this, [this] { openCreateProjectSheet(); });
    }
    applyColors();
    updateToolbar();
}

void TDProjectMasterView::applyColors()
{
    if (m_createAction)
        m_createAction->setIcon(SymbolPainter::icon(Symbol::folderBadgePlus, TDToolbar::iconSize,
            tdappearance::color(SystemColor::secondaryLabel, this).toRgb()));
}

void TDProjectMasterView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The symbol is a picture in one colour: a switch between light and dark draws it again.
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

TDProjectMasterView::~TDProjectMasterView()
{
    if (m_toolbar) {
        m_toolbar->setBackAction({});
        m_toolbar->setPushedTitle(std::nullopt);
        m_toolbar->setPushedSubtitle(std::nullopt);
    }
    delete m_createSheet.data();
}

std::vector<std::shared_ptr<TDProject>> TDProjectMasterView::selection(
    const TDProjectStore& store, NavigationType type)
{
    std::vector<std::shared_ptr<TDProject>> selected;
    auto all = store.tdProjects();
    switch (type) {
    case NavigationType::projects:
        return all;
    case NavigationType::media:
    case NavigationType::links:
        return selected;
    case NavigationType::favorite:
        for (const auto& project : all) {
            if (project->isFavorite())
                selected.push_back(project);
        }
        return selected;
    case NavigationType::archived:
    case NavigationType::inProgress:
    case NavigationType::finished: {
        TDStatus status = type == NavigationType::archived ? TDStatus::archived
            : type == NavigationType::inProgress           ? TDStatus::inProgress
                                                           : TDStatus::finished;
        for (const auto& project : all) {
            if (project->status() == status)
                selected.push_back(project);
        }
        return selected;
    }
    }
    return selected;
}

int TDProjectMasterView::stackDepth() const
{
    return m_stack->count() - 1;
}

QWidget* TDProjectMasterView::topPage() const
{
    return m_stack->widget(m_stack->count() - 1);
}

void TDProjectMasterView::push(const std::shared_ptr<TDProject>& project)
{
    TDNavigationPage* page = makeTDProjectPage(project, m_stores, m_stack);
    QWidget* widget = page->pageWidget();
    if (stackDepth() == 0)
        m_gridHadFocus = m_root->grid()->hasFocus();
    QPointer<TDProjectMasterView> self(this);
    page->setOnTitleChange([self, widget](const QString& title) {
        if (self && self->m_toolbar && self->topPage() == widget)
            self->m_toolbar->setPushedTitle(title);
    });
    page->setOnSubtitleChange([self, widget](const QString& subtitle) {
        if (self && self->m_toolbar && self->topPage() == widget)
            self->m_toolbar->setPushedSubtitle(subtitle);
    });
    m_stack->addWidget(widget);
    m_stack->setCurrentWidget(widget);
    // Opened from the keyboard: the keys go on in the page, not to wherever the hidden grid's
    // focus would fall.
    if (m_gridHadFocus)
        widget->setFocus(Qt::OtherFocusReason);
    // A page wider than the grid (the workspace's two columns) widens the window rather than being cut.
    setMinimumWidth(std::max(minimumWidth, widget->minimumWidth()));
    updateToolbar();
}

void TDProjectMasterView::pop()
{
    if (stackDepth() == 0)
        return;
    QWidget* page = topPage();
    m_stack->removeWidget(page);
    page->deleteLater();
    m_stack->setCurrentIndex(m_stack->count() - 1);
    setMinimumWidth(stackDepth() > 0 ? std::max(minimumWidth, topPage()->minimumWidth()) : minimumWidth);
    updateToolbar();
    // Back where the keys left: on the card of the project that was opened. After the toolbar has
    // dropped its Back button, which would otherwise be the next stop.
    if (stackDepth() == 0 && m_gridHadFocus) {
        m_gridHadFocus = false;
        // The page may have taken the last project the grid showed out of its selection. The keys
        // go on once the window has laid itself out again: the sidebar, which a wide page may have
        // pushed aside, comes back only then.
        if (m_root->showsEmptyState())
            QMetaObject::invokeMethod(
                m_root,
                [root = QPointer<TDProjectGridRoot>(m_root)] {
                    if (root)
                        root->passKeysOn();
                },
                Qt::QueuedConnection);
        else
            m_root->grid()->setFocus(Qt::OtherFocusReason);
    }
}

void TDProjectMasterView::updateToolbar()
{
    if (!m_toolbar)
        return;
    QList<QAction*> actions;
    if (stackDepth() > 0) {
        QPointer<TDProjectMasterView> self(this);
        m_toolbar->setBackAction([self] {
            if (self)
                self->pop();
        });
        auto* page = dynamic_cast<TDNavigationPage*>(topPage());
        m_toolbar->setPushedTitle(page->title());
        m_toolbar->setPushedSubtitle(page->subtitle());
        actions = page->toolbarActions();
    } else {
        m_toolbar->setBackAction({});
        m_toolbar->setPushedTitle(std::nullopt);
        m_toolbar->setPushedSubtitle(std::nullopt);
    }
    if (m_createAction)
        actions.append(m_createAction);
    m_toolbar->setActions(actions);
}

bool TDProjectMasterView::showsEmptyState() const
{
    return m_root->showsEmptyState();
}

QWidget* TDProjectMasterView::emptyState() const
{
    return m_root->emptyState();
}

QScrollArea* TDProjectMasterView::scrollArea() const
{
    return m_root->scrollArea();
}

QWidget* TDProjectMasterView::grid() const
{
    return m_root->grid();
}

QList<TDProjectItem*> TDProjectMasterView::cards() const
{
    return m_root->grid()->cards();
}

TDProjectItem* TDProjectMasterView::cardFor(const platform::Uuid& projectId) const
{
    return m_root->grid()->cardFor(projectId);
}

void TDProjectMasterView::openCreateProjectSheet()
{
    if (m_openCreateNewProjectSheet)
        return;
    auto* sheet = new CreateTDProjectSheet(m_stores, window());
    m_createSheet = sheet;
    m_openCreateNewProjectSheet = true;
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        m_openCreateNewProjectSheet = false;
        m_createSheet = nullptr;
        sheet->deleteLater();
    });
    sheet->open();
}

QMenu* TDProjectMasterView::cardMenu(const std::shared_ptr<TDProject>& project)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("cardMenu"));
    QAction* remove = menu->addAction(tdLocalized("Delete"));
    remove->setObjectName(QStringLiteral("deleteProjectAction"));
    std::weak_ptr<TDProject> weak = project;
    QPointer<TDProjectMasterView> self(this);
    connect(remove, &QAction::triggered, menu, [self, weak] {
        if (auto project = weak.lock(); project && self)
            self->deleteProject(project);
    });
    return menu;
}

void TDProjectMasterView::deleteProject(const std::shared_ptr<TDProject>& project)
{
    m_root->grid()->expectRemoval(project.get());
    // The alert goes on the window even when this view has been replaced meanwhile.
    QPointer<QWidget> window = this->window();
    m_library.deleteProject(project, [window](auto deleted) {
        if (!deleted && window)
            presentTDAlert(window, deleted.error().title, deleted.error().message);
    });
    // The project's note windows would stay open on notes that no longer exist; a note that another
    // record of a hand-edited library still lists keeps its window.
    if (!m_stores.noteWindows || !m_stores.noteWindows->dismissWindow)
        return;
    std::unordered_map<platform::Uuid, std::shared_ptr<TDNote>> gone;
    for (const auto& note : project->tdNoteInPlace())
        gone.emplace(note->id(), note);
    for (const auto& other : m_stores.projectStore->tdProjects()) {
        if (gone.empty())
            break;
        for (const auto& note : other->tdNoteInPlace())
            gone.erase(note->id());
    }
    const auto dismiss = m_stores.noteWindows->dismissWindow;
    for (const auto& note : project->tdNote()) {
        if (gone.contains(note->id()))
            dismiss(note);
    }
}
