#pragma once

#include <QDate>
#include <QString>

namespace bench {

// A year of records in `folder`: 250 working days back from today, 8 probes at 08:00 and one
// result a minute each for 8 hours, values drifting slowly (960,000 lines). Returns the number
// of lines, -1 on failure; `first` is the earliest day.
int writeYear(const QString &folder, QDate &first);

}  // namespace bench
