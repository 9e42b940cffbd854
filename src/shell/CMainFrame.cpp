#include "CMainFrame.h"

#include "CLockIndicators.h"
#include "CProcessListWnd.h"
#include "CTransientOwner.h"
#include "buildinfo/BuildInfo.h"
#include "controls/AskYesNo.h"
#include "controls/CAboutBox.h"
#include "controls/Picture.h"
#include "controls/TellFailure.h"
#include "controls/Texts.h"
#include "dialogs/CLogsViewDlg.h"
#include "storage/ProgramDirectory.h"
#include "storage/StringTable.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdint>

namespace {

// A command's string holds its status-bar prompt and, after a line break, its tooltip.
QString PromptOf(unsigned commandId)
{
    return Text(commandId).section(QLatin1Char('\n'), 0, 0);
}

QString ToolTipOf(unsigned commandId)
{
    const QString text = Text(commandId);
    const int lineBreak = text.indexOf(QLatin1Char('\n'));
    return lineBreak < 0 ? QString() : text.mid(lineBreak + 1);
}

// Menu images are 12 x 12 pictures; menus ask for their small icon size (16 x 16 with the
// usual styles), so the picture is drawn at its own size in the middle of that square rather
// than blown up, at whatever resolution the screen has.
QIcon MenuImage(const char* name)
{
    return PaddedSvgIcon(QStringLiteral(":/shell/%1").arg(QLatin1String(name)), QSizeF(12, 12),
                         QSizeF(16, 16));
}

// While the window is in the tray, whether the notification area is still there is checked
// every second, or less often when the check itself takes long.
constexpr qint64 kFirstTrayCheckMs = 1000;
constexpr qint64 kLastTrayCheckMs = 10000;

// The StatusNotifier watcher: its name, object and interface on the session bus.
const QString kNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kNotifierWatcherPath = QStringLiteral("/StatusNotifierWatcher");

bool OnWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

CMainFrame::CMainFrame(const std::string& programDirectory, QWidget* parent)
    : QMainWindow(parent)
{
    m_trayIcon = new QSystemTrayIcon(this);
    m_wndProcessList = new CProcessListWnd(programDirectory, this);
    m_trayIcon->setIcon(QIcon(QString::fromLatin1(buildinfo::kAppIcon)));
    // The tip is cut to what the notification area takes (63 characters).
    m_trayIcon->setToolTip(Text(IDS_APP_TITLE).left(63));
}

CMainFrame::~CMainFrame()
{
    m_trayIcon->hide();
}

bool CMainFrame::Create()
{
    setWindowTitle(Text(IDS_APP_TITLE));
    setWindowIcon(QIcon(QString::fromLatin1(buildinfo::kAppIcon)));
    CreateClient();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    RestoreWindowRect();
    CreateTrayMenu();
    StartTimers();
    UpdateCommandUI();
    return true;
}

void CMainFrame::CreateClient()
{
    // Creating it starts the monitor thread. Its end is the second close request.
    setCentralWidget(m_wndProcessList);
    m_wndProcessList->Create();
    connect(m_wndProcessList, &CProcessListWnd::threadEnded, this, &CMainFrame::RequestClose,
            Qt::QueuedConnection);
    connect(m_wndProcessList, &CProcessListWnd::selectionMarkChanged, this,
            &CMainFrame::UpdateCommandUI);
    connect(m_wndProcessList, &CProcessListWnd::contextMenuRequested, this,
            &CMainFrame::OnContextMenu);
    connect(m_wndProcessList, &CProcessListWnd::backgroundFailure, this,
            [this](const QString& text) { statusBar()->showMessage(text); });
}

void CMainFrame::StartTimers()
{
    m_trayWatch = new QTimer(this);
    m_trayWatch->setSingleShot(true);
    connect(m_trayWatch, &QTimer::timeout, this, &CMainFrame::OnTrayCheck);

    // Idle updates only while shown: hidden (in the tray, or not yet shown) nothing they touch
    // is on screen, and the menus bring themselves up to date as they open.
    m_idleTimer = new QTimer(this);
    m_idleTimer->setInterval(250);
    connect(m_idleTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommandUI);
    if (isVisible())
        m_idleTimer->start();
}

std::span<const CommandFacts> CMainFrame::CommandTable()
{
    // Each menu, the toolbar and the tray menu list their commands in this order.
    static constexpr CommandFacts kTable[] = {
        {ID_APP_EXIT, IDS_MENU_EXIT, Qt::ALT | Qt::Key_X,
         "menu-exit.svg", "toolbar-exit.svg", BarMenu::File, 0, &CMainFrame::OnAppExit},
        {ID_PROCESS_KILL, IDS_MENU_KILL, kNoKey,
         "menu-kill.svg", "toolbar-kill.svg", BarMenu::Process, kGapOnToolBar,
         &CMainFrame::OnKillProcess},
        {ID_PROCESS_DISABLE, IDS_MENU_DISABLE, kNoKey,
         "menu-disable.svg", "toolbar-disable.svg", BarMenu::Process, 0,
         &CMainFrame::OnDisableProcess},
        {ID_TRAY_OPEN, IDS_TRAY_OPEN, kNoKey,
         nullptr, nullptr, BarMenu::None, kInTray | kTrayDefault, &CMainFrame::OnTrayOpen},
        {ID_PROCESS_DISABLEDLIST, IDS_MENU_DISABLED_LIST, Qt::CTRL | Qt::Key_D,
         "menu-disabledlist.svg", nullptr, BarMenu::Process, 0, &CMainFrame::OnDisabledList},
        // The tray's own copy, whose status-bar prompt is none.
        {ID_TRAY_DISABLEDLIST, IDS_MENU_DISABLED_LIST, kNoKey,
         "menu-disabledlist.svg", nullptr, BarMenu::None, kInTray, &CMainFrame::OnDisabledList},
        {ID_PROCESS_EVENTLOG, IDS_MENU_VIEW_EVENTLOG, Qt::CTRL | Qt::Key_L,
         "menu-eventlog.svg", nullptr, BarMenu::Process, kInTray, &CMainFrame::OnEventLog},
        {ID_PROCESS_FIND, IDS_MENU_FIND, Qt::CTRL | Qt::Key_F,
         nullptr, nullptr, BarMenu::Process, kGapInMenu, &CMainFrame::OnFind},
        {ID_VIEW_TOOLBAR, IDS_MENU_SHOW_TOOLBAR, kNoKey,
         nullptr, nullptr, BarMenu::View, kCheckable, &CMainFrame::OnViewToolBar},
        {ID_VIEW_STATUS_BAR, IDS_MENU_SHOW_STATUSBAR, kNoKey,
         nullptr, nullptr, BarMenu::View, kCheckable, &CMainFrame::OnViewStatusBar},
        {ID_SETTINGS_EVENTLOG, IDS_MENU_EVENTLOG_SWITCH, kNoKey,
         nullptr, nullptr, BarMenu::Settings, kCheckable, &CMainFrame::OnToggleEventLog},
        {ID_SETTINGS_MINIMIZE, IDS_MENU_MINIMIZE_AT_START, kNoKey,
         nullptr, nullptr, BarMenu::Settings, kCheckable, &CMainFrame::OnToggleMinimizeAtStart},
        {ID_HELP_MANUAL, IDS_MENU_HELP, QKeyCombination(Qt::Key_F1),
         "menu-help.svg", nullptr, BarMenu::Help, 0, &CMainFrame::OnHelpManual},
        {ID_APP_ABOUT, IDS_MENU_ABOUT, kNoKey,
         "menu-help.svg", "toolbar-about.svg", BarMenu::Help, kGapOnToolBar,
         &CMainFrame::OnAppAbout},
        {ID_TRAY_EXIT, IDS_MENU_EXIT, kNoKey,
         "menu-exit.svg", nullptr, BarMenu::None, kInTray, &CMainFrame::OnTrayExit},
    };
    return kTable;
}

void CMainFrame::AddCommand(const CommandFacts& facts)
{
    auto* action = new QAction(Text(facts.text), this);
    action->setProperty("commandId", facts.id);
    action->setStatusTip(PromptOf(facts.id));
    action->setToolTip(ToolTipOf(facts.id));
    if (facts.menuImage)
        action->setIcon(MenuImage(facts.menuImage));
    action->setCheckable((facts.flags & kCheckable) != 0);
    if (facts.key.toCombined() != 0) {
        action->setShortcut(facts.key);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(action, &QAction::triggered, this, facts.handler);
    m_commands[facts.id] = action;
}

QAction* CMainFrame::Command(unsigned id) const
{
    const auto it = m_commands.find(id);
    return it == m_commands.end() ? nullptr : it->second;
}

QToolButton* CMainFrame::ToolButton(unsigned id) const
{
    const auto it = m_toolButtons.find(id);
    return it == m_toolButtons.end() ? nullptr : it->second;
}

void CMainFrame::CreateMenus()
{
    for (const CommandFacts& facts : CommandTable())
        AddCommand(facts);

    for (int index = 0; index < kBarMenuCount; ++index) {
        const auto place = static_cast<BarMenu>(index);
        QMenu* menu = menuBar()->addMenu(Text(kBarMenuTitles[index]));
        for (const CommandFacts& facts : CommandTable()) {
            if (facts.menu != place)
                continue;
            if (facts.flags & kGapInMenu)
                menu->addSeparator();
            menu->addAction(Command(facts.id));
        }
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        menu->installEventFilter(this);
        if (place == BarMenu::Process)
            m_processMenu = menu;
    }
}

void CMainFrame::CreateToolBar()
{
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("ToolBar"));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->setIconSize(QSize(16, 15));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const CommandFacts& facts : CommandTable()) {
        if (!facts.toolBarImage)
            continue;
        if (facts.flags & kGapOnToolBar)
            m_wndToolBar->addSeparator();
        AddToolButton(facts);
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
}

void CMainFrame::AddToolButton(const CommandFacts& facts)
{
    // A button rather than the action itself: a button shows its own 16 x 15 picture (the
    // menus show the 12 x 12 ones) and has a tooltip only where one is written down, where an
    // action's button would fall back to the menu text.
    QAction* action = Command(facts.id);
    auto* button = new QToolButton(m_wndToolBar);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(QIcon(QStringLiteral(":/shell/%1").arg(QLatin1String(facts.toolBarImage))));
    button->setIconSize(QSize(16, 15));
    button->setStatusTip(action->statusTip());
    button->setToolTip(ToolTipOf(facts.id));
    button->setProperty("commandId", facts.id);
    button->installEventFilter(this);
    button->setEnabled(action->isEnabled());
    connect(button, &QToolButton::clicked, action, &QAction::trigger);
    connect(action, &QAction::changed, button,
            [button, action] { button->setEnabled(action->isEnabled()); });
    m_wndToolBar->addWidget(button);
    m_toolButtons[facts.id] = button;
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    m_messagePane = new QLabel(Text(IDS_IDLE_MESSAGE), bar);
    bar->addWidget(m_messagePane, 1);
    const QFontMetrics metrics(bar->font());
    const unsigned ids[3] = {IDS_INDICATOR_CAPS, IDS_INDICATOR_NUM, IDS_INDICATOR_SCRL};
    for (int i = 0; i < 3; ++i) {
        auto* pane = new QLabel(bar);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(metrics.horizontalAdvance(Text(ids[i])) + 12);
        bar->addPermanentWidget(pane);
        m_indicatorPanes[i] = pane;
    }
}

void CMainFrame::CreateTrayMenu()
{
    m_trayMenu = new QMenu(this);
    QAction* open = nullptr;
    for (const CommandFacts& facts : CommandTable()) {
        if (!(facts.flags & kInTray))
            continue;
        QAction* action = Command(facts.id);
        m_trayMenu->addAction(action);
        if (facts.flags & kTrayDefault) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
            open = action;
        }
    }
    connect(m_trayMenu, &QMenu::aboutToShow, this, [this, open] {
        m_trayMenu->setDefaultAction(open);
        UpdateCommandUI();
    });
    m_trayMenu->setDefaultAction(open);
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    OnTrayOpen();
            });
}

