// The main frame and the application: menus, toolbar, status bar, the tray, the commands
// against real processes (uniquely named copies of `sleep`, so that a disabled name touches
// nothing else on the machine) and the close procedure with the Settings.dat it leaves, all in
// a temporary program directory.

#include "Children.h"
#include "CMainFrame.h"
#include "CProcessListWnd.h"
#include "CSignalBridge.h"
#include "controls/CAboutBox.h"
#include "controls/CFindBar.h"
#include "dialogs/CDListDlg.h"
#include "dialogs/CLogsViewDlg.h"
#include "shell/CMonitorApp.h"
#include "storage/CDataFile.h"
#include "storage/StringTable.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <csignal>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kWatchTimeoutMs = 20000;

void WriteSettings(const QString& dir, const SettingsRecord& settings)
{
    CDataFile file;
    file.m_path = QDir(dir).filePath("Settings.dat").toStdString();
    QVERIFY(SaveSettings(settings, file));
}

// The file's 32 bytes as a record; `size` gets the file's length.
SettingsRecord ReadSettings(const QString& dir, qint64* size = nullptr)
{
    QFile file(QDir(dir).filePath("Settings.dat"));
    SettingsRecord record;
    if (!file.open(QIODevice::ReadOnly))
        return record;
    const QByteArray bytes = file.readAll();
    if (size)
        *size = bytes.size();
    if (bytes.size() == SettingsRecord::kSize) {
        unsigned char raw[SettingsRecord::kSize];
        std::memcpy(raw, bytes.constData(), sizeof raw);
        record.FromBytes(raw);
    }
    return record;
}

// The live row of `pid` in the list (PID column, no finish time), -1 when there is none yet.
int LiveRow(CMainFrame& frame, pid_t pid)
{
    const QAbstractItemModel* model = frame.ProcessList()->List()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 1).data().toString() == QString::number(pid) &&
            model->index(row, 3).data().toString().trimmed().isEmpty())
            return row;
    }
    return -1;
}

// Runs `handler` once on the next modal window to open (from inside its exec()). The watch
// ends with the returned object, so that a dialog that never came cannot reach a later test.
using ModalWatch = std::unique_ptr<QTimer>;
[[nodiscard]] ModalWatch WhenModalOpens(std::function<void(QWidget*)> handler)
{
    auto timer = std::make_unique<QTimer>();
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, [raw, handler] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            raw->stop();
            handler(modal);
        }
    });
    raw->start(20);
    return timer;
}

// Answers the next Yes/No question with `answer`; `asked` gets its text.
[[nodiscard]] ModalWatch AnswerQuestion(QMessageBox::StandardButton answer, QString* asked)
{
    return WhenModalOpens([answer, asked](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        *asked = box->text();
        box->button(answer)->click();
    });
}

// Answers every message box while it lives, Yes where there is a Yes, else OK; `texts` gets
// the text of each box answered.
[[nodiscard]] ModalWatch AnswerEveryBox(QStringList* texts)
{
    auto timer = std::make_unique<QTimer>();
    auto last = std::make_shared<QPointer<QMessageBox>>();
    QObject::connect(timer.get(), &QTimer::timeout, [texts, last] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == *last)
            return;
        *last = box;
        *texts << box->text();
        (box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes) : box->button(QMessageBox::Ok))->click();
    });
    timer->start(20);
    return timer;
}

// A frame over its own program directory, created (its monitor running).
struct Frame {
    QTemporaryDir dir;
    std::unique_ptr<CMainFrame> frame;

    explicit Frame(const SettingsRecord& settings = {})
    {
        WriteSettings(dir.path(), settings);
        frame = std::make_unique<CMainFrame>(dir.path().toStdString());
        frame->Create();
    }
    CMainFrame* operator->() const { return frame.get(); }
    // A real close: the close procedure now, the window gone when the monitor has ended.
    bool CloseAndWait(const std::function<void()>& request)
    {
        QSignalSpy closed(frame.get(), &CMainFrame::frameClosed);
        request();
        return closed.count() > 0 || closed.wait(kWatchTimeoutMs);
    }
};

QString MenuTitle(int index)
{
    return index >= 0 && index < 5 ? QStringLiteral("File,Process,View,Settings,Help")
                                         .split(QLatin1Char(','))[index]
                                   : QString();
}

// The widgets that show the frame's commands, as "text" rows (a separator as "-").
QStringList Shown(const QList<QAction*>& actions)
{
    QStringList shown;
    for (const QAction* action : actions)
        shown << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return shown;
}

QString PromptOf(unsigned id)
{
    return QString::fromStdString(LoadString(id)).section(QLatin1Char('\n'), 0, 0);
}

QString ToolTipOf(unsigned id)
{
    return QString::fromStdString(LoadString(id)).section(QLatin1Char('\n'), 1);
}

} // namespace

class TestMainFrame : public QObject {
    Q_OBJECT

private slots:
    void menuBar();
    void trayMenu();
    void killAndDisableGreyedWithoutSelection();
    void statusPrompts_data();
    void statusPrompts();
    void greyedEntriesShowTheirPrompt();
    void toolTips();
    void toolBarLayout();
    void killAnsweredNoThenYes();
    void disableAddsNameAndKills();
    void contextMenuIsTheProcessMenu();
    void acceleratorsActWhileListHasFocus();
    void switchesSurviveClose();
    void refusedFilesAreTold_data();
    void refusedFilesAreTold();
    void placementRoundTrip_data();
    void placementRoundTrip();
    void savedRectangle_data();
    void savedRectangle();
    void fitIntoAreas_data();
    void fitIntoAreas();
    void savedRectangleIsTheOuterOne();
    void trayHideAndRestore_data();
    void trayHideAndRestore();
    void withoutTrayMinimisingKeepsWindow();
    void trayGoneBringsTheWindowBack();
    void dialogsFromTrayKeepProgramInTray();
    void trayBringsBackTheModalDialog_data();
    void trayBringsBackTheModalDialog();
    void trayExitRemovesIconAndCloses();
    void startState_data();
    void startState();
    void signalBridge();
    void manualPath_data();
    void manualPath();
    void versionInPictureAndManual();
};

