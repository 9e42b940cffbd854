#include "monitor/KillProcess.h"

Result<> KillProcess(platform::ProcessHandle* handle, bool bNT)
{
    // Silent either way: success shows later as the row's finish time.
    if (!handle || handle->HasEnded())
        return {};
    if (const Result<bool> sent = handle->Kill(bNT); !sent)
        return sent.error();
    return {};
}
