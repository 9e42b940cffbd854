#pragma once
// The /proc reading that only the process services do: a stat descriptor they keep, read
// again in place. The rest is shared with the watch service (platform/ProcFiles.h).

#include "platform/ProcFiles.h"

namespace platform::procfs {

// Reads the stat file behind `fd` from its start and parses it. `comm` of the result points
// into `buffer`. Sets `readFailed` when the read itself failed (for a /proc descriptor: the
// process is gone), as opposed to a line that did not parse.
std::optional<ProcStat> ReadStat(int fd, char (&buffer)[kStatBufferSize], bool& readFailed);

} // namespace platform::procfs
