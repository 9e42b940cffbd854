#include "LoadPercent.h"

#include <algorithm>

std::optional<std::int32_t> LoadPercent(std::int64_t busy, std::uint64_t since, std::uint64_t now,
                                        unsigned processors)
{
    // The whole difference: in 32 bits it wrapped after 429.5 s, and a program stopped that
    // long then showed a busy process at hundreds of percent.
    if (now <= since)
        return std::nullopt;
    if (busy <= 0)
        return 0;
    const std::uint64_t interval = now - since;
    const std::uint64_t used = static_cast<std::uint64_t>(busy);
    // No process keeps more processors busy than the machine has. More than that comes from
    // the sampling (times counted in clock ticks against a short interval, as the first
    // sample's 1-ms pause) or from a clock that moved under the interval.
    const unsigned cores = std::max(1u, processors);
    if (used / cores >= interval)
        return static_cast<std::int32_t>(100 * cores);
    const std::uint64_t whole = used / interval;
    const std::uint64_t part = used % interval;
    const std::uint64_t fraction =
        interval <= UINT64_MAX / 100 ? part * 100 / interval : part / (interval / 100);
    return static_cast<std::int32_t>(whole * 100 + fraction);
}
