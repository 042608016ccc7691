#include "Iris/declarative/IRImageContext.h"

#include "Iris/image/ImageProcessor.h"
#include "Iris/image/ImageTransition.h"

#include <QString>

#include <functional>

namespace iris {

namespace {

IrisParsedOptionsInfo initialOptions()
{
    IrisOptionsInfo items = ImageRetrieving::shared()->defaultOptions();
    items.push_back(IrisOptionsInfoItem::loadDiskFileSynchronously());
    return IrisParsedOptionsInfo(items);
}

QString processorIdentifier(const IrisParsedOptionsInfo& options)
{
    return options.processor ? options.processor->identifier() : QString();
}

} // namespace

IRImageContextBase::IRImageContextBase(std::optional<Source> source)
    : options(initialOptions())
    , m_source(std::move(source))
{
}

bool IRImageContextBase::fadeApplies(CacheType cacheType) const
{
    return options.forceTransition || cacheType == CacheType::none;
}

std::optional<double> IRImageContextBase::fadeDuration(CacheType cacheType) const
{
    if (!fadeApplies(cacheType) || !options.transition)
        return std::nullopt;
    return options.transition->fadeDuration(cacheType, options.forceTransition);
}

bool IRImageContextBase::operator==(const IRImageContextBase& other) const
{
    if (m_source.has_value() != other.m_source.has_value())
        return false;
    if (m_source && !(*m_source == *other.m_source))
        return false;
    return processorIdentifier(options) == processorIdentifier(other.options);
}

std::size_t IRImageContextBase::hash() const
{
    std::size_t seed = m_source ? 1 : 0;
    auto combine
        = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    if (m_source)
        combine(m_source->hash());
    combine(qHash(processorIdentifier(options)));
    return seed;
}

} // namespace iris
