#pragma once

#include "platform/ui/ObservedWidget.h"

#include <QWidgetAction>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class TDProject;

// The project's status in the workspace's toolbar: a dot in the status's colour (green, gray, blue)
// beside a picker titled "status" of "In Progress", "Archived" and "Finished". Choosing a row only
// sets the project's status; the workspace saves the change.
class TDStatusPicker : public platform::ObservedWidget {
public:
    static constexpr int dotSize = 9;
    static constexpr int spacing = 6;

    // `onChosen` runs as soon as a choice of the user's is in the project, in the same event: the
    // workspace saves it then, so a page closed or a quit right after the choice still keeps it.
    explicit TDStatusPicker(
        std::shared_ptr<TDProject> project, QWidget* parent = nullptr, std::function<void()> onChosen = {});

    QComboBox* picker() const { return m_picker; }
    QLabel* dot() const { return m_dot; }

protected:
    void render() override;
    void changeEvent(QEvent* event) override;

private:
    std::shared_ptr<TDProject> m_project;
    std::function<void()> m_onChosen;
    QLabel* m_dot;
    QComboBox* m_picker;
};

// The toolbar's status item: each toolbar that shows it gets a picker of its own.
class TDStatusAction : public QWidgetAction {
public:
    TDStatusAction(std::shared_ptr<TDProject> project, QObject* parent, std::function<void()> onChosen = {});

protected:
    QWidget* createWidget(QWidget* parent) override;

private:
    std::shared_ptr<TDProject> m_project;
    std::function<void()> m_onChosen;
};
