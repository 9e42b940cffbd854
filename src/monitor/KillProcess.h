#pragma once
#include "platform/ProcessServices.h"
#include "platform/Result.h"

// Terminates the process behind `handle` with SIGKILL through its pidfd, never by a bare
// identifier that may have been reused. When refused for lack of rights, one more attempt is
// made with CAP_KILL raised (only if it is permitted but not effective), dropped again at
// once. Whether the process was killed is not reported; a null or ended handle is left alone.
// Fails only when CAP_KILL could not be dropped again (platform::PrivilegeError), which the
// caller must tell and act on.
Result<> KillProcess(platform::ProcessHandle* handle);
