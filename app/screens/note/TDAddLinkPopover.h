#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class ProgressIndicator;
}

// What the links pane's "plus" popover holds: the address field ("URL", 240 wide) and "Add". Under
// them, while pages are being fetched, a turning indicator says so; a message says why an address
// was refused. Return in the field does nothing. Whenever the popover closes, the field is emptied
// and the message goes.
class TDAddLinkPopover : public QWidget {
public:
    static constexpr int fieldWidth = 240;
    static constexpr int padding = 8;
    static constexpr int statusFontSize = 11;

    explicit TDAddLinkPopover(QWidget* parent = nullptr);

    QLineEdit* field() const { return m_field; }
    QPushButton* addButton() const { return m_add; }
    QLabel* statusLabel() const { return m_status; }
    platform::ProgressIndicator* progress() const { return m_progress; }

    // "Add": given the field's text at the press.
    void setOnAdd(std::function<void(const QString&)> onAdd) { m_onAdd = std::move(onAdd); }

    // How many pages are being fetched; the indicator turns while there are any.
    void setFetching(int count);
    // A refusal to show under the field; empty hides it. Editing the field hides it too.
    void showMessage(const QString& message);
    QString message() const { return m_message; }

protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateStatus();
    void applyColors();

    QLineEdit* m_field;
    QPushButton* m_add;
    QWidget* m_statusRow;
    platform::ProgressIndicator* m_progress;
    QLabel* m_warning;
    QLabel* m_status;
    QString m_message;
    int m_fetching = 0;
    std::function<void(const QString&)> m_onAdd;
};
