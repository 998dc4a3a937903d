// Calendar time of a packet in the local time zone, to the millisecond.
#pragma once

#include <cstdint>

struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;

    bool operator==(const SystemTime&) const = default;
};

// Local time of a capture-library timestamp. All fields 0 when the C library cannot convert it.
// Caches the last whole second per thread: packets arrive in time order.
SystemTime LocalTimeFromStamp(int64_t sec, int32_t usec);