void CMainFrame::RestoreWindowRect()
{
    const SettingsRecord s = m_wndProcessList->Settings();
    // The four values add up with 32-bit wrap-around; a sum of 0 means "no saved rectangle".
    const std::uint32_t sum = static_cast<std::uint32_t>(s.windowLeft) +
                              static_cast<std::uint32_t>(s.windowTop) +
                              static_cast<std::uint32_t>(s.windowRight) +
                              static_cast<std::uint32_t>(s.windowBottom);
    if (sum == 0) {
        // No saved rectangle: the window manager places the window, at a size that shows the
        // list's columns the way a new window of the desktop would be sized.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            resize(screen->availableGeometry().size() * 3 / 4);
        return;
    }
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    const QRect fitted = FitIntoAreas(s.windowLeft, s.windowTop, s.windowRight, s.windowBottom, areas);
    // The rectangle is the outer one; until the window frame is known it is used for the
    // client, and FitSavedOuterRect corrects it once the window is on screen.
    resize(fitted.size());
    if (!OnWayland())
        move(fitted.topLeft());
    m_savedOuterRect = fitted;
}

QRect CMainFrame::FitIntoAreas(std::int64_t left, std::int64_t top, std::int64_t right,
                               std::int64_t bottom, const QList<QRect>& areas)
{
    const auto clampSize = [](std::int64_t size) {
        return static_cast<int>(std::clamp<std::int64_t>(size, 0, QWIDGETSIZE_MAX));
    };
    const int width = clampSize(right - left);
    const int height = clampSize(bottom - top);
    const auto clampPos = [](std::int64_t pos) {
        return static_cast<int>(std::clamp<std::int64_t>(pos, INT_MIN / 2, INT_MAX / 2));
    };
    const QRect saved(clampPos(left), clampPos(top), width, height);
    if (areas.isEmpty())
        return saved;

    // A rectangle that lies within the screens' available area, across several screens
    // included, is kept as saved.
    QRegion available;
    for (const QRect& area : areas)
        available += area;
    if (left == saved.left() && top == saved.top() && QRegion(saved).subtracted(available).isEmpty())
        return saved;

    // Otherwise it goes to the screen it covers most (the first one when it covers none): moved
    // inside first, then shrunk where it is still larger than the screen.
    QRect area = areas.front();
    std::int64_t best = 0;
    for (const QRect& candidate : areas) {
        const QRect common = candidate.intersected(saved);
        const std::int64_t covered = std::int64_t{common.width()} * common.height();
        if (covered > best) {
            best = covered;
            area = candidate;
        }
    }
    const int w = std::min(width, area.width());
    const int h = std::min(height, area.height());
    const int x = static_cast<int>(std::clamp<std::int64_t>(left, area.left(), std::int64_t{area.right()} + 1 - w));
    const int y = static_cast<int>(std::clamp<std::int64_t>(top, area.top(), std::int64_t{area.bottom()} + 1 - h));
    return QRect(x, y, w, h);
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_idleTimer && !m_bClosed && !m_idleTimer->isActive()) {
        UpdateCommandUI();
        m_idleTimer->start();
    }
    if (m_savedOuterRect)
        QTimer::singleShot(100, this, &CMainFrame::FitSavedOuterRect);
}

