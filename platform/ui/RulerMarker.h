#pragma once

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QVariant>

class QPainter;

namespace platform {

class RulerView;

// A mark on a ruler at a location along it, drawn as an image: a tab stop, a bookmark, a
// breakpoint. A marker is made for one ruler and drawn only while that ruler holds it (between
// RulerView::addMarker() and removeMarker()); the ruler holds it by shared_ptr. Main thread only.
//
// Placement on a vertical ruler: `markerLocation` is a y in the client's coordinates. The point
// `imageOrigin` of the image, measured from the image's bottom-left corner with y pointing up, is
// put at x 0 (the ruler's outer edge) and y `markerLocation`. With the origin (0, 0) the image
// ends at the location and extends above it.
class RulerMarker {
public:
    RulerMarker(RulerView* ruler, double markerLocation, QImage image, QPointF imageOrigin);
    RulerMarker(const RulerMarker&) = delete;
    RulerMarker& operator=(const RulerMarker&) = delete;
    virtual ~RulerMarker();

    // The ruler the marker was made for; null once that ruler is gone.
    RulerView* ruler() const;
    // Whether the ruler currently holds the marker.
    bool isInRuler() const { return m_inRuler; }

    double markerLocation() const { return m_markerLocation; }
    void setMarkerLocation(double location);

    const QImage& image() const { return m_image; }
    // Also sets the image size to the image's own size in device-independent pixels.
    void setImage(QImage image);
    // The size the image is drawn at.
    QSizeF imageSize() const { return m_imageSize; }
    void setImageSize(QSizeF size);
    QPointF imageOrigin() const { return m_imageOrigin; }
    void setImageOrigin(QPointF origin);

    // A movable marker can be dragged along the ruler; a removable one can be dragged off it.
    // Neither by default.
    bool isMovable() const { return m_movable; }
    void setMovable(bool movable) { m_movable = movable; }
    bool isRemovable() const { return m_removable; }
    void setRemovable(bool removable) { m_removable = removable; }

    // Whatever the owner wants to attach to the marker.
    const QVariant& representedObject() const { return m_representedObject; }
    void setRepresentedObject(QVariant object) { m_representedObject = std::move(object); }

    // Where the image is drawn, in the ruler's coordinates; empty without a ruler.
    QRectF imageRectInRuler() const;

    // Draws the image into `rect` (the image rectangle in the ruler's coordinates). A marker that
    // draws its image itself overrides this; it draws at imageSize().
    virtual void drawImage(QPainter& painter, const QRectF& rect) const;

private:
    friend class RulerView;
    // Every change that shows is redrawn at once while the marker is on its ruler.
    void redisplay() const;

    QPointer<RulerView> m_ruler;
    double m_markerLocation = 0;
    QImage m_image;
    QSizeF m_imageSize;
    QPointF m_imageOrigin;
    bool m_movable = false;
    bool m_removable = false;
    bool m_inRuler = false;
    QVariant m_representedObject;
};

} // namespace platform
