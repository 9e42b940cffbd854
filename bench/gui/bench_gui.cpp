// Figures of the process list's display, each a ratio against a baseline measured in the
// same run:
//
//   apply_100k_vs_1k  time to apply one monitor pass that changes 100 rows (and to paint what
//                     it changed) in a list of 100,000 ended rows, over the same in a list of
//                     1,000 rows; median of several rounds. Near 1 when a pass costs what it
//                     changes and not what the table holds.
//   gui_cpu_vs_top    (--cpu) processor time of this process running the real window, monitor
//                     included, over that of `top -b -d 0.5` running beside it for the same
//                     time, with at least 1,000 extra `sleep` processes on the machine.
//
// Options: --cpu, --seconds N (default 30), --children N (default 1000), --rounds N.
// Runs offscreen unless QT_QPA_PLATFORM or DISPLAY says otherwise.

#include "shell/CProcessListWnd.h"
#include "shell/ProcessTableModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Options {
    bool cpu = false;
    int seconds = 30;
    int children = 1000;
    int rounds = 21;
};

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](int& out) {
            if (i + 1 < argc)
                out = std::max(1, std::atoi(argv[++i]));
        };
        if (arg == "--cpu")
            options.cpu = true;
        else if (arg == "--seconds")
            number(options.seconds);
        else if (arg == "--children")
            number(options.children);
        else if (arg == "--rounds")
            number(options.rounds);
    }
    return options;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

RowSnapshot EndedRow(int row, const std::string& cpu)
{
    RowSnapshot snapshot;
    snapshot.row = row;
    snapshot.cells = {"process-" + std::to_string(row) + ".bin", std::to_string(1000 + row),
                      "03/14/2024 09:26:53", "03/14/2024 10:02:17", cpu,
                      "/opt/some/longer/path/to/process-" + std::to_string(row) + ".bin"};
    return snapshot;
}

// A model and a view set up like the window's own list, filled with `rows` ended rows.
struct ShownTable {
    ProcessTableModel model;
    QTableView view;
    int rows = 0;

    explicit ShownTable(int count)
        : rows(count)
    {
        view.setModel(&model);
        CProcessListWnd::SetUpList(&view);
        view.resize(1000, 600);
        view.show();
        TableChanges fill;
        fill.rowCount = count;
        fill.rows.reserve(static_cast<std::size_t>(count));
        for (int row = 0; row < count; ++row)
            fill.rows.push_back(EndedRow(row, "0 %"));
        model.Apply(std::move(fill));
        QCoreApplication::processEvents();
    }

    // One pass that changes 100 rows: the first 10 (on screen in both lists, so both paint the
    // same) and 90 spread over the rest.
    TableChanges Pass(int round) const
    {
        TableChanges pass;
        pass.rowCount = rows;
        const std::string cpu = std::to_string(round + 1) + " %";
        for (int row = 0; row < 10; ++row)
            pass.rows.push_back(EndedRow(row, cpu));
        const int step = (rows - 10) / 90;
        for (int i = 0; i < 90; ++i)
            pass.rows.push_back(EndedRow(10 + i * step + round % step, cpu));
        return pass;
    }

    // Seconds to apply the pass and let the view repaint what it changed.
    double Apply(TableChanges&& pass)
    {
        QElapsedTimer timer;
        timer.start();
        model.Apply(std::move(pass));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return static_cast<double>(timer.nsecsElapsed()) / 1e9;
    }
};

