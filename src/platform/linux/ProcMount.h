#pragma once
// What the proc filesystem mounted at /proc shows of other users' processes, from the mount
// table of /proc/self/mountinfo.

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::procfs {

struct ProcMountOptions {
    bool hidesProcesses = false;      // hidepid= other than 0 / off (noaccess, invisible, ptraceable)
    std::optional<std::uint32_t> gid; // gid=: the group whose members are shown every process
};

// The options of the proc filesystem on top at /proc (the last one mounted there) in the text
// of a mountinfo file; nothing when no proc is mounted at /proc. Lines that do not parse are
// passed over.
std::optional<ProcMountOptions> ParseProcMount(std::string_view mountinfo);

} // namespace platform::procfs