// Every row of the command table with a menu of the bar is an entry there, in the table's
// order and after its separator, with its text, picture, accelerator and check mark; the key
// a text names after its tab is the accelerator that runs it ("Del" belongs to the list).
void TestMainFrame::menuBar()
{
    Frame frame;
    const QList<QAction*> top = frame->menuBar()->actions();
    QCOMPARE(top.size(), kBarMenuCount);
    for (int index = 0; index < kBarMenuCount; ++index) {
        QCOMPARE(top[index]->text(), MenuTitle(index));
        QVERIFY(top[index]->menu());
        QStringList expected;
        for (const CommandFacts& facts : CMainFrame::CommandTable()) {
            if (facts.menu != static_cast<BarMenu>(index))
                continue;
            if (facts.flags & kGapInMenu)
                expected << QStringLiteral("-");
            expected << QString::fromStdString(LoadString(facts.text));
            QAction* entry = frame->Command(facts.id);
            QVERIFY(top[index]->menu()->actions().contains(entry));
            QCOMPARE(entry->property("commandId").toUInt(), uint(facts.id));
            QCOMPARE(entry->icon().isNull(), facts.menuImage == nullptr);
            QCOMPARE(entry->isCheckable(), (facts.flags & kCheckable) != 0);
            const QKeySequence shortcut = entry->shortcut();
            QCOMPARE(shortcut, QKeySequence(facts.key));
            const QString named = entry->text().section(QLatin1Char('\t'), 1);
            if (!shortcut.isEmpty()) {
                QCOMPARE(shortcut.toString(QKeySequence::PortableText), named);
                QCOMPARE(entry->shortcutContext(), Qt::WindowShortcut);
            } else {
                QVERIFY2(named.isEmpty() || named == QLatin1String("Del"), qPrintable(named));
            }
        }
        QCOMPARE(Shown(top[index]->menu()->actions()), expected);
    }
}

void TestMainFrame::trayMenu()
{
    Frame frame;
    QMenu* menu = frame->TrayMenu();
    QCOMPARE(frame->TrayIcon()->contextMenu(), menu);
    QCOMPARE(frame->TrayIcon()->toolTip(), QStringLiteral("Orvane v 1.1 XP"));
    QVERIFY(!frame->TrayIcon()->icon().isNull());
    QList<QAction*> expected;
    for (const CommandFacts& facts : CMainFrame::CommandTable()) {
        if (!(facts.flags & kInTray))
            continue;
        QAction* entry = frame->Command(facts.id);
        expected << entry;
        QCOMPARE(entry->text(), QString::fromStdString(LoadString(facts.text)));
        QCOMPARE(entry->icon().isNull(), facts.menuImage == nullptr);
        QVERIFY(entry->isEnabled());
        QCOMPARE(entry->font().bold(), (facts.flags & kTrayDefault) != 0);
        if (facts.flags & kTrayDefault)
            QCOMPARE(menu->defaultAction(), entry);
        // Its picture drawn as the menu bar draws the same one.
        for (const CommandFacts& bar : CMainFrame::CommandTable()) {
            if (facts.menuImage && bar.menu != BarMenu::None && bar.menuImage
                && qstrcmp(bar.menuImage, facts.menuImage) == 0)
                QCOMPARE(entry->icon().pixmap(16).toImage(),
                         frame->Command(bar.id)->icon().pixmap(16).toImage());
        }
    }
    QCOMPARE(menu->actions(), expected);
    QVERIFY(menu->defaultAction());
}

void TestMainFrame::killAndDisableGreyedWithoutSelection()
{
    Frame frame;
    frame->show();
    QCOMPARE(frame->ProcessList()->GetSelectionMark(), -1);
    for (const CommandFacts& facts : CMainFrame::CommandTable()) {
        const bool onSelection = facts.id == ID_PROCESS_KILL || facts.id == ID_PROCESS_DISABLE;
        QVERIFY2(frame->Command(facts.id)->isEnabled() != onSelection,
                 qPrintable(QString::number(facts.id)));
        if (QToolButton* button = frame->ToolButton(facts.id))
            QVERIFY(button->isEnabled() != onSelection);
    }

    QTRY_VERIFY_WITH_TIMEOUT(frame->ProcessList()->List()->model()->rowCount() > 0,
                             kWatchTimeoutMs);
    frame->ProcessList()->SetSelectionMark(0);
    QTRY_VERIFY(frame->Command(ID_PROCESS_KILL)->isEnabled());
    QVERIFY(frame->Command(ID_PROCESS_DISABLE)->isEnabled());
    QVERIFY(frame->ToolButton(ID_PROCESS_KILL)->isEnabled());
    QVERIFY(frame->ToolButton(ID_PROCESS_DISABLE)->isEnabled());
}

void TestMainFrame::statusPrompts_data()
{
    QTest::addColumn<uint>("command");
    for (const CommandFacts& facts : CMainFrame::CommandTable())
        QTest::newRow(qPrintable(QString::number(facts.id))) << uint(facts.id);
}

void TestMainFrame::statusPrompts()
{
    QFETCH(uint, command);
    const QString prompt = PromptOf(command);
    Frame frame;
    frame->show();
    QCOMPARE(frame->MessagePane()->text(), QStringLiteral("Ready"));
    QVERIFY(frame->statusBar()->currentMessage().isEmpty());

    // Highlighting the entry shows its prompt in place of "Ready"; leaving it brings "Ready" back.
    frame->Command(command)->showStatusText(frame.frame.get());
    QCOMPARE(frame->statusBar()->currentMessage(), prompt);
    QCOMPARE(frame->MessagePane()->isVisibleTo(frame->statusBar()), prompt.isEmpty());
    QStatusTipEvent leave{QString()};
    QApplication::sendEvent(frame.frame.get(), &leave);
    QVERIFY(frame->statusBar()->currentMessage().isEmpty());
    QVERIFY(frame->MessagePane()->isVisibleTo(frame->statusBar()));

    if (QToolButton* button = frame->ToolButton(command))
        QCOMPARE(button->statusTip(), prompt);
}

