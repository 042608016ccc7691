#pragma once

#include <QPointer>
#include <QWidget>

// A widget that builds its content from observed state: `render` runs inside an observation scope,
// and a change to anything it read renders it again, later, on the main queue.
class ObservingWidget : public QWidget {
public:
    explicit ObservingWidget(QWidget* parent = nullptr);

    // Renders now and tracks what was read.
    void renderTracked();

protected:
    virtual void render() = 0;

private:
    bool m_renderPending = false;
};
