#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

// A 128-bit universally unique identifier. Its text form is the canonical 36-character
// 8-4-4-4-12 hexadecimal layout; nothing else (braces, missing dashes, other lengths) is accepted.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The all-zero identifier.
    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes)
        : m_bytes(bytes)
    {
    }

    // A fresh random (version 4) identifier.
    static Uuid random();

    // Parses canonical text in either letter case; no value for anything else.
    static std::optional<Uuid> fromString(QStringView text);

    // The canonical text with upper-case hexadecimal digits (the stored form).
    QString uuidString() const;
    // The canonical text with lower-case hexadecimal digits (used for folder names).
    QString lowercaseString() const;

    const Bytes& bytes() const { return m_bytes; }
    bool isNull() const;

    constexpr auto operator<=>(const Uuid&) const = default;

private:
    Bytes m_bytes {};
};

std::size_t qHash(const Uuid& uuid, std::size_t seed = 0) noexcept;

} // namespace platform

template<> struct std::hash<platform::Uuid> {
    std::size_t operator()(const platform::Uuid& uuid) const noexcept { return platform::qHash(uuid); }
};
