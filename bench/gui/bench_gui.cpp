// Figures of the process list's display, each a ratio against a baseline measured in the
// same run:
//
//   apply_100k_vs_1k  time to apply one monitor pass that changes 100 rows (and to paint what
//                     it changed) in a list of 100,000 ended rows, over the same in a list of
//                     1,000 rows; median of several rounds. Near 1 when a pass costs what it
//                     changes and not what the table holds.
//   cpu_vs_top_shown  (--cpu) processor time of this process running the real window, monitor
//                     included, shown and scrolled to the end, over that of `top -b -d 0.5`
//                     running beside it for the same time, with 2,000 extra `sleep` processes;
//   cpu_vs_top_tray   the same with the window hidden, as in the tray.
//                     With --frame, the whole main window (menus, toolbar, status bar and
//                     their idle updates, the tray icon and its watch) instead of the list alone;
//                     in the tray by minimising it, with a notification area taken as present.
//   comm_floor_vs_top the least any pass must do (read every process's command name, for
//                     exec), alone on a thread at the same pace, against top the same way.
//   rss_per_ended_row (--rss N, alone) growth of this process's resident memory over N ended
//                     rows made by real short-lived processes, divided by the rows.
//
// Each option runs its figure alone; without one, apply_100k_vs_1k.
// Options: --cpu, --frame, --seconds N (default 30), --children N (default 2000), --rounds N, --rss N.
// Runs offscreen unless QT_QPA_PLATFORM or DISPLAY says otherwise.

#include "CMainFrame.h"
#include "CProcessListWnd.h"
#include "ProcessTableModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Options {
    bool cpu = false;
    bool frame = false;
    int seconds = 30;
    int children = 2000;
    int rounds = 21;
    int rssRows = 0;
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
        else if (arg == "--frame")
            options.frame = true;
        else if (arg == "--seconds")
            number(options.seconds);
        else if (arg == "--children")
            number(options.children);
        else if (arg == "--rounds")
            number(options.rounds);
        else if (arg == "--rss")
            number(options.rssRows);
    }
    return options;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A model and a view set up like the window's own list, over a table of `rows` ended rows.
struct ShownTable {
    ProcessTable table;
    ProcessTableModel model{table.Rows()};
    QTableView view;
    int rows = 0;

    explicit ShownTable(int count)
        : rows(count)
    {
        view.setModel(&model);
        CProcessListWnd::SetUpList(&view);
        view.resize(1000, 600);
        view.show();
        const platform::FileTime now = platform::GetSystemTimeAsFileTime();
        for (int row = 0; row < count; ++row) {
            const std::string name = "process-" + std::to_string(row) + ".bin";
            table.AppendRow(static_cast<std::uint32_t>(1000 + row), now - 36'000'000'000ULL, 0,
                            name, "/opt/some/longer/path/to/" + name);
            table.ShowStart(row);
            table.EndRow(row, now - 600'000'000ULL);
        }
        model.Apply(table.TakeChanges());
        QCoreApplication::processEvents();
    }

