#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

struct Notification {
    QString name;
    // The object the notification is about; observers may filter on it. Compared by address only.
    const void* sender = nullptr;
    QVariantMap userInfo;
};

// Delivers named notifications to the observers registered for them, synchronously on the posting
// thread. Observers are held weakly: once an observer object is gone its registration is dropped and
// never called. Removing a registration (by its token) stops every later delivery, also one that a
// post on another thread has already picked up.
class NotificationCenter {
public:
    class Registration;
    using Token = std::shared_ptr<Registration>;
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Calls `handler` for notifications named `name` (every name when empty) from `sender` (any
    // sender when null) while `observer` lives.
    Token addObserver(
        std::weak_ptr<const void> observer, const QString& name, const void* sender, Handler handler);

    // Calls `handler` until the token is removed. The center holds the handler, so it must not
    // hold the token's owner strongly.
    Token addObserver(const QString& name, const void* sender, Handler handler);

    void removeObserver(const Token& token);
    // Removes every registration of `observer`.
    void removeObserver(const void* observer);

    void post(const Notification& notification);
    void post(const QString& name, const void* sender = nullptr, QVariantMap userInfo = {});

private:
    std::mutex m_mutex;
    std::vector<Token> m_registrations;
};

class NotificationCenter::Registration {
public:
    bool isActive() const;

private:
    friend class NotificationCenter;
    QString name;
    const void* sender = nullptr;
    bool weaklyHeld = false;
    std::weak_ptr<const void> observer;
    const void* observerAddress = nullptr;
    Handler handler;
    mutable std::mutex mutex;
    bool removed = false;
};

} // namespace platform
