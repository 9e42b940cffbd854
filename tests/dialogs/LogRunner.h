#pragma once
// The event log dialog's runner over a log of the test's own, as the monitor's RunWithLogClosed
// gives it to the program's dialog: the log is closed around the operation and opened again
// afterwards if it was open, all under `lock` when one is given (neither is owned).

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
        const bool wasOpen = log.IsOpen();
        if (wasOpen)
            (void)log.Close(); // the tests read the file
        struct Reopen {
            CEventLogFile& log;
            bool wasOpen;
            ~Reopen()
            {
                if (wasOpen)
                    (void)log.Open(); // the tests check IsOpen()
            }
        } reopen{log, wasOpen};
        operation(log.m_path);
        return {};
    };
}
