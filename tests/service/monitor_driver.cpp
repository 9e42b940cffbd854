// The window's monitor without the window, for the scripts that run it on a service: it keeps
// its files in DIR with the event log on, prints each notice as it comes, and once FILE exists
// waits three passes, closes as the window does and prints every row.
//
//   orvane_monitor_driver DIR FILE [shown]
//
// Lines (tab-separated): "notice TEXT"; at the end "row PID NAME START FINISH PATH" per row
// and "passes MADE LISTED". With "shown" every row counts as on screen (its load is sampled),
// else none does, as in the tray.

#include "monitor/CProcessMonitor.h"

#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: orvane_monitor_driver DIR FILE [shown]\n");
        return 2;
    }
    CProcessMonitor monitor(argv[1]);
    if (const std::error_code failure = monitor.StartEventLog()) {
        std::fprintf(stderr, "event log: %s\n", failure.message().c_str());
        return 1;
    }
    if (argc > 3)
        monitor.SetVisibleRows(0, 1 << 30);
    monitor.SetNoticeCallback([](const std::string& text) {
        std::printf("notice\t%s\n", text.c_str());
        std::fflush(stdout);
    });
    monitor.Start([](TableChanges&&) {}, [] {});
    struct stat info{};
    while (stat(argv[2], &info) != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