void CMainFrame::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    if (m_idleTimer)
        m_idleTimer->stop();
}

void CMainFrame::FitSavedOuterRect()
{
    // Only a plain window on screen can be fitted; a window that starts minimised or maximised
    // is fitted when it first becomes plain.
    if (!m_savedOuterRect || !isVisible() || isMinimized() || isMaximized() || !windowHandle())
        return;
    const QRect outer = *m_savedOuterRect;
    const QMargins margins = windowHandle()->frameMargins();
    m_savedOuterRect.reset();
    if (margins.isNull())
        return;
    resize(std::max(0, outer.width() - margins.left() - margins.right()),
           std::max(0, outer.height() - margins.top() - margins.bottom()));
    if (!OnWayland())
        move(outer.topLeft());
}

void CMainFrame::UpdateCommandUI()
{
    if (m_commands.empty())
        return;
    const bool hasSelection = m_wndProcessList->GetSelectionMark() != -1;
    Command(ID_PROCESS_KILL)->setEnabled(hasSelection);
    Command(ID_PROCESS_DISABLE)->setEnabled(hasSelection);
    const SettingsRecord s = m_wndProcessList->Settings();
    Command(ID_SETTINGS_EVENTLOG)->setChecked(s.eventLogOn != 0);
    Command(ID_SETTINGS_MINIMIZE)->setChecked(s.minimizeAtStart != 0);
    Command(ID_VIEW_TOOLBAR)->setChecked(m_wndToolBar && !m_wndToolBar->isHidden());
    Command(ID_VIEW_STATUS_BAR)->setChecked(!statusBar()->isHidden());
    UpdateIndicators();
}

