// 200 short-lived children started and reaped while passes run, and the window's operations
// (log off and on, disabled-list removal, taking changes) hammering in parallel.

#include "monitor/CProcessMonitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
    {
        CProcessMonitor monitor(dir.string());
        monitor.StartEventLog();
        monitor.Start([&](TableChanges&& changes) { batches += changes.rows.empty() ? 0 : 1; },
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

        // The window's thread.
        int round = 0;
        while (!childrenDone) {
            if (round % 2)
                monitor.StartEventLog();
            else
                monitor.StopEventLog();
            monitor.RemoveDisabledAt(0);
            TableChanges changes = monitor.TakeChanges();
            (void)changes;
            ++round;
            std::this_thread::sleep_for(3ms);
        }
        children.join();
        monitor.StartEventLog();
        std::this_thread::sleep_for(1200ms); // let the last finishes be seen

        monitor.PrepareClose();
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!ended && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(ended) << "the monitor thread did not end";
        monitor.PrepareClose();
        EXPECT_FALSE(monitor.m_hThread.joinable());
    }
    EXPECT_GT(batches, 0);

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
