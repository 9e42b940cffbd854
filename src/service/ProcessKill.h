#pragma once
// Ending one process, named by its pid and start time, with SIGKILL through a pidfd: the
// pidfd is opened, the start time read and checked, the pidfd proved still alive (so the
// start time read was its process's), and only then the signal sent. A process that has
// ended, or whose pid another process has taken, is never signalled.

#include "platform/Result.h"

#include <cstdint>

namespace service {

// Fails with ESRCH when no process of that pid and start is running, EPERM when the service
// may not signal it.
Result<> KillProcess(std::uint32_t pid, std::uint64_t startTicks);

} // namespace service