void CMainFrame::UpdateIndicators()
{
    if (!m_indicatorPanes[0])
        return;
    const auto state = CLockIndicators::Query();
    const bool on[3] = {state && state->caps, state && state->num, state && state->scroll};
    const unsigned ids[3] = {IDS_INDICATOR_CAPS, IDS_INDICATOR_NUM, IDS_INDICATOR_SCRL};
    for (int i = 0; i < 3; ++i) {
        const QString text = on[i] ? Text(ids[i]) : QString();
        if (m_indicatorPanes[i]->text() != text)
            m_indicatorPanes[i]->setText(text);
    }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    // A toolbar button without a written tooltip shows none.
    if (event->type() == QEvent::ToolTip) {
        auto* button = qobject_cast<QToolButton*>(watched);
        if (button && button->toolTip().isEmpty())
            return true;
    }
    if (auto* menu = qobject_cast<QMenu*>(watched))
        ShowGreyedPrompt(*menu, event);
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::ShowGreyedPrompt(const QMenu& menu, const QEvent* event)
{
    // A menu highlights no greyed entry and says nothing of it: the entry under the mouse
    // shows its prompt here, until the mouse leaves it or the menu closes (an enabled entry's
    // own prompt then takes the place, or "Ready" comes back).
    QAction* greyed = nullptr;
    if (event->type() == QEvent::MouseMove) {
        QAction* under = menu.actionAt(static_cast<const QMouseEvent*>(event)->position().toPoint());
        if (under != nullptr && under->isEnabled() && !under->isSeparator()) {
            m_greyedPrompt = nullptr; // the menu shows this one's prompt itself
            return;
        }
        if (under != nullptr && !under->isSeparator())
            greyed = under;
    } else if (event->type() != QEvent::Leave && event->type() != QEvent::Hide) {
        return;
    }
    if (greyed == m_greyedPrompt)
        return;
    const bool wasShown = m_greyedPrompt != nullptr;
    m_greyedPrompt = greyed;
    if (greyed == nullptr && !wasShown)
        return;
    // After the menu has handled the event: leaving an enabled entry, it clears the prompt.
    QMetaObject::invokeMethod(
        this,
        [this, greyed = QPointer<QAction>(greyed)] {
            if (greyed != m_greyedPrompt)
                return;
            QStatusTipEvent tip(greyed != nullptr ? greyed->statusTip() : QString());
            QApplication::sendEvent(this, &tip);
        },
        Qt::QueuedConnection);
}

void CMainFrame::focusInEvent(QFocusEvent* event)
{
    QMainWindow::focusInEvent(event);
    m_wndProcessList->setFocus(event->reason());
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        // While a dialog is open the window takes no input: the window manager's focus (a
        // window that comes back is focused as it maps) goes on to the dialog.
        if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this)
            modal->activateWindow();
        else
            m_wndProcessList->setFocus(Qt::ActiveWindowFocusReason);
    } else if (event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if (m_savedOuterRect && !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)))
            QTimer::singleShot(100, this, &CMainFrame::FitSavedOuterRect);
        if ((windowState() & Qt::WindowMinimized) && !(change->oldState() & Qt::WindowMinimized)) {
            m_bWasMaximized = (change->oldState() & Qt::WindowMaximized) ||
                              (windowState() & Qt::WindowMaximized);
            HideToTray();
        }
    }
}

