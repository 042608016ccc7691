#pragma once

#include "platform/text/TextRange.h"

#include <QRectF>

#include <memory>
#include <optional>

namespace platform {

class TextLayoutFragment;
class TextLayoutManager;
class TextViewportLayoutController;

// What a view tells the viewport controller and hears back from it during a layout pass.
class TextViewportLayoutControllerDelegate {
public:
    virtual ~TextViewportLayoutControllerDelegate() = default;
    // The rectangle to lay out, in container coordinates.
    virtual QRectF viewportBounds(TextViewportLayoutController& controller) = 0;
    virtual void willLayout(TextViewportLayoutController&) { }
    // Called for each fragment that intersects the viewport, in document order.
    virtual void configureRenderingSurface(
        TextViewportLayoutController& controller, const std::shared_ptr<TextLayoutFragment>& fragment)
        = 0;
    virtual void didLayout(TextViewportLayoutController&) { }
};

// Lays out only the fragments that intersect the delegate's viewport bounds, and of a very long
// paragraph only its text in view. Fragments above the viewport keep their estimated heights until
// they scroll into view.
class TextViewportLayoutController {
public:
    explicit TextViewportLayoutController(TextLayoutManager& manager);

    TextLayoutManager& textLayoutManager() const { return m_manager; }
    void setDelegate(TextViewportLayoutControllerDelegate* delegate) { m_delegate = delegate; }
    TextViewportLayoutControllerDelegate* delegate() const { return m_delegate; }

    void layoutViewport();
    std::optional<TextRange> viewportRange() const { return m_viewportRange; }
    QRectF viewportBounds() const { return m_viewportBounds; }
    // Shifts what the last pass laid out by `offset` (a view calls this after it re-anchored its
    // scroll position); the next pass starts from the shifted bounds.
    void adjustViewportByVerticalOffset(double offset);
    double verticalOffset() const { return m_verticalOffset; }
    // Lays out the fragment holding `location` and answers its top, so a view can scroll there.
    double relocateViewport(TextLocation location);
    // How far the last pass moved the text that was already laid out: fragments that came into
    // view above it replaced their estimated heights with real ones. A view scrolls by this much
    // to keep what the user was looking at in place.
    double lastHeightCorrection() const { return m_heightCorrection; }

private:
    TextLayoutManager& m_manager;
    TextViewportLayoutControllerDelegate* m_delegate = nullptr;
    std::optional<TextRange> m_viewportRange;
    QRectF m_viewportBounds;
    double m_verticalOffset = 0;
    double m_heightCorrection = 0;
    struct Anchor {
        TextLocation location = 0;
        double y = 0;
        double offset = 0; // of its row in its paragraph
        quint64 generation = 0;
        std::weak_ptr<TextLayoutFragment> fragment;
    };
    // Where the row holding `location` starts below its paragraph's top, when `fragment` is the
    // laid-out layout of that paragraph.
    std::optional<double> offsetInParagraph(
        TextLocation location, const std::shared_ptr<TextLayoutFragment>& fragment) const;
    std::optional<Anchor> m_anchor;
};

} // namespace platform
