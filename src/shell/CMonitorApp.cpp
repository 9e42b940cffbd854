#include "shell/CMonitorApp.h"

#include "CMainFrame.h"
#include "CProcessListWnd.h"
#include "CSignalBridge.h"
#include "buildinfo/BuildInfo.h"
#include "platform/ProcessServices.h"
#include "storage/ProgramDirectory.h"
#include "storage/StringTable.h"

#include <QApplication>
#include <QIcon>
#include <QSessionManager>

namespace {

std::string FirstArgument(int argc, char** argv)
{
    return argc > 0 && argv[0] ? std::string(argv[0]) : std::string();
}

} // namespace

CMonitorApp::CMonitorApp(int& argc, char** argv)
    : CMonitorApp(argc, argv, std::string())
{
    // A desktop session starts programs with a soft limit of about a thousand descriptors;
    // the monitor keeps a few for every process it watches. Where the limit stays, the handles
    // keep fewer and the monitor tells the shortage when it comes.
    (void)platform::RaiseFileLimit();
    DirectoryChoice choice = ChooseProgramDirectory(FirstArgument(argc, argv));
    m_programDirectory = std::move(choice.path);
    m_directoryNotCreated = choice.notCreated;
}

CMonitorApp::CMonitorApp(int& argc, char** argv, std::string programDirectory)
    : m_programDirectory(std::move(programDirectory))
{
    if (!QApplication::instance())
        m_app = std::make_unique<QApplication>(argc, argv);
    // A dialog closed while the frame sits in the tray is the last visible window; that must
    // not end the program. Only the frame's close procedure does.
    QApplication::setQuitOnLastWindowClosed(false);
    // The application name is the class half of the X11 window class (WM_CLASS), which task
    // bars match against the menu entry's StartupWMClass; the title stays in the captions.
    QApplication::setApplicationName(QString::fromLatin1(kWindowClass));
    QApplication::setWindowIcon(QIcon(QString::fromLatin1(buildinfo::kAppIcon)));
    // Lets the desktop tie the window to the installed menu entry and its icon (the Wayland
    // app id).
    QGuiApplication::setDesktopFileName(QString::fromLatin1(buildinfo::kAppId));
}

CMonitorApp::~CMonitorApp()
{
    m_signals.reset();
    m_pMainWnd.reset();
}

bool CMonitorApp::InitInstance()
{
    // A request to end that comes while the frame is being built is caught all the same, and
    // answered by the close procedure once the event loop runs.
    if (m_app)
        m_signals = std::make_unique<CSignalBridge>();
    // Constructing the frame constructs the process list window: the three files are read and
    // the start banner is written before any window exists.
    m_pMainWnd = std::make_unique<CMainFrame>(m_programDirectory);
    CMainFrame* frame = m_pMainWnd.get();
    if (!frame->Create()) {
        m_pMainWnd.reset();
        return false;
    }
    ConnectFrame(frame);
    ShowFrame(*frame);
    return true;
}

void CMonitorApp::ConnectFrame(CMainFrame* frame)
{
    // What went wrong before the window existed is told now that it can be shown.
    CProcessMonitor& monitor = frame->ProcessList()->Monitor();
    monitor.NoticeFileFailure(CProcessMonitor::NoticeKind::DataFolder, IDS_ERR_DATA_FOLDER,
                              m_programDirectory, m_directoryNotCreated);
    if (m_app) {
        QObject::connect(frame, &CMainFrame::frameClosed, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        QObject::connect(m_signals.get(), &CSignalBridge::closeRequested, frame,
                         &CMainFrame::RequestClose);
        if (const Result<> installed = m_signals->Installation(); !installed)
            monitor.Notice(CProcessMonitor::NoticeKind::Signals,
                           LoadString(IDS_ERR_SIGNALS) + " " + installed.error().message());
    }
    // The end of the session is answered at once: the state is saved, nobody is asked.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, frame,
                     [frame](QSessionManager&) { frame->OnQueryEndSession(); });
}

void CMonitorApp::ShowFrame(CMainFrame& frame)
{
    const SettingsRecord s = frame.ProcessList()->Settings();
    if (s.minimizeAtStart != 0)
        frame.showMinimized(); // which takes it to the tray
    else if (s.maximized != 0)
        frame.showMaximized();
    else
        frame.show();
}

int CMonitorApp::Run()
{
    if (!InitInstance())
        return 1;
    return QApplication::exec();
}
