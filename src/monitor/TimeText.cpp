#include "monitor/TimeText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void CopyTruncated(const char* text, char* buffer, std::size_t capacity)
{
    if (!buffer || capacity == 0)
        return;
    std::size_t length = std::min(std::strlen(text), capacity - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

} // namespace

bool FormatFileDate(platform::FileTime time, char* buffer, std::size_t capacity)
{
    platform::LocalTime local{};
    if (!platform::FileTimeToLocal(time, local))
        return false;
    char text[32];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u", local.month, local.day, local.year);
    CopyTruncated(text, buffer, capacity);
    return true;
}

bool FormatFileTime(platform::FileTime time, char* buffer, std::size_t capacity)
{
    platform::LocalTime local{};
    if (!platform::FileTimeToLocal(time, local))
        return false;
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", local.hour, local.minute, local.second);
    CopyTruncated(text, buffer, capacity);
    return true;
}

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
