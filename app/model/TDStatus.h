#pragma once

#include <QString>

#include <array>
#include <optional>

// A project's state, stored as its raw string.
enum class TDStatus { inProgress, archived, finished };

inline constexpr std::array<TDStatus, 3> allTDStatuses { TDStatus::inProgress, TDStatus::archived,
    TDStatus::finished };

QString rawValue(TDStatus status);
// Exact, case-sensitive match of one of the three raw strings.
std::optional<TDStatus> tdStatusFromRawValue(const QString& text);