bool CMainFrame::TrayAvailable() const
{
    return m_trayOverride ? *m_trayOverride : QSystemTrayIcon::isSystemTrayAvailable();
}

bool CMainFrame::IsInTray() const
{
    return m_trayIcon->isVisible();
}

void CMainFrame::HideToTray()
{
    // Without a notification area there would be no way back to a hidden window: it stays
    // minimised instead.
    if (m_bClosed || !TrayAvailable())
        return;
    // Hidden after the state change has been handled; hiding from inside it confuses some
    // window managers.
    QTimer::singleShot(0, this, [this] {
        if (m_bClosed || !isMinimized() || IsInTray())
            return;
        hide();
        m_trayIcon->show();
        ListenToTrayBus();
        m_trayWatch->start(kFirstTrayCheckMs);
    });
}

void CMainFrame::OnTrayCheck()
{
    if (m_bClosed || !IsInTray())
        return;
    QElapsedTimer took;
    took.start();
    if (TrayAvailable()) {
        // The check takes the desktop's own way (with a StatusNotifier host, a new connection
        // to the session bus each time): it runs at most a thousandth of the time, and only
        // now and then where the area tells of its end itself.
        const qint64 next = TrayTellsItsEnd() ? kLastTrayCheckMs : took.nsecsElapsed() / 1000;
        m_trayWatch->start(static_cast<int>(std::clamp<qint64>(next, kFirstTrayCheckMs, kLastTrayCheckMs)));
        return;
    }
    // The notification area has gone (its panel ended): nothing could bring the window back.
    const QString notice = Text(IDS_MSG_TRAY_GONE);
    std::fprintf(stderr, "orvane: %s\n", notice.toLocal8Bit().constData());
    OnTrayOpen();
    statusBar()->showMessage(notice);
}

