#include "monitor/KillProcess.h"

void KillProcess(platform::ProcessHandle* handle, bool bNT)
{
    // Silent either way: success shows later as the row's finish time.
    if (!handle || handle->HasEnded())
        return;
    handle->Kill(bNT);
}
