#include "EDCompletion/EDCompletionTableView.h"

#include "EDCompletion/EDTableRowView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Where an item's view keeps its own setting while the list makes it transparent to the mouse.
const char wasTransparentForMouseProperty[] = "edCompletionWasTransparentForMouse";

class Document : public QWidget {
public:
    std::function<void()> resized;

protected:
    void resizeEvent(QResizeEvent*) override
    {
        if (resized)
            resized();
    }
};

} // namespace

EDCompletionTableView::EDCompletionTableView(QWidget* parent)
    : QWidget(parent)
    , m_scrollView(new QScrollArea(this))
{
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(m_contentInsets.toMargins());
    layout->addWidget(m_scrollView);
    m_scrollView->setFrameShape(QFrame::NoFrame);
    m_scrollView->setFocusPolicy(Qt::NoFocus);
    m_scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scrollView->setWidgetResizable(true);
    m_scrollView->setMinimumSize(0, 0);
    auto* document = new Document;
    document->resized = [this] { layOutRows(); };
    m_scrollView->setWidget(document);
    m_document = document;
    connect(m_scrollView->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { tileRows(); });
    m_scrollView->viewport()->installEventFilter(this);
    // The list has no background of its own: the pop-up's shows through.
    m_scrollView->viewport()->setAutoFillBackground(false);
    m_document->setAutoFillBackground(false);
    reloadData();
}

EDCompletionTableView::~EDCompletionTableView()
{
    for (int row = 0; row < m_numberOfRows; ++row)
        takeViewOutOfRow(row);
}

void EDCompletionTableView::setRowHeight(double height)
{
    m_rowHeight = std::max(0.0, height);
    reloadData();
}

void EDCompletionTableView::setIntercellSpacing(QSizeF spacing)
{
    m_intercellSpacing = spacing;
    reloadData();
}

void EDCompletionTableView::setContentInsets(QMarginsF insets)
{
    m_contentInsets = insets;
    layout()->setContentsMargins(insets.toMargins());
}

void EDCompletionTableView::setAllowsEmptySelection(bool allows)
{
    m_allowsEmptySelection = allows;
    if (!allows && m_selectedRow < 0)
        selectRow(0);
}

EDTableRowView* EDCompletionTableView::rowViewAtRow(int row) const
{
    return row >= 0 && row < m_numberOfRows ? m_rows[size_t(row)] : nullptr;
}

QWidget* EDCompletionTableView::viewAtRow(int row) const
{
    return rowViewAtRow(row) ? m_views[size_t(row)].data() : nullptr;
}

void EDCompletionTableView::takeViewOutOfRow(int row)
{
    QWidget* view = m_views[size_t(row)];
    m_views[size_t(row)] = nullptr;
    if (!view || !m_rows[size_t(row)] || view->parentWidget() != m_rows[size_t(row)])
        return;
    view->setParent(nullptr);
    view->setAttribute(
        Qt::WA_TransparentForMouseEvents, view->property(wasTransparentForMouseProperty).toBool());
    view->setProperty(wasTransparentForMouseProperty, QVariant());
}

void EDCompletionTableView::dropRow(int row)
{
    EDTableRowView* rowView = m_rows[size_t(row)];
    if (!rowView)
        return;
    takeViewOutOfRow(row);
    // A click's action may reload the list from inside a row's own mouse event, so the row goes
    // later, once that event is done with it.
    rowView->removeEventFilter(this);
    rowView->hide();
    rowView->deleteLater();
    m_rows[size_t(row)] = nullptr;
}

void EDCompletionTableView::reloadData()
{
    for (int row = 0; row < m_numberOfRows; ++row)
        dropRow(row);
    m_numberOfRows = m_dataSource ? std::max(0, m_dataSource->numberOfRowsInTableView(*this)) : 0;
    m_rows.assign(size_t(m_numberOfRows), nullptr);
    m_views.assign(size_t(m_numberOfRows), nullptr);

    m_document->setFixedHeight(int(std::ceil(m_numberOfRows * (m_rowHeight + m_intercellSpacing.height()))));
    layOutRows();

    const int count = m_numberOfRows;
    int selected = m_selectedRow;
    if (count == 0)
        selected = -1;
    else if (selected >= count)
        selected = m_allowsEmptySelection ? -1 : 0;
    else if (selected < 0 && !m_allowsEmptySelection)
        selected = 0;
    m_selectedRow = -1;
    selectRow(selected);
}

