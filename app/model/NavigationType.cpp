#include "app/model/NavigationType.h"

QString rawValue(NavigationType type)
{
    switch (type) {
    case NavigationType::projects:
        return QStringLiteral("Projects");
    case NavigationType::media:
        return QStringLiteral("Media");
    case NavigationType::links:
        return QStringLiteral("Links");
    case NavigationType::favorite:
        return QStringLiteral("Favorite");
    case NavigationType::archived:
        return QStringLiteral("Archived");
    case NavigationType::inProgress:
        return QStringLiteral("In Progress");
    case NavigationType::finished:
        return QStringLiteral("Finished");
    }
    return QString();
}

std::optional<NavigationType> navigationTypeFromRawValue(const QString& text)
{
    for (NavigationType type : allNavigationTypes) {
        if (rawValue(type) == text)
            return type;
    }
    return std::nullopt;
}
