// The process list window and its model, against real processes: forked `sleep`s watched by
// a running monitor in a temporary program directory, killed through the Delete key and the
// Disable command, with the Yes/No boxes answered from the test.

#include "Children.h"
#include "CProcessListWnd.h"
#include "ProcessTableModel.h"
#include "../monitor/MonitorTestAccess.h"
#include "controls/CFindBar.h"
#include "dialogs/CDListDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QListView>
#include <QScrollBar>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kWatchTimeoutMs = 20000;

// Appends an ended-looking row as the monitor would: named, start shown, load measured.
int AddRow(ProcessTable& table, const std::string& name, std::uint32_t pid, int image = 0)
{
    const int row = table.AppendRow(pid, platform::GetSystemTimeAsFileTime(), image, name,
                                    "/usr/bin/" + name);
    table.ShowStart(row);
    table.SetLoad(row, 0);
    return row;
}

// The live row of `pid` in the model, -1 when there is none (yet).
int LiveRow(const ProcessTableModel& model, pid_t pid)
{
    const std::string text = std::to_string(pid);
    for (int row = model.rowCount() - 1; row >= 0; --row) {
        if (model.CellText(row, ColPid) == text && model.CellText(row, ColFinish).find_first_not_of(' ')
                                                       == std::string::npos)
            return row;
    }
    return -1;
}

// Answers the next modal message box with `button`, noting what it asked.
struct BoxAnswer {
    int asked = 0;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;

    void Arm(QMessageBox::StandardButton button)
    {
        auto* timer = new QTimer;
        timer->setInterval(20);
        QObject::connect(timer, &QTimer::timeout, [this, timer, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            ++asked;
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            timer->stop();
            timer->deleteLater();
            box->button(button)->click();
        });
        timer->start();
    }
};

} // namespace

class TestProcessList : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void modelTitlesAndAlignment_data();
    void modelTitlesAndAlignment();
    void modelAppendsThenChangesOneRow();
    void modelKeepsBytesAndFallsBackToDefaultIcon();

    void columnWidthsAtStart();
    void focusGoesToWindowThenListOnClick();
    void homeAndEndKeepTheNamesInView_data();
    void homeAndEndKeepTheNamesInView();
    void forkedSleepAppears();
    void rightClick();
    void deleteKeyAsksThenKills_data();
    void deleteKeyAsksThenKills();
    void findSelectsMatchingRowsInPlace();
    void disableAddsNameAndKills();
    void disabledListDialogShowsTheList();
    void nothingIsReadWhileNotShown_data();
    void nothingIsReadWhileNotShown();
    void offsetChangeRewritesEveryShownTime();
    void closesInTwoPhases();

private:
    int WaitForRow(pid_t pid);

    QTemporaryDir m_dir;
    std::unique_ptr<CProcessListWnd> m_wnd;
    Children m_children;
};

void TestProcessList::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_wnd = std::make_unique<CProcessListWnd>(m_dir.path().toStdString());
    m_wnd->resize(1200, 400);
    m_wnd->Create();
    m_wnd->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_wnd.get()));
}

void TestProcessList::cleanupTestCase()
{
    m_wnd.reset();
}

int TestProcessList::WaitForRow(pid_t pid)
{
    const ProcessTableModel& model = *m_wnd->Model();
    int row = -1;
    if (!QTest::qWaitFor([&] { return (row = LiveRow(model, pid)) >= 0; }, kWatchTimeoutMs))
        return -1;
    return row;
}

void TestProcessList::modelTitlesAndAlignment_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("horizontal");
    QTest::newRow("Name") << int(ColName) << "Name" << int(Qt::AlignLeft);
    QTest::newRow("PID") << int(ColPid) << "PID" << int(Qt::AlignRight);
    QTest::newRow("Start time") << int(ColStart) << "Start time" << int(Qt::AlignRight);
    QTest::newRow("Finish time") << int(ColFinish) << "Finish time" << int(Qt::AlignRight);
    QTest::newRow("CPU") << int(ColCpu) << "CPU" << int(Qt::AlignRight);
    QTest::newRow("File") << int(ColFile) << "File" << int(Qt::AlignLeft);
}

