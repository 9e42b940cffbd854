// Cost of one monitor pass against the floor of reading every process's stat file once, of
// meeting every process for the first time (a handle opened, its name and path read), and
// what ended rows cost: time per pass with 100,000 of them, heap per row. The passes run as
// with the window shown, scrolled to the last rows.
//
//   bench_monitor [extra sleep children, default 1000]

#include "../../tests/monitor/MonitorTestAccess.h"
#include "monitor/CProcessMonitor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The naive sweep: open, read and close /proc/<pid>/stat for every process.
void NaiveSweep()
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return;
    char path[sizeof(dirent::d_name) + 16];
    char buffer[1024];
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        [[maybe_unused]] ssize_t n = read(fd, buffer, sizeof buffer);
        close(fd);
    }
    closedir(proc);
}

// One read of every process's executable link: by path, relative to a kept descriptor of its
// /proc directory, or of the kept link itself (what the handles keep); and, for scale, the read
// of the kept command name that the monitor makes for every process every pass.
void ReadExeLinks(const std::vector<pid_t>& pids)
{
    char path[32];
    char target[4096];
    for (pid_t pid : pids) {
        std::snprintf(path, sizeof path, "/proc/%d/exe", pid);
        [[maybe_unused]] ssize_t n = readlink(path, target, sizeof target);
    }
}

void ReadExeLinksAt(const std::vector<int>& fds, const char* name)
{
    char target[4096];
    for (int fd : fds) {
        [[maybe_unused]] ssize_t n = readlinkat(fd, name, target, sizeof target);
    }
}

void ReadCommandNames(const std::vector<int>& fds)
{
    char name[64];
    for (int fd : fds) {
        [[maybe_unused]] ssize_t n = pread(fd, name, sizeof name, 0);
    }
}

// First sight of every process, as a pass meets a new one: its handle opened (its /proc files
// checked to name one process) and its name and path read; the handles are closed again.
void MeetAll(const std::vector<std::uint32_t>& pids)
{
    std::string name, path;
    for (std::uint32_t pid : pids) {
        std::unique_ptr<platform::ProcessHandle> handle = platform::ProcessHandle::Open(pid);
        if (handle)
            CProcessMonitor::ReadNameAndPath(handle.get(), name, path);
    }
}

