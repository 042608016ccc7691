#pragma once

#include <QString>

#include <array>
#include <optional>

// The sidebar's destinations.
enum class NavigationType { projects, media, links, favorite, archived, inProgress, finished };

inline constexpr std::array<NavigationType, 7> allNavigationTypes {
    NavigationType::projects,
    NavigationType::media,
    NavigationType::links,
    NavigationType::favorite,
    NavigationType::archived,
    NavigationType::inProgress,
    NavigationType::finished,
};

QString rawValue(NavigationType type);
// Exact, case-sensitive match of one of the seven raw strings.
std::optional<NavigationType> navigationTypeFromRawValue(const QString& text);
