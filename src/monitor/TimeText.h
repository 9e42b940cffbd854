#pragma once
// The time texts of the table and of the event log: local time with the UTC offset in force
// now (not at the time shown), month first, twenty-four hours.

#include "platform/ProcessServices.h"

#include <cstddef>
#include <string>

// Each returns false and leaves the buffer untouched when the conversion fails; otherwise
// writes at most capacity-1 characters and a terminator. Date "%02u/%02u/%04u" (month, day, year), time "%02u:%02u:%02u".
bool FormatFileDate(platform::FileTime time, char* buffer, std::size_t capacity);
bool FormatFileTime(platform::FileTime time, char* buffer, std::size_t capacity);
// Date and time joined as "%s %s"; a zero time gives a single blank.
std::string FormatFileDateTime(platform::FileTime time);
