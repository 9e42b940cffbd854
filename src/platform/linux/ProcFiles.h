#pragma once
// The /proc reading that only the process services do: a stat descriptor they keep, read
// again in place. The rest is shared with the watch service (platform/ProcFiles.h).

#include "platform/ProcFiles.h"

namespace platform::procfs {

// Reads the stat file behind `fd` from its start and parses it. `comm` of the result points
// into `buffer`. Fails with ESRCH when the read itself fails (for a /proc descriptor: the
// process is gone), with EBADMSG for a line that does not parse.
Result<ProcStat> ReadStat(int fd, char (&buffer)[kStatBufferSize]);

} // namespace platform::procfs
