// Local time of a FileTime with the UTC offset in force now: a time stamp from before a
// daylight-saving change shows the same way as one taken after it.

#include "platform/ProcessServices.h"

#include <cstdint>
#include <ctime>
#include <limits>

namespace platform {

long CurrentUtcOffset()
{
    time_t now = time(nullptr);
    tm local{};
    if (!localtime_r(&now, &local))
        return 0;
    return local.tm_gmtoff;
}

Result<LocalTime> FileTimeToLocal(FileTime t)
{
    constexpr auto kPerSecond = static_cast<std::int64_t>(kFileTimePerSecond);
    if (t > static_cast<FileTime>(std::numeric_limits<std::int64_t>::max()))
        return std::errc::result_out_of_range;
    const std::int64_t local = static_cast<std::int64_t>(t) + CurrentUtcOffset() * kPerSecond;
    if (local < 0) // before 1601: no local time
        return std::errc::result_out_of_range;
    const std::int64_t sinceUnixEpoch =
        local - static_cast<std::int64_t>(kUnixEpochAsFileTime);
    std::int64_t seconds = sinceUnixEpoch / kPerSecond;
    if (sinceUnixEpoch % kPerSecond < 0)
        --seconds; // floor, for times before 1970
    time_t whole = static_cast<time_t>(seconds);
    tm broken{};
    if (!gmtime_r(&whole, &broken))
        return LastError();
    return LocalTime{static_cast<unsigned>(broken.tm_year + 1900), static_cast<unsigned>(broken.tm_mon + 1),
                     static_cast<unsigned>(broken.tm_mday), static_cast<unsigned>(broken.tm_hour),
                     static_cast<unsigned>(broken.tm_min), static_cast<unsigned>(broken.tm_sec)};
}

} // namespace platform