// A greyed entry under the mouse shows its prompt as an enabled one does, not "Ready".
void TestMainFrame::greyedEntriesShowTheirPrompt()
{
    Frame frame;
    frame->show();
    QMenu* menu = frame->ProcessMenu();
    QVERIFY(!frame->Command(ID_PROCESS_KILL)->isEnabled());
    menu->popup(frame->mapToGlobal(QPoint(20, 20)));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    // Greyed, enabled, greyed; then the menu closes and "Ready" comes back.
    for (const auto& [id, prompt] : {std::pair(ID_PROCESS_KILL, "Kill process"),
                                     std::pair(ID_PROCESS_DISABLEDLIST, "Disabled processes's list"),
                                     std::pair(ID_PROCESS_DISABLE, "Disable process")}) {
        QTest::mouseMove(menu, menu->actionGeometry(frame->Command(id)).center());
        QTest::qWait(50);
        QCOMPARE(frame->statusBar()->currentMessage(), QString::fromLatin1(prompt));
    }
    menu->hide();
    QTRY_VERIFY(frame->statusBar()->currentMessage().isEmpty());
}

void TestMainFrame::toolTips()
{
    Frame frame;
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.frame.get()));
    QCOMPARE(frame->Command(ID_VIEW_TOOLBAR)->toolTip(), QStringLiteral("Show/Hide ToolBar"));
    QCOMPARE(frame->Command(ID_VIEW_STATUS_BAR)->toolTip(), QStringLiteral("Show/Hide StatusBar"));

    // A toolbar button shows the tooltip written after its prompt, or none at all.
    for (const CommandFacts& facts : CMainFrame::CommandTable()) {
        if (!facts.toolBarImage)
            continue;
        const unsigned id = facts.id;
        const QString expected = ToolTipOf(id);
        QToolButton* button = frame->ToolButton(id);
        QVERIFY(button);
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        const QPoint at(button->width() / 2, button->height() / 2);
        QHelpEvent help(QEvent::ToolTip, at, button->mapToGlobal(at));
        QApplication::sendEvent(button, &help);
        if (expected.isEmpty()) {
            QVERIFY2(!QToolTip::isVisible(), qPrintable(QString::number(id)));
        } else {
            QTRY_VERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), expected);
        }
    }
    QToolTip::hideText();
}

void TestMainFrame::toolBarLayout()
{
    Frame frame;
    QToolBar* bar = frame->ToolBar();
    QCOMPARE(frame->toolBarArea(bar), Qt::TopToolBarArea);
    QVERIFY(bar->isMovable());
    QVERIFY(bar->isFloatable());
    QCOMPARE(bar->allowedAreas(), Qt::AllToolBarAreas);
    QCOMPARE(bar->iconSize(), QSize(16, 15));

    QStringList expected;
    for (const CommandFacts& facts : CMainFrame::CommandTable()) {
        if (!facts.toolBarImage)
            continue;
        if (facts.flags & kGapOnToolBar)
            expected << "|";
        expected << QString::number(facts.id);
    }
    QStringList layout;
    for (QAction* action : bar->actions()) {
        if (action->isSeparator()) {
            layout << "|";
        } else if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action))) {
            layout << QString::number(button->property("commandId").toUInt());
            QVERIFY(!button->icon().isNull());
        }
    }
    QCOMPARE(layout, expected);

    // View's two switches hide and show the bars and carry the check marks.
    frame->show();
    frame->Command(ID_VIEW_TOOLBAR)->trigger();
    QVERIFY(bar->isHidden());
    frame->UpdateCommandUI();
    QVERIFY(!frame->Command(ID_VIEW_TOOLBAR)->isChecked());
    frame->Command(ID_VIEW_STATUS_BAR)->trigger();
    QVERIFY(frame->statusBar()->isHidden());
    frame->Command(ID_VIEW_TOOLBAR)->trigger();
    frame->UpdateCommandUI();
    QVERIFY(!bar->isHidden());
    QVERIFY(frame->Command(ID_VIEW_TOOLBAR)->isChecked());
    QVERIFY(!frame->Command(ID_VIEW_STATUS_BAR)->isChecked());
}

void TestMainFrame::killAnsweredNoThenYes()
{
    Frame frame;
    frame->show();
    Children children;
    const pid_t pid = children.StartSleep(frame.dir.path(), QStringLiteral("mf-kill-sleep"));
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(LiveRow(*frame.frame, pid) >= 0, kWatchTimeoutMs);
    frame->ProcessList()->SetSelectionMark(LiveRow(*frame.frame, pid));
    QTRY_VERIFY(frame->Command(ID_PROCESS_KILL)->isEnabled());

    QString asked;
    auto watch = AnswerQuestion(QMessageBox::No, &asked);
    frame->Command(ID_PROCESS_KILL)->trigger();
    QCOMPARE(asked, QStringLiteral("Kill selected process?"));
    QTest::qWait(300);
    QVERIFY(!children.Reaped(pid));

    asked.clear();
    watch = AnswerQuestion(QMessageBox::Yes, &asked);
    frame->ToolButton(ID_PROCESS_KILL)->click();
    QCOMPARE(asked, QStringLiteral("Kill selected process?"));
    int signal = 0;
    QTRY_VERIFY_WITH_TIMEOUT(children.Reaped(pid, &signal), 5000);
    QCOMPARE(signal, SIGKILL);
    // The row stays and gets its finish time.
    QTRY_VERIFY_WITH_TIMEOUT(LiveRow(*frame.frame, pid) == -1, kWatchTimeoutMs);
}