void ApplyRatio(const Options& options)
{
    QElapsedTimer fillTimer;
    fillTimer.start();
    ShownTable large(100000);
    const double fillSeconds = static_cast<double>(fillTimer.nsecsElapsed()) / 1e9;
    ShownTable small(1000);

    std::vector<double> largeTimes;
    std::vector<double> smallTimes;
    // Interleaved, so that a change of machine load touches both lists alike.
    for (int round = 0; round < options.rounds; ++round) {
        TableChanges smallPass = small.Pass(round);
        TableChanges largePass = large.Pass(round);
        const double s = small.Apply(std::move(smallPass));
        const double l = large.Apply(std::move(largePass));
        if (round > 0) { // the first round pays for fonts and caches
            smallTimes.push_back(s);
            largeTimes.push_back(l);
        }
    }
    const double smallMedian = Median(smallTimes);
    const double largeMedian = Median(largeTimes);
    std::printf("fill_100k_ms=%.1f\n", fillSeconds * 1e3);
    std::printf("apply_1k_us=%.1f\n", smallMedian * 1e6);
    std::printf("apply_100k_us=%.1f\n", largeMedian * 1e6);
    std::printf("apply_100k_vs_1k=%.3f\n", largeMedian / smallMedian);
    std::fflush(stdout);
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// utime + stime in seconds from a stat file of /proc; -1 when it cannot be read.
double StatCpuSeconds(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line))
        return -1;
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // After the name: (3) state ... (14) utime, (15) stime.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            utime = std::strtoull(field.c_str(), nullptr, 10);
        if (number == 15)
            stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

pid_t Spawn(const std::vector<std::string>& args, bool quiet)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void StopAll(std::vector<pid_t>& pids)
{
    for (pid_t pid : pids)
        kill(pid, SIGKILL);
    for (pid_t pid : pids)
        waitpid(pid, nullptr, 0);
    pids.clear();
}

int CpuVsTop(const Options& options)
{
    platform::RaiseFileLimit();
    std::vector<pid_t> sleepers;
    for (int i = 0; i < options.children; ++i) {
        const pid_t pid = Spawn({"sleep", "3600"}, true);
        if (pid < 0) {
            std::fprintf(stderr, "bench_gui: could not start sleep %d: %s\n", i,
                         std::strerror(errno));
            StopAll(sleepers);
            return 1;
        }
        sleepers.push_back(pid);
    }

    QTemporaryDir dir;
    if (!dir.isValid()) {
        StopAll(sleepers);
        return 1;
    }

    const double cpuBefore = ProcessCpuSeconds();
    // The window's thread alone, to tell the display's share from the monitor's.
    const std::string windowThreadStat =
        "/proc/self/task/" + std::to_string(getpid()) + "/stat";
    const double windowThreadBefore = StatCpuSeconds(windowThreadStat);
    std::vector<pid_t> top{Spawn({"top", "-b", "-d", "0.5"}, true)};
    if (top.front() < 0) {
        std::fprintf(stderr, "bench_gui: could not start top\n");
        StopAll(sleepers);
        return 1;
    }
    int rows = 0;
    {
        CProcessListWnd wnd(dir.path().toStdString());
        wnd.resize(1000, 700);
        wnd.Create();
        wnd.show();

        QEventLoop loop;
        QTimer::singleShot(options.seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();

        const double cpuGui = ProcessCpuSeconds() - cpuBefore;
        const double cpuTop = StatCpuSeconds("/proc/" + std::to_string(top.front()) + "/stat");
        const double cpuWindowThread = StatCpuSeconds(windowThreadStat) - windowThreadBefore;
        StopAll(top);
        rows = wnd.Model()->rowCount();

        std::printf("gui_rows=%d\n", rows);
        std::printf("gui_cpu_s=%.3f\n", cpuGui);
        std::printf("gui_window_thread_cpu_s=%.3f\n", cpuWindowThread);
        std::printf("top_cpu_s=%.3f\n", cpuTop);
        if (cpuTop > 0)
            std::printf("gui_cpu_vs_top=%.3f\n", cpuGui / cpuTop);
        std::fflush(stdout);

        // The window's own close: stop the monitor and wait for its last post.
        wnd.PrepareClose();
        QEventLoop ending;
        QObject::connect(&wnd, &CProcessListWnd::threadEnded, &ending, &QEventLoop::quit);
        QTimer::singleShot(10000, &ending, &QEventLoop::quit);
        if (!wnd.ThreadEnded())
            ending.exec();
        wnd.PrepareClose();
    }
    StopAll(sleepers);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const Options options = ParseOptions(argc, argv);
    QApplication app(argc, argv);
    std::printf("qpa=%s\n", qPrintable(QGuiApplication::platformName()));

    ApplyRatio(options);
    if (options.cpu)
        return CpuVsTop(options);
    return 0;
}