void TestProcessList::modelTitlesAndAlignment()
{
    QFETCH(int, column);
    QFETCH(QString, title);
    QFETCH(int, horizontal);

    ProcessTable table;
    AddRow(table, "bash", 7);
    ProcessTableModel model(table.Rows());
    model.Apply(table.TakeChanges());

    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), title);
    const auto cell = model.data(model.index(0, column), Qt::TextAlignmentRole).value<Qt::Alignment>();
    QCOMPARE(int(cell & Qt::AlignHorizontal_Mask), horizontal);
    const auto head =
        model.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
    QCOMPARE(int(head & Qt::AlignHorizontal_Mask), horizontal);
}

void TestProcessList::modelAppendsThenChangesOneRow()
{
    ProcessTable table;
    ProcessTableModel model(table.Rows());
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);

    for (int row = 0; row < 3; ++row)
        AddRow(table, "p" + std::to_string(row), static_cast<std::uint32_t>(100 + row));
    model.Apply(table.TakeChanges());
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 2);
    QCOMPARE(changed.count(), 0);

    // Row 0 is given the same load again, row 1 a new load, and one row is appended.
    table.SetLoad(0, 0);
    table.SetLoad(1, 12);
    AddRow(table, "p3", 103);
    model.Apply(table.TakeChanges());

    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, ColumnCount - 1));
    QCOMPARE(model.data(model.index(1, ColCpu)).toString(), QStringLiteral("12 %"));
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 3);
    QCOMPARE(inserted.at(1).at(2).toInt(), 3);
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.CellText(3, ColName), std::string("p3"));
    QCOMPARE(reset.count(), 0);
    QCOMPARE(layout.count(), 0);
}

void TestProcessList::modelKeepsBytesAndFallsBackToDefaultIcon()
{
    ProcessTable table;
    const std::string odd = "a b) (c|d \xC3\xA9";
    AddRow(table, odd, 1, table.AddImage("orvane-no-such-icon"));
    AddRow(table, "plain", 2);
    ProcessTableModel model(table.Rows());
    model.Apply(table.TakeChanges()); // the first batch names image 0 too

    QCOMPARE(model.CellText(0, ColName), odd);
    QCOMPARE(model.data(model.index(0, ColName)).toString(), QString::fromUtf8(odd.c_str()));
    QCOMPARE(model.ImageCount(), 2);
    QCOMPARE(model.Image(0), 1);
    for (int row = 0; row < 2; ++row) {
        const auto icon = model.data(model.index(row, ColName), Qt::DecorationRole).value<QIcon>();
        QVERIFY2(!icon.isNull(), "every row shows at least the default icon");
        QVERIFY(!icon.pixmap(16, 16).isNull());
    }
    QVERIFY(!model.data(model.index(0, ColPid), Qt::DecorationRole).isValid());
}

void TestProcessList::columnWidthsAtStart()
{
    // The designed widths, widened alike only as far as the font needs for a time to fit.
    const int widths[ColumnCount] = {130, 40, 120, 120, 60, 400};
    QHeaderView* header = m_wnd->List()->horizontalHeader();
    const double scale = double(header->sectionSize(ColStart)) / widths[ColStart];
    QVERIFY(scale >= 1.0);
    for (int column = 0; column < ColumnCount; ++column) {
        if (column == ColPid)
            continue; // at least seven digits wide, checked below
        QVERIFY2(std::abs(header->sectionSize(column) - widths[column] * scale) <= 1.0,
                 qPrintable(QString("column %1: %2").arg(column).arg(header->sectionSize(column))));
    }
    const QFontMetrics metrics = m_wnd->List()->fontMetrics();
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("12/06/2026 09:05:03")) < header->sectionSize(ColStart) - 6);
    QVERIFY(metrics.horizontalAdvance(QStringLiteral("4194304")) < header->sectionSize(ColPid) - 6);
    // A font narrow enough for the designed widths keeps them exactly.
    QFont narrow = m_wnd->List()->font();
    narrow.setPixelSize(6);
    for (int column = 0; column < ColumnCount; ++column) {
        QCOMPARE(CProcessListWnd::ColumnWidth(column, QFontMetrics(narrow)), widths[column]);
    }
    QVERIFY(m_wnd->List()->verticalHeader()->isHidden());
    QVERIFY(m_wnd->List()->showGrid());
    QCOMPARE(m_wnd->List()->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(m_wnd->List()->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(m_wnd->List()->iconSize(), QSize(16, 16));
    QVERIFY(!m_wnd->List()->isSortingEnabled());
    QCOMPARE(m_wnd->GetSelectionMark(), -1);
}

void TestProcessList::focusGoesToWindowThenListOnClick()
{
    m_wnd->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_wnd.get()));
    m_wnd->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), m_wnd.get());
    QTest::mouseClick(m_wnd->List()->viewport(), Qt::LeftButton, {}, QPoint(1100, 5));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_wnd->List()));
    m_wnd->SetSelectionMark(-1);
}

