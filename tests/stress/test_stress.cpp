// 200 short-lived children started and reaped while passes run, and the window's operations
// (log off and on, disabled-list removal, taking changes, reading the rows) hammering in
// parallel; and the row store read by one thread while another appends and changes rows.

#include "../monitor/MonitorTestAccess.h"
#include "monitor/CProcessMonitor.h"
#include "storage/LogFileAccess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Stress, ChildrenComeAndGoWhileTheWindowHammers)
{
    char pattern[] = "/tmp/orvane-stress-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    {
        std::ofstream list(dir / "BlackList.log", std::ios::binary);
        for (int i = 0; i < 400; ++i)
            list << "never-running-" << i << "|";
    }
    constexpr int kNames = 200; // one name per child: each is seen at most once
    for (int i = 0; i < kNames; ++i)
        fs::copy_file("/bin/sleep", dir / ("stress-" + std::to_string(i)));

    std::atomic<bool> ended{false};
    std::atomic<int> batches{0};
    std::size_t textBytes = 0;
    {
        CProcessMonitor monitor(dir.string());
        ASSERT_TRUE(monitor.StartEventLog());
        monitor.Start([&](TableChanges&& changes) { batches += changes.Empty() ? 0 : 1; },
                      [&] { ended = true; });

        std::atomic<bool> childrenDone{false};
        std::thread children([&] {
            std::vector<pid_t> running;
            for (int i = 0; i < 200; ++i) {
                std::string program = (dir / ("stress-" + std::to_string(i % kNames))).string();
                std::string name = "stress";
                std::string seconds = i % 3 ? "0.05" : "0.6";
                char* argv[] = {name.data(), seconds.data(), nullptr};
                pid_t pid = -1;
                if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) == 0)
                    running.push_back(pid);
                if (running.size() >= 8) {
                    waitpid(running.front(), nullptr, 0);
                    running.erase(running.begin());
                }
                std::this_thread::sleep_for(10ms);
            }
            for (pid_t pid : running)
                waitpid(pid, nullptr, 0);
            childrenDone = true;
        });

        // The window's thread: its model reads the rows without the lock.
        const RowStore& rows = monitor.Rows();
        monitor.SetVisibleRows(0, 1 << 30);
        int round = 0;
        while (!childrenDone) {
            if (round % 2) {
                EXPECT_TRUE(monitor.StartEventLog());
            } else {
                monitor.StopEventLog();
            }
            if (const auto entries = monitor.DisabledEntries(); !entries.empty()) {
                EXPECT_TRUE(monitor.RemoveDisabledAt(0, entries.front()));
            }
            TableChanges changes = monitor.TakeChanges();
            for (int row = 0; row < changes.rowCount; ++row)
                for (int column = 0; column < ColumnCount; ++column)
                    textBytes += rows.CellText(row, column).size();
            ++round;
            std::this_thread::sleep_for(3ms);
        }
        children.join();
        EXPECT_TRUE(monitor.StartEventLog());
        std::this_thread::sleep_for(1200ms); // let the last finishes be seen

        monitor.PrepareClose();
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!ended && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(ended) << "the monitor thread did not end";
        monitor.PrepareClose();
        EXPECT_FALSE(MonitorTestAccess::ThreadJoinable(monitor));
    }
    EXPECT_GT(batches, 0);
    EXPECT_GT(textBytes, 0u);

    std::ifstream in(dir / "Logs.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::istringstream lines(text.str());
    std::map<std::string, int> started, finished;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Started process \t\t", 0) == 0)
            ++started[line.substr(18, line.find(" \t\t", 18) - 18)];
        else if (line.rfind("Finished process \t", 0) == 0)
            ++finished[line.substr(18, line.find(" \t\t", 18) - 18)];
    }
    // Other processes of the machine come and go too; only the children are counted.
    auto isChild = [](const std::string& name) { return name.rfind("stress-", 0) == 0; };
    int seen = 0;
    for (auto& [name, count] : started) {
        if (!isChild(name))
            continue;
        EXPECT_EQ(count, 1) << name;
        ++seen;
    }
    for (auto& [name, count] : finished) {
        if (isChild(name)) {
            EXPECT_EQ(count, 1) << name;
        }
    }
    EXPECT_GT(seen, 0);
    fs::remove_all(dir);
}