void CMainFrame::ListenToTrayBus()
{
    // A StatusNotifier area tells when its watcher goes or a host leaves: the check runs then,
    // instead of waiting for the next poll. Set up the first time the window goes to the tray,
    // when the desktop's own check has just made the bus connection it would use.
    if (m_bListeningToTrayBus || m_trayOverride)
        return;
    m_bListeningToTrayBus = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(kNotifierWatcher, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &CMainFrame::OnTrayCheck);
    bus.connect(kNotifierWatcher, kNotifierWatcherPath, kNotifierWatcher,
                QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(OnTrayCheck()));
}

bool CMainFrame::TrayTellsItsEnd() const
{
    if (!m_bListeningToTrayBus || m_trayOverride)
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage ask = QDBusMessage::createMethodCall(kNotifierWatcher, kNotifierWatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    ask << kNotifierWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage answer = bus.call(ask, QDBus::Block, 1000);
    return answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().isEmpty()
           && answer.arguments().front().value<QDBusVariant>().variant().toBool();
}

void CMainFrame::OnTrayOpen()
{
    m_trayIcon->hide();
    m_trayWatch->stop();
    // Once back from the tray the window keeps above the others for the rest of its life. The
    // window system is told through the window's handle: setting the widget's flag would make
    // the window anew, and a dialog open in it would lose the window it belongs to.
    if (!(windowFlags() & Qt::WindowStaysOnTopHint)) {
        overrideWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
        if (QWindow* window = windowHandle())
            window->setFlags(windowFlags());
    }
    if (m_bWasMaximized)
        showMaximized();
    else
        showNormal();
    raise();
    activateWindow();
    BringBackDialogs();
    // Leaving the minimised state maps the window (X11) before its stay-on-top state is written
    // for the window manager, which then takes the window back without it now and then; once
    // the window is back the state is asked for again, the way a mapped window's state is
    // changed. The dialogs are raised again over the window that came back.
    QTimer::singleShot(0, this, [this] {
        QWindow* window = windowHandle();
        if (window == nullptr || !isVisible() || !(windowFlags() & Qt::WindowStaysOnTopHint))
            return;
        window->setFlags(window->flags() & ~Qt::WindowStaysOnTopHint);
        window->setFlags(window->flags() | Qt::WindowStaysOnTopHint);
        BringBackDialogs();
    });
}

void CMainFrame::BringBackDialogs()
{
    // Each dialog after the one it belongs to, so that the stacking follows the chain.
    QList<std::pair<int, QDialog*>> dialogs;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(top);
        if (dialog == nullptr || !dialog->isVisible() || !dialog->isModal())
            continue;
        int depth = 0;
        for (const QWidget* owner = dialog->parentWidget(); owner != nullptr; owner = owner->parentWidget())
            ++depth;
        dialogs.append({depth, dialog});
    }
    std::sort(dialogs.begin(), dialogs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [depth, dialog] : dialogs) {
        // The window may have come back as a new native window: its dialogs are tied to it
        // anew, so that the window manager keeps them above it.
        if (dialog->parentWidget() != nullptr && dialog->parentWidget()->window() == this)
            CTransientOwner::Tie(*dialog, *this);
        if (dialog->isMinimized())
            dialog->showNormal();
        dialog->raise();
    }
    if (QWidget* innermost = QApplication::activeModalWidget())
        innermost->activateWindow();
}

void CMainFrame::ShowProgram()
{
    if (IsInTray())
        OnTrayOpen();
    else
        BringBackDialogs();
}

void CMainFrame::OnTrayExit()
{
    m_trayIcon->hide();
    RequestClose();
}

void CMainFrame::CapturePlacement()
{
    SettingsRecord s = m_wndProcessList->Settings();
    if (isMinimized() || IsInTray()) {
        // In the tray: the icon goes now; the rectangle and the maximised flag stay as loaded.
        m_trayIcon->hide();
        return;
    }
    if (isHidden())
        return; // never shown: there is no placement to keep
    if (isMaximized()) {
        s.maximized = 1;
        m_wndProcessList->SetSettings(s);
        return;
    }
    const QRect outer = frameGeometry();
    if (OnWayland()) {
        // The position is not reported there; only the size is kept.
        s.windowRight = s.windowLeft + outer.width();
        s.windowBottom = s.windowTop + outer.height();
    } else {
        s.windowLeft = outer.left();
        s.windowTop = outer.top();
        s.windowRight = outer.left() + outer.width();
        s.windowBottom = outer.top() + outer.height();
    }
    s.maximized = 0;
    m_wndProcessList->SetSettings(s);
}

