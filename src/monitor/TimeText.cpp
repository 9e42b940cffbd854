#include "monitor/TimeText.h"

#include <cstdio>

std::string FormatFileDateTime(platform::FileTime time)
{
    platform::LocalTime local{};
    if (time == 0 || !platform::FileTimeToLocal(time, local))
        return " ";
    char text[64];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u %02u:%02u:%02u", local.month, local.day,
                  local.year, local.hour, local.minute, local.second);
    return text;
}
