#pragma once
// The application: owns the QApplication, builds the one main frame, shows it as the settings
// say (in the tray when "Minimize at start" is set, else maximised or normal) and runs the
// event loop until the frame's close procedure lets it go.
//
// Every way of leaving ends in the frame's close procedure: the close box, File Exit, Alt+X,
// the toolbar, the tray menu, the end of the desktop session (commitDataRequest) and
// SIGTERM, SIGINT or SIGHUP.

#include <memory>
#include <string>
#include <system_error>

class CMainFrame;
class CSignalBridge;
class QApplication;

class CMonitorApp {
public:
    // The X11 window class, equal to StartupWMClass in packaging/org.orvane.Orvane.desktop.
    static constexpr const char* kWindowClass = "Orvane";

    // The program directory comes from argv[0] (ChooseProgramDirectory). A data directory that
    // could not be created is told at start, like a failed signal handler: on stderr, and in
    // the status bar once the window exists. The soft descriptor limit is raised to the hard
    // one (RaiseFileLimit).
    CMonitorApp(int& argc, char** argv);
    // With an explicit program directory. When a QApplication exists already (tests), it is
    // used, and the end of the frame does not end that application.
    CMonitorApp(int& argc, char** argv, std::string programDirectory);
    ~CMonitorApp();
    CMonitorApp(const CMonitorApp&) = delete;
    CMonitorApp& operator=(const CMonitorApp&) = delete;

    // Builds and shows the frame; false when its window cannot be created.
    bool InitInstance();
    // InitInstance, then the event loop; the program's exit code.
    int Run();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    const std::string& ProgramDirectory() const { return m_programDirectory; }

private:
    // The frame's notices of the start, its end ending the program, and the requests to end
    // (signals, the session) that go to its close procedure.
    void ConnectFrame(CMainFrame* frame);
    // Minimised to the tray, maximised or normal, as the settings say.
    static void ShowFrame(CMainFrame& frame);

    std::unique_ptr<QApplication> m_app; // null when the application was there before us
    std::string m_programDirectory;
    std::error_code m_directoryNotCreated;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    std::unique_ptr<CSignalBridge> m_signals;
};
