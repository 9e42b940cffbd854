#include "KillProcess.h"

Result<> KillProcess(platform::ProcessHandle* handle)
{
    // Silent whether the signal went or not: success shows later as the row's finish time, and
    // a process that has gone or may not be signalled leaves nothing to tell.
    if (!handle || handle->HasEnded())
        return {};
    const Result<> sent = handle->Kill();
    if (!sent && sent.error().category() == platform::PrivilegeCategory())
        return sent.error();
    return {};
}
