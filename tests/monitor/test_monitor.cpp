// The monitor cycle against real processes, in a temporary program directory.

#include "LoadPercent.h"
#include "MonitorTestAccess.h"
#include "linux/Capabilities.h"
#include "monitor/CProcessMonitor.h"
#include "monitor/ExecutableSweep.h"
#include "storage/StringTable.h"

#include "ChildProcess.h"
#include "platform/FileIo.h"
#include "storage/CDataFile.h"
#include "storage/StorageFault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <linux/capability.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orvane-monitor-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }

    void TearDown() override
    {
        for (pid_t pid : m_children) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(m_dir);
    }

    void WriteSettings(std::int32_t eventLogOn)
    {
        SettingsRecord settings;
        settings.eventLogOn = eventLogOn;
        CDataFile file;
        file.m_path = (m_dir / "Settings.dat").string();
        ASSERT_TRUE(SaveSettings(settings, file));
    }

    // A copy of sleep under `name` in the test directory (the kernel names the process after it).
    fs::path SleepCopy(const std::string& name)
    {
        fs::path copy = m_dir / name;
        fs::copy_file("/bin/sleep", copy, fs::copy_options::overwrite_existing);
        fs::permissions(copy, fs::perms::owner_all);
        return copy;
    }

    // A copy of the shell under `name`, for wrappers that end in exec.
    fs::path ShellCopy(const std::string& name)
    {
        fs::path copy = m_dir / name;
        fs::copy_file(fs::canonical("/bin/sh"), copy, fs::copy_options::overwrite_existing);
        fs::permissions(copy, fs::perms::owner_all);
        return copy;
    }

    pid_t Spawn(const fs::path& program, std::vector<std::string> args = {"1000"})
    {
        std::vector<char*> argv;
        std::string arg0 = program.filename().string();
        argv.push_back(arg0.data());
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            return -1;
        m_children.push_back(pid);
        return pid;
    }

    void KillAndReap(pid_t pid)
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::erase(m_children, pid);
    }

    // Rows of `pid`, in table order.
    static std::vector<int> RowsOf(CProcessMonitor& monitor, pid_t pid)
    {
        std::vector<int> rows;
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        for (int row = 0; row < MonitorTestAccess::Table(monitor).GetRowCount(); ++row)
            if (MonitorTestAccess::Table(monitor).CellText(row, ColPid) == std::to_string(pid))
                rows.push_back(row);
        return rows;
    }

    fs::path m_dir;
    std::vector<pid_t> m_children;
};

std::string CommOf(pid_t pid)
{
    std::string name = ReadFile("/proc/" + std::to_string(pid) + "/comm");
    return name.empty() ? name : name.substr(0, name.size() - 1);
}

// Waits up to `ms` for our child `pid` to end and reaps it; its wait status, or -1.
int ReapWithin(pid_t pid, int ms)
{
    int status = 0;
    for (int waited = 0; waited <= ms; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return status;
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

// A name of this run's own (at most 15 bytes, as the kernel keeps it), so that no other copy
// of the program on this machine, with a disabled list of its own, ever meets it.
std::string UniqueName(const std::string& stem)
{
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%05x", std::random_device()() & 0xFFFFFu);
    return stem + suffix;
}

// Waits until the first thread of `pid` has exited while another runs on (its stat shows a
// zombie) and its command name reads `comm`.
bool LeaderExited(pid_t pid, const std::string& comm)
{
    for (int i = 0; i < 500; ++i) {
        const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        const auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z'
            && CommOf(pid) == comm)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

bool KilledBySigkill(int status) { return status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

TEST_F(MonitorTest, FirstPassListsEveryRunningProcessInEnumerationOrderAndLogsItsStart)
{
    WriteSettings(1);
    ASSERT_GT(Spawn(SleepCopy("orvane")), 0);
    ASSERT_GT(Spawn(SleepCopy("first-pass-sleep")), 0);

    CProcessMonitor monitor(m_dir.string());
    monitor.ScanProcesses();

    const Result<std::vector<std::uint32_t>> listed = platform::EnumProcesses();
    ASSERT_TRUE(listed);
    const std::vector<std::uint32_t>& order = *listed;
    std::string log = ReadFile(m_dir / "Logs.log");
    ASSERT_EQ(log.rfind("\r\nOrvane started ", 0), 0u);

    std::lock_guard lock(MonitorTestAccess::Lock(monitor));
    ProcessTable& table = MonitorTestAccess::Table(monitor);
    ASSERT_GT(table.GetRowCount(), 1);
    std::size_t named = 0;
    // Rows follow the enumeration order: each row's pid comes later in it than the previous one.
    std::size_t at = 0;
    for (int row = 0; row < table.GetRowCount(); ++row) {
        std::uint32_t pid = table.Pid(row);
        auto found = std::find(order.begin() + at, order.end(), pid);
        if (found != order.end()) {
            at = found - order.begin();
        } else { // ended since the pass: other programs come and go on this machine too
            if (ProcessRecord* record = table.GetRecord(row)) {
                const Result<platform::ProcessTimes> times = record->hProcess->GetTimes();
                ASSERT_TRUE(times);
                ASSERT_NE(times->exit, 0u) << "row " << row << " pid " << pid << " is out of order";
            }
        }
        EXPECT_EQ(table.CellText(row, ColPid), std::to_string(pid));
        EXPECT_NE(table.CellText(row, ColName), "orvane");

        const std::string& name = table.CellText(row, ColName);
        if (name == "unknown")
            continue;
        ++named;
        std::string start = FormatFileDateTime(table.Rows().Row(row).creation);
        EXPECT_EQ(table.CellText(row, ColStart), start);
        EXPECT_GE(Count(log, "Started process \t\t" + name + " \t\t" + start + "\r\n"), 1u) << name;
    }
    // One line per named row; a row named "unknown" gets its line one pass later.
    EXPECT_EQ(Count(log, "Started process \t\t"), named);
}

TEST_F(MonitorTest, OwnNameIsNeverListed)
{
    pid_t own = Spawn(SleepCopy("orvane"));
    CProcessMonitor monitor(m_dir.string());
    monitor.ScanProcesses();
    monitor.ScanProcesses();
    EXPECT_TRUE(RowsOf(monitor, own).empty());
}

TEST_F(MonitorTest, LaterProcessGetsARowThenOneFinishedLineAndZeroLoad)
{
    WriteSettings(1);
    CProcessMonitor monitor(m_dir.string());
    monitor.ScanProcesses();

    pid_t pid = Spawn(SleepCopy("late sleep (x)"));
    monitor.ScanProcesses();
    auto rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 1u);
    {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[0], ColName), "late sleep (x)");
        EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[0], ColFile), (m_dir / "late sleep (x)").string());
        EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[0], ColFinish), "");
    }

    KillAndReap(pid);
    monitor.ScanProcesses();
    monitor.ScanProcesses();
    monitor.ScanProcesses();
    std::string finish;
    {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        finish = MonitorTestAccess::Table(monitor).CellText(rows[0], ColFinish);
        EXPECT_EQ(finish.size(), 19u);
        EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[0], ColCpu), "0 %");
        EXPECT_EQ(MonitorTestAccess::Table(monitor).GetRecord(rows[0]), nullptr); // no handle kept
    }
    EXPECT_EQ(RowsOf(monitor, pid).size(), 1u); // the row stays, nothing new for a dead pid

    std::string log = ReadFile(m_dir / "Logs.log");
    EXPECT_EQ(Count(log, "Started process \t\tlate sleep (x) \t\t"), 1u);
    EXPECT_EQ(Count(log, "Finished process \tlate sleep (x) \t\t" + finish + "\r\n"), 1u);
}

