// Calendar conversions as the platform offers them: the reentrant POSIX
// calls (timegm, gmtime_r, localtime_r) or their Windows counterparts
// (_mkgmtime, gmtime_s, localtime_s).
#ifndef ORVANE_ENGINE_CPLATFORMTIME_H
#define ORVANE_ENGINE_CPLATFORMTIME_H

#include <ctime>

// The moment of a calendar time read as UTC; fields out of range are
// normalised as calendar arithmetic (the 32nd of January is the 1st of
// February).  (time_t)-1 when it cannot be represented.
std::time_t cUtcToTime(std::tm& utc);

// The UTC and the local calendar time of a moment; false when the platform
// cannot represent it.
bool cTimeToUtc(std::time_t when, std::tm& utc);
bool cTimeToLocal(std::time_t when, std::tm& local);

#endif
