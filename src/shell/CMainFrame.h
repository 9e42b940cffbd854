#pragma once
// The program's only top-level window: menu bar, dockable toolbar, status bar, the process
// list window as its client, the tray icon and its menu, and the one close procedure.
//
// Every command is a row of CommandTable() (Commands.h), made into one QAction keyed by its
// numeric identifier. The update handlers (Kill/Disable enabled only with a selection mark,
// the four check marks) run when a menu is about to show, when the list's selection mark
// changes and from an idle timer that runs while the window is shown.
//
// Closing is a two-phase handshake with the monitor thread: the first close request saves the
// state and asks the monitor to stop but leaves the window; the list window's threadEnded()
// brings the second request, which finds the thread ended and really closes (frameClosed()).

#include "Commands.h"

#include <QMainWindow>
#include <QPointer>
#include <QList>
#include <QRect>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

class CProcessListWnd;
class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class QToolButton;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // Constructs the process list window for `programDirectory` (its files are read and the
    // start banner written now). No monitor thread yet, no menus.
    explicit CMainFrame(const std::string& programDirectory, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The creation step: the client (which starts the monitor thread), toolbar, status bar,
    // menus with their texts and images, the saved rectangle and the tray menu. The window
    // stays hidden; the caller shows it.
    bool Create();

    // The close procedure: placement captured, PrepareClose, and when the monitor thread has
    // ended the frame closes for good. Returns whether it did.
    bool OnClose();
    // A close request from outside the window (tray Exit, a signal, the end of the session,
    // the monitor's end): the close procedure, and the window goes when it says so.
    void RequestClose();
    // The end of the desktop session: the close procedure, without asking anybody.
    void OnQueryEndSession();

    // Restores the window from the tray (the icon goes, the window comes back as it was), with
    // the dialog that was open in it on top, active.
    void OnTrayOpen();
    bool IsInTray() const;
    bool HasClosed() const { return m_bClosed; }

    // Runs every update handler now.
    void UpdateCommandUI();

    // The path of the user's manual for a program in `executableDirectory`: beside it, or in
    // ../share/orvane/ for an installed copy; beside it when neither exists.
    static QString ManualPath(const QString& executableDirectory);

    // Where a saved outer rectangle (left, top, exclusive right and bottom) is placed among the
    // screens' available `areas`: as saved when it lies within them, otherwise moved onto the
    // screen it covers most and shrunk to that screen where it is still too large. A negative
    // width or height counts as 0.
    static QRect FitIntoAreas(std::int64_t left, std::int64_t top, std::int64_t right,
                              std::int64_t bottom, const QList<QRect>& areas);

    // Whether the desktop offers a notification area. Platforms without one (offscreen tests)
    // can be told to behave as if they had one; the icon itself then simply has nowhere to go.
    void AssumeTrayAvailable(std::optional<bool> available) { m_trayOverride = available; }
    bool TrayAvailable() const;

    // Every command of the window, in the order the menus, the toolbar and the tray menu show
    // them.
    static std::span<const CommandFacts> CommandTable();
    QAction* Command(unsigned id) const;
    CProcessListWnd* ProcessList() const { return m_wndProcessList; }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    QToolButton* ToolButton(unsigned id) const;
    QMenu* ProcessMenu() const { return m_processMenu; }
    QMenu* TrayMenu() const { return m_trayMenu; }
    QSystemTrayIcon* TrayIcon() const { return m_trayIcon; }
    QLabel* MessagePane() const { return m_messagePane; }
    QLabel* IndicatorPane(int index) const { return m_indicatorPanes[index]; }

signals:
    // The second phase of closing has run: the window is gone and the program may end.
    void frameClosed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // No menu of toolbars on a right click beside the menu bar: the bars are toggled in View.
    QMenu* createPopupMenu() override { return nullptr; }

private:
    // The steps of Create.
    void CreateClient();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    // The tray menu, and the icon's clicks.
    void CreateTrayMenu();
    // The next check of the notification area while in the tray, and the idle updates.
    void StartTimers();
    void AddCommand(const CommandFacts& facts);
    void AddToolButton(const CommandFacts& facts);
    void RestoreWindowRect();
    void FitSavedOuterRect();
    void CapturePlacement();
    void HideToTray();
    // While in the tray: a notification area that has gone brings the window back. A slot for
    // the session bus's signals of the notification area.
    Q_SLOT void OnTrayCheck();
    // Whether the notification area tells on the session bus when it goes (a StatusNotifier
    // watcher with a host): the checks are then a backstop only.
    bool TrayTellsItsEnd() const;
    void ListenToTrayBus();
    // Brings the program back to the user: from the tray, or, when a dialog is open, that
    // dialog to the front.
    void ShowProgram();
    // The open dialogs shown again (the window manager hides them with their window) and
    // raised, each above the one it belongs to; the innermost one active.
    void BringBackDialogs();
    void FinishClose();
    void UpdateIndicators();
    // The status-bar prompt of a greyed entry of `menu` under the mouse.
    void ShowGreyedPrompt(const QMenu& menu, const QEvent* event);

    void OnAppExit();
    void OnViewToolBar();
    void OnViewStatusBar();
    void OnKillProcess();
    void OnDisableProcess();
    void OnToggleEventLog();
    void OnToggleMinimizeAtStart();
    void OnDisabledList();
    void OnEventLog();
    void OnFind();
    void OnHelpManual();
    void OnAppAbout();
    void OnTrayExit();
    void OnContextMenu(const QPoint& globalPos);

    QSystemTrayIcon* m_trayIcon = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    CProcessListWnd* m_wndProcessList = nullptr;
    QMenu* m_processMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_indicatorPanes[3] = {nullptr, nullptr, nullptr};
    QTimer* m_idleTimer = nullptr;
    QTimer* m_trayWatch = nullptr; // the next check of the notification area while in the tray
    QPointer<QAction> m_greyedPrompt; // the greyed entry whose prompt the status bar shows
    std::map<unsigned, QAction*> m_commands;
    std::map<unsigned, QToolButton*> m_toolButtons;
    std::optional<bool> m_trayOverride;
    std::optional<QRect> m_savedOuterRect; // to be fitted once the window frame is known
    bool m_bWasMaximized = false;         // the state to come back to from the tray
    bool m_bClosed = false;
    bool m_bListeningToTrayBus = false; // the tray's bus signals are connected (or cannot be)
};
