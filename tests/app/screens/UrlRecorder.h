#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace screentest {

// Takes what QDesktopServices::openUrl is asked to open for `schemes`, for its lifetime, so that a
// test sees every open and nothing reaches the desktop.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    explicit UrlRecorder(QStringList schemes)
        : m_schemes(std::move(schemes))
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlRecorder() override
    {
        for (const QString& scheme : m_schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }

private:
    QStringList m_schemes;
};

} // namespace screentest
