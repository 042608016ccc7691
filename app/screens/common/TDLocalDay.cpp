#include "app/screens/common/TDLocalDay.h"

#include <QDateEdit>
#include <QDateTime>

#include <cmath>

QDate tdLocalDay(platform::Date date)
{
    const double ms = std::floor(date.timeIntervalSince1970() * 1000);
    if (!(std::abs(ms) < 6e18))
        return QDate();
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), Qt::LocalTime).date();
}

void tdAllowEarlyDays(QDateEdit* field)
{
    field->setMinimumDate(QDate(100, 1, 1));
}
