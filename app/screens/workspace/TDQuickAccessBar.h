#pragma once

#include "app/screens/common/TDOpeningClick.h"
#include "platform/foundation/Url.h"
#include "platform/ui/ObservedWidget.h"
#include "platform/ui/ObservedWidgetUpdates.h"

#include <QAbstractButton>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>

#include <QSet>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QFocusEvent;
class QHBoxLayout;

class QScrollArea;
class TDLibrary;
class TDProject;

// What an entry of the quick-access bar shows for `url`: the last component of its text with the
// percent escapes decoded ("/" for the root folder), or nothing when an escape is malformed.
std::optional<QString> tdQuickAccessName(const platform::Url& url);

// The icon of the item `url` names, from its kind (a folder, or a file's type by its name), as
// the desktop's icon theme draws it. Nothing for an item that is not on disk, which is reported on
// standard output, or for an address that names no local item. Only the item's metadata is read.
std::optional<QIcon> tdQuickAccessIcon(const platform::Url& url);

// One entry of the bar: the item's 16-pixel icon and its name in small type, with a thin line after
// it unless it is the bar's last entry. A click (or Space or Return) opens it; its context menu
// holds "Delete".
class TDQuickAccessEntry : public QWidget {
public:
    static constexpr int iconSize = 16;
    static constexpr int iconHorizontalPadding = 5;
    static constexpr int iconVerticalPadding = 3;
    static constexpr int nameFontSize = 11;
    static constexpr int separatorPadding = 4;
    // A long name is elided in the middle, so its end (often the extension) stays readable.
    static constexpr int nameMaximumWidth = 180;

    TDQuickAccessEntry(platform::Url url, QWidget* parent = nullptr);

    const platform::Url& url() const { return m_url; }
    // The name as shown before eliding (bounded); empty when there is none.
    QString name() const { return m_name; }
    bool hasIcon() const { return !m_icon.isNull(); }
    bool showsSeparator() const { return m_showsSeparator; }
    void setShowsSeparator(bool shows);
    QAction* deleteAction() const { return m_deleteAction; }

    void setOnOpen(std::function<void()> onOpen) { m_onOpen = std::move(onOpen); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    int nameWidth() const;

    platform::Url m_url;
    QString m_name;
    QIcon m_icon;
    bool m_showsSeparator = false;
    bool m_hovered = false;
    bool m_pressed = false;
    TDOpeningClick m_click;
    bool m_showsFocus = false;
    QAction* m_deleteAction;
    std::function<void()> m_onOpen;
};

// The add button at the end of the bar: a dashed outline 64 wide around a small plus.
class TDQuickAccessAddButton : public QAbstractButton {
public:
    static constexpr int buttonWidth = 64;
    static constexpr int verticalPadding = 3;
    static constexpr int plusSize = 11;
    static constexpr double disabledOpacity = 0.5;

    explicit TDQuickAccessAddButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // What a disabled button is drawn at: 0.5, otherwise 1.
    double drawnOpacity() const { return isEnabled() ? 1.0 : disabledOpacity; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    bool m_hovered = false;
    bool m_showsFocus = false;
};

// The project's quick-access bar, under the workspace's toolbar: one entry per quick-access URL in
// the stored order, then the add button, which picks one file or folder with a file dialog and
// appends it. The button is disabled while the list holds more than eight entries, so it grows to
// nine through the button. An entry opens its item in the desktop's default application, only when
// the user asks; an item that is no longer there, or that is not a local file or folder, is
// reported in an alert. Removing an entry removes every entry of the same URL (it closes up on a
// spring); the item itself is never touched. Each change is saved with the projects.
class TDQuickAccessBar : public platform::ObservedWidget {
public:
    static constexpr int barSpacing = 8;
    static constexpr int entrySpacing = 4;
    static constexpr int horizontalMargin = 10;
    static constexpr int verticalMargin = 3;
    // The add button is enabled while the list holds at most this many entries.
    static constexpr int addLimit = 8;
    static constexpr double removalSpringResponse = 0.14;

    // Asks for one file or folder; `chosen` runs once, with nothing when the user cancels.
    using ItemPicker
        = std::function<void(QWidget* parent, std::function<void(std::optional<QString> path)> chosen)>;

    // `library` belongs to the workspace and outlives every call the bar makes on it.
    TDQuickAccessBar(std::shared_ptr<TDProject> project, TDLibrary& library, QWidget* parent = nullptr);

    std::vector<TDQuickAccessEntry*> entries() const { return m_entries.widgets(); }
    TDQuickAccessAddButton* addButton() const { return m_addButton; }
    QMessageBox* alert() const { return m_alert; }

    void setItemPicker(ItemPicker picker) { m_itemPicker = std::move(picker); }
    // The add button's action: shows the file dialog, unless it is open already.
    void openFileImporter();
    bool isFileImporterOpen() const { return m_openFileImporter; }

    void addQuickAccessItem(const QString& path);
    void openQuickAccessURL(const platform::Url& url);
    void removeQuickAccessURL(const platform::Url& url);

protected:
    void render() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showAlert(const QString& title, const QString& message);

    std::shared_ptr<TDProject> m_project;
    TDLibrary& m_library;
    ItemPicker m_itemPicker;
    bool m_openFileImporter = false;
    // URLs whose entries leave on a spring at the next render.
    QSet<QString> m_expectedRemovals;
    QScrollArea* m_strip;
    QWidget* m_entriesRow;
    QHBoxLayout* m_entriesLayout;
    platform::KeyedChildren<TDQuickAccessEntry> m_entries;
    TDQuickAccessAddButton* m_addButton;
    QPointer<QMessageBox> m_alert;
};