// The event log dialog's reads while passes queue lines and the switch flips: each read finds
// the log closed and only whole entries in it, and the log only grows from one read to the
// next; every child's Started line comes before its Finished line.
TEST(Stress, LogReadWhileThePassesWrite)
{
    char pattern[] = "/tmp/orvane-stress-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    constexpr int kChildren = 40;
    for (int i = 0; i < kChildren; ++i)
        fs::copy_file("/bin/sleep", dir / ("logged-" + std::to_string(i)));

    // The children come from a shell started before the log is opened: a child forked by this
    // process would hold a copy of the log's descriptor, and its lock, until its exec.
    const std::string script = "read x; for i in $(seq 0 " + std::to_string(kChildren - 1) + "); do " +
                               dir.string() + "/logged-$i 0.2; done";
    FILE* shell = popen(script.c_str(), "w");
    ASSERT_NE(shell, nullptr);

    std::atomic<bool> ended{false};
    {
        CProcessMonitor monitor(dir.string());
        ASSERT_TRUE(monitor.StartEventLog());
        monitor.Start([](TableChanges&&) {}, [&] { ended = true; });
        std::fputs("go\n", shell);
        std::fflush(shell);
        std::string previous;
        for (int reads = 1; reads <= 400; ++reads) {
            std::string bytes;
            std::error_code read;
            ASSERT_TRUE(monitor.RunWithLogClosed([&](const std::string& path) {
                Result<LogContent> content = ReadLogFile(path);
                read = content.error();
                if (content)
                    bytes = std::move(content->bytes);
            }));
            ASSERT_FALSE(read) << read.message();
            ASSERT_TRUE(bytes.empty() || bytes.back() == '\n') << "a part of an entry";
            ASSERT_EQ(bytes.compare(0, previous.size(), previous), 0) << "the log lost what it held";
            previous = std::move(bytes);
            if (reads % 10 == 0) {
                monitor.StopEventLog();
                ASSERT_TRUE(monitor.StartEventLog());
            }
            std::this_thread::sleep_for(7ms);
        }
        EXPECT_EQ(pclose(shell), 0);
        std::this_thread::sleep_for(1200ms); // the last finishes are seen
        monitor.PrepareClose();
        for (int i = 0; i < 1000 && !ended; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(ended);
        monitor.PrepareClose();
    }
    std::ifstream in(dir / "Logs.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string log = text.str();
    for (int i = 0; i < kChildren; ++i) {
        const std::string name = "logged-" + std::to_string(i) + " \t\t";
        const auto started = log.find("Started process \t\t" + name);
        const auto finished = log.find("Finished process \t" + name);
        if (started != std::string::npos && finished != std::string::npos) {
            EXPECT_LT(started, finished) << name;
        }
    }
    fs::remove_all(dir);
}

// The store's promise to the window: rows below a published count read whole while the writer
// appends, renames, measures and ends rows, with no lock between them.
TEST(Stress, RowsReadWhileTheMonitorAppends)
{
    ProcessTable table;
    constexpr int kRows = 60000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const platform::FileTime now = platform::GetSystemTimeAsFileTime();
        for (int i = 0; i < kRows; ++i) {
            const std::string name = "p" + std::to_string(i % 500);
            const int row = table.AppendRow(static_cast<std::uint32_t>(i), now, 0,
                                            i % 7 ? name : "unknown", "/bin/" + name);
            table.ShowStart(row);
            table.SetLoad(row, i % 100);
            if (i >= 10) {
                table.EndRow(i - 10, now + static_cast<platform::FileTime>(i));
                if ((i - 10) % 7 == 0)
                    table.Rename(i - 10, 0, "System", "");
            }
        }
        done = true;
    });
    const RowStore& rows = table.Rows();
    std::string wrong; // the first row read wrong
    for (std::size_t checked = 0; wrong.empty() && (!done || checked < 3); ++checked) {
        const int count = rows.Count();
        for (int row = std::max(0, count - 200); row < count && wrong.empty(); ++row) {
            const std::string name = rows.CellText(row, ColName);
            const std::string start = rows.CellText(row, ColStart);
            const std::string finish = rows.CellText(row, ColFinish);
            const bool named = name == "unknown" || name == "System" || name == "p" + std::to_string(row % 500);
            if (rows.CellText(row, ColPid) != std::to_string(row) || !named
                || (!start.empty() && start.size() != 19) || (!finish.empty() && finish.size() != 19))
                wrong = std::to_string(row) + ": " + name + " " + start + " " + finish;
        }
    }
    writer.join();
    EXPECT_EQ(wrong, "");
    EXPECT_EQ(rows.Count(), kRows);
    EXPECT_EQ(rows.CellText(kRows - 11, ColCpu), "0 %");
}
