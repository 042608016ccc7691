#pragma once

#include "Iris/declarative/IRImageView.h"
#include "app/screens/common/TDOpeningClick.h"
#include "app/screens/common/TDSpringAnimation.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"
#include "platform/ui/ObservedWidget.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TDImageGridCell;
class TDMedia;

// The grid of reference-image thumbnails, shown by a project's workspace (its own images, with the
// column count and fit or fill of its settings popover) and by the Media page (every image, twelve
// columns, fill).
//
// Layout, for a viewport W wide and N columns: the grid is padded 7.5 on every edge; each cell is
// W / N - 7.5 wide and W / N high, centred in its column, rows 8 apart. N is the stored count
// clamped to 1...12 and truncated, so a count edited into the library file can never leave the grid
// without columns or with an endless frame.
//
// Only the cells of the rows in view (and one row either side) exist: each loads its thumbnail
// through the image library's caches as it scrolls into view, and a cell scrolled far away is
// dropped, cancelling its load. A tap selects an image (outlined in blue) and opens its file with
// the desktop's application for it; a tap on the selected image clears the selection. "Delete" in
// a cell's menu is the owner's to carry out.
//
// From the keyboard: Tab gives the grid the focus, a ring marks the current image, the arrow keys,
// Home and End move it (scrolling it into view), Return or Space taps it and the menu key opens its
// menu.
//
// A screen reader hears the grid as a list of its images: each cell is an item named by the image's
// file, focused while it is the one the keys act on, selected with the selection, and pressed or
// asked for its menu as Return and the menu key do.
//
// Main thread only.
class TDImageGrid : public QAbstractScrollArea {
public:
    enum class ContentMode { fit, fill };

    static constexpr double padding = 7.5;
    static constexpr double columnSpacing = 7.5;
    static constexpr double rowSpacing = 8;
    static constexpr int minimumColumnCount = 1;
    static constexpr int maximumColumnCount = 12;
    static constexpr double cornerRadius = 3;
    static constexpr double selectionLineWidth = 2;
    // The spring a deleted image leaves on, and the one columns and fit or fill change on.
    static constexpr double removalSpringResponse = 0.13;
    static constexpr double layoutSpringResponse = 0.14;

    explicit TDImageGrid(QWidget* parent = nullptr);
    ~TDImageGrid() override;

    // The number of columns a stored count gives.
    static int columnsFor(double storedCount);

    void setMedia(std::vector<std::shared_ptr<TDMedia>> media);
    const std::vector<std::shared_ptr<TDMedia>>& media() const { return m_media; }
    // A change after the grid was first laid out re-flows it on a spring.
    void setColumnCount(double storedCount);
    int columnCount() const { return m_columns; }
    void setContentMode(ContentMode mode);
    ContentMode contentMode() const { return m_contentMode; }
    // Whether the grid has the keys with its ring drawn: they came from the keyboard.
    bool showsFocusRing() const { return m_keyboardFocus && hasFocus(); }

    // Selects `media` and opens its file, or clears the selection when `media` is the selected one.
    void tap(const std::shared_ptr<TDMedia>& media);
    // The selected image; it may be one no longer shown.
    const std::shared_ptr<TDMedia>& selectedTDMedia() const { return m_selected; }
    // Opens an image file; the desktop's default application unless replaced.
    void setOpener(std::function<void(const QUrl&)> opener) { m_opener = std::move(opener); }
    void setOnDelete(std::function<void(const std::shared_ptr<TDMedia>&)> onDelete);
    // The next change that drops the image `id` animates: it fades out, the others close up.
    void expectRemoval(const platform::Uuid& id) { m_expectedRemovals.insert(id); }

    // The width the columns share: the viewport's, less the room of the scroll bar when it is hidden.
    double layoutWidth() const;
    // Where the cell of `index` lies in the grid's content (not scrolled), once settled.
    QRectF cellRect(int index) const;
    double contentHeight() const;
    // The image the keyboard acts on, -1 for none.
    int currentIndex() const { return m_current; }
    // The cells that exist now, in the order of the images.
    std::vector<TDImageGridCell*> cells() const;
    TDImageGridCell* cellFor(const platform::Uuid& id) const;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    friend class TDImageGridCell;
    friend class TDImageGridCellAccessible;

