#pragma once

#include <QColor>
#include <QObject>
#include <QRectF>
#include <QTimer>

#include <functional>
#include <memory>

class QPainter;

// What draws one caret. The text view paints every caret itself, in its own coordinates; an
// indicator decides how the caret looks and when it shows. A delegate may supply its own.
class EDInsertionPointIndicator {
public:
    virtual ~EDInsertionPointIndicator() = default;
    virtual QColor insertionPointColor() const = 0;
    virtual void setInsertionPointColor(const QColor& color) = 0;
    virtual void blinkStart() = 0;
    virtual void blinkStop() = 0;
    // Paints the caret into `rect` (its frame in the painter's coordinates).
    virtual void paint(QPainter& painter, const QRectF& rect) const = 0;
    // Called when the indicator's look changes (a blink); the view repaints the caret's frame.
    void setNeedsDisplayHandler(std::function<void()> handler) { m_needsDisplay = std::move(handler); }

protected:
    void setNeedsDisplay() const
    {
        if (m_needsDisplay)
            m_needsDisplay();
    }

private:
    std::function<void()> m_needsDisplay;
};

// The built-in caret: a bar with slightly rounded corners that blinks every half second while
// the view is first responder.
class EDTextInsertionIndicator : public QObject, public EDInsertionPointIndicator {
    Q_OBJECT
public:
    static constexpr int blinkIntervalMilliseconds = 500;
    static constexpr double cornerRadius = 1.0;

    explicit EDTextInsertionIndicator(QObject* parent = nullptr);

    QColor insertionPointColor() const override { return m_color; }
    void setInsertionPointColor(const QColor& color) override;
    void blinkStart() override;
    void blinkStop() override;
    void paint(QPainter& painter, const QRectF& rect) const override;
    bool isHidden() const { return m_hidden; }
    bool isBlinking() const { return m_timer.isActive(); }

private:
    QColor m_color;
    QTimer m_timer;
    bool m_hidden = false;
};

// One caret of the view: where it stands and what draws it.
struct EDInsertionPointView {
    static constexpr double minimumWidth = 2.0;

    QRectF frame;
    std::unique_ptr<EDInsertionPointIndicator> textInsertionIndicator;
    // Whether its indicator was last told to blink.
    bool blinks = false;
    // The view's count of text changes when it was made: an edit that leaves the caret where it
    // was (a forward delete) shows it again, as any typing does.
    quint64 textChanges = 0;
};