TEST_F(MonitorTest, ReusedIdentifierGetsASecondRow)
{
    CProcessMonitor monitor(m_dir.string());
    pid_t first = Spawn(SleepCopy("reuse-a"));
    monitor.ScanProcesses();
    ASSERT_EQ(RowsOf(monitor, first).size(), 1u);
    KillAndReap(first);

    // Ask the kernel to hand out the same identifier again (needs privilege; other processes
    // starting at the same moment may take it, so try a few times).
    fs::path second = SleepCopy("reuse-b");
    pid_t again = -1;
    for (int attempt = 0; attempt < 20 && again != first; ++attempt) {
        int fd = open("/proc/sys/kernel/ns_last_pid", O_WRONLY);
        if (fd < 0)
            GTEST_SKIP() << "needs root to write /proc/sys/kernel/ns_last_pid (identifiers reused on demand)";
        std::string last = std::to_string(first - 1);
        bool written = write(fd, last.data(), last.size()) == static_cast<ssize_t>(last.size());
        close(fd);
        if (!written)
            GTEST_SKIP() << "needs root: ns_last_pid refused the write (identifiers reused on demand)";
        again = Spawn(second);
        if (again != first)
            KillAndReap(again);
    }
    if (again != first)
        GTEST_SKIP() << "the identifier was taken by another process every time";

    monitor.ScanProcesses(); // the old row learns that its process ended
    monitor.ScanProcesses(); // the new process gets its own row
    auto rows = RowsOf(monitor, first);
    ASSERT_EQ(rows.size(), 2u);
    std::lock_guard lock(MonitorTestAccess::Lock(monitor));
    EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[0], ColName), "reuse-a");
    EXPECT_NE(MonitorTestAccess::Table(monitor).CellText(rows[0], ColFinish), "");
    EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[1], ColName), "reuse-b");
    EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[1], ColFinish), "");
    EXPECT_EQ(MonitorTestAccess::Table(monitor).FindLiveRow(first), rows[1]);
}

TEST_F(MonitorTest, DisabledNameIsKilledAtFirstSightWithoutRowOrLine)
{
    WriteSettings(1);
    std::ofstream(m_dir / "BlackList.log", std::ios::binary) << "victim-xyz|";
    CProcessMonitor monitor(m_dir.string());
    monitor.ScanProcesses();

    pid_t pid = Spawn(SleepCopy("Victim-XYZ"));
    monitor.ScanProcesses();
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::erase(m_children, pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(RowsOf(monitor, pid).empty());
    monitor.ScanProcesses();
    EXPECT_EQ(ReadFile(m_dir / "Logs.log").find("Victim-XYZ"), std::string::npos);
}

TEST_F(MonitorTest, WithLoggingOffTheTableUpdatesAndNothingIsWritten)
{
    WriteSettings(0);
    CProcessMonitor monitor(m_dir.string());
    pid_t pid = Spawn(SleepCopy("quiet-sleep"));
    monitor.ScanProcesses();
    ASSERT_EQ(RowsOf(monitor, pid).size(), 1u);
    KillAndReap(pid);
    monitor.ScanProcesses();
    auto rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 1u);
    {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(rows[0], ColFinish).size(), 19u);
    }
    EXPECT_FALSE(fs::exists(m_dir / "Logs.log"));
}

[[noreturn]] void Spin()
{
    std::atomic<unsigned long> n{0};
    for (;;)
        n.fetch_add(1, std::memory_order_relaxed);
}

// Spins `threads` threads in a child; returns its pid.
pid_t SpinChild(int threads)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<std::thread> spinners;
        for (int i = 1; i < threads; ++i)
            spinners.emplace_back(Spin);
        Spin();
    }
    return pid;
}

// The load over one interval, from the two clock readings, without waiting for the clock.
struct LoadCase {
    const char* label;
    std::int64_t busy;   // processor time used, 100 ns
    std::uint64_t since; // clock at the previous sample, 100 ns
    std::uint64_t now;   // clock now
    unsigned processors;
    std::optional<std::int32_t> load; // nothing: the cell keeps its text
};

std::ostream& operator<<(std::ostream& out, const LoadCase& c) { return out << c.label; }

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::uint64_t kAt = 1'000'000 * kSecond; // any clock reading

class LoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadTest, ComesFromTheWholeIntervalAndStaysWithinTheProcessors)
{
    const LoadCase& c = GetParam();
    EXPECT_EQ(LoadPercent(c.busy, c.since, c.now, c.processors), c.load);
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, LoadTest,
    ::testing::Values(
        LoadCase{"OneProcessorHalfASecond", 5'000'000, kAt, kAt + kSecond / 2, 2, 100},
        LoadCase{"TwoProcessorsAreNotScaled", 10'000'000, kAt, kAt + kSecond / 2, 4, 200},
        LoadCase{"ThreeQuartersTruncated", 3'749'999, kAt, kAt + kSecond / 2, 2, 74},
        // A program stopped for 430 s: past 2^32 x 100 ns (429.5 s), where a 32-bit
        // difference wraps to half a second.
        LoadCase{"BusyThrough430Seconds", 430 * 10'000'000LL, kAt, kAt + 430 * kSecond, 2, 100},
        LoadCase{"IdleThrough430Seconds", 0, kAt, kAt + 430 * kSecond, 2, 0},
        LoadCase{"HalfBusyThroughAYear", 365LL * 86400 * 5'000'000, kAt, kAt + 365ULL * 86400 * kSecond, 1, 50},
        LoadCase{"ZeroInterval", 5'000'000, kAt, kAt, 2, std::nullopt},
        LoadCase{"ClockWentBack", 5'000'000, kAt, kAt - kSecond, 2, std::nullopt},
        LoadCase{"ClockWentBackAlmostAPass", 5'000'000, kAt, kAt + 1'000, 2, 200},
        LoadCase{"ClockJumpedAnHourAhead", 5'000'000, kAt, kAt + 3600 * kSecond + kSecond / 2, 2, 0},
        // One clock tick (10 ms) seen over the first sample's 1-ms pause.
        LoadCase{"TickOverOneMillisecond", 100'000, kAt, kAt + 10'000, 1, 100},
        LoadCase{"TimesWentBack", -5'000'000, kAt, kAt + kSecond / 2, 2, 0},
        LoadCase{"HugeBusyTinyInterval", std::numeric_limits<std::int64_t>::max(), kAt, kAt + 1, 8, 800}),
    [](const ::testing::TestParamInfo<LoadCase>& c) { return std::string(c.param.label); });

class BusyTest : public MonitorTest, public ::testing::WithParamInterface<int> {};

// Processor seconds used so far by `pid`'s thread group, read straight from /proc.
double CpuSeconds(pid_t pid)
{
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            utime = std::stoull(field);
        if (number == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / sysconf(_SC_CLK_TCK);
}

TEST_P(BusyTest, LoadCountsEveryBusyProcessorWithoutScaling)
{
    int threads = GetParam();
    if (static_cast<int>(std::thread::hardware_concurrency()) < threads)
        GTEST_SKIP() << "needs " << threads << " processors";
    CProcessMonitor monitor(m_dir.string());
    monitor.SetVisibleRows(0, std::numeric_limits<int>::max()); // every row on screen
    pid_t pid = SpinChild(threads);
    ASSERT_GT(pid, 0);
    m_children.push_back(pid);
    std::this_thread::sleep_for(200ms);

    // The machine may be busy with other work: the load shown is compared with what the child
    // really used over the same second, measured independently.
    monitor.ScanProcesses();
    auto wallStart = std::chrono::steady_clock::now();
    double cpuStart = CpuSeconds(pid);
    std::this_thread::sleep_for(1s);
    double cpuEnd = CpuSeconds(pid);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    monitor.ScanProcesses();
    double expected = (cpuEnd - cpuStart) / wall * 100;

    auto rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 1u);
    std::string text;
    {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        text = MonitorTestAccess::Table(monitor).CellText(rows[0], ColCpu);
    }
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 2), " %");
    int load = std::atoi(text.c_str());
    EXPECT_NEAR(load, expected, 20 + 0.15 * expected) << text;
    if (expected > 120) {
        EXPECT_GT(load, 100) << "two busy processors must show more than 100 %";
    }
    std::printf("[ busy     ] %d thread(s): shown %s, measured %.0f %%\n", threads, text.c_str(), expected);
}

INSTANTIATE_TEST_SUITE_P(OneAndTwoThreads, BusyTest, ::testing::Values(1, 2));

TEST_F(MonitorTest, CloseRequestStopsTheThreadWithOneFinishBannerAndSavedSettings)
{
    WriteSettings(5);
    std::atomic<int> ended{0};
    std::atomic<int> batches{0};
    {
        CProcessMonitor monitor(m_dir.string());
        EXPECT_EQ(monitor.GetSettings().eventLogOn, 1);
        monitor.Start([&](TableChanges&&) { ++batches; }, [&] { ++ended; });
        const auto firstBatch = std::chrono::steady_clock::now() + 10s;
        while (batches == 0 && std::chrono::steady_clock::now() < firstBatch)
            std::this_thread::sleep_for(10ms);
        ASSERT_GT(batches, 0) << "no pass within 10 s";

        monitor.PrepareClose();
        monitor.PrepareClose(); // a second request while the thread ends: no second banner
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!monitor.ThreadEnded() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(monitor.ThreadEnded());
        EXPECT_EQ(ended, 1);
        monitor.PrepareClose(); // phase 2: joins the thread, frees the records
        EXPECT_FALSE(MonitorTestAccess::ThreadJoinable(monitor));
        EXPECT_TRUE(monitor.DisabledEntries().empty());
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        for (int row = 0; row < MonitorTestAccess::Table(monitor).GetRowCount(); ++row)
            EXPECT_EQ(MonitorTestAccess::Table(monitor).GetRecord(row), nullptr);
    }
    std::string log = ReadFile(m_dir / "Logs.log");
    EXPECT_EQ(Count(log, "\r\nOrvane finished "), 1u);
    auto banner = log.rfind("\r\nOrvane finished ");
    EXPECT_EQ(log.find("\r\n", banner + 2), log.size() - 2); // the banner ends the file
    EXPECT_EQ(log.substr(log.size() - 7), " min.\r\n");

    std::string settings = ReadFile(m_dir / "Settings.dat");
    ASSERT_EQ(settings.size(), 32u);
    EXPECT_EQ(settings.substr(0, 4), std::string("\x01\x00\x00\x00", 4));
}

TEST_F(MonitorTest, SwitchingTheLogOffAndOnWritesNoBanner)
{
    WriteSettings(0);
    CProcessMonitor monitor(m_dir.string());
    ASSERT_TRUE(monitor.StartEventLog());
    pid_t pid = Spawn(SleepCopy("switch-sleep"));
    monitor.ScanProcesses();
    monitor.StopEventLog();
    KillAndReap(pid);
    monitor.ScanProcesses();
    std::string log = ReadFile(m_dir / "Logs.log");
    EXPECT_EQ(log.find("Orvane started"), std::string::npos);
    EXPECT_EQ(Count(log, "Started process \t\tswitch-sleep"), 1u);
    EXPECT_EQ(Count(log, "Finished process \tswitch-sleep"), 0u); // ended while logging was off
}

TEST_F(MonitorTest, KillAndDisableActOnTheRowsOwnProcess)
{
    CProcessMonitor monitor(m_dir.string());
    pid_t killed = Spawn(SleepCopy("kill-me"));
    pid_t disabled = Spawn(SleepCopy("Disable Me"));
    monitor.ScanProcesses();
    auto killRows = RowsOf(monitor, killed);
    auto disableRows = RowsOf(monitor, disabled);
    ASSERT_EQ(killRows.size(), 1u);
    ASSERT_EQ(disableRows.size(), 1u);

    monitor.KillSelected(-1);
    monitor.KillSelected(killRows[0]);
    int status = 0;
    ASSERT_EQ(waitpid(killed, &status, 0), killed);
    std::erase(m_children, killed);
    EXPECT_TRUE(WIFSIGNALED(status));

    EXPECT_TRUE(monitor.DisableSelected(disableRows[0]));
    ASSERT_EQ(waitpid(disabled, &status, 0), disabled);
    std::erase(m_children, disabled);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadFile(m_dir / "BlackList.log"), "disable me|");

    // The killed row's handle is spent; killing it again does nothing to anyone.
    monitor.ScanProcesses();
    monitor.KillSelected(killRows[0]);
}