void TestMainFrame::disableAddsNameAndKills()
{
    Frame frame;
    frame->show();
    Children children;
    const QString name = QStringLiteral("mf-disable-sleep-%1").arg(::getpid());
    const pid_t pid = children.StartSleep(frame.dir.path(), name);
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(LiveRow(*frame.frame, pid) >= 0, kWatchTimeoutMs);
    frame->ProcessList()->SetSelectionMark(LiveRow(*frame.frame, pid));

    QString asked;
    auto watch = AnswerQuestion(QMessageBox::No, &asked);
    frame->Command(ID_PROCESS_DISABLE)->trigger();
    QCOMPARE(asked, QStringLiteral("Disable selected process?"));
    QTest::qWait(300);
    QVERIFY(!children.Reaped(pid));
    QVERIFY(!QFile::exists(QDir(frame.dir.path()).filePath("BlackList.log")));

    watch = AnswerQuestion(QMessageBox::Yes, &asked);
    frame->Command(ID_PROCESS_DISABLE)->trigger();
    int signal = 0;
    QTRY_VERIFY_WITH_TIMEOUT(children.Reaped(pid, &signal), 5000);
    QCOMPARE(signal, SIGKILL);
    QFile list(QDir(frame.dir.path()).filePath("BlackList.log"));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll(), (name + "|").toUtf8());

    // The next copy of that name is killed on sight and never listed.
    const pid_t again = children.StartSleep(frame.dir.path(), name);
    QTRY_VERIFY_WITH_TIMEOUT(children.Reaped(again, &signal), kWatchTimeoutMs);
    QCOMPARE(signal, SIGKILL);
    QCOMPARE(LiveRow(*frame.frame, again), -1);
}

void TestMainFrame::contextMenuIsTheProcessMenu()
{
    Frame frame;
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.frame.get()));
    QTRY_VERIFY_WITH_TIMEOUT(frame->ProcessList()->List()->model()->rowCount() > 0,
                             kWatchTimeoutMs);
    frame->ProcessList()->SetSelectionMark(0);
    emit frame->ProcessList()->contextMenuRequested(frame->mapToGlobal(QPoint(40, 80)));
    QTRY_COMPARE(QApplication::activePopupWidget(), frame->ProcessMenu());
    QVERIFY(frame->ProcessMenu()->actions()[0]->isEnabled());
    QVERIFY(!frame->ProcessMenu()->actions()[0]->icon().isNull());
    frame->ProcessMenu()->close();
}

