#pragma once
// The fields of /proc/<pid>/stat that the process services need. The command name may hold
// blanks, parentheses and newlines, so the line is read from its LAST ')': everything after
// it is kernel-written numbers, everything between the first '(' and it is the name.

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::procfs {

// Task flag of kernel threads, field (9) flags.
constexpr std::uint32_t kPfKthread = 0x00200000;

struct ProcStat {
    std::uint32_t pid = 0;       // (1) pid
    std::string_view comm;       // (2) comm, without its parentheses; points into the text
    char state = 0;              // (3) state: R, S, D, Z, X, ...
    std::int64_t ppid = 0;       // (4) ppid
    std::uint32_t flags = 0;     // (9) flags
    std::uint64_t utime = 0;     // (14) utime, clock ticks, whole thread group
    std::uint64_t stime = 0;     // (15) stime, clock ticks, whole thread group
    std::uint64_t starttime = 0; // (22) starttime, clock ticks after boot
};

// Parses one stat line. Returns nothing for anything that is not a complete line up to and
// including field (22): no ')', a malformed number, a missing field, or a field (22) that is
// not followed by a separator (a read that stopped inside it).
std::optional<ProcStat> ParseProcStat(std::string_view text);

} // namespace platform::procfs
