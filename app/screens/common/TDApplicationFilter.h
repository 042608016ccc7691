#pragma once

#include <QApplication>
#include <QObject>

// An event filter on the whole application for as long as it lives.
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
};
