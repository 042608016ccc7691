#pragma once

#include "Iris/networking/DownloadTask.h"
#include "Iris/utility/Box.h"
#include "Iris/utility/IrisWrapper.h"
#include "Iris/views/Indicator.h"

#include "platform/foundation/AssociatedObjects.h"

#include <QByteArray>

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class Image;
}

namespace iris {

class Placeholder;
class ImageFrameSource;

// The key of one item of associated state: the address of a static byte that belongs to it.
using AssociatedKey = const void*;

// The value stored under `key` when it is a `T`; absent when nothing is stored or something of
// another type is.
template<typename T>
std::optional<T> getAssociatedValue(const platform::AssociatedObjects& object, AssociatedKey key)
{
    std::any stored = object.associatedObject(key);
    if (T* value = std::any_cast<T>(&stored))
        return std::move(*value);
    return std::nullopt;
}

// Stores `value` under `key`; an absent value removes the item, so it reads back as absent.
template<typename T>
void setAssociatedValue(platform::AssociatedObjects& object, AssociatedKey key, std::optional<T> value)
{
    object.setAssociatedObject(key, value ? std::any(std::move(*value)) : std::any());
}

// The readers, one per stored type. Task identifiers and the loading indicator are stored boxed,
// so an identifier of 0 reads back as present.
inline std::optional<QByteArray> getAssociatedData(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<QByteArray>(object, key);
}

inline std::optional<std::vector<std::shared_ptr<platform::Image>>> getAssociatedImages(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<std::vector<std::shared_ptr<platform::Image>>>(object, key);
}

inline std::shared_ptr<Placeholder> getAssociatedPlaceholder(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<std::shared_ptr<Placeholder>>(object, key).value_or(nullptr);
}

inline std::shared_ptr<Box<std::shared_ptr<Indicator>>> getAssociatedIndicatorBox(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<std::shared_ptr<Box<std::shared_ptr<Indicator>>>>(object, key)
        .value_or(nullptr);
}

inline std::shared_ptr<Box<std::uint64_t>> getAssociatedTaskIdentifierBox(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<std::shared_ptr<Box<std::uint64_t>>>(object, key).value_or(nullptr);
}

inline std::optional<DownloadTask> getAssociatedDownloadTask(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<DownloadTask>(object, key);
}

inline std::optional<IndicatorType> getAssociatedIndicatorType(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<IndicatorType>(object, key);
}

inline std::optional<std::int64_t> getAssociatedInt(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<std::int64_t>(object, key);
}

inline std::shared_ptr<ImageFrameSource> getAssociatedFrameSource(
    const platform::AssociatedObjects& object, AssociatedKey key)
{
    return getAssociatedValue<std::shared_ptr<ImageFrameSource>>(object, key).value_or(nullptr);
}

} // namespace iris
