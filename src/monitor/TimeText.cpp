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

// The local time of `time` written by `write` into a text, copied into `buffer` as far as
// `capacity` allows. False, with `buffer` untouched, when the time has no local time.
template <class Write>
bool FormatLocal(platform::FileTime time, char* buffer, std::size_t capacity, Write write)
{
    platform::LocalTime local{};
    if (!platform::FileTimeToLocal(time, local))
        return false;
    char text[32];
    write(text, sizeof text, local);
    CopyTruncated(text, buffer, capacity);
    return true;
}

} // namespace

bool FormatFileDate(platform::FileTime time, char* buffer, std::size_t capacity)
{
    return FormatLocal(time, buffer, capacity, [](char* text, std::size_t size, const platform::LocalTime& local) {
        std::snprintf(text, size, "%02u/%02u/%04u", local.month, local.day, local.year);
    });
}

bool FormatFileTime(platform::FileTime time, char* buffer, std::size_t capacity)
{
    return FormatLocal(time, buffer, capacity, [](char* text, std::size_t size, const platform::LocalTime& local) {
        std::snprintf(text, size, "%02u:%02u:%02u", local.hour, local.minute, local.second);
    });
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