bool CMainFrame::OnClose()
{
    CapturePlacement();
    m_wndProcessList->PrepareClose();
    return m_wndProcessList->ThreadEnded();
}

void CMainFrame::FinishClose()
{
    m_bClosed = true;
    m_trayIcon->hide();
    if (m_idleTimer)
        m_idleTimer->stop();
    hide();
    emit frameClosed();
}

void CMainFrame::RequestClose()
{
    if (m_bClosed)
        return;
    if (OnClose())
        FinishClose();
}

void CMainFrame::OnQueryEndSession()
{
    RequestClose();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_bClosed) {
        event->accept();
        return;
    }
    if (OnClose()) {
        FinishClose();
        event->accept();
    } else {
        // The window stays, fully usable, until the monitor thread has ended.
        event->ignore();
    }
}

void CMainFrame::OnAppExit()
{
    close();
}

void CMainFrame::OnViewToolBar()
{
    m_wndToolBar->setVisible(Command(ID_VIEW_TOOLBAR)->isChecked());
}

void CMainFrame::OnViewStatusBar()
{
    statusBar()->setVisible(Command(ID_VIEW_STATUS_BAR)->isChecked());
}

void CMainFrame::OnKillProcess()
{
    if (AskYesNo(this, IDS_ASK_KILL))
        m_wndProcessList->KillSelected();
}

void CMainFrame::OnDisableProcess()
{
    if (!AskYesNo(this, IDS_ASK_DISABLE))
        return;
    TellFileFailure(this, IDS_ERR_LIST_ADD, m_wndProcessList->Monitor().DisabledListPath(),
                    m_wndProcessList->DisableSelected().error());
}

void CMainFrame::OnToggleEventLog()
{
    if (m_wndProcessList->Settings().eventLogOn != 0) {
        m_wndProcessList->StopEventLog();
    } else {
        const std::error_code error = m_wndProcessList->StartEventLog().error();
        UpdateCommandUI(); // no check mark when the log could not be opened
        TellFileFailure(this, IDS_ERR_LOG_ON, m_wndProcessList->Monitor().EventLogPath(), error);
    }
    UpdateCommandUI();
}

void CMainFrame::OnToggleMinimizeAtStart()
{
    SettingsRecord s = m_wndProcessList->Settings();
    s.minimizeAtStart = s.minimizeAtStart == 0 ? 1 : 0;
    m_wndProcessList->SetSettings(s);
    UpdateCommandUI();
}

void CMainFrame::OnDisabledList()
{
    // From the tray menu while a dialog is open: that dialog is what the user finds, not a
    // second one over it.
    if (QApplication::activeModalWidget() != nullptr) {
        ShowProgram();
        return;
    }
    m_wndProcessList->ShowDisabledList();
}

void CMainFrame::OnEventLog()
{
    if (QApplication::activeModalWidget() != nullptr) {
        ShowProgram();
        return;
    }
    CLogsViewDlg dialog(this);
    CProcessMonitor& monitor = m_wndProcessList->Monitor();
    dialog.m_path = monitor.EventLogPath();
    dialog.m_runWithLogClosed = [&monitor](const std::function<void(const std::string&)>& operation) {
        return monitor.RunWithLogClosed(operation);
    };
    dialog.exec();
}

void CMainFrame::OnFind()
{
    m_wndProcessList->OpenFindBar();
}

void CMainFrame::OnAppAbout()
{
    CAboutBox box(this);
    box.exec();
}

QString CMainFrame::ManualPath(const QString& executableDirectory)
{
    return QDir::cleanPath(QString::fromStdString(::ManualPath(executableDirectory.toStdString())));
}

void CMainFrame::OnHelpManual()
{
    // A missing manual or viewer is not reported.
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(ManualPath(QString::fromStdString(ExecutableDirectory()))));
}

void CMainFrame::OnContextMenu(const QPoint& globalPos)
{
    UpdateCommandUI();
    m_processMenu->popup(globalPos);
}
