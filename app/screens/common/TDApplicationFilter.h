#pragma once

#include "platform/foundation/ThreadSanitizer.h"

#include <QApplication>
#include <QObject>

// An event filter on the whole application for as long as it lives. It sees every event before its
// receiver does, those our queues post from other threads too, so it takes their hand-over first.
class TDApplicationFilter : public QObject {
public:
    explicit TDApplicationFilter(QObject* parent = nullptr)
        : QObject(parent)
    {
        qApp->installEventFilter(this);
    }
    ~TDApplicationFilter() override
    {
        if (qApp)
            qApp->removeEventFilter(this);
    }
    TDApplicationFilter(const TDApplicationFilter&) = delete;
    TDApplicationFilter& operator=(const TDApplicationFilter&) = delete;

protected:
    // Whether `event` stops here, as `eventFilter` answers.
    virtual bool filterEvent(QObject* watched, QEvent* event) = 0;

private:
    bool eventFilter(QObject* watched, QEvent* event) final
    {
        platform::handOverAcquire(event);
        return filterEvent(watched, event);
    }
};
