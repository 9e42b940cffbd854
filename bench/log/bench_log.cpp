// Figures of the event log dialog with a large log, in the program's own line format:
//
//   log_open_100mb_s     from the command (the dialog constructed) to the first paint of the
//                        dialog's text box, for a 100 MB Logs.log
//   log_save_100mb_s     a click on Save, unchanged text
//   log_open_rss_ratio   growth of this process's resident memory while the dialog shows the
//                        log, over the file's size (log_open_peak_rss_ratio: the peak's growth)
//   find_100mb_s         Find of a text that occurs only at the end of the log, from the start
//
// Each time is also given against a baseline of the same run: reading the same file into
// memory (file_read_100mb_s), so that figures from different machines compare.
//
// Options: --mb N (default 100). Runs offscreen unless QT_QPA_PLATFORM or DISPLAY says otherwise.

#include "CLogEdit.h"
#include "controls/CFindBar.h"
#include "dialogs/CLogsViewDlg.h"
#include "storage/CEventLogFile.h"
#include "storage/LogFileAccess.h"

#include "../../tests/dialogs/LogRunner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Resident and peak resident memory of this process, in bytes (from /proc/self/status).
std::pair<long long, long long> Memory()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    long long rss = 0, peak = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atoll(line.c_str() + 6) * 1024;
        else if (line.rfind("VmHWM:", 0) == 0)
            peak = std::atoll(line.c_str() + 6) * 1024;
    }
    return {rss, peak};
}

// Resets the peak to the current size, so that VmHWM tells the peak from now on.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A log of at least `bytes` bytes as the program writes it, ending with the one line that
// Find looks for.
std::string MakeLog(std::size_t bytes, const std::string& last)
{
    std::string log = BuildStartBanner();
    log.reserve(bytes + 4096);
    for (int i = 0; log.size() < bytes; ++i) {
        const std::string name = "process-" + std::to_string(i % 5000) + ".bin";
        log += BuildStartedLine(name, "12/06/2021 09:06:41");
        log += BuildFinishedLine(name, "12/06/2021 09:06:42");
    }
    log += BuildStartedLine(last, "12/06/2021 23:59:59");
    return log;
}

class PaintWatch : public QObject {
public:
    bool m_bPainted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            m_bPainted = true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::size_t megabytes = 100;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--mb")
            megabytes = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
    }

    QTemporaryDir dir;
    CEventLogFile log;
    log.m_path = dir.filePath(QStringLiteral("Logs.log")).toStdString();
    const std::string needle = "needle-only-at-the-end";
    std::size_t size = 0;
    {
        const std::string content = MakeLog(megabytes * 1000 * 1000, needle);
        size = content.size();
        std::ofstream(log.m_path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(size));
    }
    const double mb = double(size) / 1e6;

    // Baseline: the file read into memory (from the page cache, as the dialog will find it).
    QElapsedTimer timer;
    timer.start();
    {
        const Result<LogContent> content = ReadLogFile(log.m_path);
        if (!content || content->bytes.size() != size)
            return std::fprintf(stderr, "cannot read %s\n", log.m_path.c_str()), 1;
    }
    const double readSeconds = timer.nsecsElapsed() / 1e9;

    // A first dialog on a small log, so that fonts and styles are loaded before the figures.
    {
        CEventLogFile small;
        small.m_path = dir.filePath(QStringLiteral("small.log")).toStdString();
        std::ofstream(small.m_path) << BuildStartBanner();
        CLogsViewDlg warm;
        warm.m_runWithLogClosed = RunnerForLog(small);
        warm.show();
        QCoreApplication::processEvents();
    }

    QCoreApplication::processEvents();
    ResetPeak();
    const auto [rssBefore, peakBefore] = Memory();
    timer.restart();
    CLogsViewDlg dlg;
    dlg.m_runWithLogClosed = RunnerForLog(log);
    PaintWatch paint;
    dlg.m_edit->viewport()->installEventFilter(&paint);
    dlg.show();
    while (!paint.m_bPainted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double openSeconds = timer.nsecsElapsed() / 1e9;
    const auto [rssShown, peakShown] = Memory();
    if (dlg.EditBytes().size() != size)
        return std::fprintf(stderr, "the box holds %zu bytes, not %zu\n", dlg.EditBytes().size(), size), 1;

    dlg.m_findBar->Open();
    dlg.m_findBar->m_text->setText(QString::fromStdString(needle));
    timer.restart();
    const FindOutcome found = dlg.m_findBar->FindNext();
    QCoreApplication::processEvents();
    const double findSeconds = timer.nsecsElapsed() / 1e9;
    if (found != FindOutcome::Found)
        return std::fprintf(stderr, "Find did not find the last line\n"), 1;

    timer.restart();
    dlg.m_btnSave->click();
    const double saveSeconds = timer.nsecsElapsed() / 1e9;
    const Result<LogContent> saved = ReadLogFile(log.m_path);
    if (!saved || saved->bytes.size() != size)
        return std::fprintf(stderr, "Save changed the file's size\n"), 1;

    const char* scale = megabytes == 100 ? "100mb" : "";
    const std::string tag = *scale ? scale : std::to_string(megabytes) + "mb";
    std::printf("log size                %.1f MB\n", mb);
    std::printf("file_read_%s_s       %.3f\n", tag.c_str(), readSeconds);
    std::printf("log_open_%s_s        %.3f   (%.1f x file read)\n", tag.c_str(), openSeconds, openSeconds / readSeconds);
    std::printf("log_save_%s_s        %.3f   (%.1f x file read)\n", tag.c_str(), saveSeconds, saveSeconds / readSeconds);
    std::printf("log_open_rss_ratio      %.2f\n", double(rssShown - rssBefore) / double(size));
    std::printf("log_open_peak_rss_ratio %.2f\n", double(peakShown - peakBefore) / double(size));
    std::printf("find_%s_s            %.3f   (%.1f x file read)\n", tag.c_str(), findSeconds, findSeconds / readSeconds);
    return 0;
}
