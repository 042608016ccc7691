#pragma once

#include <any>
#include <mutex>
#include <unordered_map>

namespace platform {

// A per-object bag of extra properties, for state a class does not declare itself (the task an image
// view is loading, the frames of an animated image). Each property is keyed by the address of a
// static variable that belongs to it, so two properties never collide. Safe from any thread.
class AssociatedObjects {
public:
    AssociatedObjects() = default;
    // Properties belong to one object: a copy starts with none.
    AssociatedObjects(const AssociatedObjects&) { }
    AssociatedObjects& operator=(const AssociatedObjects&) { return *this; }
    virtual ~AssociatedObjects() = default;

    // The value stored under `key`, or an empty `std::any`.
    std::any associatedObject(const void* key) const;

    // Stores `value` under `key`; an empty `std::any` removes the property.
    void setAssociatedObject(const void* key, std::any value);

private:
    mutable std::mutex m_associatedMutex;
    std::unordered_map<const void*, std::any> m_associatedObjects;
};

} // namespace platform
