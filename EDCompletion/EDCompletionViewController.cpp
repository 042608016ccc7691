#include "EDCompletion/EDCompletionViewController.h"

#include "EDCompletion/EDCompletionWindow.h"
#include "EDCompletion/EDCompletionWindowController.h"
#include "EDCompletion/EDTableRowView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr double minimumWidth = 320.0;
// Past this many rows the list scrolls; the half row shows that there is more.
constexpr double maximumVisibleRows = 8.5;

// The characters a key press stands for, as the key monitor reads them.
constexpr char16_t enterCharacter = 0x0003;
constexpr char16_t backspaceCharacter = 0x0008;
constexpr char16_t tabCharacter = 0x0009;
constexpr char16_t lineFeedCharacter = 0x000a;
constexpr char16_t carriageReturnCharacter = 0x000d;
constexpr char16_t escapeCharacter = 0x001b;
constexpr char16_t deleteCharacter = 0x007f;
constexpr char16_t upArrowCharacter = 0xf700;
constexpr char16_t downArrowCharacter = 0xf701;
// Stands for a key that moves or edits without typing text of its own: the arrows to the sides,
// Home, the function keys, forward Delete.
constexpr char16_t functionKeyCharacter = 0xf8ff;

QString keyCharacters(const QKeyEvent& event)
{
    switch (event.key()) {
    case Qt::Key_Escape:
        return QString(QChar(escapeCharacter));
    case Qt::Key_Tab:
        return QString(QChar(tabCharacter));
    case Qt::Key_Backspace:
        return QString(QChar(deleteCharacter));
    case Qt::Key_Return:
        return QString(QChar(carriageReturnCharacter));
    case Qt::Key_Enter:
        return QString(QChar(enterCharacter));
    case Qt::Key_Up:
        return QString(QChar(upArrowCharacter));
    case Qt::Key_Down:
        return QString(QChar(downArrowCharacter));
    // Qt gives forward Delete the text U+007F, which the monitor reads as Backspace, and Shift+Tab
    // the text of Tab; both are other keys here.
    case Qt::Key_Delete:
    case Qt::Key_Backtab:
        return QString(QChar(functionKeyCharacter));
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
    case Qt::Key_unknown:
    case 0:
        return {};
    default:
        break;
    }
    if (event.key() >= Qt::Key_Dead_Grave && event.key() <= Qt::Key_Dead_Longsolidusoverlay)
        return {};
    if (!event.text().isEmpty())
        return event.text();
    return QString(QChar(functionKeyCharacter));
}

bool isKeptByMonitor(char16_t character)
{
    switch (character) {
    case escapeCharacter:
    case tabCharacter:
    case backspaceCharacter:
    case deleteCharacter:
    case lineFeedCharacter:
    case carriageReturnCharacter:
    case enterCharacter:
    case upArrowCharacter:
    case downArrowCharacter:
        return true;
    default:
        return false;
    }
}

// The pop-up's background in the window colour, with a rounded hairline edge that keeps it apart
// from a text view of a similar colour below it. The window shapes itself to the rounding.
class ContentView : public QWidget {
public:
    std::function<void()> appeared;
    std::function<void()> disappeared;

    // As large as its constraints say, whatever the list inside would like.
    QSize sizeHint() const override { return minimumSize(); }
    QSize minimumSizeHint() const override { return minimumSize(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.setRenderHint(QPainter::Antialiasing);
        QColor edge = palette().color(QPalette::Dark);
        edge.setAlphaF(0.5);
        painter.setPen(QPen(edge, 1));
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5),
            EDCompletionViewController::cornerRadius, EDCompletionViewController::cornerRadius);
        painter.drawPath(outline);
    }

    void showEvent(QShowEvent*) override
    {
        if (appeared)
            appeared();
    }
    void hideEvent(QHideEvent*) override
    {
        if (disappeared)
            disappeared();
    }
};

class KeyMonitor : public QObject {
public:
    explicit KeyMonitor(QObject* parent, std::function<bool(QObject*, QKeyEvent&)> handler)
        : QObject(parent)
        , m_handler(std::move(handler))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return false;
        return m_handler(watched, *static_cast<QKeyEvent*>(event));
    }

private:
    std::function<bool(QObject*, QKeyEvent&)> m_handler;
};

} // namespace

EDCompletionViewController::EDCompletionViewController(QObject* parent)
    : QObject(parent)
    , m_tableView(new EDCompletionTableView)
{
    m_tableView->setRowHeight(22.0);
    m_tableView->setIntercellSpacing(QSizeF(4.0, 2.0));
    m_tableView->setContentInsets(QMarginsF(4.0, 4.0, 4.0, 4.0));
    m_tableView->setAllowsEmptySelection(false);
    m_tableView->setAction([this] { tableViewAction(); });
    m_tableView->setDoubleAction([this] { tableViewDoubleAction(); });
    m_tableView->setDataSource(this);
    m_keyMonitor = new KeyMonitor(
        this, [this](QObject* receiver, QKeyEvent& event) { return monitorKey(receiver, event); });
}

EDCompletionViewController::~EDCompletionViewController()
{
    removeEventMonitor();
    if (m_tableView)
        m_tableView->setDataSource(nullptr);
    delete m_view.data();
    delete m_tableView.data();
}

void EDCompletionViewController::setItems(EDCompletionItems items)
{
    m_items = std::move(items);
    if (m_tableView)
        m_tableView->reloadData();
    if (m_view)
        updateViewConstraints();
}

