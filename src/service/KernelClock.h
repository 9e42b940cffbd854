#pragma once
// The clocks of kernel events as the rest of the program counts: FileTime values for the wall
// clock, clock ticks after boot for start times (the unit of /proc/<pid>/stat).

#include "protocol/WatchMessages.h"

#include <cstdint>

namespace service {

using watch::FileTime;

// Nanoseconds of CLOCK_BOOTTIME as wall-clock FileTime values. The offset between the two
// clocks is read when the object is made: make one per batch of events, so that a change of
// the wall clock is followed.
class KernelClock {
public:
    static KernelClock Now();
    FileTime FromBootNs(std::uint64_t ns) const { return m_bootAt + ns / 100; }

private:
    FileTime m_bootAt = 0; // the wall clock at boot, as CLOCK_BOOTTIME counts
};

// A start time in ns of CLOCK_BOOTTIME as the kernel turns it into (22) starttime.
std::uint64_t BootNsToTicks(std::uint64_t ns);

// The creation time of a process started `ticks` after boot, exactly as the window computes
// it (the boot time of /proc/stat plus the ticks), so that both name a process alike.
FileTime CreationTime(std::uint64_t ticks);

// The wall clock now.
FileTime WallClockNow();

} // namespace service
