// What the watch of the folders of PATH and of the listed programs costs while the monitor
// polls: its thread with a disabled list that names a program nobody runs (the folders are
// watched) against an empty list (nothing is watched), on a quiet machine and under a stream
// of unrelated execs of /bin/true. Figures: passes, the CPU of this process (the monitor's
// thread) and of the stream (the exec'ing processes, where the kernel queues the events).
// Then how long a disabled program lives, started from a watched folder (on PATH) and from
// one that is not: the median and the worst of a series.
//
//   bench_exec_trigger [seconds per run, default 5] [execs per second, default 200] [rounds, default 3]

#include "monitor/CProcessMonitor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Cost {
    double passes = 0;
    double monitorCpu = 0; // seconds
    double streamCpu = 0;  // seconds
    double execs = 0;
    double wall = 0; // seconds
};

double CpuSeconds(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The run time of this process's threads, from the scheduler's own count (nanoseconds):
// the tick-sampled times would miss or overcount a thread that wakes briefly and often.
double SelfCpu()
{
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "schedstat");
        double ns = 0;
        if (in >> ns)
            total += ns / 1e9;
    }
    return total;
}

// A child that runs /bin/true `rate` times a second for `seconds`, one after the other;
// returns its pid. It writes how many it ran to `report`.
pid_t StartStream(int rate, int seconds, int report)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long step = 1'000'000'000L / rate;
    long count = 0;
    char arg0[] = "true";
    char* argv[] = {arg0, nullptr};
    for (long i = 0; i < static_cast<long>(rate) * seconds; ++i) {
        pid_t child;
        if (posix_spawn(&child, "/bin/true", nullptr, nullptr, argv, environ) == 0) {
            waitpid(child, nullptr, 0);
            ++count;
        }
        next.tv_nsec += step;
        if (next.tv_nsec >= 1'000'000'000L) {
            next.tv_nsec -= 1'000'000'000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    (void)!write(report, &count, sizeof count);
    _exit(0);
}

Cost Measure(const std::filesystem::path& dir, bool watched, int rate, int seconds)
{
    std::ofstream(dir / "BlackList.log", std::ios::binary | std::ios::trunc)
        << (watched ? "bench-absent-program|" : "");
    Cost cost;
    CProcessMonitor monitor(dir.string());
    monitor.Start([](TableChanges&&) {}, [] {});
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the first pass lists everything
    const double cpu = SelfCpu();
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t passes = monitor.PassesMade();
    if (rate > 0) {
        int report[2];
        if (pipe(report) != 0)
            return cost;
        const pid_t stream = StartStream(rate, seconds, report[1]);
        close(report[1]);
        long count = 0;
        (void)!read(report[0], &count, sizeof count);
        close(report[0]);
        int status;
        rusage usage{};
        wait4(stream, &status, 0, &usage);
        cost.streamCpu = CpuSeconds(usage);
        cost.execs = static_cast<double>(count);
    } else {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
    }
    cost.monitorCpu = SelfCpu() - cpu;
    cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.passes = static_cast<double>(monitor.PassesMade() - passes);
    return cost;
}

// The lives (ms) of `runs` starts of `program`, which the monitor kills, sorted.
std::vector<double> Lives(const std::filesystem::path& program, int runs)
{
    std::vector<double> lives;
    std::string arg0 = program.filename().string(), arg1 = "30";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    for (int i = 0; i < runs; ++i) {
        // Started at no fixed phase of the passes.
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + 37 * i % 300));
        const auto start = std::chrono::steady_clock::now();
        pid_t pid;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
            continue;
        waitpid(pid, nullptr, 0);
        lives.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(lives.begin(), lives.end());
    return lives;
}

void Add(Cost& sum, const Cost& one)
{
    sum.passes += one.passes;
    sum.monitorCpu += one.monitorCpu;
    sum.streamCpu += one.streamCpu;
    sum.execs += one.execs;
    sum.wall += one.wall;
}

