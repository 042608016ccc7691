#include "app/model/TDStatus.h"

QString rawValue(TDStatus status)
{
    switch (status) {
    case TDStatus::inProgress:
        return QStringLiteral("In Progress");
    case TDStatus::archived:
        return QStringLiteral("Archived");
    case TDStatus::finished:
        return QStringLiteral("Finished");
    }
    return QString();
}

std::optional<TDStatus> tdStatusFromRawValue(const QString& text)
{
    for (TDStatus status : allTDStatuses) {
        if (rawValue(status) == text)
            return status;
    }
    return std::nullopt;
}