    // One pass that changes 100 rows: the first 10 (on screen in both lists, so both paint the
    // same) and 90 spread over the rest.
    TableChanges Pass(int round) const
    {
        TableChanges pass;
        pass.firstNewRow = rows;
        pass.rowCount = rows;
        for (int row = 0; row < 10; ++row)
            pass.rows.push_back(row);
        const int step = (rows - 10) / 90;
        for (int i = 0; i < 90; ++i)
            pass.rows.push_back(10 + i * step + round % step);
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

// Runs the event loop for `milliseconds`.
void RunFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Processor seconds of this process over `seconds` of the running window, against top's over
// the same time beside it. Also tells how many of the monitor's passes had to list /proc again
// (where processes keep starting, every pass does).
double CpuAgainstTop(CProcessMonitor& monitor, int seconds, const char* label)
{
    const std::uint64_t passesBefore = monitor.PassesMade();
    const std::uint64_t listedBefore = monitor.PassesListed();
    const double before = ProcessCpuSeconds();
    // The window's thread alone, to tell the display's share from the monitor's.
    const std::string windowThreadStat = "/proc/self/task/" + std::to_string(getpid()) + "/stat";
    const double windowBefore = StatCpuSeconds(windowThreadStat);
    std::vector<pid_t> top{Spawn({"top", "-b", "-d", "0.5"}, true)};
    if (top.front() < 0) {
        std::fprintf(stderr, "bench_gui: could not start top\n");
        return -1;
    }
    RunFor(seconds * 1000);
    const double gui = ProcessCpuSeconds() - before;
    const double cpuTop = StatCpuSeconds("/proc/" + std::to_string(top.front()) + "/stat");
    StopAll(top);
    std::printf("%s_gui_cpu_s=%.3f %s_window_thread_cpu_s=%.3f %s_top_cpu_s=%.3f\n", label, gui,
                label, StatCpuSeconds(windowThreadStat) - windowBefore, label, cpuTop);
    std::printf("%s_passes=%llu %s_passes_listed=%llu\n", label,
                static_cast<unsigned long long>(monitor.PassesMade() - passesBefore), label,
                static_cast<unsigned long long>(monitor.PassesListed() - listedBefore));
    return cpuTop > 0 ? gui / cpuTop : -1;
}

// The least a pass must do, alone on a thread of its own at the monitor's pace: read the
// command name of every process once (descriptors opened beforehand) every half second. Its
// processor seconds over `seconds`, against top's beside it: the figure the window's
// cpu_vs_top_tray cannot go below on this machine.
double CommFloorAgainstTop(int seconds)
{
    std::vector<int> fds;
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* entry = readdir(proc)) {
            if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
                continue;
            const std::string path = std::string("/proc/") + entry->d_name + "/comm";
            if (const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0)
                fds.push_back(fd);
        }
        closedir(proc);
    }
    std::atomic<bool> stop{false};
    double readerSeconds = 0;
    std::thread reader([&] {
        char text[64];
        while (!stop) {
            for (const int fd : fds)
                (void)!pread(fd, text, sizeof text, 0);
            for (int slice = 0; slice < 50 && !stop; ++slice)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        timespec cpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        readerSeconds = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
    });
    std::vector<pid_t> top{Spawn({"top", "-b", "-d", "0.5"}, true)};
    RunFor(seconds * 1000);
    stop = true;
    reader.join();
    const double cpuTop = top.front() > 0 ? StatCpuSeconds("/proc/" + std::to_string(top.front()) + "/stat") : -1;
    StopAll(top);
    for (const int fd : fds)
        close(fd);
    std::printf("floor_reads=%zu floor_cpu_s=%.3f floor_top_cpu_s=%.3f\n", fds.size(), readerSeconds, cpuTop);
    return cpuTop > 0 ? readerSeconds / cpuTop : -1;
}

long ResidentBytes()
{
    std::ifstream in("/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

void CloseWindow(CProcessListWnd& wnd)
{
    // The window's own close: stop the monitor and wait for its last post.
    wnd.PrepareClose();
    QEventLoop ending;
    QObject::connect(&wnd, &CProcessListWnd::threadEnded, &ending, &QEventLoop::quit);
    QTimer::singleShot(10000, &ending, &QEventLoop::quit);
    if (!wnd.ThreadEnded())
        ending.exec();
    wnd.PrepareClose();
}

int CpuVsTop(const Options& options)
{
    (void)platform::RaiseFileLimit(); // below the hard limit, fewer handles keep descriptors
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
    {
        std::unique_ptr<CMainFrame> frame;
        std::unique_ptr<CProcessListWnd> alone;
        if (options.frame) {
            frame = std::make_unique<CMainFrame>(dir.path().toStdString());
            frame->AssumeTrayAvailable(true);
            frame->Create();
            frame->resize(1000, 700);
            frame->show();
        } else {
            alone = std::make_unique<CProcessListWnd>(dir.path().toStdString());
            alone->resize(1000, 700);
            alone->Create();
            alone->show();
        }
        CProcessListWnd& wnd = frame ? *frame->ProcessList() : *alone;
        RunFor(2000); // rows for every process
        wnd.List()->scrollToBottom();
        RunFor(1000);
        std::printf("gui_rows=%d\n", wnd.Model()->rowCount());
        const double shown = CpuAgainstTop(wnd.Monitor(), options.seconds, "shown");
        if (frame)
            frame->showMinimized(); // to the tray
        else
            wnd.hide(); // as in the tray
        RunFor(1000);
        if (frame && !frame->IsInTray())
            std::fprintf(stderr, "bench_gui: the window did not go to the tray\n");
        const double tray = CpuAgainstTop(wnd.Monitor(), options.seconds, "tray");
        const double floor = CommFloorAgainstTop(options.seconds);
        std::printf("cpu_vs_top_shown=%.3f\n", shown);
        std::printf("cpu_vs_top_tray=%.3f\n", tray);
        std::printf("comm_floor_vs_top=%.3f\n", floor);
        if (floor > 0)
            std::printf("shown_vs_floor=%.3f tray_vs_floor=%.3f\n", shown / floor, tray / floor);
        std::fflush(stdout);
        CloseWindow(wnd);
    }
    StopAll(sleepers);
    return 0;
}

// Growth of this process's resident memory over `rows` ended rows made by real short-lived
// processes (waves of `sleep 1`, each seen by at least one pass), per row.
int RssPerEndedRow(const Options& options)
{
    (void)platform::RaiseFileLimit(); // below the hard limit, fewer handles keep descriptors
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    CProcessListWnd wnd(dir.path().toStdString());
    wnd.resize(1000, 700);
    wnd.Create();
    wnd.show();
    RunFor(2000);
    const int rowsBefore = wnd.Model()->rowCount();
    const long residentBefore = ResidentBytes();
    constexpr int kWave = 2000;
    // A busy machine spawns slowly: after ten minutes the figure is taken over the rows made.
    QElapsedTimer elapsed;
    elapsed.start();
    while (wnd.Model()->rowCount() - rowsBefore < options.rssRows && elapsed.elapsed() < 600'000) {
        std::vector<pid_t> wave;
        for (int i = 0; i < kWave; ++i) {
            const pid_t pid = Spawn({"sleep", "1"}, true);
            if (pid > 0)
                wave.push_back(pid);
        }
        RunFor(1200);
        for (pid_t pid : wave)
            waitpid(pid, nullptr, 0);
        std::fprintf(stderr, "rows %d, resident %ld kB\n", wnd.Model()->rowCount() - rowsBefore,
                     ResidentBytes() / 1024);
    }
    RunFor(1500); // every exit seen
    const int added = wnd.Model()->rowCount() - rowsBefore;
    const long grown = ResidentBytes() - residentBefore;
    std::printf("ended_rows=%d rss_growth_kb=%ld\n", added, grown / 1024);
    std::printf("rss_per_ended_row=%.1f\n", double(grown) / added);
    std::fflush(stdout);
    CloseWindow(wnd);
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

    if (options.rssRows > 0)
        return RssPerEndedRow(options);
    if (options.cpu)
        return CpuVsTop(options);
    ApplyRatio(options);
    return 0;
}