double Ratio(double a, double b)
{
    return b > 0 ? a / b : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int rate = argc > 2 ? std::atoi(argv[2]) : 200;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    if (seconds <= 0 || rate <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: bench_exec_trigger [seconds] [execs per second] [rounds]\n");
        return 2;
    }
    char pattern[] = "/tmp/orvane-bench-trigger-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::filesystem::path dir = pattern;
    // Polling, whatever service this machine runs.
    setenv("ORVANE_SOCKET", (dir / "absent.sock").c_str(), 1);

    // Alternated, so that what the machine does meanwhile falls on both alike.
    Cost costs[2][2]; // [stream][watched]
    for (int round = 0; round < rounds; ++round) {
        for (int stream = 0; stream < 2; ++stream) {
            for (int watched = 0; watched < 2; ++watched)
                Add(costs[stream][watched], Measure(dir, watched != 0, stream ? rate : 0, seconds));
        }
    }

    // PATH is read as the monitor is made.
    const std::filesystem::path onPath = dir / "on-path", unwatched = dir / "elsewhere";
    std::filesystem::create_directories(onPath);
    std::filesystem::create_directories(unwatched);
    const std::string name = "bench-victim-" + std::to_string(getpid());
    for (const auto& folder : {onPath, unwatched}) {
        std::filesystem::copy_file("/bin/sleep", folder / name);
        std::filesystem::permissions(folder / name, std::filesystem::perms::owner_all);
    }
    std::ofstream(dir / "BlackList.log", std::ios::binary | std::ios::trunc) << name << "|";
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (onPath.string() + ":" + path).c_str(), 1);
    std::vector<double> lives[2];
    {
        CProcessMonitor monitor(dir.string());
        monitor.Start([](TableChanges&&) {}, [] {});
        std::this_thread::sleep_for(std::chrono::seconds(1));
        lives[0] = Lives(onPath / name, 20);
        lives[1] = Lives(unwatched / name, 20);
    }
    setenv("PATH", path.c_str(), 1);
    std::filesystem::remove_all(dir);

    std::printf("%d rounds of %d s; the stream: /bin/true %d times a second\n", rounds, seconds, rate);
    std::printf("%-8s %-9s %8s %8s %16s %16s\n", "machine", "folders", "passes/s", "execs/s",
                "monitor CPU ms/s", "stream CPU ms/s");
    for (int stream = 0; stream < 2; ++stream) {
        for (int watched = 0; watched < 2; ++watched) {
            const Cost& cost = costs[stream][watched];
            std::printf("%-8s %-9s %8.3f %8.1f %16.3f %16.3f\n", stream ? "stream" : "quiet",
                        watched ? "watched" : "not", cost.passes / cost.wall, cost.execs / cost.wall,
                        1000 * cost.monitorCpu / cost.wall, 1000 * cost.streamCpu / cost.wall);
        }
    }
    for (int stream = 0; stream < 2; ++stream) {
        const Cost& with = costs[stream][1];
        const Cost& without = costs[stream][0];
        std::printf("%s: watched / not, per second: passes %.3f x, monitor CPU %.3f x",
                    stream ? "stream" : "quiet", Ratio(with.passes / with.wall, without.passes / without.wall),
                    Ratio(with.monitorCpu / with.wall, without.monitorCpu / without.wall));
        if (stream)
            std::printf(", stream CPU per exec %.3f x",
                        Ratio(with.streamCpu / with.execs, without.streamCpu / without.execs));
        std::printf("\n");
    }
    for (int i = 0; i < 2; ++i) {
        if (lives[i].empty())
            continue;
        std::printf("a disabled program started %s: lives %.1f ms (median), %.1f ms (worst) of %zu\n",
                    i == 0 ? "from a watched folder" : "elsewhere", lives[i][lives[i].size() / 2],
                    lives[i].back(), lives[i].size());
    }
    if (!lives[0].empty() && !lives[1].empty())
        std::printf("watched / elsewhere: median life %.3f x\n",
                    lives[0][lives[0].size() / 2] / lives[1][lives[1].size() / 2]);
    return 0;
}
