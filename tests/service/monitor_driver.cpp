// The window's monitor without the window, for the scripts that run it on a service: it keeps
// its files in DIR with the event log on, prints each notice as it comes, and once FILE exists
// waits three passes, closes as the window does and prints every row.
//
//   orvane_monitor_driver DIR FILE [shown] [kill=PID]
//
// Lines (tab-separated): "notice TEXT"; at the end "row PID NAME START FINISH PATH" per row
// and "passes MADE LISTED". With "shown" every row counts as on screen (its load is sampled),
// else none does, as in the tray. With "kill=PID" the first row of PID, once there, is killed
// as the window's Kill does it ("killed ROW" is printed when that is asked).

#include "monitor/CProcessMonitor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvane_monitor_driver DIR FILE [shown]\n");
        return 2;
    }
    CProcessMonitor monitor(argv[1]);
    if (const Result<> started = monitor.StartEventLog(); !started) {
        std::fprintf(stderr, "event log: %s\n", started.error().message().c_str());
        return 1;
    }
    std::uint32_t killPid = 0;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "shown") == 0)
            monitor.SetVisibleRows(0, 1 << 30);
        else if (std::strncmp(argv[i], "kill=", 5) == 0)
            killPid = static_cast<std::uint32_t>(std::strtoul(argv[i] + 5, nullptr, 10));
    }
    monitor.SetNoticeCallback([](const std::string& text) {
        std::printf("notice\t%s\n", text.c_str());
        std::fflush(stdout);
    });
    monitor.Start([](TableChanges&&) {}, [] {});
    struct stat info{};
    while (stat(argv[2], &info) != 0) {
        const RowStore& rows = monitor.Rows();
        for (int row = 0; killPid != 0 && row < rows.Count(); ++row) {
            if (rows.Row(row).pid == killPid) {
                monitor.KillSelected(row);
                std::printf("killed\t%d\n", row);
                std::fflush(stdout);
                killPid = 0;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    monitor.PrepareClose();
    while (!monitor.ThreadEnded())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    monitor.PrepareClose();

    const RowStore& rows = monitor.Rows();
    for (int row = 0; row < rows.Count(); ++row) {
        std::printf("row\t%s\t%s\t%s\t%s\t%s\n", rows.CellText(row, ColPid).c_str(),
                    rows.CellText(row, ColName).c_str(), rows.CellText(row, ColStart).c_str(),
                    rows.CellText(row, ColFinish).c_str(), rows.CellText(row, ColFile).c_str());
    }
    std::printf("passes\t%llu\t%llu\n", static_cast<unsigned long long>(monitor.PassesMade()),
                static_cast<unsigned long long>(monitor.PassesListed()));
    return 0;
}
