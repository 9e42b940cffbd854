#pragma once
// The time texts of the table and of the event log: local time with the UTC offset in force
// now (not at the time shown), month first, twenty-four hours.

#include "platform/ProcessServices.h"

#include <string>

// "%02u/%02u/%04u %02u:%02u:%02u" (month, day, year, then the time); a zero time, or one that
// has no local time, gives a single blank.
std::string FormatFileDateTime(platform::FileTime time);
