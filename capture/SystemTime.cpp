#include "capture/SystemTime.h"

#include <cstdlib>
#include <ctime>
#include <string>

SystemTime LocalTimeFromStamp(int64_t sec, int32_t usec) {
    // localtime_r costs a time-zone lookup; consecutive packets nearly always share the second. The zone
    // setting is part of the key, so a change of TZ (followed by tzset) takes effect.
    thread_local int64_t cachedSec = INT64_MIN;
    thread_local std::string cachedZone;
    thread_local SystemTime cached;
    const char* zone = std::getenv("TZ");
    if (!zone)
        zone = "";
    if (sec != cachedSec || cachedZone != zone) {
        SystemTime t;
        std::tm tm{};
        time_t s = static_cast<time_t>(sec);
        if (static_cast<int64_t>(s) == sec && localtime_r(&s, &tm) && tm.tm_year >= -1900 &&
            tm.tm_year <= 65535 - 1900) {
            t.wYear = static_cast<uint16_t>(tm.tm_year + 1900);
            t.wMonth = static_cast<uint16_t>(tm.tm_mon + 1);
            t.wDayOfWeek = static_cast<uint16_t>(tm.tm_wday);
            t.wDay = static_cast<uint16_t>(tm.tm_mday);
            t.wHour = static_cast<uint16_t>(tm.tm_hour);
            t.wMinute = static_cast<uint16_t>(tm.tm_min);
            t.wSecond = static_cast<uint16_t>(tm.tm_sec);
        }
        cached = t;
        cachedSec = sec;
        cachedZone = zone;
    }
    SystemTime t = cached;
    // A damaged file may carry microseconds beyond a second; keep the field in range.
    t.wMilliseconds = static_cast<uint16_t>((usec < 0 ? 0 : usec > 999999 ? 999999 : usec) / 1000);
    return t;
}