void TestMainFrame::acceleratorsActWhileListHasFocus()
{
    Frame frame;
    frame->show();
    QApplication::setActiveWindow(frame.frame.get());
    QVERIFY(QTest::qWaitForWindowActive(frame.frame.get()));
    QTableView* list = frame->ProcessList()->List();
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());

    // Ctrl+D opens the disabled list, Ctrl+L the event log, each modal over the frame.
    QString opened;
    auto watch = WhenModalOpens([&opened](QWidget* modal) {
        opened = modal->metaObject()->className();
        static_cast<QDialog*>(modal)->reject();
    });
    QTest::keyClick(list, Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(opened, QStringLiteral("CDListDlg"));

    opened.clear();
    QApplication::setActiveWindow(frame.frame.get());
    QVERIFY(QTest::qWaitForWindowActive(frame.frame.get()));
    list->setFocus();
    watch = WhenModalOpens([&opened](QWidget* modal) {
        opened = modal->metaObject()->className();
        static_cast<QDialog*>(modal)->reject();
    });
    QTest::keyClick(list, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(opened, QStringLiteral("CLogsViewDlg"));

    // Ctrl+F opens the find bar over the list, Esc closes it and the list has the focus again.
    QApplication::setActiveWindow(frame.frame.get());
    QVERIFY(QTest::qWaitForWindowActive(frame.frame.get()));
    list->setFocus();
    CFindBar* bar = frame->ProcessList()->FindBar();
    QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar->isVisible());
    QCOMPARE(QApplication::focusWidget(), bar->m_text);
    QTest::keyClick(bar->m_text, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(QApplication::focusWidget(), list);
    QVERIFY(frame->isVisible());

    // Alt+X is Exit: the close procedure, and the window goes once the monitor has ended.
    QApplication::setActiveWindow(frame.frame.get());
    QVERIFY(QTest::qWaitForWindowActive(frame.frame.get()));
    list->setFocus();
    QVERIFY(frame.CloseAndWait([list] { QTest::keyClick(list, Qt::Key_X, Qt::AltModifier); }));
    QVERIFY(frame->HasClosed());
}

void TestMainFrame::refusedFilesAreTold_data()
{
    QTest::addColumn<QString>("file");    // made a directory, which no write can replace
    QTest::addColumn<uint>("command");    // 0: none, the failure is the monitor's own; 1: close
    QTest::addColumn<QString>("told");
    QTest::newRow("switching the log on") << "Logs.log" << uint(ID_SETTINGS_EVENTLOG) << "The event log cannot be written:\n";
    QTest::newRow("disable process") << "BlackList.log" << uint(ID_PROCESS_DISABLE) << "The name was not added to the disabled list:\n";
    QTest::newRow("log entry in the background") << "Logs.log" << 0u << "Event log entry not written: ";
    QTest::newRow("settings at exit") << "Settings.dat" << 1u << "Settings not saved: ";
}

void TestMainFrame::refusedFilesAreTold()
{
    QFETCH(QString, file);
    QFETCH(uint, command);
    QFETCH(QString, told);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(file);
    QVERIFY(QDir().mkdir(path));
    SettingsRecord settings;
    settings.eventLogOn = command == 0 ? 1 : 0;
    if (file != QLatin1String("Settings.dat"))
        WriteSettings(dir.path(), settings);
    CMainFrame frame(dir.path().toStdString());
    frame.Create();
    frame.show();
    const QString expected = told + path + ": not a regular file";

    Children children;
    if (command == ID_PROCESS_DISABLE) {
        const pid_t pid = children.StartSleep(dir.path(), QStringLiteral("mf-refused-%1").arg(::getpid()));
        QTRY_VERIFY_WITH_TIMEOUT(LiveRow(frame, pid) >= 0, kWatchTimeoutMs);
        frame.ProcessList()->SetSelectionMark(LiveRow(frame, pid));
    }
    if (command <= 1) {
        if (command == 1) {
            QSignalSpy closed(&frame, &CMainFrame::frameClosed);
            frame.close();
            QVERIFY(closed.count() > 0 || closed.wait(kWatchTimeoutMs)); // may end within close()
        }
        QTRY_COMPARE_WITH_TIMEOUT(frame.statusBar()->currentMessage(), expected, kWatchTimeoutMs);
        return;
    }
    QStringList texts;
    const ModalWatch watch = AnswerEveryBox(&texts);
    frame.Command(command)->trigger();
    QVERIFY(!texts.isEmpty());
    QCOMPARE(texts.last(), expected);
    QVERIFY(!frame.Command(ID_SETTINGS_EVENTLOG)->isChecked());
    QCOMPARE(frame.ProcessList()->Settings().eventLogOn, 0);
}

void TestMainFrame::switchesSurviveClose()
{
    SettingsRecord settings;
    settings.eventLogOn = 1;
    Frame frame(settings);
    frame->show();
    frame->UpdateCommandUI();
    QVERIFY(frame->Command(ID_SETTINGS_EVENTLOG)->isChecked());
    QVERIFY(!frame->Command(ID_SETTINGS_MINIMIZE)->isChecked());

    frame->Command(ID_SETTINGS_EVENTLOG)->trigger(); // off
    QCOMPARE(frame->ProcessList()->Settings().eventLogOn, 0);
    QVERIFY(!frame->Command(ID_SETTINGS_EVENTLOG)->isChecked());
    frame->Command(ID_SETTINGS_MINIMIZE)->trigger(); // on
    QCOMPARE(frame->ProcessList()->Settings().minimizeAtStart, 1);
    QVERIFY(frame->Command(ID_SETTINGS_MINIMIZE)->isChecked());
    frame->Command(ID_SETTINGS_EVENTLOG)->trigger(); // on again: no banner of its own
    frame->Command(ID_SETTINGS_MINIMIZE)->trigger(); // off
    frame->Command(ID_SETTINGS_MINIMIZE)->trigger(); // on

    QFile log(QDir(frame.dir.path()).filePath("Logs.log"));
    QVERIFY(frame.CloseAndWait([&] { frame->close(); }));
    qint64 size = 0;
    const SettingsRecord saved = ReadSettings(frame.dir.path(), &size);
    QCOMPARE(size, qint64(32));
    QCOMPARE(saved.eventLogOn, 1);
    QCOMPARE(saved.minimizeAtStart, 1);
    // One start banner, one finish banner, whatever the switch did in between.
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QCOMPARE(text.count("Orvane started"), 1);
    QCOMPARE(text.count("Orvane finished"), 1);
    QVERIFY(text.endsWith(" min.\r\n"));
}

void TestMainFrame::placementRoundTrip_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("maximizedBefore");
    QTest::addColumn<QRect>("expectedRect"); // left, top, right, bottom as x, y, r, b
    QTest::addColumn<int>("expectedMaximized");
    // The normal window stores its outer rectangle (here moved and resized after start).
    QTest::newRow("normal") << "normal" << 1 << QRect(QPoint(150, 160), QPoint(650, 460)) << 0;
    QTest::newRow("normal off screen")
        << "offscreen" << 0 << QRect(QPoint(-300, -50), QPoint(200, 250)) << 0;
    // Maximised: the flag is set and the loaded rectangle kept.
    QTest::newRow("maximised") << "maximised" << 0 << QRect(QPoint(100, 120), QPoint(700, 520))
                               << 1;
    // In the tray (or minimised): both kept exactly as loaded.
    QTest::newRow("tray") << "tray" << 1 << QRect(QPoint(100, 120), QPoint(700, 520)) << 1;
    QTest::newRow("minimised") << "minimised" << 0 << QRect(QPoint(100, 120), QPoint(700, 520))
                               << 0;
}

void TestMainFrame::placementRoundTrip()
{
    QFETCH(QString, state);
    QFETCH(int, maximizedBefore);
    QFETCH(QRect, expectedRect);
    QFETCH(int, expectedMaximized);

    SettingsRecord settings;
    settings.windowLeft = 100;
    settings.windowTop = 120;
    settings.windowRight = 700;
    settings.windowBottom = 520;
    settings.maximized = maximizedBefore;
    Frame frame(settings);
    // The loaded rectangle is where the window starts (no window frame offscreen).
    QCOMPARE(frame->geometry(), QRect(100, 120, 600, 400));

    frame->AssumeTrayAvailable(state == "tray");
    if (state == "normal" || state == "offscreen") {
        frame->show();
        frame->move(expectedRect.topLeft());
        frame->resize(expectedRect.size() - QSize(1, 1));
    } else if (state == "maximised") {
        frame->showMaximized();
        QTRY_VERIFY(frame->isMaximized());
    } else {
        frame->show();
        frame->showMinimized();
        QTRY_VERIFY(frame->isMinimized());
        if (state == "tray")
            QTRY_VERIFY(frame->IsInTray() && frame->isHidden());
    }
    // A normal window stores its outer rectangle, frame included.
    if (state == "normal" || state == "offscreen") {
        QCOMPARE(frame->frameGeometry().topLeft(), expectedRect.topLeft());
        expectedRect.setSize(frame->frameGeometry().size() + QSize(1, 1));
    }
    QVERIFY(frame.CloseAndWait([&] { frame->RequestClose(); }));
    QVERIFY(!frame->TrayIcon()->isVisible());

    qint64 size = 0;
    const SettingsRecord saved = ReadSettings(frame.dir.path(), &size);
    QCOMPARE(size, qint64(32));
    QCOMPARE(saved.windowLeft, expectedRect.left());
    QCOMPARE(saved.windowTop, expectedRect.top());
    // Right and bottom are exclusive: left + width, top + height.
    QCOMPARE(saved.windowRight, expectedRect.right());
    QCOMPARE(saved.windowBottom, expectedRect.bottom());
    QCOMPARE(saved.maximized, expectedMaximized);
}

