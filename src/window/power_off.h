#pragma once

#include <QDateTime>
#include <QString>

namespace power_off {

// The next moment after `now` at which the daily check finds the set time ("HH:mm", as
// the clock's text begins): today, or tomorrow once it has passed. Null when the set time
// is not such a time, as the check then never matches it.
QDateTime NextTime(const QString& setTime, const QDateTime& now);

}  // namespace power_off