void EDCompletionTableView::layOutRows()
{
    const double rowStride = m_rowHeight + m_intercellSpacing.height();
    const double rowWidth = m_document->width();
    for (int row = 0; row < m_numberOfRows; ++row) {
        EDTableRowView* rowView = m_rows[size_t(row)];
        if (!rowView)
            continue;
        rowView->setGeometry(QRectF(0, double(row) * rowStride, rowWidth, rowStride).toRect());
        QWidget* view = m_views[size_t(row)];
        if (view && view->parentWidget() == rowView) {
            view->setGeometry(QRectF(m_intercellSpacing.width() / 2, m_intercellSpacing.height() / 2,
                rowWidth - m_intercellSpacing.width(), m_rowHeight)
                                  .toRect());
        }
    }
    tileRows();
}

void EDCompletionTableView::tileRows()
{
    if (m_numberOfRows == 0)
        return;
    const double rowStride = m_rowHeight + m_intercellSpacing.height();
    int first = 0;
    int last = m_numberOfRows - 1;
    if (rowStride > 0) {
        const double top = m_scrollView->verticalScrollBar()->value();
        const double bottom = top + m_scrollView->viewport()->height();
        first = std::clamp(int(std::floor(top / rowStride)), 0, m_numberOfRows - 1);
        last = std::clamp(int(std::floor(bottom / rowStride)), first, m_numberOfRows - 1);
    }
    bool made = false;
    for (int row = 0; row < m_numberOfRows; ++row) {
        if (row < first || row > last) {
            dropRow(row);
            continue;
        }
        if (m_rows[size_t(row)] || !m_dataSource)
            continue;
        EDTableRowView* rowView = m_dataSource->rowViewForRow(*this, row);
        if (!rowView)
            rowView = new EDTableRowView;
        rowView->setParent(m_document);
        rowView->installEventFilter(this);
        rowView->setSelected(row == m_selectedRow);
        QWidget* view = m_dataSource->viewForRow(*this, row);
        if (view) {
            // The row takes the clicks, whatever the item's view would do with them.
            view->setProperty(
                wasTransparentForMouseProperty, view->testAttribute(Qt::WA_TransparentForMouseEvents));
            view->setAttribute(Qt::WA_TransparentForMouseEvents);
            view->setParent(rowView);
            view->show();
        }
        rowView->show();
        m_rows[size_t(row)] = rowView;
        m_views[size_t(row)] = view;
        made = true;
    }
    if (made)
        layOutRows();
}

void EDCompletionTableView::selectRow(int row)
{
    if (row < 0 || row >= numberOfRows())
        return;
    if (EDTableRowView* old = rowViewAtRow(m_selectedRow))
        old->setSelected(false);
    m_selectedRow = row;
    const double rowStride = m_rowHeight + m_intercellSpacing.height();
    const int middle = int(std::lround((row + 0.5) * rowStride));
    m_scrollView->ensureVisible(0, middle, 0, int(std::ceil(rowStride / 2)));
    tileRows();
    if (EDTableRowView* selected = rowViewAtRow(row))
        selected->setSelected(true);
}

void EDCompletionTableView::keyDown(QKeyEvent& event)
{
    const int count = numberOfRows();
    if (count == 0)
        return;
    if (event.key() == Qt::Key_Up)
        selectRow(m_selectedRow < 0 ? 0 : std::max(0, m_selectedRow - 1));
    else if (event.key() == Qt::Key_Down)
        selectRow(m_selectedRow < 0 ? 0 : std::min(count - 1, m_selectedRow + 1));
}

bool EDCompletionTableView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scrollView->viewport() && event->type() == QEvent::Resize) {
        tileRows();
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    const auto row = std::find(m_rows.begin(), m_rows.end(), watched);
    if (row == m_rows.end() || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
        return QWidget::eventFilter(watched, event);
    selectRow(int(row - m_rows.begin()));
    // A copy: the action may close the list and change the table.
    const auto action = event->type() == QEvent::MouseButtonDblClick ? m_doubleAction : m_action;
    if (action)
        action();
    return true;
}