void TestMainFrame::savedRectangle_data()
{
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<QPoint>("position"); // where an applied rectangle lands
    QTest::newRow("all zero") << 0 << 0 << 0 << 0 << false << QPoint();
    QTest::newRow("adds up to 0") << -100 << 0 << 100 << 0 << false << QPoint();
    QTest::newRow("adds up to 0 with wrap-around") << INT_MAX << INT_MAX << 1 << 1 << false << QPoint();
    QTest::newRow("adds up to 1, moved onto the screen") << -100 << 0 << 100 << 1 << true << QPoint(0, 0);
    QTest::newRow("ordinary") << 30 << 40 << 530 << 440 << true << QPoint(30, 40);
    QTest::newRow("huge") << INT_MIN << -5 << INT_MAX << INT_MAX << true << QPoint(0, 0);
}

void TestMainFrame::savedRectangle()
{
    QFETCH(int, left);
    QFETCH(int, top);
    QFETCH(int, right);
    QFETCH(int, bottom);
    QFETCH(bool, applied);
    QFETCH(QPoint, position);
    SettingsRecord settings;
    settings.windowLeft = left;
    settings.windowTop = top;
    settings.windowRight = right;
    settings.windowBottom = bottom;
    Frame frame(settings);
    const QRect screen = frame->screen()->availableGeometry();
    if (applied) {
        QCOMPARE(frame->pos(), position);
        QVERIFY2(screen.contains(frame->geometry()), "the window lies within the screen");
        if (std::int64_t{right} - left >= 400 && std::int64_t{right} - left <= screen.width())
            QCOMPARE(frame->width(), right - left);
    } else {
        // The default size of a new window, wherever the system puts it.
        QCOMPARE(frame->size(), screen.size() * 3 / 4);
    }
    QCOMPARE(frame->windowTitle(), QStringLiteral("Orvane v 1.1 XP"));
}

void TestMainFrame::fitIntoAreas_data()
{
    QTest::addColumn<QRect>("saved"); // left, top and the exclusive right and bottom as a QRect
    QTest::addColumn<QRect>("fitted");
    QTest::newRow("within a screen: kept") << QRect(QPoint(10, 20), QPoint(509, 419)) << QRect(10, 20, 500, 400);
    QTest::newRow("across both screens: kept") << QRect(QPoint(900, 0), QPoint(1099, 99)) << QRect(900, 0, 200, 100);
    QTest::newRow("off to the left: moved") << QRect(QPoint(-50, 10), QPoint(49, 109)) << QRect(0, 10, 100, 100);
    QTest::newRow("mostly on the second: moved there") << QRect(QPoint(1900, 600), QPoint(2099, 699)) << QRect(1800, 600, 200, 100);
    QTest::newRow("off every screen: first screen") << QRect(QPoint(5000, 5000), QPoint(5099, 5099)) << QRect(900, 700, 100, 100);
    QTest::newRow("larger than the screen: shrunk") << QRect(QPoint(100, 100), QPoint(1399, 999)) << QRect(0, 0, 1000, 800);
    QTest::newRow("inverted: no size") << QRect(QPoint(100, 100), QPoint(49, 49)) << QRect(100, 100, 0, 0);
}

void TestMainFrame::fitIntoAreas()
{
    QFETCH(QRect, saved);
    QFETCH(QRect, fitted);
    const QList<QRect> areas{QRect(0, 0, 1000, 800), QRect(1000, 0, 1000, 700)};
    QCOMPARE(CMainFrame::FitIntoAreas(saved.left(), saved.top(), saved.right() + 1, saved.bottom() + 1, areas), fitted);
    // The extremes a file can hold end on a screen too.
    const QRect huge = CMainFrame::FitIntoAreas(INT_MIN, -5, INT_MAX, INT_MAX, areas);
    QVERIFY(areas.front().contains(huge));
}

void TestMainFrame::savedRectangleIsTheOuterOne()
{
    SettingsRecord settings;
    settings.windowLeft = 100;
    settings.windowTop = 120;
    settings.windowRight = 700;
    settings.windowBottom = 520;
    settings.maximized = 1;
    Frame frame(settings);
    // Started maximised, the window gets the saved rectangle, frame included, when it is
    // restored: the same outer rectangle as it had when it was saved.
    frame->showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(frame.frame.get()));
    frame->showNormal();
    QTRY_COMPARE(frame->frameGeometry(), QRect(100, 120, 600, 400));
    QVERIFY(frame->geometry() != frame->frameGeometry()); // there is a window frame
}

void TestMainFrame::trayHideAndRestore_data()
{
    QTest::addColumn<bool>("maximised");
    QTest::addColumn<QString>("how");
    QTest::newRow("normal, Open") << false << "open";
    QTest::newRow("normal, click") << false << "click";
    QTest::newRow("maximised, double click") << true << "double";
}