QWidget* EDCompletionViewController::view()
{
    if (!m_view) {
        loadView();
        updateViewConstraints();
    }
    return m_view;
}

void EDCompletionViewController::loadView()
{
    auto* view = new ContentView;
    view->appeared = [this] { viewDidAppear(); };
    view->disappeared = [this] { viewDidDisappear(); };
    view->setMinimumWidth(int(minimumWidth));
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tableView);
    // A view that goes with its window is never told it disappeared.
    connect(view, &QObject::destroyed, this, [this] { removeEventMonitor(); });
    m_view = view;
}

void EDCompletionViewController::updateViewConstraints()
{
    if (!m_tableView)
        return;
    const double rows = std::min(double(m_items.size()), maximumVisibleRows);
    const double rowHeight = m_tableView->rowHeight();
    const QMarginsF insets = m_tableView->contentInsets();
    m_heightConstraint = std::max(rowHeight,
        rows * rowHeight + rows * m_tableView->intercellSpacing().height() + insets.top() + insets.bottom());
    if (m_view) {
        m_view->setMinimumHeight(int(std::ceil(*m_heightConstraint)));
        m_view->updateGeometry();
    }
}

void EDCompletionViewController::viewDidAppear()
{
    if (m_eventMonitor)
        return;
    qApp->installEventFilter(m_keyMonitor);
    m_eventMonitor = m_keyMonitor;
}

void EDCompletionViewController::viewDidDisappear()
{
    removeEventMonitor();
}

void EDCompletionViewController::removeEventMonitor()
{
    if (!m_eventMonitor)
        return;
    qApp->removeEventFilter(m_eventMonitor);
    m_eventMonitor = nullptr;
}

int EDCompletionViewController::numberOfRowsInTableView(EDCompletionTableView&)
{
    return int(m_items.size());
}

QWidget* EDCompletionViewController::viewForRow(EDCompletionTableView&, int row)
{
    const auto& item = m_items[size_t(row)];
    return item ? item->view() : nullptr;
}

EDTableRowView* EDCompletionViewController::rowViewForRow(EDCompletionTableView&, int)
{
    return new EDTableRowView;
}

void EDCompletionViewController::tableViewAction()
{
}

void EDCompletionViewController::tableViewDoubleAction()
{
    accept(EDTextMovement::other);
}

void EDCompletionViewController::accept(EDTextMovement movement)
{
    const int row = m_tableView ? m_tableView->selectedRow() : -1;
    if (row < 0 || row >= int(m_items.size())) {
        closePopUp();
        return;
    }
    const std::shared_ptr<EDCompletionItem> item = m_items[size_t(row)];
    QPointer<EDCompletionViewController> alive(this);
    if (m_delegate)
        m_delegate->completionViewController(*this, item, movement);
    if (alive)
        closePopUp();
}

void EDCompletionViewController::insertTab()
{
    accept(EDTextMovement::tab);
}

void EDCompletionViewController::insertNewline()
{
    accept(EDTextMovement::returnKey);
}

void EDCompletionViewController::insertLineBreak()
{
    accept(EDTextMovement::returnKey);
}

void EDCompletionViewController::cancelOperation()
{
    closePopUp();
}

void EDCompletionViewController::deleteBackward()
{
    closePopUp();
}

void EDCompletionViewController::deleteForward()
{
    closePopUp();
}

void EDCompletionViewController::closePopUp()
{
    if (!m_view)
        return;
    auto* window = qobject_cast<EDCompletionWindow*>(m_view->window());
    if (window && window->windowController())
        window->windowController()->close();
}

void EDCompletionViewController::interpretKeyEvent(const QKeyEvent& event)
{
    const QString characters = keyCharacters(event);
    if (characters.isEmpty())
        return;
    switch (characters.front().unicode()) {
    case escapeCharacter:
        cancelOperation();
        break;
    case tabCharacter:
        insertTab();
        break;
    case backspaceCharacter:
    case deleteCharacter:
        deleteBackward();
        break;
    case carriageReturnCharacter:
    case enterCharacter:
        insertNewline();
        break;
    case lineFeedCharacter:
        insertLineBreak();
        break;
    default:
        break;
    }
}

bool EDCompletionViewController::isMeantForPopUp(QObject* receiver) const
{
    // Keys reach a window's widgets after passing its platform window; only the widget delivery
    // counts, or every key would be seen twice.
    if (!receiver->isWidgetType())
        return false;
    QWidget* target = static_cast<QWidget*>(receiver)->window();
    QWidget* popUp = m_view ? m_view->window() : nullptr;
    if (!popUp || target == popUp)
        return true;
    QWidget* parentWindow = popUp->parentWidget() ? popUp->parentWidget()->window() : nullptr;
    return !parentWindow || target == parentWindow;
}

bool EDCompletionViewController::monitorKey(QObject* receiver, QKeyEvent& event)
{
    if (!isMeantForPopUp(receiver))
        return false;
    const QString characters = keyCharacters(event);
    for (const QChar character : characters) {
        if (!isKeptByMonitor(character.unicode())) {
            cancelOperation();
            continue;
        }
        if (event.type() == QEvent::ShortcutOverride) {
            // Claimed, so no shortcut of the window takes the key; its press does the work.
            event.accept();
        } else if (character == upArrowCharacter || character == downArrowCharacter) {
            if (m_tableView)
                m_tableView->keyDown(event);
        } else {
            interpretKeyEvent(event);
        }
        return true;
    }
    return false;
}
