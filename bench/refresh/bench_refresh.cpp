// Reading the times of every process of this machine through handles that stay open
// (ProcessHandle::GetTimes: one pread of a stat descriptor per process) against the floor of
// a naive sweep that opens, reads, parses and closes /proc/<pid>/stat for every process.
//
//   bench_refresh [extra]   extra: sleep children started for the run (default 500)
//
// Last line: refresh_vs_floor=<handles time / sweep time>.

#include "platform/ProcessServices.h"
#include "platform/ProcStat.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRounds = 21;
constexpr int kSweepsPerRound = 5;

std::vector<std::uint32_t> AllProcesses()
{
    std::vector<std::uint32_t> pids;
    DIR* dir = opendir("/proc");
    if (!dir)
        return pids;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (pid > 0 && *end == '\0')
            pids.push_back(static_cast<std::uint32_t>(pid));
    }
    closedir(dir);
    return pids;
}

std::uint64_t NaiveSweep(const std::vector<std::uint32_t>& pids)
{
    std::uint64_t sum = 0;
    char path[32];
    char buffer[1024];
    for (std::uint32_t pid : pids) {
        std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ssize_t n = read(fd, buffer, sizeof buffer);
        close(fd);
        if (n <= 0)
            continue;
        if (auto stat = platform::procfs::ParseProcStat(std::string_view(buffer, static_cast<std::size_t>(n))))
            sum += stat->utime + stat->stime;
    }
    return sum;
}

std::uint64_t HandleSweep(const std::vector<std::unique_ptr<platform::ProcessHandle>>& handles)
{
    std::uint64_t sum = 0;
    for (const auto& handle : handles)
        if (const Result<platform::ProcessTimes> times = handle->GetTimes())
            sum += times->user + times->kernel;
    return sum;
}

template <typename Sweep>
double TimeSweeps(Sweep&& sweep, std::uint64_t& sink)
{
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSweepsPerRound; ++i)
        sink += sweep();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / kSweepsPerRound;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int extra = argc > 1 ? std::atoi(argv[1]) : 500;
    (void)platform::RaiseFileLimit(); // below the hard limit, fewer handles keep descriptors

    std::vector<pid_t> children;
    for (int i = 0; i < extra; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sleep", "sleep", "100000", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid > 0)
            children.push_back(pid);
    }
    usleep(200 * 1000); // let the children reach their exec

    // Open a handle on every process; kernel threads are folded into kthreadd's handle, so
    // both sweeps read the same stat files.
    const std::vector<std::uint32_t> pids = platform::EnumProcesses().value_or({});
    std::vector<std::unique_ptr<platform::ProcessHandle>> handles;
    for (std::uint32_t pid : pids)
        if (auto handle = platform::ProcessHandle::Open(pid))
            handles.push_back(std::move(handle));
    const std::vector<std::uint32_t> all = AllProcesses();

    std::uint64_t sink = 0;
    std::vector<double> naive, refresh;
    for (int round = 0; round < kRounds; ++round) {
        naive.push_back(TimeSweeps([&] { return NaiveSweep(all); }, sink));
        refresh.push_back(TimeSweeps([&] { return HandleSweep(handles); }, sink));
    }
    const double floor = Median(naive);
    const double withHandles = Median(refresh);

    for (pid_t pid : children) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    std::printf("processes=%zu handles=%zu extra_children=%d rounds=%d checksum=%llu\n", all.size(),
                handles.size(), extra, kRounds, static_cast<unsigned long long>(sink % 1000));
    std::printf("naive_sweep_ms=%.3f handle_refresh_ms=%.3f\n", floor * 1e3, withHandles * 1e3);
    std::printf("refresh_vs_floor=%.3f\n", withHandles / floor);
    return 0;
}
