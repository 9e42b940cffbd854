// What the service costs, against top -b -d 0.5 measured in the same run:
// 1. a quiet machine with 2,000 idle processes: the service alone and top, 10 s each side by
//    side, as a share of one core and as a ratio;
// 2. 200 starts per second (/bin/true) for 10 s: the service alone, then with one client
//    reading the stream;
// 3. the service's resident memory with 10,000 processes, before and after a client's snapshot.
// Needs root (it starts orvaned). Per source that loads.
//
//   bench_service_cost [seconds]

#include "BenchService.h"

#include <sys/prctl.h>

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<const char*>& argv, bool quiet = true)
{
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
        }
        std::vector<char*> args;
        for (const char* arg : argv)
            args.push_back(const_cast<char*>(arg));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void StopAll(std::vector<pid_t>& pids)
{
    for (pid_t pid : pids)
        kill(pid, SIGKILL);
    for (pid_t pid : pids)
        waitpid(pid, nullptr, 0);
    pids.clear();
}

// Share of one core used by each process over `seconds`, while `work` runs (if any).
template <class Work>
std::vector<double> CoreShares(const std::vector<pid_t>& watched, double seconds, Work&& work)
{
    std::vector<double> before;
    for (pid_t pid : watched)
        before.push_back(bench::CpuSeconds(pid));
    const auto start = Clock::now();
    work(start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
    const double elapsed = bench::Seconds(Clock::now() - start);
    std::vector<double> shares;
    for (std::size_t i = 0; i < watched.size(); ++i)
        shares.push_back((bench::CpuSeconds(watched[i]) - before[i]) / elapsed);
    return shares;
}

// The last pid the kernel gave out (/proc/loadavg), and pid_max: their difference over a
// window counts the tasks (processes and threads) that the rest of the machine made.
long LastPid()
{
    long running = 0, tasks = 0, last = 0;
    double a = 0, b = 0, c = 0;
    FILE* file = std::fopen("/proc/loadavg", "r");
    if (file) {
        if (std::fscanf(file, "%lf %lf %lf %ld/%ld %ld", &a, &b, &c, &running, &tasks, &last) != 6)
            last = 0;
        std::fclose(file);
    }
    return last;
}

long PidMax()
{
    long max = 32768;
    if (FILE* file = std::fopen("/proc/sys/kernel/pid_max", "r")) {
        if (std::fscanf(file, "%ld", &max) != 1)
            max = 32768;
        std::fclose(file);
    }
    return max;
}

double g_tasksPerSecond = 0;

void Idle(Clock::time_point until)
{
    const long first = LastPid();
    const auto start = Clock::now();
    std::this_thread::sleep_until(until);
    const long made = (LastPid() - first + PidMax()) % PidMax();
    g_tasksPerSecond = static_cast<double>(made) / bench::Seconds(Clock::now() - start);
}

// /bin/true at `perSecond` until `until`; reaped as they end.
void Starts(Clock::time_point until, int perSecond, std::size_t& started)
{
    const auto step = std::chrono::microseconds(1'000'000 / perSecond);
    auto next = Clock::now();
    while (next < until) {
        std::this_thread::sleep_until(next);
        if (Spawn({"/bin/true"}) > 0)
            ++started;
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        next += step;
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_service_cost: needs root (it starts orvaned)\n");
        return 1;
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::string folder = bench::MakeTempFolder();
    const std::string list = folder + "/BlackList.log";
    std::vector<pid_t> idle;
    for (int i = 0; i < 2000; ++i)
        idle.push_back(Spawn({"/bin/sleep", "3600"}));

    for (const char* source : {"bpf", "connector"}) {
        bench::Service service(folder, source, list);
        if (!service.Connect()) {
            std::printf("%s: the service did not start (see %s/orvaned-%s.log)\n", source, folder.c_str(), source);
            continue;
        }
        const pid_t top = Spawn({"/usr/bin/top", "-b", "-d", "0.5"});
        std::this_thread::sleep_for(std::chrono::seconds(1));
        auto quiet = CoreShares({service.Pid(), top}, seconds, Idle);
        std::printf("%s, quiet, %zu idle processes added: service %.4f %% of a core, top -d 0.5 %.2f %%, ratio %.4f "
                    "(the rest of the machine made %.0f tasks per second meanwhile)\n",
                    source, idle.size(), 100 * quiet[0], 100 * quiet[1], quiet[1] > 0 ? quiet[0] / quiet[1] : 0.0,
                    g_tasksPerSecond);
        kill(top, SIGKILL);
        waitpid(top, nullptr, 0);

        std::size_t started = 0;
        auto busy = CoreShares({service.Pid()}, seconds,
                               [&](Clock::time_point until) { Starts(until, 200, started); });
        std::printf("%s, %.0f starts per second: service %.3f %% of a core (no client)\n", source,
                    static_cast<double>(started) / seconds, 100 * busy[0]);
        auto client = service.Connect();
        std::thread reader([&] {
            std::vector<watch::Message> messages;
            while (client && client->Receive(messages, 200)) {
                messages.clear();
                if (std::getenv("ORVANE_BENCH_STOP"))
                    break;
            }
        });
        started = 0;
        busy = CoreShares({service.Pid()}, seconds, [&](Clock::time_point until) { Starts(until, 200, started); });
        std::printf("%s, %.0f starts per second: service %.3f %% of a core (one client reading)\n", source,
                    static_cast<double>(started) / seconds, 100 * busy[0]);
        setenv("ORVANE_BENCH_STOP", "1", 1);
        reader.join();
        unsetenv("ORVANE_BENCH_STOP");
        client.reset();

        std::vector<pid_t> many;
        const std::size_t before = idle.size();
        for (std::size_t i = before; i < 10000; ++i)
            many.push_back(Spawn({"/bin/sleep", "3600"}));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const long rss = bench::RssKiB(service.Pid());
        std::size_t seen = 0;
        auto snapshot = service.Connect(&seen);
        const long rssAfter = bench::RssKiB(service.Pid());
        std::printf("%s, %zu processes added (a snapshot of %zu): resident memory %.1f MB, %.1f MB after a "
                    "client's snapshot\n",
                    source, before + many.size(), seen, rss / 1024.0, rssAfter / 1024.0);
        StopAll(many);
    }
    StopAll(idle);
    std::system(("rm -rf '" + folder + "'").c_str());
    return 0;
}
