#pragma once

#include "Iris/declarative/IRImageView.h"
#include "app/screens/common/TDCoverView.h"
#include "app/screens/common/TDSpringAnimation.h"
#include "platform/foundation/Url.h"
#include "platform/ui/ObservedWidget.h"


#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QToolButton;
class TDProject;

// The content of the workspace's "Photo" popover: "Cover image:" over a 120 x 68 tile. With a cover
// the tile shows it filling the tile, and while the pointer is over it (or it was reached with Tab)
// a button to remove it, which fades in and out on a spring; without one the tile is a "plus" button
// that asks for an image file, over which a removed cover fades away. A cover whose file is gone or
// unreadable shows that tile too. From the keyboard, Delete, Return or Space on the tile shows the
// button, and once shown removes the cover. Only a cover file inside the library is ever shown.
class TDCoverImagePopover : public platform::ObservedWidget {
public:
    static constexpr int tileWidth = 120;
    static constexpr int tileHeight = 68;
    static constexpr int tileRadius = 4;
    static constexpr int spacing = 6;
    static constexpr int padding = 8;

    TDCoverImagePopover(std::shared_ptr<TDProject> project, std::function<void()> onAdd,
        std::function<void(const platform::Url&)> onRemove, QWidget* parent = nullptr);

    bool showsCover() const { return m_shown.has_value(); }
    bool showCrossButton() const { return m_showCrossButton; }
    QToolButton* addButton() const { return m_add; }
    QToolButton* removeButton() const { return m_remove; }
    QWidget* tile() const { return m_tile; }
    iris::IRImageView* coverView() const { return m_coverView.view(); }

protected:
    void render() override;
    void appeared() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TDCoverTileCorners;
    void setShowCrossButton(bool show);
    void applyColors();

    std::shared_ptr<TDProject> m_project;
    std::function<void()> m_onAdd;
    std::function<void(const platform::Url&)> m_onRemove;
    std::optional<platform::Url> m_shown;
    bool m_showCrossButton = false;
    // The tile was reached from the keyboard and still has the focus.
    bool m_keyboardFocus = false;
    QLabel* m_caption;
    QWidget* m_tile;
    QWidget* m_corners;
    TDCoverView m_coverView { this };
    QToolButton* m_add;
    QToolButton* m_remove;
    // When the last press on the remove button came: the add button under it takes no press of the
    // same double click.
    std::optional<quint64> m_removePressedAt;
    TDSpringAnimation m_hoverSpring;
};