// A name the list cannot hold is not added, and Disable says why (the process is killed all
// the same, as the user asked).
TEST_F(MonitorTest, DisableOfANameTheListCannotHoldSaysWhy)
{
    CProcessMonitor monitor(m_dir.string());
    pid_t pid = Spawn(SleepCopy("pipe|name"));
    monitor.ScanProcesses();
    auto rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 1u);

    EXPECT_EQ(monitor.DisableSelected(rows[0]).error(), StorageFault::NameNotStorable);
    EXPECT_TRUE(KilledBySigkill(ReapWithin(pid, 5000)));
    std::erase(m_children, pid);
    EXPECT_FALSE(fs::exists(m_dir / "BlackList.log"));
}

// A disabled list that cannot be read is told once, at start or when it turns unreadable,
// and the list read before stays in force.
TEST_F(MonitorTest, UnreadableDisabledListIsToldAndTheLastOneReadStaysInForce)
{
    const fs::path list = m_dir / "BlackList.log";
    std::ofstream(list, std::ios::binary) << "unread-victim|";
    std::vector<std::string> notices;
    CProcessMonitor monitor(m_dir.string());
    monitor.SetNoticeCallback([&](const std::string& text) { notices.push_back(text); });
    monitor.ScanProcesses();
    EXPECT_TRUE(notices.empty());

    fs::remove(list);
    fs::create_directory(list);
    pid_t pid = Spawn(SleepCopy("unread-victim"));
    monitor.ScanProcesses();
    monitor.ScanProcesses();
    EXPECT_TRUE(KilledBySigkill(ReapWithin(pid, 5000)));
    std::erase(m_children, pid);
    const std::string expected = "The disabled list cannot be read (the list read before stays in force): " +
                                 list.string() + ": not a regular file";
    EXPECT_EQ(notices, std::vector<std::string>{expected});

    CProcessMonitor restarted(m_dir.string()); // told as soon as there is somewhere to tell it
    notices.clear();
    restarted.SetNoticeCallback([&](const std::string& text) { notices.push_back(text); });
    EXPECT_EQ(notices, std::vector<std::string>{expected});
}

// A child that keeps one processor busy for `busy`, then sleeps.
pid_t BusyThenIdleChild(std::chrono::milliseconds busy)
{
    pid_t pid = fork();
    if (pid == 0) {
        const auto end = std::chrono::steady_clock::now() + busy;
        std::atomic<unsigned long> n{0};
        while (std::chrono::steady_clock::now() < end)
            n.fetch_add(1, std::memory_order_relaxed);
        for (;;)
            pause();
    }
    return pid;
}

// Loads are read for the rows on screen only: none while nothing is shown; a row out of view
// keeps its last text; back in view, its next text covers the last pass only, not the time
// it spent out of view.
TEST_F(MonitorTest, LoadIsSampledForShownRowsOnly)
{
    CProcessMonitor monitor(m_dir.string());
    pid_t pid = BusyThenIdleChild(1500ms);
    ASSERT_GT(pid, 0);
    m_children.push_back(pid);
    std::this_thread::sleep_for(50ms);

    monitor.ScanProcesses(); // nothing shown: rows for everything, no times read
    monitor.ScanProcesses();
    EXPECT_EQ(monitor.TimeReads(), 0u);
    auto rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 1u);
    const int row = rows[0];
    auto load = [&] { return monitor.Rows().CellText(row, ColCpu); };
    EXPECT_EQ(load(), "");

    monitor.SetVisibleRows(row, row);
    monitor.ScanProcesses(); // comes into view: a first sample, then a text
    EXPECT_EQ(monitor.TimeReads(), 2u);
    std::this_thread::sleep_for(300ms);
    monitor.ScanProcesses(); // one read per shown live row and pass
    EXPECT_EQ(monitor.TimeReads(), 3u);
    const std::string busy = load();
    EXPECT_NE(busy, "0 %") << "the child is busy";

    monitor.SetVisibleRows(0, -1); // hidden
    std::this_thread::sleep_for(1500ms); // the child turns idle meanwhile
    monitor.ScanProcesses();
    EXPECT_EQ(monitor.TimeReads(), 3u);
    EXPECT_EQ(load(), busy);

    monitor.SetVisibleRows(row - 5, row + 5);
    monitor.ScanProcesses();
    EXPECT_EQ(load(), "0 %") << "a load over the time out of view would show the busy second";
}

// exec keeps the identifier but starts another program: a disabled one is killed on the pass
// that first sees it, whether its wrapper ran briefly or long enough to get a row.
class ExecTest : public MonitorTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ExecTest, DisabledProgramReachedThroughExecIsKilledWithinOnePass)
{
    WriteSettings(1);
    std::ofstream(m_dir / "BlackList.log", std::ios::binary) << "exec-victim|";
    const fs::path victim = SleepCopy("exec-victim");
    CProcessMonitor monitor(m_dir.string());
    monitor.ScanProcesses();
    pid_t pid = Spawn(ShellCopy("exec-wrapper"),
                      {"-c", std::string("sleep ") + GetParam() + "; exec '" + victim.string() + "' 30"});
    ASSERT_GT(pid, 0);

    int status = -1;
    for (int pass = 0; pass < 100 && status == -1; ++pass) {
        const bool execed = CommOf(pid) == "exec-victim";
        monitor.ScanProcesses();
        status = ReapWithin(pid, execed ? 2000 : 0);
        if (execed) {
            ASSERT_NE(status, -1) << "still alive after a pass that saw the exec";
        }
        std::this_thread::sleep_for(100ms);
    }
    std::erase(m_children, pid);
    EXPECT_TRUE(KilledBySigkill(status));

