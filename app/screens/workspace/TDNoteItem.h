#pragma once

#include "app/TDStores.h"
#include "app/screens/common/TDOpeningClick.h"
#include "platform/foundation/Date.h"
#include "platform/ui/ObservedWidget.h"

#include <memory>

class QLabel;
class TDElidedLabel;
class TDNote;
class TDProject;

// The row of one note in the workspace's notes column: a card with the day of the note's date over
// its abbreviated month, a divider, and the title on one line. A click records where the note is
// in the store's note map and opens the note's window.
class TDNoteItem : public platform::ObservedWidget {
public:
    static constexpr int dayFontSize = 23;
    static constexpr int monthFontSize = 11;
    static constexpr int titleFontSize = 17;
    static constexpr int contentSpacing = 8;
    static constexpr int dividerPadding = 3;

    TDNoteItem(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project, TDStores stores,
        QWidget* parent = nullptr);

    const std::shared_ptr<TDNote>& note() const { return m_note; }

    // Whether the row of a note of this date shows its day and month: a date too far off to show
    // shows neither, and its row is a little lower.
    static bool showsDay(platform::Date date);

    // What the row shows.
    QString dayText() const;
    QString monthText() const;
    QString titleText() const;

    // The click: writes the note map entry (or drops a stale one) and opens the note's window.
    void openNote();

protected:
    void render() override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColors();

    std::shared_ptr<TDNote> m_note;
    std::shared_ptr<TDProject> m_project;
    TDStores m_stores;
    QLabel* m_day;
    QLabel* m_month;
    QWidget* m_divider;
    TDElidedLabel* m_title;
    TDOpeningClick m_click;
};