void TestProcessList::homeAndEndKeepTheNamesInView_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("last"); // the last row, else the first
    QTest::newRow("End") << int(Qt::Key_End) << int(Qt::NoModifier) << true;
    QTest::newRow("Ctrl+End") << int(Qt::Key_End) << int(Qt::ControlModifier) << true;
    QTest::newRow("Home") << int(Qt::Key_Home) << int(Qt::NoModifier) << false;
    QTest::newRow("Ctrl+Home") << int(Qt::Key_Home) << int(Qt::ControlModifier) << false;
}

void TestProcessList::homeAndEndKeepTheNamesInView()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, last);
    QTRY_VERIFY_WITH_TIMEOUT(m_wnd->Model()->rowCount() > 1, kWatchTimeoutMs);
    m_wnd->resize(400, 300); // narrower than the columns
    QTableView* list = m_wnd->List();
    list->setFocus();
    list->horizontalScrollBar()->setValue(0);
    m_wnd->SetSelectionMark(last ? 0 : m_wnd->Model()->rowCount() - 1);
    QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(list->horizontalScrollBar()->value(), 0);
    QCOMPARE(m_wnd->GetSelectionMark(), last ? m_wnd->Model()->rowCount() - 1 : 0);
    m_wnd->resize(1200, 400);
    m_wnd->SetSelectionMark(-1);
}

void TestProcessList::forkedSleepAppears()
{
    const pid_t pid = m_children.Start("/bin/sleep");
    QVERIFY(pid > 0);
    const int row = WaitForRow(pid);
    QVERIFY2(row >= 0, "the forked sleep never got a row");
    const ProcessTableModel& model = *m_wnd->Model();
    QCOMPARE(model.CellText(row, ColName), std::string("sleep"));
    QCOMPARE(model.CellText(row, ColPid), std::to_string(pid));
    QVERIFY(model.CellText(row, ColFile).ends_with("/sleep"));
    // Its start time and load come with the same or the next pass once it is on screen.
    m_wnd->List()->scrollTo(model.index(row, 0));
    QTRY_VERIFY_WITH_TIMEOUT(model.CellText(row, ColStart).size() == 19, kWatchTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(model.CellText(row, ColCpu).ends_with(" %"), kWatchTimeoutMs);
}

void TestProcessList::rightClick()
{
    QTableView* list = m_wnd->List();
    QSignalSpy menu(m_wnd.get(), &CProcessListWnd::contextMenuRequested);
    QSignalSpy mark(m_wnd.get(), &CProcessListWnd::selectionMarkChanged);
    QVERIFY(m_wnd->Model()->rowCount() > 1);

    // Beyond the last column there is no row: no selection, no menu.
    m_wnd->SetSelectionMark(-1);
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, QPoint(1100, 5));
    QCOMPARE(m_wnd->GetSelectionMark(), -1);
    QCOMPARE(menu.count(), 0);

    // On a row: the row is selected first, then the frame is asked for its menu.
    const QRect second = list->visualRect(m_wnd->Model()->index(1, ColPid));
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, second.center());
    QCOMPARE(m_wnd->GetSelectionMark(), 1);
    QCOMPARE(menu.count(), 1);
    QCOMPARE(menu.at(0).at(0).toPoint(), list->viewport()->mapToGlobal(second.center()));
    QVERIFY(!mark.isEmpty());
    QCOMPARE(mark.last().at(0).toInt(), 1);
    m_wnd->SetSelectionMark(-1);
    QCOMPARE(m_wnd->GetSelectionMark(), -1);
}