    monitor.ScanProcesses();
    auto rows = RowsOf(monitor, pid);
    const std::string log = ReadFile(m_dir / "Logs.log");
    EXPECT_EQ(log.find("exec-victim"), std::string::npos);
    if (std::string(GetParam()) != "0.05") {
        ASSERT_EQ(rows.size(), 1u) << "the wrapper lived long enough to be seen";
    }
    ASSERT_LE(rows.size(), 1u);
    for (int row : rows) {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        EXPECT_EQ(MonitorTestAccess::Table(monitor).CellText(row, ColName), "exec-wrapper");
        const std::string& finish = MonitorTestAccess::Table(monitor).CellText(row, ColFinish);
        EXPECT_EQ(finish.size(), 19u);
        // At least one: the shell's child that runs sleep bears the shell's name until its own
        // exec, and may be seen and end within the same second.
        EXPECT_GE(Count(log, "Finished process \texec-wrapper \t\t" + finish + "\r\n"), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(BriefAndLongWrapper, ExecTest, ::testing::Values("0.05", "1.5"),
                         [](const auto& test) { return test.index == 0 ? "Brief" : "Long"; });

TEST_F(MonitorTest, ExecStartsANewRowWhileARenameKeepsTheRow)
{
    WriteSettings(1);
    const fs::path target = SleepCopy("exec-target");
    CProcessMonitor monitor(m_dir.string());
    pid_t pid = Spawn(ShellCopy("exec-wrapper"), {"-c", "sleep 1.2; exec '" + target.string() + "' 1000"});
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t renamer = fork(); // renames itself once told, without exec
    if (renamer == 0) {
        char byte;
        if (read(go[0], &byte, 1) == 1)
            prctl(PR_SET_NAME, "renamed-child");
        for (;;)
            pause();
    }
    m_children.push_back(renamer);
    close(go[0]);
    monitor.ScanProcesses();
    ASSERT_EQ(RowsOf(monitor, pid).size(), 1u);
    ASSERT_EQ(RowsOf(monitor, renamer).size(), 1u);

    ASSERT_EQ(write(go[1], "x", 1), 1);
    close(go[1]);
    for (int i = 0; i < 500 && (CommOf(pid) != "exec-target" || CommOf(renamer) != "renamed-child"); ++i)
        std::this_thread::sleep_for(10ms);
    monitor.ScanProcesses();

    auto rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 2u);
    auto renamed = RowsOf(monitor, renamer);
    std::string finish, start;
    {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        ProcessTable& table = MonitorTestAccess::Table(monitor);
        EXPECT_EQ(table.CellText(rows[0], ColName), "exec-wrapper");
        finish = table.CellText(rows[0], ColFinish);
        EXPECT_EQ(finish.size(), 19u);
        EXPECT_EQ(table.CellText(rows[1], ColName), "exec-target");
        EXPECT_EQ(table.CellText(rows[1], ColFile), target.string());
        EXPECT_EQ(table.CellText(rows[1], ColFinish), "");
        EXPECT_EQ(table.FindLiveRow(pid), rows[1]);
        // The new program started when the change was seen, well after the wrapper.
        start = table.CellText(rows[1], ColStart);
        EXPECT_EQ(start, finish);
        EXPECT_NE(table.CellText(rows[0], ColStart), start);

        ASSERT_EQ(renamed.size(), 1u);
        EXPECT_EQ(table.CellText(renamed[0], ColFinish), "");
        EXPECT_EQ(table.CellText(renamed[0], ColName), fs::read_symlink("/proc/self/exe").filename());
    }
    const std::string log = ReadFile(m_dir / "Logs.log");
    const auto finished = log.find("Finished process \texec-wrapper \t\t" + finish + "\r\n");
    const auto started = log.find("Started process \t\texec-target \t\t" + start + "\r\n");
    ASSERT_NE(finished, std::string::npos);
    ASSERT_NE(started, std::string::npos);
    EXPECT_LT(finished, started);

    // Each row acts on its own program: the finished one on nothing.
    monitor.KillSelected(rows[0]);
    EXPECT_EQ(ReapWithin(pid, 300), -1);
    monitor.KillSelected(rows[1]);
    EXPECT_TRUE(KilledBySigkill(ReapWithin(pid, 5000)));
    std::erase(m_children, pid);
}

// The sweep's shares of the rows, at several paces of passes: how many shares a pass reads,
// and how long a row waits between two reads of its executable.
struct SweepCase {
    const char* label;
    std::chrono::milliseconds step; // from one pass to the next
    unsigned mostSharesPerPass;
    std::chrono::milliseconds longestWait;
};

std::ostream& operator<<(std::ostream& out, const SweepCase& c) { return out << c.label; }

class SweepTest : public ::testing::TestWithParam<SweepCase> {};

TEST_P(SweepTest, EveryRowIsReadWithinItsTimeAndAPassReadsAShare)
{
    const SweepCase& c = GetParam();
    ExecutableSweep sweep;
    const auto start = std::chrono::steady_clock::time_point(std::chrono::hours(1000));
    // Every row's executable was read when it was met, in the first pass.
    std::vector<std::chrono::steady_clock::time_point> lastRead(ExecutableSweep::kShares, start + c.step);
    for (std::uint64_t pass = 1; pass <= 60; ++pass) {
        const auto now = start + c.step * pass;
        sweep.BeginPass(pass, now);
        sweep.BeginPass(pass, now + 10 * c.step); // the same pass again: nothing changes
        unsigned shares = 0;
        for (int row = 0; row < static_cast<int>(ExecutableSweep::kShares); ++row) {
            EXPECT_EQ(sweep.Due(row), sweep.Due(row + 9 * 1000)) << "a row's share is its index modulo 9";
            if (!sweep.Due(row))
                continue;
            ++shares;
            EXPECT_LE(now - lastRead[static_cast<std::size_t>(row)], c.longestWait) << "pass " << pass << ", row " << row;
            lastRead[static_cast<std::size_t>(row)] = now;
        }
        EXPECT_GE(shares, 1u) << "pass " << pass;
        EXPECT_LE(shares, c.mostSharesPerPass) << "pass " << pass;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paces, SweepTest,
    ::testing::Values(SweepCase{"MonitorPace", 510ms, 2, 5010ms},
                      SweepCase{"FasterPasses", 100ms, 1, 900ms},
                      SweepCase{"SlowPasses", 2000ms, 5, 6000ms},
                      SweepCase{"LongPauses", 7000ms, 9, 7000ms}),
    [](const ::testing::TestParamInfo<SweepCase>& c) { return std::string(c.param.label); });

// exec that leaves the command name as it was: a shell that named itself like the program it
// then becomes, or two programs whose names share the first 15 bytes (all the kernel keeps).
// The executable, read for every row every few seconds, tells: a disabled program is killed.
struct SameNameExec {
    const char* label;
    bool renamedFirst; // the wrapper writes the program's name into its own comm first
};

std::ostream& operator<<(std::ostream& out, const SameNameExec& c) { return out << c.label; }

class SameNameExecTest : public MonitorTest, public ::testing::WithParamInterface<SameNameExec> {};

TEST_P(SameNameExecTest, DisabledProgramIsKilledOnceItsExecutableIsRead)
{
    const SameNameExec& c = GetParam();
    WriteSettings(1);
    const std::string stem = UniqueName("adv");
    const std::string wrapperName = c.renamedFirst ? stem + "-sh" : stem + "_longer_a";
    const std::string victimName = c.renamedFirst ? stem : stem + "_longer_b";
    std::ofstream(m_dir / "BlackList.log", std::ios::binary) << victimName << "|";
    const fs::path victim = SleepCopy(victimName);
    std::string script = "sleep 1.2; exec '" + victim.string() + "' 30";
    if (c.renamedFirst)
        script = "printf " + victimName + " > /proc/$$/comm; " + script;
    CProcessMonitor monitor(m_dir.string());
    monitor.ScanProcesses();
    const pid_t pid = Spawn(ShellCopy(wrapperName), {"-c", script});
    ASSERT_GT(pid, 0);
    monitor.ScanProcesses();
    auto rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 1u);
    // Before its exec, the wrapper bears the command name that the exec will give.
    const std::string comm = victimName.substr(0, 15);
    for (int i = 0; i < 100 && CommOf(pid) != comm; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(CommOf(pid), comm);
    ASSERT_NE(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"), victim) << "seen after its exec";

    // Passes at five times the monitor's pace, for ten seconds at most.
    int status = -1;
    for (int pass = 0; pass < 100 && status == -1; ++pass) {
        monitor.ScanProcesses();
        status = ReapWithin(pid, 0);
        std::this_thread::sleep_for(100ms);
    }
    if (status != -1)
        std::erase(m_children, pid);
    EXPECT_TRUE(KilledBySigkill(status)) << "still running under the wrapper's row";

    monitor.ScanProcesses();
    rows = RowsOf(monitor, pid);
    ASSERT_EQ(rows.size(), 1u);
    std::lock_guard lock(MonitorTestAccess::Lock(monitor));
    const ProcessTable& table = MonitorTestAccess::Table(monitor);
    EXPECT_EQ(table.CellText(rows[0], ColName), wrapperName);
    const std::string log = ReadFile(m_dir / "Logs.log");
    EXPECT_EQ(Count(log, "Finished process \t" + wrapperName + " \t\t" + table.CellText(rows[0], ColFinish)), 1u);
    EXPECT_EQ(Count(log, "\t" + victimName + " \t\t"), 0u); // no line names the program
}

INSTANTIATE_TEST_SUITE_P(
    NameKept, SameNameExecTest,
    ::testing::Values(SameNameExec{"RenamedFirst", true}, SameNameExec{"SharedFirst15Bytes", false}),
    [](const ::testing::TestParamInfo<SameNameExec>& c) { return std::string(c.param.label); });

// A program that renames its first thread and ends it while another runs on keeps the name of
// its executable, read through the live thread: disabled, it is killed, met at first sight or
// through exec.
class ExitedLeaderTest : public MonitorTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExitedLeaderTest, DisabledProgramIsKnownByItsExecutable)
{
    const bool throughExec = GetParam();
    WriteSettings(1);
    const std::string name = UniqueName("leader");
    std::ofstream(m_dir / "BlackList.log", std::ios::binary) << name << "|";
    const fs::path program = m_dir / name;
    fs::copy_file(ORVANE_EXITED_LEADER, program);
    fs::permissions(program, fs::perms::owner_all);
    CProcessMonitor monitor(m_dir.string());
    monitor.ScanProcesses();
    pid_t pid = -1;
    if (throughExec) {
        pid = Spawn(ShellCopy("leader-wrapper"), {"-c", "sleep 1.2; exec '" + program.string() + "' innocent"});
        ASSERT_GT(pid, 0);
        monitor.ScanProcesses();
        ASSERT_EQ(CommOf(pid), "leader-wrapper") << "the wrapper must be seen before its exec";
        ASSERT_EQ(RowsOf(monitor, pid).size(), 1u);
    } else {
        pid = Spawn(program, {"innocent"});
        ASSERT_GT(pid, 0);
    }
    ASSERT_TRUE(LeaderExited(pid, "innocent"));

    monitor.ScanProcesses();
    const int status = ReapWithin(pid, 5000);
    EXPECT_TRUE(KilledBySigkill(status)) << "not killed: known as " << CommOf(pid);
    if (status != -1)
        std::erase(m_children, pid);
    monitor.ScanProcesses();
    EXPECT_EQ(RowsOf(monitor, pid).size(), throughExec ? 1u : 0u); // the wrapper's, finished
    EXPECT_EQ(ReadFile(m_dir / "Logs.log").find("innocent"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(FirstSightAndExec, ExitedLeaderTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "ThroughExec" : "FirstSight"; });

// A kill whose privileged retry cannot drop CAP_KILL again (the capset calls failed on purpose
// through the fault-injection hook) is told once; while the capability is still raised, the
// monitor stops as on a close request.
struct PrivilegeCase {
    const char* label;
    platform::caps::CapsetFault fault; // call 1 raises, 2 drops, 3 gives up everything
    unsigned text;
    bool stops;
};

std::ostream& operator<<(std::ostream& out, const PrivilegeCase& c) { return out << c.label; }

class PrivilegeTest : public MonitorTest, public ::testing::WithParamInterface<PrivilegeCase> {};

TEST_P(PrivilegeTest, CapabilityNotDroppedIsToldAndStopsTheMonitorWhileRaised)
{
    const PrivilegeCase& c = GetParam();
    namespace caps = platform::caps;
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";
    const Result<caps::CapabilitySets> own = caps::GetCapabilities();
    ASSERT_TRUE(own);
    if (!(own->permitted & caps::Bit(CAP_KILL)))
        GTEST_SKIP() << "CAP_KILL is not in this process's permitted set";
    WriteSettings(1);
    ChildProcess target;
    ASSERT_TRUE(target.Start({"/bin/sleep", "1000"}, [] {
        return setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0;
    }));
    const pid_t pid = target.Pid();

    // Exit codes: 0 fine, 1 not told as expected, 2 the monitor thread stopped when it should
    // not or the reverse, 10+ set-up failures.
    const int helper = ChildProcess::RunInHelper([&] {
        caps::CapabilitySets sets = *own;
        sets.effective &= ~caps::Bit(CAP_KILL);
        if (!caps::SetCapabilities(sets))
            return 10;
        CProcessMonitor monitor(m_dir.string());
        std::mutex toldLock;
        std::vector<std::string> told;
        monitor.SetNoticeCallback([&](const std::string& text) {
            std::lock_guard lock(toldLock);
            told.push_back(text);
        });
        // Started, as the window starts it: the privileged retry is made from then on.
        monitor.Start([](TableChanges&&) {}, [] {});
        std::vector<int> rows;
        for (int i = 0; i < 500 && rows.empty(); ++i) {
            std::this_thread::sleep_for(10ms);
            rows = RowsOf(monitor, pid);
        }
        if (rows.size() != 1)
            return 11;
        caps::SetCapsetFaultForTesting(c.fault);
        monitor.KillSelected(rows[0]);
        caps::SetCapsetFaultForTesting(nullptr);
        monitor.KillSelected(rows[0]); // told once
        for (int i = 0; i < 500 && c.stops && !monitor.ThreadEnded(); ++i)
            std::this_thread::sleep_for(10ms);
        if (monitor.ThreadEnded() != c.stops)
            return 2;
        // Other notices may come (a shortage of descriptors met earlier in this test program).
        std::lock_guard lock(toldLock);
        const auto privilege = std::count_if(told.begin(), told.end(), [](const std::string& text) {
            return text.starts_with("CAP_KILL");
        });
        return privilege == 1 && std::count(told.begin(), told.end(), LoadString(c.text)) == 1 ? 0 : 1;
    });
    EXPECT_EQ(helper, 0);
    EXPECT_TRUE(target.WaitEnded(5000)) << "the privileged attempt itself went through";
}

INSTANTIATE_TEST_SUITE_P(
    CapKill, PrivilegeTest,
    ::testing::Values(PrivilegeCase{"GivenUp", [](unsigned call) { return call == 2 ? EPERM : 0; },
                                    IDS_MSG_PRIVILEGE_GIVEN_UP, false},
                      PrivilegeCase{"StillRaised", [](unsigned call) { return call >= 2 ? EPERM : 0; },
                                    IDS_MSG_PRIVILEGE_KEPT, true}),
    [](const ::testing::TestParamInfo<PrivilegeCase>& c) { return std::string(c.param.label); });

// The ordinary account of the test runs (tests/run-as-user.sh makes it the same way).
std::optional<std::pair<uid_t, gid_t>> TestAccount()
{
    constexpr const char* kAccount = "orvane-test";
    if (!getpwnam(kAccount))
        (void)!std::system("useradd --system --user-group --no-create-home --home-dir /nonexistent"
                           " --shell /usr/sbin/nologin orvane-test");
    const passwd* account = getpwnam(kAccount);
    if (!account)
        return std::nullopt;
    return std::make_pair(account->pw_uid, account->pw_gid);
}

// A /proc that hides other users' processes is told once at the first pass, to whom it hides
// them. Each case runs in a private mount namespace with a proc of its own over /proc.
struct HiddenCase {
    const char* label;
    const char* options; // of the proc mounted over /proc; "gid" stands for the account's group
    bool asUser;         // the ordinary account, else root
    bool told;
};

std::ostream& operator<<(std::ostream& out, const HiddenCase& c) { return out << c.label; }

class HiddenProcessesTest : public MonitorTest, public ::testing::WithParamInterface<HiddenCase> {};

TEST_P(HiddenProcessesTest, AreToldOnceToWhomTheyAreHidden)
{
    const HiddenCase& c = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a proc of its own in a private mount namespace";
    const auto account = TestAccount();
    ASSERT_TRUE(account) << "no account orvane-test, and useradd could not make it";
    const auto [uid, gid] = *account;
    ASSERT_EQ(chown(m_dir.c_str(), uid, gid), 0);
    std::string options = c.options;
    if (auto at = options.find("gid"); at != std::string::npos && options.find("gid=") == std::string::npos)
        options.replace(at, 3, "gid=" + std::to_string(gid));

    // Exit codes: 0 fine, 1 told when it should not be or the reverse, 2 told twice, 3 the
    // list does not hold what /proc shows, 10+ set-up failures.
    const int helper = ChildProcess::RunInHelper([&, uid = uid, gid = gid] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return 10;
        if (mount("proc", "/proc", "proc", 0, options.c_str()) != 0)
            return 11;
        if (c.asUser && (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0))
            return 12;
        CProcessMonitor monitor(m_dir.string());
        std::vector<std::string> told;
        monitor.SetNoticeCallback([&](const std::string& text) { told.push_back(text); });
        monitor.ScanProcesses();
        monitor.ScanProcesses();
        const auto hidden = std::count(told.begin(), told.end(), LoadString(IDS_MSG_PROCESSES_HIDDEN));
        if (hidden > 1)
            return 2;
        if ((hidden == 1) != c.told)
            return 1;
        // pid 1 is root's: listed only where /proc shows it
        const bool initListed = !RowsOf(monitor, 1).empty();
        return initListed == (access("/proc/1/stat", F_OK) == 0) ? 0 : 3;
    });
    EXPECT_EQ(helper, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Hidepid, HiddenProcessesTest,
    ::testing::Values(HiddenCase{"InvisibleToAUser", "hidepid=2", true, true},
                      HiddenCase{"NamedOptionToAUser", "hidepid=invisible", true, true},
                      HiddenCase{"NoAccessToAUser", "hidepid=1", true, true},
                      HiddenCase{"RootSeesEverything", "hidepid=2", false, false},
                      HiddenCase{"PlainProcToAUser", "", true, false},
                      HiddenCase{"UserInTheExemptGroup", "hidepid=2,gid", true, false}),
    [](const ::testing::TestParamInfo<HiddenCase>& c) { return std::string(c.param.label); });

// Short of descriptors (a hard limit of 256 in the user run of ./test.sh; lowered here to that
// otherwise), no process is dropped: each gets its row, its lines and, if disabled, its kill.
TEST_F(MonitorTest, ShortOfDescriptorsEveryProcessIsStillWatched)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    struct Restore {
        rlimit limit;
        ~Restore() { setrlimit(RLIMIT_NOFILE, &limit); }
    } restore{saved};

    WriteSettings(1);
    // Names of this run's own: other runs on the machine count and kill theirs.
    const std::string name = UniqueName("short"), victimName = UniqueName("victim");
    std::ofstream(m_dir / "BlackList.log", std::ios::binary) << victimName << '|';
    const fs::path sleeper = SleepCopy(name);
    std::vector<pid_t> sleepers;
    pid_t victim = -1;
    for (int i = 0; i < 600; ++i) {
        if (i == 300)
            victim = Spawn(SleepCopy(victimName));
        sleepers.push_back(Spawn(sleeper));
        ASSERT_GT(sleepers.back(), 0);
    }
    CProcessMonitor monitor(m_dir.string());
    std::string notice;
    monitor.SetNoticeCallback([&](const std::string& text) { notice = text; });
    monitor.ScanProcesses();

    EXPECT_TRUE(KilledBySigkill(ReapWithin(victim, 5000)));
    std::erase(m_children, victim);
    EXPECT_NE(notice.find("(limit " + std::to_string(lowered.rlim_cur) + ")"), std::string::npos) << notice;
    std::vector<int> rows;
    {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        std::vector<std::uint32_t> seen;
        for (int row = 0; row < MonitorTestAccess::Table(monitor).GetRowCount(); ++row) {
            if (MonitorTestAccess::Table(monitor).CellText(row, ColName) == name)
                seen.push_back(MonitorTestAccess::Table(monitor).Pid(row));
        }
        std::size_t missing = 0;
        for (pid_t pid : sleepers)
            missing += std::find(seen.begin(), seen.end(), static_cast<std::uint32_t>(pid)) == seen.end();
        EXPECT_EQ(missing, 0u) << "processes without a row, of 600";
    }
    EXPECT_EQ(Count(ReadFile(m_dir / "Logs.log"), "Started process \t\t" + name + " \t\t"), 600u);

    // The last rows keep no descriptor: Kill opens one for the moment.
    rows = RowsOf(monitor, sleepers.back());
    ASSERT_EQ(rows.size(), 1u);
    monitor.KillSelected(rows[0]);
    EXPECT_TRUE(KilledBySigkill(ReapWithin(sleepers.back(), 5000)));
    std::erase(m_children, sleepers.back());
    for (pid_t pid : m_children)
        kill(pid, SIGKILL);
    for (pid_t pid : m_children)
        waitpid(pid, nullptr, 0);
    m_children.clear();
    monitor.ScanProcesses();
    EXPECT_EQ(Count(ReadFile(m_dir / "Logs.log"), "Finished process \t" + name + " \t\t"), 600u);
}

} // namespace

namespace {

// Runs a shell command under timeout(1); whether it ended with status 0.
bool Shell(const std::string& command, int seconds = 30)
{
    return std::system(("timeout " + std::to_string(seconds) + " sh -c '" + command + "'").c_str()) == 0;
}

// A small ext4 image on a loop device, frozen (fsfreeze -f) as a snapshot tool would. A
// watchdog in its own session thaws it after a minute whatever becomes of the test; the
// destructor thaws and unmounts it.
class FreezableDisk {
public:
    explicit FreezableDisk(const fs::path& dir) : m_mnt(dir / "mnt") {}
    bool Mount(const fs::path& image)
    {
        fs::create_directories(m_mnt);
        m_bMounted = geteuid() == 0 && Shell("truncate -s 16M " + image.string() + " && mkfs.ext4 -q -F " +
                                             image.string() + " && mount -o loop " + image.string() + " " + m_mnt.string());
        return m_bMounted;
    }
    bool Freeze()
    {
        m_bFrozen = Shell("setsid sh -c \"sleep 60; fsfreeze -u " + m_mnt.string() + "\" >/dev/null 2>&1 & "
                          "fsfreeze -f " + m_mnt.string(), 10);
        return m_bFrozen;
    }
    bool Thaw() { return !(m_bFrozen = m_bFrozen && !Shell("fsfreeze -u " + m_mnt.string(), 10)); }
    ~FreezableDisk()
    {
        Thaw();
        if (m_bMounted && !Shell("umount " + m_mnt.string()))
            Shell("umount -l " + m_mnt.string());
    }
    const fs::path& Mounted() const { return m_mnt; }

private:
    fs::path m_mnt;
    bool m_bMounted = false;
    bool m_bFrozen = false;
};

} // namespace

// The log's filesystem frozen while programs come and go: the passes go on (a program that
// starts and ends during the freeze is seen), the window's reads of the settings answer at
// once, and after the thaw every entry reaches the file in order.
TEST_F(MonitorTest, FrozenLogDiskStopsNeitherThePassesNorTheWindow)
{
    FreezableDisk disk(m_dir);
    if (!disk.Mount(m_dir / "disk.img"))
        GTEST_SKIP() << "needs root and a loop device to mount a filesystem image and freeze it";
    const fs::path mnt = disk.Mounted();
    {
        SettingsRecord settings;
        settings.eventLogOn = 1;
        CDataFile file;
        file.m_path = (mnt / "Settings.dat").string();
        ASSERT_TRUE(SaveSettings(settings, file));
    }
    const fs::path first = SleepCopy("frozen-first"); // beside the image, not on it
    const fs::path brief = SleepCopy("frozen-brief");

    std::atomic<int> batches{0};
    CProcessMonitor monitor(mnt.string());
    monitor.Start([&](TableChanges&&) { ++batches; }, [] {});
    for (int i = 0; i < 1000 && batches == 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_GT(batches, 0) << "no pass within 10 s";
    if (!disk.Freeze())
        GTEST_SKIP() << "fsfreeze is not supported here";

    const pid_t held = Spawn(first); // its Started line meets the frozen disk
    std::this_thread::sleep_for(1200ms);
    auto asked = std::async(std::launch::async, [&] { return monitor.GetSettings().eventLogOn; });
    EXPECT_EQ(asked.wait_for(2s), std::future_status::ready) << "GetSettings waits for the disk";
    const pid_t pid = Spawn(brief, {"0.6"});
    waitpid(pid, nullptr, 0);
    std::erase(m_children, pid);
    std::this_thread::sleep_for(1200ms);
    ASSERT_TRUE(disk.Thaw());
    EXPECT_EQ(asked.get(), 1);

    std::string log;
    for (int i = 0; i < 1000 && log.find("Finished process \tfrozen-brief") == std::string::npos; ++i) {
        std::this_thread::sleep_for(10ms);
        log = ReadFile(mnt / "Logs.log");
    }
    const auto heldStarted = log.find("Started process \t\tfrozen-first \t\t");
    const auto started = log.find("Started process \t\tfrozen-brief \t\t");
    const auto finished = log.find("Finished process \tfrozen-brief \t\t");
    EXPECT_NE(heldStarted, std::string::npos);
    ASSERT_NE(started, std::string::npos) << log;
    ASSERT_NE(finished, std::string::npos) << log;
    EXPECT_LT(heldStarted, started);
    EXPECT_LT(started, finished);
    KillAndReap(held);
}

// Without the service, a disabled program started from a watched folder (one on PATH, or one
// a row's program was run from) ends the pause: it is killed long before the next pass would
// come, and the programs run there that are not disabled start no pass.
class ExecTriggerTest : public MonitorTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ExecTriggerTest, DisabledProgramIsKilledWithoutWaitingForTheNextPass)
{
    const bool onPath = GetParam();
    const fs::path bin = m_dir / "bin";
    fs::create_directory(bin);
    const std::string victimName = UniqueName("trig-");
    std::ofstream(m_dir / "BlackList.log", std::ios::binary) << victimName << "|";
    const fs::path victim = bin / victimName, other = bin / UniqueName("other-");
    fs::rename(SleepCopy(victimName), victim);
    fs::rename(SleepCopy("other"), other);
    const std::string path = std::getenv("PATH");
    if (onPath)
        setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    else
        ASSERT_GT(Spawn(other), 0); // its row names the folder
    setenv("ORVANE_SOCKET", (m_dir / "absent.sock").c_str(), 1);
    {
        CProcessMonitor monitor(m_dir.string());
        MonitorTestAccess::SetPause(monitor, 60s);
        std::atomic<bool> passed{false};
        monitor.Start([&](TableChanges&&) { passed = true; }, [] {});
        for (int i = 0; i < 1000 && !passed; ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(300ms); // the pause has begun
        const std::uint64_t passes = monitor.PassesMade();
        ASSERT_EQ(passes, 1u);

        for (int i = 0; i < 20; ++i) {
            const pid_t pid = Spawn(other, {"0"});
            ASSERT_EQ(ReapWithin(pid, 5000), 0);
            std::erase(m_children, pid);
        }
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(monitor.PassesMade(), passes) << "a program not on the list started a pass";

        const pid_t pid = Spawn(victim);
        const int status = ReapWithin(pid, 10000);
        if (status != -1)
            std::erase(m_children, pid);
        EXPECT_TRUE(KilledBySigkill(status)) << "not killed within 10 s of a 60 s pause";
    }
    unsetenv("ORVANE_SOCKET");
    setenv("PATH", path.c_str(), 1);
}

INSTANTIATE_TEST_SUITE_P(WatchedFolder, ExecTriggerTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "OnPath" : "OfARow"; });
