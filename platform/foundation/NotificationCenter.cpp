#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: posts may still arrive from other threads while statics are torn down.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

bool NotificationCenter::Registration::isActive() const
{
    std::lock_guard lock(mutex);
    return !removed && (!weaklyHeld || !observer.expired());
}

NotificationCenter::Token NotificationCenter::addObserver(
    std::weak_ptr<const void> observer, const QString& name, const void* sender, Handler handler)
{
    auto registration = std::make_shared<Registration>();
    registration->name = name;
    registration->sender = sender;
    registration->weaklyHeld = true;
    registration->observerAddress = observer.lock().get();
    registration->observer = std::move(observer);
    registration->handler = std::move(handler);
    std::lock_guard lock(m_mutex);
    m_registrations.push_back(registration);
    return registration;
}

NotificationCenter::Token NotificationCenter::addObserver(
    const QString& name, const void* sender, Handler handler)
{
    auto registration = std::make_shared<Registration>();
    registration->name = name;
    registration->sender = sender;
    registration->handler = std::move(handler);
    std::lock_guard lock(m_mutex);
    m_registrations.push_back(registration);
    return registration;
}

void NotificationCenter::removeObserver(const Token& token)
{
    if (!token)
        return;
    {
        std::lock_guard lock(token->mutex);
        token->removed = true;
    }
    std::lock_guard lock(m_mutex);
    std::erase(m_registrations, token);
}

void NotificationCenter::removeObserver(const void* observer)
{
    if (!observer)
        return;
    std::lock_guard lock(m_mutex);
    std::erase_if(m_registrations, [&](const Token& registration) {
        if (!registration->weaklyHeld || registration->observerAddress != observer)
            return false;
        std::lock_guard registrationLock(registration->mutex);
        registration->removed = true;
        return true;
    });
}

void NotificationCenter::post(const Notification& notification)
{
    std::vector<Token> matching;
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_registrations, [](const Token& registration) { return !registration->isActive(); });
        for (const Token& registration : m_registrations) {
            if (!registration->name.isEmpty() && registration->name != notification.name)
                continue;
            if (registration->sender && registration->sender != notification.sender)
                continue;
            matching.push_back(registration);
        }
    }
    for (const Token& registration : matching) {
        // Holding the observer for the call keeps it alive until its handler returns.
        std::shared_ptr<const void> alive;
        if (registration->weaklyHeld) {
            alive = registration->observer.lock();
            if (!alive)
                continue;
        }
        {
            std::lock_guard lock(registration->mutex);
            if (registration->removed)
                continue;
        }
        registration->handler(notification);
    }
}

void NotificationCenter::post(const QString& name, const void* sender, QVariantMap userInfo)
{
    post(Notification { name, sender, std::move(userInfo) });
}

} // namespace platform
