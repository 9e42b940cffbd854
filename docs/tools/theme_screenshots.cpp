// Renders the main window (with the processes of this machine, one row selected) and the About
// box into PNG files for docs/ (docs/theme-screenshots.sh runs it):
//   theme_screenshots OUTDIR          main-window-<ratio>x.png, about-<ratio>x.png at the
//                                     device pixel ratio Qt runs at (QT_SCALE_FACTOR)
//   theme_screenshots --dark OUTDIR   main-window-dark.png with a dark palette (Breeze Dark's
//                                     colours, Fusion style)

#include "CMainFrame.h"
#include "CProcessListWnd.h"
#include "controls/CAboutBox.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstring>

namespace {

void Wait(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

QPalette BreezeDark()
{
    const QColor window(0x31, 0x36, 0x3b);
    const QColor base(0x23, 0x26, 0x29);
    const QColor text(0xfc, 0xfc, 0xfc);
    QPalette palette(window);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9).darker(160));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::Text, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, text.darker(170));
    return palette;
}

bool Save(const QPixmap& picture, const QString& path)
{
    if (!picture.save(path))
        return false;
    QTextStream(stdout) << path << '\n';
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool dark = argc == 3 && std::strcmp(argv[1], "--dark") == 0;
    if (argc != 2 && !dark) {
        QTextStream(stderr) << "usage: theme_screenshots [--dark] OUTDIR\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[argc - 1]));
    const QString suffix =
        dark ? QStringLiteral("dark") : QStringLiteral("%1x").arg(qApp->devicePixelRatio());
    if (dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(BreezeDark());
    }

    // Settings.dat: logging off, a window of 760 x 420 at (40, 40).
    QTemporaryDir dir;
    const unsigned char settings[32] = {0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 40, 0, 0, 0,
                                        0x20, 3, 0, 0, 0xc4, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    QFile file(QDir(dir.path()).filePath(QStringLiteral("Settings.dat")));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(settings), sizeof settings) != sizeof settings)
        return 1;
    file.close();

    bool saved = true;
    {
        CMainFrame frame(dir.path().toStdString());
        if (!frame.Create())
            return 1;
        frame.show();
        Wait(2500); // a few rounds of the monitor, loads included
        // Ordinary programs only: rows without an executable file (kernel threads, anonymous
        // memory files) are left out of the picture; the first of the staged ones is selected.
        QTableView* list = frame.ProcessList()->List();
        const QAbstractItemModel* model = list->model();
        int selected = -1;
        for (int row = 0; row < model->rowCount(); ++row) {
            const QString executable = model->index(row, 5).data().toString();
            list->setRowHidden(row, executable.isEmpty() ||
                                        executable.startsWith(QLatin1String("/memfd:")));
            if (selected < 0 && executable.contains(QLatin1String("orvane-theme-shots")))
                selected = row;
        }
        list->selectRow(selected >= 0 ? selected : 0);
        list->scrollTo(model->index(selected >= 0 ? selected : 0, 0),
                       QAbstractItemView::PositionAtCenter);
        Wait(300);
        saved = Save(frame.grab(), out.filePath(QStringLiteral("main-window-%1.png").arg(suffix))) && saved;
    }
    // The About box is its picture, whatever the theme: only its scales are shown.
    if (!dark) {
        CAboutBox about;
        about.show();
        Wait(300);
        saved = Save(about.grab(), out.filePath(QStringLiteral("about-%1.png").arg(suffix))) && saved;
    }
    return saved ? 0 : 1;
}
