#pragma once

#include "platform/foundation/Date.h"

#include <QDate>

class QDateEdit;

// The local day `date` falls on; none for a date too far off to show (a library file can hold any
// number).
QDate tdLocalDay(platform::Date date);

// Lets `field` show days before its own first one, 14 September 1752: a library made elsewhere can
// hold earlier dates.
void tdAllowEarlyDays(QDateEdit* field);
