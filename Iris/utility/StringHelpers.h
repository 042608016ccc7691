#pragma once

#include "Iris/utility/IrisWrapper.h"

#include <QString>

#include <optional>

namespace iris {

// The MD5 digest of the UTF-8 bytes of `text`, as 32 lower-case hexadecimal digits.
QString md5HexString(const QString& text);

// The text after the last "." up to the first "@" (so "photo@2x.png" and "photo.png@2x" both give
// "png"), or nothing when there is no dot or nothing follows it.
std::optional<QString> fileExtension(const QString& text);

template<> struct IrisCompatibleValue<QString> : std::true_type {
};

template<> struct IrisWrapper<QString> {
    QString base;

    QString md5HexString() const { return iris::md5HexString(base); }
    std::optional<QString> fileExtension() const { return iris::fileExtension(base); }
};

} // namespace iris
