#pragma once

#include "Iris/declarative/IRImageView.h"
#include "app/model/TDStatus.h"
#include "app/screens/common/TDCoverView.h"
#include "app/screens/common/TDOpeningClick.h"
#include "platform/foundation/Url.h"
#include "platform/ui/ObservedWidget.h"

#include <QList>
#include <QRectF>

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class TDProject;

// The card of one project in the grid: the cover (or a neutral tile) with the category at the top
// left, the favourite star and the status dot at the top right and the name at the bottom left
// (mirrored in a right-to-left layout). A cover whose file is gone or cannot be decoded shows the
// neutral tile.
// The whole rectangle takes clicks; what a click does is the grid's business.
// A screen reader hears the card as an item of the grid's list, named by the project, focused while
// it carries the ring; its press opens the project and its menu action shows the card's menu.
class TDProjectItem : public platform::ObservedWidget {
public:
    static constexpr int tileHeight = 160;
    static constexpr int cornerRadius = 7;
    static constexpr int borderRadius = 6;
    static constexpr int leadingPadding = 14;
    static constexpr int trailingPadding = 14;
    static constexpr int topPadding = 11;
    static constexpr int bottomPadding = 16;
    static constexpr int categoryFontSize = 14;
    static constexpr int nameFontSize = 20;
    static constexpr int starSize = 12;
    static constexpr int dotSize = 11;
    static constexpr int markSpacing = 6;
    static constexpr double overlayOpacity = 0.6;

    TDProjectItem(std::shared_ptr<TDProject> project, double wholeWidth, QWidget* parent = nullptr);

    // A quarter of the whole detail area, less 12.
    static int tileWidth(double wholeWidth);

    const std::shared_ptr<TDProject>& project() const { return m_project; }

    // The card is as wide as `tileWidth(wholeWidth)`, but never wider than `limit` (its grid cell).
    void setWholeWidth(double wholeWidth, std::optional<int> limit = std::nullopt);

    void setOnOpen(std::function<void()> onOpen) { m_onOpen = std::move(onOpen); }

    // The ring of the card the grid's keys act on.
    void setShowsFocusRing(bool shows);
    bool showsFocusRing() const { return m_showsFocusRing; }

    // What the card shows, as it shows it.
    QString categoryText() const { return m_category; }
    QString nameText() const { return m_name; }
    bool showsStar() const { return m_isFavorite; }
    // Whether the cover is shown: set, and not known to be unreadable.
    bool hasCover() const { return m_cover.has_value(); }
    TDStatus status() const { return m_status; }
    QRectF starRect() const;
    QRectF dotRect() const;
    // Where each line of the name lies, from the top of its tallest glyph to the bottom of its
    // lowest.
    QList<QRectF> nameLineRects() const;
    // The cover's image view, present while the project has a cover. It starts the retrieval when
    // it comes into view, so only cards on screen load their covers.
    iris::IRImageView* coverView() const { return m_coverView.view(); }

protected:
    void render() override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TDProjectItemOverlay;
    friend class TDProjectItemAccessible;
    struct NameLine {
        QString text;
        double baseline;
        double ascent;
        double descent;
    };
    QList<NameLine> nameLayout() const;
    void paintOverlay(QPainter& painter);
    void updateSize();

    std::shared_ptr<TDProject> m_project;
    double m_wholeWidth;
    std::optional<int> m_widthLimit;
    std::function<void()> m_onOpen;
    TDOpeningClick m_click;
    TDCoverView m_coverView;
    QWidget* m_overlay;
    // Rendered from the project.
    QString m_category;
    QString m_name;
    bool m_isFavorite = false;
    TDStatus m_status = TDStatus::inProgress;
    std::optional<platform::Url> m_cover;
    bool m_showsFocusRing = false;
};
