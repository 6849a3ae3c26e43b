// The local time of a log line, without a time-zone look-up per line.
#pragma once
#include <windows.h>

namespace orv::lg {

// The local time now, as GetLocalTime gives it. The offset between UTC and
// local time is worked out once per minute of UTC and kept: the system
// changes it (daylight saving time, a new zone) only on minute boundaries,
// and a change of zone by the user shows from the next minute on.
void LocalNow(SYSTEMTIME* st);

}  // namespace orv::lg