void TestProcessList::deleteKeyAsksThenKills_data()
{
    QTest::addColumn<bool>("select");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("killed");
    QTest::newRow("No leaves it running") << true << int(QMessageBox::No) << false;
    QTest::newRow("Yes without a mark does nothing") << false << int(QMessageBox::Yes) << false;
    QTest::newRow("Yes kills it") << true << int(QMessageBox::Yes) << true;
}

void TestProcessList::deleteKeyAsksThenKills()
{
    QFETCH(bool, select);
    QFETCH(int, answer);
    QFETCH(bool, killed);

    const pid_t pid = m_children.Start("/bin/sleep");
    QVERIFY(pid > 0);
    const int row = WaitForRow(pid);
    QVERIFY2(row >= 0, "the forked sleep never got a row");
    m_wnd->SetSelectionMark(select ? row : -1);
    QCOMPARE(m_wnd->GetSelectionMark(), select ? row : -1);

    BoxAnswer box;
    box.Arm(QMessageBox::StandardButton(answer));
    QTest::keyClick(m_wnd->List(), Qt::Key_Delete);
    QCOMPARE(box.asked, 1);
    QCOMPARE(box.caption, QStringLiteral("Orvane v 1.1 XP"));
    QCOMPARE(box.text, QStringLiteral("Kill selected process?"));
    QCOMPARE(box.icon, QMessageBox::Question);

    if (killed) {
        int signal = 0;
        QTRY_VERIFY_WITH_TIMEOUT(m_children.Reaped(pid, &signal), kWatchTimeoutMs);
        QCOMPARE(signal, SIGKILL);
        // The row stays and receives its finish time.
        QTRY_VERIFY_WITH_TIMEOUT(m_wnd->Model()->CellText(row, ColFinish).size() == 19,
                                 kWatchTimeoutMs);
        QCOMPARE(m_wnd->Model()->CellText(row, ColPid), std::to_string(pid));
    } else {
        QTest::qWait(700); // more than one pass
        QVERIFY(!m_children.Reaped(pid));
        QCOMPARE(::kill(pid, 0), 0);
    }
    m_wnd->SetSelectionMark(-1);
}

