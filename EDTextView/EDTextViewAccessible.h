#pragma once

#include "platform/text/TextRange.h"

#include <QAccessibleWidget>

#include <optional>

class EDTextView;

// What assistive technologies (a screen reader, through AT-SPI) reach of a text view: one text
// area with its text, caret and selection, editable while the view is. Offsets are UTF-16 units,
// as QAccessible counts them. Every answer is computed from the view when asked and copies no more
// of the text than the question needs: a line, a word or a character of a large note costs what
// that piece costs, never the whole text.
class EDTextViewAccessible : public QAccessibleWidget,
                             public QAccessibleTextInterface,
                             public QAccessibleEditableTextInterface {
public:
    explicit EDTextViewAccessible(EDTextView* view);

    // Every EDTextView, of whatever subclass, answers with this interface from then on. Safe to
    // call more than once.
    static void installFactory();

    // Where the caret stands for a reader: the moving end of the last selected range.
    static platform::TextLocation cursorLocation(const EDTextView& view);
    // An offset as QAccessible takes it (texts beyond its range are clamped).
    static int toOffset(qint64 offset);

    // QAccessibleInterface
    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text type, const QString& text) override;
    // The viewport is the text area itself: it is no child of its own, and a point in it finds the
    // view.
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface (offered while the view is editable)
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

private:
    EDTextView& view() const;
    QList<QWidget*> childWidgets() const;
    // The piece of the kind asked for that holds `offset` (for a piece that ends there at the end
    // of the text, the last one); none outside the text.
    std::optional<platform::TextRange> segment(qint64 offset, QAccessible::TextBoundaryType type) const;
    // Special offsets: -1 the end of the text, -2 the caret.
    qint64 resolvedOffset(int offset) const;
    QString answer(std::optional<platform::TextRange> range, int* startOffset, int* endOffset) const;
    void replace(platform::TextRange range, const QString& text);
    void setSelectedRanges(std::vector<platform::TextRange> ranges, platform::TextLocation caret);
};
