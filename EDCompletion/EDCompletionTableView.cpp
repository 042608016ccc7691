#include "EDCompletion/EDCompletionTableView.h"

#include "EDCompletion/EDTableRowView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
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
    // The list has no background of its own: the pop-up's shows through.
    m_scrollView->viewport()->setAutoFillBackground(false);
    m_document->setAutoFillBackground(false);
    reloadData();
}

EDCompletionTableView::~EDCompletionTableView()
{
    takeViewsOutOfRows();
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
    return row >= 0 && row < numberOfRows() ? m_rows[size_t(row)] : nullptr;
}

QWidget* EDCompletionTableView::viewAtRow(int row) const
{
    return row >= 0 && row < numberOfRows() ? m_views[size_t(row)].data() : nullptr;
}

void EDCompletionTableView::takeViewsOutOfRows()
{
    for (size_t row = 0; row < m_views.size(); ++row) {
        QWidget* view = m_views[row];
        if (!view || view->parentWidget() != m_rows[row])
            continue;
        view->setParent(nullptr);
        view->setAttribute(
            Qt::WA_TransparentForMouseEvents, view->property(wasTransparentForMouseProperty).toBool());
        view->setProperty(wasTransparentForMouseProperty, QVariant());
    }
}

void EDCompletionTableView::reloadData()
{
    takeViewsOutOfRows();
    // A click's action may reload the list from inside a row's own mouse event, so the old rows
    // go later, once that event is done with them.
    for (EDTableRowView* row : m_rows) {
        row->removeEventFilter(this);
        row->hide();
        row->deleteLater();
    }
    m_rows.clear();
    m_views.clear();

    const int count = m_dataSource ? std::max(0, m_dataSource->numberOfRowsInTableView(*this)) : 0;
    for (int row = 0; row < count; ++row) {
        EDTableRowView* rowView = m_dataSource->rowViewForRow(*this, row);
        if (!rowView)
            rowView = new EDTableRowView;
        rowView->setParent(m_document);
        rowView->installEventFilter(this);
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
        m_rows.push_back(rowView);
        m_views.emplace_back(view);
    }

    m_document->setFixedHeight(int(std::ceil(count * (m_rowHeight + m_intercellSpacing.height()))));
    layOutRows();

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
    for (size_t row = 0; row < m_rows.size(); ++row) {
        const QRectF rowRect(0, double(row) * rowStride, rowWidth, rowStride);
        m_rows[row]->setGeometry(rowRect.toRect());
        QWidget* view = m_views[row];
        if (view && view->parentWidget() == m_rows[row]) {
            view->setGeometry(QRectF(m_intercellSpacing.width() / 2, m_intercellSpacing.height() / 2,
                rowWidth - m_intercellSpacing.width(), m_rowHeight)
                                  .toRect());
        }
    }
}

void EDCompletionTableView::selectRow(int row)
{
    if (row < 0 || row >= numberOfRows())
        return;
    if (EDTableRowView* old = rowViewAtRow(m_selectedRow))
        old->setSelected(false);
    m_selectedRow = row;
    m_rows[size_t(row)]->setSelected(true);
    m_scrollView->ensureWidgetVisible(m_rows[size_t(row)], 0, 0);
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
