// Figures of the disabled list at its largest, each a ratio against the same work on a list of
// 1,024 entries measured in the same run (median of several rounds), with the large figure in
// milliseconds beside it:
//
//   dialog_show   from show() of the disabled-list dialog to its first painted frame
//   delete        one Delete in the dialog (the file read, changed and written under its lock)
//   free          the list emptied in memory, as the second phase of closing does
//   dialog_rss_mb the growth of the resident set while the large dialog is open (no ratio)
//
// Options: --rounds N (default 5). Runs offscreen unless QT_QPA_PLATFORM or DISPLAY says
// otherwise.

#include "dialogs/CDListDlg.h"
#include "storage/CDisabledList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}

struct Figures {
    double showMs = 0, deleteMs = 0, freeMs = 0;
    long rssKiB = 0;
};

Figures Measure(const QString& dir, int entries, int rounds)
{
    const std::string path = (dir + "/BlackList.log").toStdString();
    std::string bytes;
    for (int i = 0; i < entries; ++i)
        bytes += "process-" + std::to_string(i) + ".exe|";
    std::vector<double> show, del, release;
    long rss = 0;
    for (int round = 0; round < rounds; ++round) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        CDisabledList list;
        list.m_path = path;
        if (!list.Load())
            std::abort();
        const long before = ResidentKiB();
        {
            CDListDlg dlg;
            dlg.m_readEntries = [&list] {
                std::vector<std::string> names;
                for (std::size_t i = 0; i < list.GetSize(); ++i)
                    names.push_back(list.GetAt(i));
                return names;
            };
            dlg.m_removeAt = [&list](std::size_t index, const std::string& name) {
                return list.Remove(index, name);
            };
            dlg.m_path = list.m_path;
            QElapsedTimer timer;
            timer.start();
            dlg.show();
            dlg.repaint();
            QCoreApplication::processEvents();
            show.push_back(timer.nsecsElapsed() / 1e6);
            rss = std::max(rss, ResidentKiB() - before);

            dlg.m_listBox->selectionModel()->select(dlg.m_listBox->model()->index(entries / 2, 0),
                                                    QItemSelectionModel::ClearAndSelect);
            timer.restart();
            dlg.m_btnDelete->click();
            del.push_back(timer.nsecsElapsed() / 1e6);
        }
        QElapsedTimer timer;
        timer.start();
        list.RemoveAll();
        release.push_back(timer.nsecsElapsed() / 1e6);
    }
    return {Median(show), Median(del), Median(release), rss};
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const Figures small = Measure(dir.path(), 1024, rounds);
    const Figures large = Measure(dir.path(), 1 << 20, rounds);
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("dialog_show_1M_vs_1k  %8.1f  (%.1f ms)\n", ratio(large.showMs, small.showMs), large.showMs);
    std::printf("delete_1M_vs_1k       %8.1f  (%.1f ms)\n", ratio(large.deleteMs, small.deleteMs), large.deleteMs);
    std::printf("free_1M_vs_1k         %8.1f  (%.1f ms)\n", ratio(large.freeMs, small.freeMs), large.freeMs);
    std::printf("dialog_rss_mb_1M      %8.1f\n", large.rssKiB / 1024.0);
    return 0;
}
