#pragma once
// The event log dialog's runner over a log of the test's own, as the monitor's RunWithLogClosed
// gives it to the program's dialog: the log closed around the operation and opened again
// afterwards if it was open (CEventLogFile::RunClosed), all under `lock` when one is given
// (neither is owned).

#include "dialogs/CLogsViewDlg.h"
#include "storage/CEventLogFile.h"

#include <functional>
#include <mutex>
#include <string>

inline CLogsViewDlg::LogRunner RunnerForLog(CEventLogFile& log, std::mutex* lock = nullptr)
{
    return [&log, lock](const std::function<void(const std::string& path)>& operation) -> Result<> {
        // Held across close, operation and reopen, so that writes under the same lock wait
        // for the log instead of being dropped while it is closed.
        std::unique_lock<std::mutex> held;
        if (lock != nullptr)
            held = std::unique_lock<std::mutex>(*lock);
        return log.RunClosed(operation);
    };
}
