#pragma once

#include <QtGlobal>

#include <algorithm>
#include <limits>
#include <optional>

namespace platform {

// A position in a document: the number of UTF-16 code units before it, counted from the document
// start. Plain integers keep comparison, equality and hashing trivial and never depend on identity.
using TextLocation = qint64;

// A half-open range [location, endLocation) of UTF-16 offsets; location <= endLocation always.
struct TextRange {
    TextLocation location = 0;
    TextLocation endLocation = 0;

    constexpr TextRange() = default;
    constexpr explicit TextRange(TextLocation at)
        : location(at)
        , endLocation(at)
    {
    }
    constexpr TextRange(TextLocation start, TextLocation end)
        : location(std::min(start, end))
        , endLocation(std::max(start, end))
    {
    }

    constexpr qint64 length() const { return endLocation - location; }
    constexpr bool isEmpty() const { return location == endLocation; }
    // A location at the end belongs to an empty range only, as on the platform.
    constexpr bool contains(TextLocation at) const
    {
        return at >= location && (at < endLocation || (isEmpty() && at == location));
    }
    constexpr bool contains(const TextRange& other) const
    {
        return other.location >= location && other.endLocation <= endLocation;
    }
    constexpr bool intersects(const TextRange& other) const
    {
        if (isEmpty() || other.isEmpty())
            return contains(other.location) || other.contains(location);
        return location < other.endLocation && other.location < endLocation;
    }
    constexpr std::optional<TextRange> intersection(const TextRange& other) const
    {
        const TextLocation start = std::max(location, other.location);
        const TextLocation end = std::min(endLocation, other.endLocation);
        if (start > end)
            return std::nullopt;
        return TextRange(start, end);
    }
    constexpr TextRange united(const TextRange& other) const
    {
        return TextRange(std::min(location, other.location), std::max(endLocation, other.endLocation));
    }
    constexpr bool operator==(const TextRange&) const = default;
};

// A range as the text input boundary counts it: a start offset and a length in UTF-16 units. The
// start may be `notFoundLocation`; every addition is checked so that it never overflows.
struct CharacterRange {
    static constexpr qint64 notFoundLocation = std::numeric_limits<qint64>::max();

    qint64 location = 0;
    qint64 length = 0;

    static constexpr CharacterRange notFound() { return { notFoundLocation, 0 }; }
    constexpr bool isNotFound() const { return location == notFoundLocation; }
    constexpr bool isEmpty() const { return length == 0; }
    // The end offset, or nothing when the sum does not fit or the range is negative.
    constexpr std::optional<qint64> end() const
    {
        if (location < 0 || length < 0 || location > std::numeric_limits<qint64>::max() - length)
            return std::nullopt;
        return location + length;
    }
    constexpr bool operator==(const CharacterRange&) const = default;
};

} // namespace platform
