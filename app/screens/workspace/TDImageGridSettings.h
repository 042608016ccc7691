#pragma once

#include "app/screens/common/TDBinding.h"
#include "app/screens/common/TDImageGrid.h"
#include "platform/ui/ObservedWidget.h"

#include <functional>
#include <memory>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QSlider;
class TDProject;

// The settings of a workspace's image grid, in the images column's popover: "Columns: " with a
// slider from 6 to 12 in whole steps, written into the project and saved at every step, and
// "Present mode: " with "Fit" and "Fill", of which exactly one is on, kept by the workspace only.
// Showing the project's count never writes it back: a count outside 6...12 from an edited library
// file stays as it is until the user moves the slider.
class TDImageGridSettings : public platform::ObservedWidget {
public:
    static constexpr int minimumColumns = 6;
    static constexpr int maximumColumns = 12;
    static constexpr int sliderWidth = 200;
    static constexpr int spacing = 10;
    static constexpr int verticalPadding = 12;
    static constexpr int horizontalPadding = 16;

    TDImageGridSettings(std::shared_ptr<TDProject> project, TDBinding<TDImageGrid::ContentMode> contentMode,
        std::function<void()> saveColumnCount, QWidget* parent = nullptr);

    QSlider* slider() const { return m_slider; }
    QAbstractButton* fitButton() const;
    QAbstractButton* fillButton() const;

    // Shows the workspace's mode again after it changed elsewhere.
    void showContentMode();

protected:
    void render() override;

private:
    std::shared_ptr<TDProject> m_project;
    TDBinding<TDImageGrid::ContentMode> m_contentMode;
    std::function<void()> m_saveColumnCount;
    QSlider* m_slider;
    QButtonGroup* m_modes;
};
