#include "KillProcess.h"

Result<> KillProcess(platform::ProcessHandle* handle)
{
    // Silent either way: success shows later as the row's finish time.
    if (!handle || handle->HasEnded())
        return {};
    if (const Result<bool> sent = handle->Kill(); !sent)
        return sent.error();
    return {};
}
