#include "cPlatformTime.h"

#include <cstring>

std::time_t cUtcToTime(std::tm& utc) {
#ifdef _WIN32
    return ::_mkgmtime(&utc);
#else
    return ::timegm(&utc);
#endif
}

bool cTimeToUtc(std::time_t when, std::tm& utc) {
    std::memset(&utc, 0, sizeof utc);
#ifdef _WIN32
    return ::gmtime_s(&utc, &when) == 0;
#else
    return ::gmtime_r(&when, &utc) != nullptr;
#endif
}

bool cTimeToLocal(std::time_t when, std::tm& local) {
    std::memset(&local, 0, sizeof local);
#ifdef _WIN32
    return ::localtime_s(&local, &when) == 0;
#else
    return ::localtime_r(&when, &local) != nullptr;
#endif
}