    // The image whose row the view starts in, and how far into that row as a share of a row and
    // its spacing; none at the very top, where the view stays. A change of width or of columns
    // scrolls back to it, so the images in view stay in view.
    struct ScrollAnchor {
        int index;
        double share;
    };
    std::optional<ScrollAnchor> scrollAnchor() const;
    void scrollTo(const std::optional<ScrollAnchor>& anchor);

    void layoutCells();
    void updateScrollRange();
    // Where the cells shown now are, in the viewport.
    std::unordered_map<const TDMedia*, QRect> placesInView() const;
    // Moves the cells from `places` (in the viewport, before a change) to their new places on a
    // spring; the springs under way have been finished.
    void springFrom(std::unordered_map<const TDMedia*, QRect> places, double response,
        std::vector<QPointer<TDImageGridCell>> leaving = {});
    TDImageGridCell* makeCell(const std::shared_ptr<TDMedia>& media);
    void refreshSelection();
    void setCurrent(int index);
    // Whether `cell` shows the keyboard's focus ring.
    bool showsFocusRing(const TDImageGridCell* cell) const;
    // Whether `cell` holds the image the keys act on while the grid has them.
    bool hasKeysOn(const TDImageGridCell* cell) const;
    // Makes `cell`'s image the current one and presses `key` on the grid, as a screen reader's
    // action on the cell.
    void pressOn(TDImageGridCell* cell, Qt::Key key);
    void announceCurrent();

    std::vector<std::shared_ptr<TDMedia>> m_media;
    int m_columns = maximumColumnCount;
    ContentMode m_contentMode = ContentMode::fill;
    std::shared_ptr<TDMedia> m_selected;
    std::function<void(const QUrl&)> m_opener;
    std::function<void(const std::shared_ptr<TDMedia>&)> m_onDelete;
    std::unordered_set<platform::Uuid> m_expectedRemovals;
    // The width the cells were last laid out for; 0 before the first layout. The scroll offset
    // counts rows of this width until the next layout.
    double m_laidOutWidth = 0;
    int m_current = -1;
    // The ring shows only for a focus the keyboard brought, not for a click.
    bool m_keyboardFocus = false;
    // Whether a menu request from the keys came just before this key press: the menu key sends one
    // before its press on some desktops, and its press alone on others.
    bool m_menuKeyAnswered = false;

    // By record, not by id: a hand-edited library may hold two records of one id.
    std::unordered_map<const TDMedia*, QPointer<TDImageGridCell>> m_cells;
    // While a change springs: where each moving cell started (content coordinates), how far along it
    // is, and the cells on their way out.
    TDSpringAnimation m_removalSpring { removalSpringResponse };
    TDSpringAnimation m_layoutSpring { layoutSpringResponse };
    std::unordered_map<const TDMedia*, QRectF> m_from;
    double m_progress = 1;
};

// One image of the grid: its thumbnail through the declarative image view, fitted or filling the
// cell with the corners rounded, the blue outline when selected, a plain fill until the thumbnail
// is there. It follows its record (a renamed project points the record elsewhere).
class TDImageGridCell : public platform::ObservedWidget {
public:
    TDImageGridCell(std::shared_ptr<TDMedia> media, TDImageGrid* grid, QWidget* parent);

    const std::shared_ptr<TDMedia>& media() const { return m_media; }
    bool isSelected() const;
    // The thumbnail's view, when the record names a thumbnail the program may open.
    iris::IRImageView* imageView() const { return m_view; }
    // Where the thumbnail is drawn, in the cell's coordinates; it overflows the cell when filling.
    QRectF imageFrame() const;

    // Moves to the grid's content mode, on a spring when `animated`.
    void followContentMode(bool animated);

protected:
    void render() override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TDImageGrid;
    friend class TDImageGridCellOverlay;
    friend class TDImageGridCellAccessible;

    QRectF frameFor(TDImageGrid::ContentMode mode) const;
    void placeImage();
    void paintOverlay(QPainter& painter);

    std::shared_ptr<TDMedia> m_media;
    QPointer<TDImageGrid> m_grid;
    TDOpeningClick m_click;
    QPointer<iris::IRImageView> m_view;
    QWidget* m_overlay;
    std::optional<platform::Url> m_thumbnail;
    // Fit or fill as drawn: a spring moves from the frame of `m_fromMode` to the grid's mode.
    TDImageGrid::ContentMode m_shownMode;
    TDImageGrid::ContentMode m_fromMode;
    double m_modeProgress = 1;
    TDSpringAnimation m_modeSpring { TDImageGrid::layoutSpringResponse };
};
