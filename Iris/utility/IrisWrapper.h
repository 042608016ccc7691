#pragma once

#include "platform/foundation/AssociatedObjects.h"

#include <QByteArray>

#include <concepts>
#include <memory>
#include <type_traits>
#include <utility>

namespace iris {

// The one value on which the library declares its operations on a platform value, so they never
// collide with the value's own members: `ir(x).operation()`. Operations for a given wrapped type are
// declared in a specialisation beside the operations' own code.
template<typename Base> struct IrisWrapper {
    Base base;
};

} // namespace iris

namespace platform {
class Image;
}

namespace iris {

// Declared here so that code which wraps an image without including Iris/image/Image.h fails to
// compile instead of silently getting the empty primary wrapper.
template<> struct IrisWrapper<std::shared_ptr<platform::Image>>;

// Reference types: shared objects that carry associated state. Their wrapper holds a strong
// reference to the receiver.
template<typename T>
concept IrisCompatible = std::derived_from<T, platform::AssociatedObjects>;

// Value types opt in by specialising this trait; their wrapper holds a copy.
template<typename T> struct IrisCompatibleValue : std::false_type {
};

template<IrisCompatible T> IrisWrapper<std::shared_ptr<T>> ir(std::shared_ptr<T> object)
{
    return IrisWrapper<std::shared_ptr<T>> { std::move(object) };
}

template<typename T>
requires IrisCompatibleValue<std::remove_cvref_t<T>>::value IrisWrapper<std::remove_cvref_t<T>> ir(T&& value)
{
    return IrisWrapper<std::remove_cvref_t<T>> { std::forward<T>(value) };
}

} // namespace iris