void TestProcessList::findSelectsMatchingRowsInPlace()
{
    // Two copies of sleep under names no other test runs, started one after the other.
    const QString tag = QStringLiteral("inder-%1-").arg(::getpid());
    std::vector<pid_t> pids;
    std::vector<int> rows;
    for (const QString& name : {"F" + tag + "Alpha", "f" + tag + "beta"}) {
        const QString program = m_dir.filePath(name);
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        pids.push_back(m_children.Start(program.toStdString()));
        QVERIFY(pids.back() > 0);
        rows.push_back(WaitForRow(pids.back()));
        QVERIFY2(rows.back() >= 0, qPrintable(name));
    }
    const int alpha = rows[0], beta = rows[1];
    const ProcessTableModel& model = *m_wnd->Model();
    std::vector<std::string> order;
    for (int row = 0; row <= beta; ++row)
        order.push_back(model.CellText(row, ColPid));

    CFindBar* bar = m_wnd->FindBar();
    m_wnd->SetSelectionMark(-1);
    m_wnd->OpenFindBar();
    QVERIFY(bar->isVisible());
    struct Step {
        QString text;
        bool forward;
        bool matchCase;
        FindOutcome outcome;
        int row;
    };
    const QString path = m_dir.filePath("F" + tag + "Alpha");
    const QString any = ("F" + tag).toUpper();
    const Step steps[] = {
        {any, true, false, FindOutcome::Found, alpha}, // no mark: from the top
        {any, true, false, FindOutcome::Found, beta},
        {any, true, false, FindOutcome::Wrapped, alpha},
        {any, false, false, FindOutcome::Wrapped, beta},
        {"F" + tag, true, true, FindOutcome::Wrapped, alpha}, // the only one
        {path, false, false, FindOutcome::Wrapped, alpha},                    // by path
        {QStringLiteral("no such process, nowhere"), true, false, FindOutcome::NotFound, alpha},
    };
    for (const Step& step : steps) {
        QCOMPARE(m_wnd->FindRow(step.text, step.forward, step.matchCase), step.outcome);
        QCOMPARE(m_wnd->GetSelectionMark(), step.row);
    }
    // By PID, through the bar: the next row after Alpha that holds those digits, Beta at the
    // latest (a process between them may hold them too).
    bar->m_text->setText(QString::number(pids[1]));
    QTest::keyClick(bar->m_text, Qt::Key_Return);
    QVERIFY(m_wnd->GetSelectionMark() > alpha && m_wnd->GetSelectionMark() <= beta);
    QVERIFY(m_wnd->FindRow("f" + tag + "beta", true, true) != FindOutcome::NotFound);
    QCOMPARE(m_wnd->GetSelectionMark(), beta);
    QCOMPARE(m_wnd->List()->selectionModel()->selectedRows().front().row(), beta);

    for (int row = 0; row <= beta; ++row)
        QCOMPARE(model.CellText(row, ColPid), order[static_cast<std::size_t>(row)]);
    // The mark is what Kill acts on.
    m_wnd->KillSelected();
    int signal = 0;
    QTRY_VERIFY_WITH_TIMEOUT(m_children.Reaped(pids[1], &signal), kWatchTimeoutMs);
    QVERIFY(!m_children.Reaped(pids[0], &signal));

    QApplication::setActiveWindow(m_wnd.get());
    QVERIFY(QTest::qWaitForWindowActive(m_wnd.get()));
    QTest::keyClick(bar->m_text, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    m_wnd->SetSelectionMark(-1);
}

void TestProcessList::disableAddsNameAndKills()
{
    // A copy of sleep under a name with blanks and parentheses, so that the disabled list
    // holds a name no other test runs.
    const QString program = m_dir.filePath(QStringLiteral("Slow Sleeper (2)"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));

    const pid_t pid = m_children.Start(program.toStdString());
    QVERIFY(pid > 0);
    const int row = WaitForRow(pid);
    QVERIFY2(row >= 0, "the copied sleep never got a row");
    QCOMPARE(m_wnd->Model()->CellText(row, ColName), std::string("Slow Sleeper (2)"));

    m_wnd->SetSelectionMark(row);
    QVERIFY(m_wnd->DisableSelected());
    int signal = 0;
    QTRY_VERIFY_WITH_TIMEOUT(m_children.Reaped(pid, &signal), kWatchTimeoutMs);
    QCOMPARE(signal, SIGKILL);
    QFile list(m_dir.filePath(QStringLiteral("BlackList.log")));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll(), QByteArray("slow sleeper (2)|"));

    // From now on the monitor kills it on sight, and it gets no row.
    const int rowsBefore = m_wnd->Model()->rowCount();
    const pid_t again = m_children.Start(program.toStdString());
    QVERIFY(again > 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_children.Reaped(again, &signal), kWatchTimeoutMs);
    QCOMPARE(signal, SIGKILL);
    QTest::qWait(700);
    QCOMPARE(LiveRow(*m_wnd->Model(), again), -1);
    for (int r = rowsBefore; r < m_wnd->Model()->rowCount(); ++r)
        QVERIFY(m_wnd->Model()->CellText(r, ColPid) != std::to_string(again));
    m_wnd->SetSelectionMark(-1);
}

void TestProcessList::disabledListDialogShowsTheList()
{
    QStringList shown;
    QTimer::singleShot(50, [&shown] {
        auto* dlg = qobject_cast<CDListDlg*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        const QAbstractItemModel* lines = dlg->m_listBox->model();
        for (int i = 0; i < lines->rowCount(); ++i)
            shown << lines->index(i, 0).data().toString();
        dlg->reject();
    });
    m_wnd->ShowDisabledList();
    QCOMPARE(shown, QStringList{QStringLiteral("slow sleeper (2)")});
}

void TestProcessList::nothingIsReadWhileNotShown_data()
{
    QTest::addColumn<bool>("minimise");
    QTest::newRow("hidden (tray)") << false;
    QTest::newRow("minimised") << true;
}

