#pragma once

#include "EDTextView/EDTextSearch.h"

#include <QWidget>

#include <array>
#include <cstddef>
#include <optional>

class EDTextFinder;
class QCheckBox;
class QGridLayout;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// The find bar of a text view's finder, docked at the top of the view's scroll area: a find field
// with the match count, previous and next, the case and whole-word options and a close button; a
// second row with the replace field, Replace and Replace All, shown for replacing. In a narrow view
// the options take short names, and narrower still the controls go under their fields, so that each
// stays whole.
//
// Keys, in its fields: Return finds the next match (Shift+Return the previous), Return in the
// replace field replaces and finds the next; the text view's find keys (the desktop's Find, Find
// Next, Find Previous and Replace) work here too, and Escape closes the bar. They are taken before
// the window's shortcuts see them.
class EDFindBar : public QWidget {
    Q_OBJECT
public:
    EDFindBar(EDTextFinder& finder, QWidget* parent);

    QLineEdit* findField() const { return m_findField; }
    QLineEdit* replaceField() const { return m_replaceField; }
    QLabel* matchCountLabel() const { return m_count; }
    QToolButton* previousButton() const { return m_previous; }
    QToolButton* nextButton() const { return m_next; }
    QToolButton* replaceToggle() const { return m_replaceToggle; }
    QToolButton* doneButton() const { return m_done; }
    QCheckBox* matchCaseBox() const { return m_matchCase; }
    QCheckBox* wholeWordsBox() const { return m_wholeWords; }
    QPushButton* replaceButton() const { return m_replace; }
    QPushButton* replaceAllButton() const { return m_replaceAll; }

    // Setting the fields' text searches nothing.
    void setSearchText(const QString& text);
    void setReplaceText(const QString& text);
    void setOptions(EDTextSearchOptions options);
    bool isReplaceVisible() const;
    void setReplaceVisible(bool visible);
    void focusFindField();
    void focusReplaceField();
    // Puts the bar's controls just before `view` in the window's Tab order, where the bar shows.
    void placeBeforeInTabOrder(QWidget* view);

    // "No matches", "1 match", "12 matches", or "3 of 12" when the third is selected.
    static QString matchCountText(size_t count, std::optional<size_t> current);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The action a key in the bar asks for (an EDTextFinder action, or 0 for "focus the find
    // field"); none for keys the bar leaves to its fields.
    std::optional<int> actionForKey(const QKeyEvent& event, const QObject* target) const;
    void commitSearchText();
    void refresh();
    void updateIcons();
    // Beside the fields with the options' full names, with their short names, or under the fields.
    enum class Arrangement { full, compact, stacked };
    void arrange(Arrangement arrangement);
    void updateArrangement();
    void forgetArrangedWidths();

    EDTextFinder& m_finder;
    QLineEdit* m_findField = nullptr;
    QLineEdit* m_replaceField = nullptr;
    QLabel* m_count = nullptr;
    QToolButton* m_replaceToggle = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
    QToolButton* m_done = nullptr;
    QCheckBox* m_matchCase = nullptr;
    QCheckBox* m_wholeWords = nullptr;
    QPushButton* m_replace = nullptr;
    QPushButton* m_replaceAll = nullptr;
    // The replace buttons, shown with the replace field.
    QWidget* m_replaceRow = nullptr;
    // The match count, previous and next, the options and the close button.
    QWidget* m_findControls = nullptr;
    QGridLayout* m_grid = nullptr;
    Arrangement m_arrangement = Arrangement::full;
    // The least width of each arrangement, measured when first needed; 0 while unknown.
    std::array<int, 3> m_minimumWidths {};
};