void TestMainFrame::trayHideAndRestore()
{
    QFETCH(bool, maximised);
    QFETCH(QString, how);
    Frame frame;
    frame->AssumeTrayAvailable(true);
    if (maximised)
        frame->showMaximized();
    else
        frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.frame.get()));
    QVERIFY(!frame->IsInTray());

    frame->showMinimized();
    QTRY_VERIFY(frame->isHidden());
    QVERIFY(frame->IsInTray());
    QVERIFY(frame->isMinimized());

    if (how == "open") {
        frame->Command(ID_TRAY_OPEN)->trigger();
    } else {
        // The tray icon's own signal, as a click on it gives it.
        emit frame->TrayIcon()->activated(how == "click" ? QSystemTrayIcon::Trigger
                                                        : QSystemTrayIcon::DoubleClick);
    }
    QVERIFY(!frame->IsInTray());
    QTRY_VERIFY(frame->isVisible());
    QVERIFY(!frame->isMinimized());
    QCOMPARE(frame->isMaximized(), maximised);
    QVERIFY(frame->windowFlags() & Qt::WindowStaysOnTopHint);

    // Right clicks and the tooltip do not restore.
    frame->showMinimized();
    QTRY_VERIFY(frame->IsInTray());
    emit frame->TrayIcon()->activated(QSystemTrayIcon::Context);
    QTest::qWait(50);
    QVERIFY(frame->isHidden());
}

void TestMainFrame::withoutTrayMinimisingKeepsWindow()
{
    Frame frame;
    frame->AssumeTrayAvailable(false);
    frame->show();
    frame->showMinimized();
    QTest::qWait(100);
    QVERIFY(frame->isMinimized());
    QVERIFY(!frame->isHidden());
    QVERIFY(!frame->IsInTray());
}

// The notification area goes away while the window is in it (its panel ended): the window
// comes back by itself, since nothing else could bring it, and says why.
void TestMainFrame::trayGoneBringsTheWindowBack()
{
    Frame frame;
    frame->AssumeTrayAvailable(true);
    frame->show();
    frame->showMinimized();
    QTRY_VERIFY(frame->IsInTray());
    QTest::qWait(1500); // a check or two while the area is there
    QVERIFY(frame->isHidden());
    frame->AssumeTrayAvailable(false);
    QTRY_VERIFY_WITH_TIMEOUT(frame->isVisible() && !frame->isMinimized() && !frame->IsInTray(), 5000);
    QCOMPARE(frame->statusBar()->currentMessage(),
             QStringLiteral("The notification area has gone: the window is shown again"));
}

void TestMainFrame::dialogsFromTrayKeepProgramInTray()
{
    int argc = 1;
    char name[] = "orvane";
    char* argv[] = {name, nullptr};
    QTemporaryDir dir;
    WriteSettings(dir.path(), SettingsRecord{});
    CMonitorApp app(argc, argv, dir.path().toStdString());
    QVERIFY(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    // Closing a dialog while the frame is hidden closes the last visible window: that alone
    // must not end the program.
    QVERIFY(!QApplication::quitOnLastWindowClosed());

    frame->AssumeTrayAvailable(true);
    frame->showMinimized();
    QTRY_VERIFY(frame->IsInTray());
    QVERIFY(frame->isHidden());

    QSignalSpy closed(frame, &CMainFrame::frameClosed);
    for (uint id : {32788u, 32792u}) {
        QString opened;
        auto watch = WhenModalOpens([&opened](QWidget* modal) {
            opened = modal->metaObject()->className();
            static_cast<QDialog*>(modal)->reject();
        });
        QAction* entry = nullptr;
        for (QAction* action : frame->TrayMenu()->actions())
            if (action->property("commandId").toUInt() == id)
                entry = action;
        QVERIFY(entry);
        entry->trigger();
        QCOMPARE(opened, id == 32788u ? QStringLiteral("CDListDlg") : QStringLiteral("CLogsViewDlg"));
        QTest::qWait(100);
        QVERIFY(frame->isHidden());
        QVERIFY(frame->IsInTray());
    }
    QCOMPARE(closed.count(), 0);
    QVERIFY(!frame->HasClosed());
}

void TestMainFrame::trayBringsBackTheModalDialog_data()
{
    QTest::addColumn<uint>("command");  // opens the dialog
    QTest::addColumn<bool>("fromTray"); // from the tray menu, the window hidden
    QTest::addColumn<QString>("how");   // a click, or the tray menu's entry chosen
    QTest::newRow("event log, click") << uint(ID_PROCESS_EVENTLOG) << false << "click";
    QTest::newRow("disabled list, double click") << uint(ID_PROCESS_DISABLEDLIST) << false << "double";
    QTest::newRow("About, Open") << uint(ID_APP_ABOUT) << false << "Open";
    QTest::newRow("event log from the tray, click") << uint(ID_PROCESS_EVENTLOG) << true << "click";
    QTest::newRow("disabled list from the tray, View Event Log") << uint(ID_TRAY_DISABLEDLIST) << true << "View";
}

// With a dialog open the window goes to the tray, the window manager hiding the dialog with it;
// the icon (on X11 a window of the program's own, which the dialog must not block), clicked or
// through its menu, brings both back: the dialog on top, active, and no second one over it.
void TestMainFrame::trayBringsBackTheModalDialog()
{
    QFETCH(uint, command);
    QFETCH(bool, fromTray);
    QFETCH(QString, how);
    Frame frame;
    frame->AssumeTrayAvailable(true);
    frame->show();
    if (fromTray)
        frame->showMinimized();
    struct IconWindow : QWidget {
        int clicks = 0;
        void mousePressEvent(QMouseEvent*) override { ++clicks; }
    } icon;
    icon.show();
    QVERIFY(QTest::qWaitForWindowExposed(&icon));
    bool checked = false;
    auto watch = WhenModalOpens([&](QWidget* modal) {
        [&] {
            if (!fromTray)
                frame->showMinimized();
            modal->showMinimized();
            QTRY_VERIFY(frame->IsInTray() && frame->isHidden());
            QTest::mouseClick(icon.windowHandle(), Qt::LeftButton);
            QCOMPARE(icon.clicks, 1);
            if (how == "click" || how == "double") {
                emit frame->TrayIcon()->activated(how == "click" ? QSystemTrayIcon::Trigger : QSystemTrayIcon::DoubleClick);
            } else {
                QMenu* menu = frame->TrayMenu();
                menu->popup(QPoint(600, 600));
                QVERIFY(QTest::qWaitForWindowExposed(menu));
                for (QAction* entry : menu->actions()) {
                    if (entry->text().startsWith(how))
                        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(entry).center());
                }
            }
            QTRY_VERIFY(frame->isVisible() && !frame->isMinimized() && !modal->isMinimized());
            QTRY_COMPARE(QApplication::activeWindow(), modal);
            checked = true;
        }();
        // A second dialog would have opened over this one and be the active modal widget.
        QCOMPARE(QApplication::activeModalWidget(), modal);
        static_cast<QDialog*>(modal)->reject();
    });
    frame->Command(command)->trigger();
    QVERIFY(checked);
}

