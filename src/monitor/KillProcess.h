#pragma once
#include "platform/ProcessServices.h"

// Terminates the process behind `handle` with SIGKILL through its pidfd, never by a bare
// identifier that may have been reused. When refused for lack of rights and `bNT` is set,
// one more attempt is made with CAP_KILL raised (only if it is permitted but not effective),
// dropped again at once. Reports nothing; a null or ended handle is left alone.
void KillProcess(platform::ProcessHandle* handle, bool bNT);
