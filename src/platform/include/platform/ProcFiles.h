#pragma once
// Reading the files of /proc (Linux only): a process's stat line by path, small files, and the
// clock tick and the boot time that turn kernel tick counts into FileTime values. The watch
// service reads them the same way as the process services do; whole files are read with
// ReadSystemFile (platform/FileIo.h).

#include "platform/ProcessServices.h"
#include "platform/ProcStat.h"

#include <cstddef>
#include <optional>
#include <string>

namespace platform::procfs {

// Room for a whole stat line (about 300 bytes; command names are at most 64).
constexpr std::size_t kStatBufferSize = 1024;

// Reads a small file of /proc by path into `buffer` (one read, from its start) and returns the
// byte count, or -1. Sets `gone` when the file's process no longer exists (no such entry, or
// the read failed); an open that failed otherwise leaves it clear, and a failure for lack of
// descriptors is noted as a shortage.
long ReadSmallFile(const char* path, char* buffer, std::size_t size, bool& gone);

// Reads and parses /proc/<pid>/stat by path; `gone` as for ReadSmallFile. The identifier may
// name a newer process than the caller meant: callers compare the start time.
std::optional<ProcStat> ReadStatByPath(std::uint32_t pid, char (&buffer)[kStatBufferSize], bool& gone);

// Clock ticks per second of the tick counts in stat files.
long ClockTicksPerSecond();

// A count of clock ticks as a duration in 100-ns units.
FileTime TicksToFileTime(std::uint64_t ticks);

// Boot time as a FileTime (btime of /proc/stat), read once; 0 when it cannot be read.
FileTime BootTime();

} // namespace platform::procfs