void TestMainFrame::trayExitRemovesIconAndCloses()
{
    SettingsRecord settings;
    settings.eventLogOn = 1;
    settings.windowLeft = 10;
    settings.windowTop = 20;
    settings.windowRight = 410;
    settings.windowBottom = 320;
    Frame frame(settings);
    frame->AssumeTrayAvailable(true);
    frame->show();
    frame->showMinimized();
    QTRY_VERIFY(frame->IsInTray());

    QSignalSpy closed(frame.frame.get(), &CMainFrame::frameClosed);
    frame->Command(ID_TRAY_EXIT)->trigger();
    // The icon goes at once; the program goes when the monitor has ended.
    QVERIFY(!frame->TrayIcon()->isVisible());
    QVERIFY(closed.count() > 0 || closed.wait(kWatchTimeoutMs));
    const SettingsRecord saved = ReadSettings(frame.dir.path());
    QCOMPARE(saved.windowLeft, 10);
    QCOMPARE(saved.windowRight, 410);
    QCOMPARE(saved.eventLogOn, 1);
    QFile log(QDir(frame.dir.path()).filePath("Logs.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count("Orvane finished"), 1);
}

void TestMainFrame::startState_data()
{
    QTest::addColumn<int>("minimizeAtStart");
    QTest::addColumn<int>("maximized");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << 0 << 0 << "normal";
    QTest::newRow("maximised") << 0 << 1 << "maximised";
    // Minimize at start wins; without a notification area (offscreen) it stays minimised.
    QTest::newRow("both") << 1 << 1 << "minimised";
    QTest::newRow("minimise") << 1 << 0 << "minimised";
}

void TestMainFrame::startState()
{
    QFETCH(int, minimizeAtStart);
    QFETCH(int, maximized);
    QFETCH(QString, expected);
    int argc = 1;
    char name[] = "orvane";
    char* argv[] = {name, nullptr};
    QTemporaryDir dir;
    SettingsRecord settings;
    settings.minimizeAtStart = minimizeAtStart;
    settings.maximized = maximized;
    WriteSettings(dir.path(), settings);
    CMonitorApp app(argc, argv, dir.path().toStdString());
    QVERIFY(app.InitInstance());
    CMainFrame* frame = app.MainFrame();
    QCOMPARE(frame->windowTitle(), QStringLiteral("Orvane v 1.1 XP"));
    QTest::qWait(50);
    QCOMPARE(frame->isMinimized(), expected == "minimised");
    QCOMPARE(frame->isMaximized() && !frame->isMinimized(), expected == "maximised");
    QVERIFY(!frame->isHidden());
}

void TestMainFrame::signalBridge()
{
    CSignalBridge bridge;
    QVERIFY(bridge.IsInstalled());
    // A second bridge would steal the first one's pipe: it stays inactive.
    CSignalBridge second;
    QVERIFY(!second.IsInstalled());

    QSignalSpy requests(&bridge, &CSignalBridge::closeRequested);
    for (int signalNumber : {SIGHUP, SIGTERM, SIGINT}) {
        requests.clear();
        ::raise(signalNumber);
        QTRY_COMPARE(requests.count(), 1);
        QCOMPARE(requests.first().first().toInt(), signalNumber);
    }
}

void TestMainFrame::manualPath_data()
{
    QTest::addColumn<bool>("beside");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("portable copy") << true << false << "bin/OrvaneHelp.html";
    QTest::newRow("installed copy") << false << true << "share/orvane/OrvaneHelp.html";
    QTest::newRow("both: the one beside") << true << true << "bin/OrvaneHelp.html";
    QTest::newRow("none: beside, unopened") << false << false << "bin/OrvaneHelp.html";
}

void TestMainFrame::manualPath()
{
    QFETCH(bool, beside);
    QFETCH(bool, installed);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString root = QFileInfo(dir.path()).canonicalFilePath();
    QDir(root).mkpath("bin");
    QDir(root).mkpath("share/orvane");
    if (beside)
        QFile(root + "/bin/OrvaneHelp.html").open(QIODevice::WriteOnly);
    if (installed)
        QFile(root + "/share/orvane/OrvaneHelp.html").open(QIODevice::WriteOnly);
    QCOMPARE(CMainFrame::ManualPath(root + "/bin"), root + "/" + expected);
}

// The project's version as the About box's picture and the manual beside the program show it,
// written in where the title's is.
void TestMainFrame::versionInPictureAndManual()
{
    QFile picture(QStringLiteral(":/controls/about.svg"));
    QVERIFY(picture.open(QIODevice::ReadOnly));
    QVERIFY(picture.readAll().contains(">Version 1.1</text>"));
    QFile manual(QFileInfo(QStringLiteral(ORVANE_BINARY)).dir().filePath("OrvaneHelp.html"));
    QVERIFY(manual.open(QIODevice::ReadOnly));
    const QByteArray text = manual.readAll();
    QCOMPARE(text.count("Orvane v 1.1 XP"), 3);
    QVERIFY(!text.contains('@'));
}

QTEST_MAIN(TestMainFrame)
#include "test_mainframe.moc"