template <typename F> double Median(int rounds, F&& f)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        f();
        times.push_back(Seconds(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int children = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::vector<pid_t> pids;
    for (int i = 0; i < children; ++i) {
        char name[] = "sleep";
        char seconds[] = "600";
        char* args[] = {name, seconds, nullptr};
        pid_t pid;
        if (posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, args, environ) == 0)
            pids.push_back(pid);
    }
    (void)platform::RaiseFileLimit(); // below the hard limit, fewer handles keep descriptors

    char pattern[] = "/tmp/orvane-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    {
        CProcessMonitor monitor(pattern);
        auto showLastRows = [&] {
            const int count = monitor.Rows().Count();
            monitor.SetVisibleRows(std::max(0, count - 40), count + 1);
        };
        monitor.ScanProcesses();
        showLastRows();
        for (int i = 0; i < 3; ++i)
            monitor.ScanProcesses(); // rows for everything, first samples taken, texts settled

        constexpr int kRounds = 15;
        double floor = Median(kRounds, NaiveSweep);
        double pass = Median(kRounds, [&] { monitor.ScanProcesses(); });
        const int rows = monitor.Rows().Count();
        std::vector<std::uint32_t> listed;
        const double enumerate =
            Median(kRounds, [&] { listed = platform::EnumProcesses().value_or({}); });
        const double meet = Median(kRounds, [&] { MeetAll(listed); });
        monitor.SetVisibleRows(0, -1);
        const double hidden = Median(kRounds, [&] { monitor.ScanProcesses(); });
        showLastRows();
        // The median of many passes: the machine may be busy with other work meanwhile.
        auto cpuPerPass = [&] {
            std::vector<double> passes;
            for (int i = 0; i < 7 * kRounds; ++i) {
                timespec a{}, b{};
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
                monitor.ScanProcesses();
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
                passes.push_back((b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9);
            }
            std::sort(passes.begin(), passes.end());
            return passes[passes.size() / 2];
        };
        const double shownCpu = cpuPerPass();
        monitor.SetVisibleRows(0, -1);
        const double hiddenCpu = cpuPerPass();
        showLastRows();
        std::printf("enumerate_ms=%.3f pass_hidden_ms=%.3f pass_cpu_shown_ms=%.3f pass_cpu_hidden_ms=%.3f\n",
                    enumerate * 1e3, hidden * 1e3, shownCpu * 1e3, hiddenCpu * 1e3);
        std::printf("processes=%d floor_ms=%.3f pass_ms=%.3f first_sight_ms=%.3f\n", rows, floor * 1e3,
                    pass * 1e3, meet * 1e3);

        // 100,000 rows of processes that have ended, as a long run leaves them.
        constexpr int kEnded = 100000;
        std::size_t heapBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
        {
            std::lock_guard lock(MonitorTestAccess::Lock(monitor));
            ProcessTable& table = MonitorTestAccess::Table(monitor);
            platform::FileTime now = platform::GetSystemTimeAsFileTime();
            for (int i = 0; i < kEnded; ++i) {
                const int row = table.AppendRow(4000000 + static_cast<std::uint32_t>(i),
                                                now - 600'0000000ULL, 0, "bash", "/usr/bin/bash");
                table.ShowStart(row);
                table.EndRow(row, now - 10'0000000ULL);
            }
            table.TakeChanges();
        }
        std::size_t heapAfter = mallinfo2().uordblks + mallinfo2().hblkhd;
        showLastRows();
        monitor.ScanProcesses();
        double passWithEnded = Median(kRounds, [&] { monitor.ScanProcesses(); });

        std::vector<int> dirs, links, comms;
        for (pid_t pid : pids) {
            char path[32];
            std::snprintf(path, sizeof path, "/proc/%d", pid);
            dirs.push_back(open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
            std::snprintf(path, sizeof path, "/proc/%d/exe", pid);
            links.push_back(open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC));
            std::snprintf(path, sizeof path, "/proc/%d/comm", pid);
            comms.push_back(open(path, O_RDONLY | O_CLOEXEC));
        }
        const double byPath = Median(kRounds, [&] { ReadExeLinks(pids); });
        const double byDir = Median(kRounds, [&] { ReadExeLinksAt(dirs, "exe"); });
        const double byLink = Median(kRounds, [&] { ReadExeLinksAt(links, ""); });
        const double comm = Median(kRounds, [&] { ReadCommandNames(comms); });
        for (const auto* fds : {&dirs, &links, &comms})
            for (int fd : *fds)
                close(fd);
        const double perChild = pids.empty() ? 0 : 1e6 / static_cast<double>(pids.size());
        std::printf("exe_link_by_path_us=%.3f exe_link_at_kept_dir_us=%.3f exe_link_kept_us=%.3f comm_kept_us=%.3f\n",
                    byPath * perChild, byDir * perChild, byLink * perChild, comm * perChild);
        std::printf("exe_link_kept_vs_by_path=%.3f exe_link_kept_vs_comm=%.3f exe_link_by_path_vs_comm=%.3f\n",
                    byLink / byPath, byLink / comm, byPath / comm);

        std::printf("pass_with_100k_ended_ms=%.3f\n", passWithEnded * 1e3);
        std::printf("pass_vs_floor=%.3f\n", pass / floor);
        std::printf("first_sight_vs_floor=%.3f\n", meet / floor);
        std::printf("rows100k_vs_rows0=%.3f\n", passWithEnded / pass);
        std::printf("bytes_per_ended_row=%zu\n", (heapAfter - heapBefore) / kEnded);
    }
    for (pid_t pid : pids) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::filesystem::remove_all(pattern);
    std::printf("monitor_bench_ok\n");
    return 0;
}