// Hidden or minimised, the window shows no row, and the passes read no process's times.
void TestProcessList::nothingIsReadWhileNotShown()
{
    QFETCH(bool, minimise);
    const CProcessMonitor& monitor = m_wnd->Monitor();
    // A live row on screen, so that a shown window has something to read.
    const pid_t pid = m_children.Start("/bin/sleep");
    QVERIFY(pid > 0);
    const int row = WaitForRow(pid);
    QVERIFY(row >= 0);
    m_wnd->List()->scrollTo(m_wnd->Model()->index(row, 0));
    if (minimise)
        m_wnd->showMinimized();
    else
        m_wnd->hide();
    QTest::qWait(700); // a pass under way when the window went
    const std::uint64_t reads = monitor.TimeReads();
    QTest::qWait(1200); // two passes at least
    QCOMPARE(monitor.TimeReads(), reads);

    m_wnd->showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(m_wnd.get()));
    QTRY_VERIFY_WITH_TIMEOUT(monitor.TimeReads() > reads, kWatchTimeoutMs);
}

// 100,000 ended rows, then a change of the offset from UTC: every time text on screen is
// shown in the new offset after the next pass.
void TestProcessList::offsetChangeRewritesEveryShownTime()
{
    QTemporaryDir dir;
    CProcessMonitor monitor(dir.path().toStdString()); // no thread: the test runs the passes
    const platform::FileTime now = platform::GetSystemTimeAsFileTime();
    {
        std::lock_guard lock(MonitorTestAccess::Lock(monitor));
        ProcessTable& table = MonitorTestAccess::Table(monitor);
        for (int i = 0; i < 100000; ++i) {
            const int row = table.AppendRow(static_cast<std::uint32_t>(5000000 + i),
                                            now - 3'600'0000000ULL, 0, "short", "/bin/short");
            table.ShowStart(row);
            table.EndRow(row, now - static_cast<platform::FileTime>(i) * 10'000'000ULL);
        }
    }
    ProcessTableModel model(monitor.Rows());
    QTableView view;
    view.setModel(&model);
    CProcessListWnd::SetUpList(&view);
    view.resize(900, 500);
    model.Apply(monitor.TakeChanges());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.scrollTo(model.index(99990, 0));
    const int first = view.rowAt(0);
    const int last = view.rowAt(view.viewport()->height() - 1);
    QVERIFY(first >= 0 && last >= first);

    const QByteArray savedTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    // Five hours from whatever the offset is now (POSIX: "XYZ-5" is UTC+5).
    qputenv("TZ", platform::CurrentUtcOffset() == 5 * 3600 ? "XYZ+0" : "XYZ-5");
    tzset();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    monitor.ScanProcesses();
    model.Apply(monitor.TakeChanges());
    QStringList wrong;
    for (int row = first; row <= last; ++row) {
        const StoredRow& r = monitor.Rows().Row(row);
        if (model.data(model.index(row, ColStart)).toString().toStdString() != FormatFileDateTime(r.creation)
            || model.CellText(row, ColFinish) != FormatFileDateTime(r.finish.load()))
            wrong << QString::number(row);
    }
    if (hadTz)
        qputenv("TZ", savedTz);
    else
        qunsetenv("TZ");
    tzset();

    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u' ')));
    bool covered = false;
    for (const QList<QVariant>& signal : changed) {
        const QModelIndex from = signal.at(0).toModelIndex();
        const QModelIndex to = signal.at(1).toModelIndex();
        covered = covered || (from.row() <= first && to.row() >= last && from.column() <= ColStart
                              && to.column() >= ColFinish);
    }
    QVERIFY2(covered, "the view was not told that the shown times changed");
}

void TestProcessList::closesInTwoPhases()
{
    QSignalSpy ended(m_wnd.get(), &CProcessListWnd::threadEnded);
    QVERIFY(!m_wnd->ThreadEnded());
    m_wnd->PrepareClose();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, kWatchTimeoutMs);
    QVERIFY(m_wnd->ThreadEnded());
    m_wnd->PrepareClose();
    QCOMPARE(QFile(m_dir.filePath(QStringLiteral("Settings.dat"))).size(), qint64(32));
    // The rows stay on screen after the records are freed.
    QVERIFY(m_wnd->Model()->rowCount() > 0);
}

QTEST_MAIN(TestProcessList)
#include "test_processlist.moc"
