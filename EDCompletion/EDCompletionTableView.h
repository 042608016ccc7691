#pragma once

#include <QMarginsF>
#include <QPointer>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <vector>

class EDCompletionTableView;
class EDTableRowView;
class QKeyEvent;
class QScrollArea;

class EDCompletionTableViewDataSource {
public:
    virtual int numberOfRowsInTableView(EDCompletionTableView& tableView) = 0;
    // The view shown in a row; the data source keeps owning it (see reloadData()).
    virtual QWidget* viewForRow(EDCompletionTableView& tableView, int row) = 0;
    // A new row view, which the table owns; null gives a plain EDTableRowView.
    virtual EDTableRowView* rowViewForRow(EDCompletionTableView& tableView, int row) = 0;

protected:
    ~EDCompletionTableViewDataSource() = default;
};

// The one-column list of the completion pop-up, in a scroll view of its own inset from its edges:
// a row per item, each a row view (which draws the selection) holding the item's view. Only the rows
// in sight have row views, so a list of many thousand items opens, scrolls and closes at once. It
// never takes the keyboard focus; its owner hands it the keys that move the selection (keyDown()).
// A click selects a row and runs the action; a double click selects it and runs the double action.
class EDCompletionTableView : public QWidget {
    Q_OBJECT

public:
    explicit EDCompletionTableView(QWidget* parent = nullptr);
    ~EDCompletionTableView() override;

    void setDataSource(EDCompletionTableViewDataSource* dataSource) { m_dataSource = dataSource; }
    void setAction(std::function<void()> action) { m_action = std::move(action); }
    void setDoubleAction(std::function<void()> action) { m_doubleAction = std::move(action); }

    // Each row is rowHeight() plus the intercell spacing's height tall; the item's view gets
    // rowHeight(), inset by half the spacing on every side.
    double rowHeight() const { return m_rowHeight; }
    void setRowHeight(double height);
    QSizeF intercellSpacing() const { return m_intercellSpacing; }
    void setIntercellSpacing(QSizeF spacing);
    // Space around the scroll view, which holds the rows and the scroll bar.
    QMarginsF contentInsets() const { return m_contentInsets; }
    void setContentInsets(QMarginsF insets);
    // When false, a row stays selected whenever there is one.
    bool allowsEmptySelection() const { return m_allowsEmptySelection; }
    void setAllowsEmptySelection(bool allows);

    // Asks the data source again for the rows. The views of the old rows are taken out first,
    // parentless and hidden, so the rows going never takes the data source's views with them.
    void reloadData();
    int numberOfRows() const { return m_numberOfRows; }
    // Null for a row out of sight.
    EDTableRowView* rowViewAtRow(int row) const;
    QWidget* viewAtRow(int row) const;

    // -1 when no row is selected.
    int selectedRow() const { return m_selectedRow; }
    // Selects a row and scrolls it into view; a row out of range changes nothing.
    void selectRow(int row);
    // Up and Down move the selection by a row, stopping at the ends; other keys do nothing.
    void keyDown(QKeyEvent& event);

    QScrollArea* scrollView() const { return m_scrollView; }
    // Its owner sets its height; it would otherwise ask for room for the scroll bars.
    QSize minimumSizeHint() const override { return {}; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layOutRows();
    // Makes the rows in sight and drops the others.
    void tileRows();
    void takeViewOutOfRow(int row);
    void dropRow(int row);

    EDCompletionTableViewDataSource* m_dataSource = nullptr;
    std::function<void()> m_action;
    std::function<void()> m_doubleAction;
    double m_rowHeight = 22.0;
    QSizeF m_intercellSpacing { 4.0, 2.0 };
    QMarginsF m_contentInsets { 4.0, 4.0, 4.0, 4.0 };
    bool m_allowsEmptySelection = true;
    QScrollArea* m_scrollView = nullptr;
    QWidget* m_document = nullptr;
    int m_numberOfRows = 0;
    // One entry per row; null for the rows out of sight.
    std::vector<EDTableRowView*> m_rows;
    std::vector<QPointer<QWidget>> m_views;
    int m_selectedRow = -1;
};
