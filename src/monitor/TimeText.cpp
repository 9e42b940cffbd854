#include "monitor/TimeText.h"

#include <cstdio>

std::string FormatFileDateTime(platform::FileTime time)
{
    if (time == 0)
        return " ";
    const Result<platform::LocalTime> local = platform::FileTimeToLocal(time);
    if (!local) // a time that has no local time shows as unknown
        return " ";
    char text[64];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u %02u:%02u:%02u", local->month, local->day,
                  local->year, local->hour, local->minute, local->second);
    return text;
}
