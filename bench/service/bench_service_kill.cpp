// How fast the system-wide list stops a program: an ordinary user starts a listed program 100
// times; for each run the time from its execve() to its death, and whether its main() ran
// first. Baseline in the same run: the time from execve() to main() of an unlisted copy.
// Needs root (it starts orvaned). Prints figures for each source that loads.
//
//   bench_service_kill [runs]

#include "BenchService.h"

#include <algorithm>
#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double ms = 0;     // execve to death (or to main() for the baseline)
    bool main = false; // main() ran
    bool ended = false;
};

// One run of `program` as `uid`: the child notes the time just before execve.
Run RunOnce(const std::string& program, uid_t uid, gid_t gid, bool untilMain)
{
    auto* start = static_cast<Clock::time_point*>(
        mmap(nullptr, sizeof(Clock::time_point), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    int marker[2];
    (void)!pipe2(marker, O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(gid) != 0 || setuid(uid) != 0)
            _exit(126);
        dup2(marker[1], 3); // dup2 clears close-on-exec
        *start = Clock::now();
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(marker[1]);
    Run run;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd waits[2] = {{pidfd, POLLIN, 0}, {marker[0], POLLIN, 0}};
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < deadline) {
        if (poll(waits, 2, 100) <= 0)
            continue;
        const auto now = Clock::now();
        if (waits[1].revents & POLLIN) {
            run.main = true;
            if (untilMain) {
                run.ms = std::chrono::duration<double, std::milli>(now - *start).count();
                break;
            }
            waits[1].fd = -1;
        }
        if (waits[0].revents & POLLIN) {
            run.ms = std::chrono::duration<double, std::milli>(now - *start).count();
            run.ended = true;
            break;
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    char byte;
    if (read(marker[0], &byte, 1) == 1)
        run.main = true;
    close(marker[0]);
    close(pidfd);
    munmap(start, sizeof(Clock::time_point));
    return run;
}

double Percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char** argv)
{
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_service_kill: needs root (it starts orvaned)\n");
        return 1;
    }
    const int runs = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::string folder = bench::MakeTempFolder();
    gid_t gid = 0;
    const uid_t uid = bench::WorkloadUser(gid);
    const std::string name = "orvane-bench-" + std::to_string(getpid());
    const std::string listed = folder + "/" + name;
    const std::string unlisted = folder + "/orvane-free-" + std::to_string(getpid());
    for (const std::string& copy : {listed, unlisted})
        std::system(("cp '" + bench::BesideSelf("orvane_bench_marker") + "' '" + copy + "'").c_str());
    const std::string list = folder + "/BlackList.log";
    {
        FILE* file = std::fopen(list.c_str(), "w");
        std::fprintf(file, "%s|", name.c_str());
        std::fclose(file);
        chmod(list.c_str(), 0644);
    }

    std::vector<double> baseline;
    for (int i = 0; i < 20; ++i)
        if (Run run = RunOnce(unlisted, uid, gid, true); run.main)
            baseline.push_back(run.ms);
    std::printf("baseline: execve() to main() of an unlisted copy, median %.2f ms (%zu runs)\n",
                Percentile(baseline, 0.5), baseline.size());

    for (const char* source : {"bpf", "connector"}) {
        bench::Service service(folder, source, list);
        if (!service.Connect()) {
            std::printf("%s: the service did not start (see %s/orvaned-%s.log)\n", source, folder.c_str(), source);
            continue;
        }
        std::vector<double> times;
        int killed = 0, beforeMain = 0;
        for (int i = 0; i < runs; ++i) {
            const Run run = RunOnce(listed, uid, gid, false);
            if (!run.ended)
                continue;
            ++killed;
            times.push_back(run.ms);
            beforeMain += run.main ? 0 : 1;
        }
        std::printf("%s: %d of %d runs killed; execve() to death: median %.2f ms, 90th %.2f ms, worst %.2f ms; "
                    "%.0f %% killed before main(); median / baseline %.2f\n",
                    source, killed, runs, Percentile(times, 0.5), Percentile(times, 0.9), Percentile(times, 1.0),
                    killed ? 100.0 * beforeMain / killed : 0.0,
                    Percentile(baseline, 0.5) > 0 ? Percentile(times, 0.5) / Percentile(baseline, 0.5) : 0.0);
    }
    std::system(("rm -rf '" + folder + "'").c_str());
    return 0;
}
