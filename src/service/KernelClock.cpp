#include "KernelClock.h"

#include "platform/ProcessServices.h"
#include "platform/ProcFiles.h"

#include <ctime>

namespace service {
namespace {

std::uint64_t Nanoseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(now.tv_nsec);
}

} // namespace

KernelClock KernelClock::Now()
{
    KernelClock clock;
    const std::uint64_t boot = Nanoseconds(CLOCK_BOOTTIME);
    const std::uint64_t wall = Nanoseconds(CLOCK_REALTIME);
    clock.m_bootAt = platform::kUnixEpochAsFileTime + wall / 100 - boot / 100;
    return clock;
}

std::uint64_t BootNsToTicks(std::uint64_t ns)
{
    const auto hz = static_cast<std::uint64_t>(platform::procfs::ClockTicksPerSecond());
    if (1'000'000'000ULL % hz == 0)
        return ns / (1'000'000'000ULL / hz);
    return ns * hz / 1'000'000'000ULL;
}

FileTime CreationTime(std::uint64_t ticks)
{
    const FileTime boot = platform::procfs::BootTime();
    return boot ? boot + platform::procfs::TicksToFileTime(ticks) : 0;
}

FileTime WallClockNow()
{
    return platform::GetSystemTimeAsFileTime();
}

} // namespace service
