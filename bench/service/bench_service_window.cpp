// What the window's monitor costs with the service and without it, against top -b -d 0.5
// measured in the same run, on a quiet machine with 2,000 idle processes added: the monitor
// (its own process, as the window's thread runs it) with the service in the tray (no row on
// screen) and shown (40 rows on screen), then the monitor polling /proc the same two ways.
// Each figure is a share of one core over the same seconds as top's, and the ratio of the two;
// the tasks the rest of the machine made meanwhile are printed beside it, since the service
// passes each of them on.
// Needs root (it starts orvaned).
//
//   bench_service_window [seconds]

#include "BenchService.h"
#include "monitor/CProcessMonitor.h"

#include <dirent.h>
#include <sys/prctl.h>

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& argv)
{
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Processor time of every thread of a process (the monitor works on a thread of its own), in
// seconds, from the scheduler's nanoseconds.
double ProcessCpuSeconds(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return 0;
    double total = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (FILE* file = std::fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r")) {
            unsigned long long ns = 0;
            if (std::fscanf(file, "%llu", &ns) == 1)
                total += static_cast<double>(ns) / 1e9;
            std::fclose(file);
        }
    }
    closedir(dir);
    return total;
}

// The last pid the kernel gave out: its advance over a window counts the tasks the rest of the
// machine made (each one an event the service passes on).
long LastPid()
{
    long running = 0, tasks = 0, last = 0;
    double a = 0, b = 0, c = 0;
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf %lf %lf %ld/%ld %ld", &a, &b, &c, &running, &tasks, &last) != 6)
            last = 0;
        std::fclose(file);
    }
    return last;
}

void Stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The monitor alone in this process until it is killed: the window's thread without the window.
int RunMonitor(const std::string& folder, const std::string& socket, bool shown)
{
    setenv("ORVANE_SOCKET", socket.c_str(), 1);
    CProcessMonitor monitor(folder);
    if (shown)
        monitor.SetVisibleRows(0, 39);
    monitor.Start([](TableChanges&&) {}, [] {});
    for (;;)
        pause();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--monitor") == 0)
        return RunMonitor(argv[2], argv[3], std::strcmp(argv[4], "shown") == 0);
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_service_window: needs root (it starts orvaned)\n");
        return 1;
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::string folder = bench::MakeTempFolder();
    std::vector<pid_t> idle;
    for (int i = 0; i < 2000; ++i)
        idle.push_back(Spawn({"/bin/sleep", "3600"}));

    bench::Service service(folder, "bpf", folder + "/BlackList.log");
    if (!service.Connect()) {
        std::printf("the service did not start (see %s/orvaned-bpf.log)\n", folder.c_str());
        return 1;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    const pid_t top = Spawn({"/usr/bin/top", "-b", "-d", "0.5"});
    for (const bool withService : {true, false}) {
        for (const bool shown : {false, true}) {
            const std::string socket = withService ? service.Socket() : folder + "/none.sock";
            const pid_t monitor = Spawn({self, "--monitor", folder, socket, shown ? "shown" : "tray"});
            // Past the first passes, which meet every process.
            std::this_thread::sleep_for(std::chrono::seconds(3));
            std::vector<pid_t> watched = {monitor, top};
            if (withService)
                watched.push_back(service.Pid());
            std::vector<double> before;
            for (pid_t pid : watched)
                before.push_back(ProcessCpuSeconds(pid));
            const long firstPid = LastPid();
            const auto start = Clock::now();
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            const double elapsed = bench::Seconds(Clock::now() - start);
            std::vector<double> share;
            for (std::size_t i = 0; i < watched.size(); ++i)
                share.push_back((ProcessCpuSeconds(watched[i]) - before[i]) / elapsed);
            const double ours = share[0] + (withService ? share[2] : 0.0);
            char serviceShare[64] = "";
            if (withService)
                std::snprintf(serviceShare, sizeof serviceShare, " + service %.4f %%", 100 * share[2]);
            const double made = static_cast<double>(LastPid() - firstPid) / elapsed;
            std::printf("%s, %s, %zu idle processes added: monitor %.4f %%%s, top -d 0.5 %.3f %% of a core; "
                        "ratio %.4f (the rest of the machine made about %.0f tasks per second)\n",
                        withService ? "service" : "polling", shown ? "40 rows shown" : "tray", idle.size(),
                        100 * share[0], serviceShare, 100 * share[1], share[1] > 0 ? ours / share[1] : 0.0, made);
            std::fflush(stdout);
            Stop(monitor);
        }
    }
    Stop(top);
    for (pid_t pid : idle)
        kill(pid, SIGKILL);
    for (pid_t pid : idle)
        waitpid(pid, nullptr, 0);
    std::system(("rm -rf '" + folder + "'").c_str());
    return 0;
}
