// The disabled-list dialog and the event log dialog, driven like a user would (clicks, keys,
// answers to the question) on real files in a temporary directory.

#include "dialogs/CDListDlg.h"
#include "dialogs/CLogsViewDlg.h"
#include "storage/CDisabledList.h"
#include "storage/CEventLogFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::string_literals;

namespace {

std::optional<std::string> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Answers the next message box that becomes the active modal widget, as a user would.
class QuestionAnswerer : public QObject {
public:
    explicit QuestionAnswerer(QMessageBox::StandardButton answer) : m_answer(answer)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            m_text = box->text();
            m_caption = box->windowTitle();
            m_timer.stop();
            box->button(m_answer)->click();
        });
        m_timer.start(10);
    }
    QString m_text;
    QString m_caption;

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
};

void ClickRow(QListWidget* box, int row)
{
    QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, box->visualItemRect(box->item(row)).center());
}

QStringList Lines(const QListWidget* box)
{
    QStringList lines;
    for (int i = 0; i < box->count(); ++i)
        lines << box->item(i)->text();
    return lines;
}

// A day of the event log as the program writes it.
std::string SampleLog()
{
    return "\r\nOrvane started Monday, December 06, 2021 in 09 hours 05 min.\r\n\r\n"
           "Started process \t\tbash \t\t12/06/2021 09:05:12\r\n"
           "Started process \t\tfirefox-esr \t\t12/06/2021 09:05:40\r\n"
           "Started process \t\tsleep \t\t12/06/2021 09:06:41\r\n"
           "Finished process \tsleep \t\t12/06/2021 09:06:51\r\n"
           "Started process \t\tgcc \t\t12/06/2021 09:07:02\r\n"
           "Finished process \tgcc \t\t12/06/2021 09:07:03\r\n"
           "\r\nOrvane finished Monday, December 06, 2021 in 09 hours 12 min.\r\n"s;
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::string Path(const char* name) const { return m_dir->filePath(QString::fromUtf8(name)).toStdString(); }

    // A disabled list loaded from a BlackList.log holding `content`.
    void LoadList(CDisabledList& list, std::string_view content) const
    {
        list.m_path = Path("BlackList.log");
        WriteBytes(list.m_path, content);
        list.Load();
    }

    // The dialog over `list` as the monitor offers it: its entries, and a deletion that
    // removes and saves under `lock` when given.
    static void Attach(CDListDlg& dlg, CDisabledList& list, std::mutex* lock = nullptr)
    {
        for (std::size_t i = 0; i < list.GetSize(); ++i)
            dlg.m_entries.push_back(list.GetAt(i));
        dlg.m_removeAt = [&list, lock](std::size_t index) {
            std::unique_lock<std::mutex> held;
            if (lock != nullptr)
                held = std::unique_lock<std::mutex>(*lock);
            list.RemoveAt(index);
            list.Save();
        };
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    // --- Disabled-process list --------------------------------------------------------------

    void emptyListKeepsDeleteDisabled()
    {
        CDisabledList list;
        LoadList(list, "");
        CDListDlg dlg;
        Attach(dlg, list);
        dlg.show();
        QCOMPARE(dlg.m_listBox->count(), 0);
        QVERIFY(!dlg.m_btnDelete->isEnabled());
        QTest::mouseClick(dlg.m_listBox->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(!dlg.m_btnDelete->isEnabled());
    }

    void linesAreTheEntriesInListOrder()
    {
        // Unsorted, an empty entry and a hand-edited CR LF between names, a Latin-1 byte.
        CDisabledList list;
        LoadList(list, "notepad.exe|b|Zed.exe||a\r\nb|caf\xe9.exe|");
        CDListDlg dlg;
        Attach(dlg, list);
        dlg.show();
        const QStringList expected{"notepad.exe", "b", "Zed.exe", "", "a??b", QString::fromUtf8("café.exe")};
        QCOMPARE(Lines(dlg.m_listBox), expected);
        QVERIFY(!dlg.m_btnDelete->isEnabled());
        QVERIFY(dlg.m_listBox->selectedItems().isEmpty());

        // The empty line is a line like the others: it can be clicked and deleted.
        const QRect empty = dlg.m_listBox->visualItemRect(dlg.m_listBox->item(3));
        QCOMPARE(empty.height(), dlg.m_listBox->visualItemRect(dlg.m_listBox->item(0)).height());
        ClickRow(dlg.m_listBox, 3);
        QVERIFY(dlg.m_btnDelete->isEnabled());
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        QCOMPARE(Lines(dlg.m_listBox), QStringList({"notepad.exe", "b", "Zed.exe", "a??b", QString::fromUtf8("café.exe")}));
        QCOMPARE(ReadBytes(list.m_path), "notepad.exe|b|Zed.exe|a\r\nb|caf\xe9.exe|"s);
    }

    void deletingOneOfTwoIdenticalEntriesKeepsTheOther()
    {
        CDisabledList list;
        LoadList(list, "calc.exe|calc.exe|");
        CDListDlg dlg;
        Attach(dlg, list);
        dlg.show();
        ClickRow(dlg.m_listBox, 1);
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        QCOMPARE(Lines(dlg.m_listBox), QStringList{"calc.exe"});
        QCOMPARE(list.GetSize(), std::size_t{1});
        QCOMPARE(ReadBytes(list.m_path), "calc.exe|"s);

        // Nothing is selected after a deletion: Delete stays enabled but does nothing.
        QVERIFY(dlg.m_listBox->selectedItems().isEmpty());
        QVERIFY(dlg.m_btnDelete->isEnabled());
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        QCOMPARE(dlg.m_listBox->count(), 1);
        QCOMPARE(ReadBytes(list.m_path), "calc.exe|"s);
    }

    void escapeAfterDeletionsKeepsThem()
    {
        CDisabledList list;
        LoadList(list, "a|b|c|");
        CDListDlg dlg;
        Attach(dlg, list);
        dlg.show();
        ClickRow(dlg.m_listBox, 1);
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        ClickRow(dlg.m_listBox, 0);
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        QTest::keyClick(dlg.m_listBox, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));

        CDisabledList reloaded;
        reloaded.m_path = list.m_path;
        reloaded.Load();
        QCOMPARE(reloaded.GetSize(), std::size_t{1});
        QCOMPARE(reloaded.GetAt(0), "c"s);
    }

    void deletingTheOnlyEntryLeavesAnEmptyFile()
    {
        CDisabledList list;
        LoadList(list, "solo.exe|");
        CDListDlg dlg;
        Attach(dlg, list);
        dlg.show();
        QTest::keyClick(dlg.m_listBox, Qt::Key_Down); // the keyboard selects as well
        QVERIFY(dlg.m_btnDelete->isEnabled());
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        QCOMPARE(dlg.m_listBox->count(), 0);
        QCOMPARE(list.GetSize(), std::size_t{0});
        QCOMPARE(ReadBytes(list.m_path), ""s);
    }

    void deletionWaitsForTheMonitorsLock()
    {
        CDisabledList list;
        LoadList(list, "a|b|");
        std::mutex lock;
        CDListDlg dlg;
        Attach(dlg, list, &lock);
        dlg.show();
        ClickRow(dlg.m_listBox, 0);

        // A "monitor pass" holds the lock; the deletion must not touch the list or the file
        // before the pass ends.
        std::atomic<bool> held{false};
        std::optional<std::string> duringPass;
        std::size_t sizeDuringPass = 0;
        std::thread pass([&] {
            const std::lock_guard<std::mutex> guard(lock);
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            duringPass = ReadBytes(list.m_path);
            sizeDuringPass = list.GetSize();
        });
        while (!held)
            std::this_thread::yield();
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        pass.join();
        QCOMPARE(duringPass, "a|b|"s);
        QCOMPARE(sizeDuringPass, std::size_t{2});
        QCOMPARE(ReadBytes(list.m_path), "b|"s);
    }

    // --- Event log --------------------------------------------------------------------------

    void openAndSaveKeepsTheBytes_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<bool>("latin1");
        const QByteArray sample = QByteArray::fromStdString(SampleLog());
        QTest::newRow("program's own log") << sample << sample << false;
        QTest::newRow("Latin-1 name") << QByteArray("Started process \t\tcaf\xe9.exe \t\t12/06/2021 09:06:41\r\n")
                                      << QByteArray("Started process \t\tcaf\xe9.exe \t\t12/06/2021 09:06:41\r\n") << true;
        QTest::newRow("UTF-8 name") << QByteArray("Started process \t\tcaf\xc3\xa9 \xe2\x82\xac.exe \t\t \r\n")
                                    << QByteArray("Started process \t\tcaf\xc3\xa9 \xe2\x82\xac.exe \t\t \r\n") << false;
        QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf" "a\r\n") << QByteArray("\xef\xbb\xbf" "a\r\n") << false;
        QTest::newRow("no-break space, Latin-1") << QByteArray("a\xa0z\r\n") << QByteArray("a\xa0z\r\n") << true;
        QTest::newRow("no-break space, UTF-8") << QByteArray("a\xc2\xa0z\r\n") << QByteArray("a\xc2\xa0z\r\n") << false;
        QTest::newRow("overlong UTF-8 is not UTF-8") << QByteArray("\xc0\xaf\r\n") << QByteArray("\xc0\xaf\r\n") << true;
        QTest::newRow("UTF-8 surrogate is not UTF-8") << QByteArray("\xed\xa0\x80") << QByteArray("\xed\xa0\x80") << true;
        QTest::newRow("control bytes") << QByteArray("a\x01\x1b[31mb\x7f\r\n") << QByteArray("a\x01\x1b[31mb\x7f\r\n") << false;
        QTest::newRow("no final line end") << QByteArray("a\r\n\r\nb") << QByteArray("a\r\n\r\nb") << false;
        QTest::newRow("empty lines only") << QByteArray("\r\n\r\n\r\n") << QByteArray("\r\n\r\n\r\n") << false;
        QTest::newRow("empty file") << QByteArray("") << QByteArray("") << false;
        // Line breaks are CR LF in the file; lone ones come back as CR LF.
        QTest::newRow("lone LF and CR") << QByteArray("a\nb\rc\r\n") << QByteArray("a\r\nb\r\nc\r\n") << false;
        // The text ends at the first zero byte, and so does what Save writes.
        QTest::newRow("zero byte") << QByteArray("abc\r\nde\0fg\r\n", 12) << QByteArray("abc\r\nde") << false;
    }

    void openAndSaveKeepsTheBytes()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);
        QFETCH(bool, latin1);
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, file.toStdString());
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        QCOMPARE(dlg.Encoding() == LogEncoding::Latin1, latin1);
        QVERIFY(!dlg.EditText().contains(u'\r'));
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QVERIFY(dlg.isVisible());
        QCOMPARE(ReadBytes(log.m_path), saved.toStdString());
    }

    void saveWritesTheEditedText()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, "first\r\nsecond\r\n");
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(dlg.focusWidget(), dlg.m_edit);
        QCOMPARE(dlg.EditText(), QStringLiteral("first\nsecond\n"));

        QTest::keyClick(dlg.m_edit, Qt::Key_End); // end of the first line
        QTest::keyClicks(dlg.m_edit, " line");
        QTest::keyClick(dlg.m_edit, Qt::Key_Return); // Enter breaks the line, it does not close
        QTest::keyClicks(dlg.m_edit, "inserted");
        QVERIFY(dlg.isVisible());
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), "first line\r\ninserted\r\nsecond\r\n"s);

        // Everything deleted: an empty file.
        dlg.m_edit->selectAll();
        QTest::keyClick(dlg.m_edit, Qt::Key_Delete);
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), ""s);
    }

    void typedTextKeepsTheFilesEncoding()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, "caf\xe9\r\n");
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        QCOMPARE(dlg.Encoding(), LogEncoding::Latin1);
        dlg.m_edit->moveCursor(QTextCursor::End);
        // A Latin-1 letter stays one byte; a character Latin-1 lacks is kept as UTF-8.
        dlg.m_edit->insertPlainText(QString::fromUtf8("\xc3\xa9\xe2\x82\xac"));
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), "caf\xe9\r\n\xe9\xe2\x82\xac"s);
    }

    void saveKeepsPermissionsAndLinks()
    {
        const std::string real = Path("real.log");
        WriteBytes(real, "old\r\n");
        QCOMPARE(::chmod(real.c_str(), 0640), 0);
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        QCOMPARE(::symlink(real.c_str(), log.m_path.c_str()), 0);
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        dlg.m_edit->moveCursor(QTextCursor::End);
        QTest::keyClicks(dlg.m_edit, "new");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);

        struct stat st {};
        QCOMPARE(::lstat(log.m_path.c_str(), &st), 0);
        QVERIFY(S_ISLNK(st.st_mode));
        QCOMPARE(ReadBytes(real), "old\r\nnew"s);
        QCOMPARE(::stat(real.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t{0640});
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::System).size(), 2);
    }

    void failedSaveLeavesTheOldFileWhole()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        const std::string old = SampleLog();
        WriteBytes(log.m_path, old);
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        dlg.m_edit->setPlainText(QString(64 * 1024, u'x'));

        // A file-size limit makes the write fail part way, as a full disk would.
        rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 4096;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        QCOMPARE(ReadBytes(log.m_path), old);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void clearAnsweredNoChangesNothing()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, SampleLog());
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        const QString shown = dlg.EditText();
        QuestionAnswerer answerer(QMessageBox::No);
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QCOMPARE(answerer.m_text, QStringLiteral("Warning! All events will be lost! Continue?"));
        QCOMPARE(answerer.m_caption, QStringLiteral("Orvane v 1.1 XP"));
        QCOMPARE(dlg.EditText(), shown);
        QCOMPARE(ReadBytes(log.m_path), SampleLog());
    }

    void clearWithLoggingOnReopensTheLog()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, SampleLog());
        log.Open();
        QVERIFY(log.IsOpen());
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        QVERIFY(log.IsOpen());
        QCOMPARE(dlg.EditText(), QString::fromStdString(SampleLog()).replace("\r\n", "\n"));

        QuestionAnswerer answerer(QMessageBox::Yes);
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QVERIFY(!answerer.m_text.isEmpty());
        QCOMPARE(dlg.EditText(), QString());
        QVERIFY(log.IsOpen());
        QCOMPARE(ReadBytes(log.m_path), ""s);

        // The monitor's next line starts the empty file, with no banner before it.
        const std::string line = BuildStartedLine("sleep", "12/06/2021 09:20:00");
        log.Write(line);
        QCOMPARE(ReadBytes(log.m_path), line);
    }

    void saveWithLoggingOnAppendsToTheNewFile()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, "a\r\n");
        log.Open();
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        // An entry the monitor appends while the dialog is open is lost by Save.
        log.Write("lost\r\n");
        dlg.m_edit->moveCursor(QTextCursor::End);
        QTest::keyClicks(dlg.m_edit, "b");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QVERIFY(log.IsOpen());
        QCOMPARE(ReadBytes(log.m_path), "a\r\nb"s);
        // The log was reopened on the file that replaced the old one.
        log.Write("\r\nnext\r\n");
        QCOMPARE(ReadBytes(log.m_path), "a\r\nb\r\nnext\r\n"s);
    }

    void loggingOffStaysOff()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, "a\r\n");
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        QCOMPARE(dlg.EditText(), QStringLiteral("a\n"));
        QVERIFY(!log.IsOpen());
        QTest::keyClicks(dlg.m_edit, "x");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QVERIFY(!log.IsOpen());
        QCOMPARE(ReadBytes(log.m_path), "xa\r\n"s);
        QuestionAnswerer answerer(QMessageBox::Yes);
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QVERIFY(!log.IsOpen());
        QCOMPARE(ReadBytes(log.m_path), ""s);
    }

    void missingFile()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        {
            CLogsViewDlg dlg;
            dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            QCOMPARE(dlg.EditText(), QString());
            QCOMPARE(dlg.focusWidget(), dlg.m_btnClose);
            QuestionAnswerer answerer(QMessageBox::Yes);
            QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
            QCOMPARE(ReadBytes(log.m_path), ""s);
        }
        QVERIFY(QFile::remove(QString::fromStdString(log.m_path)));
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        QTest::keyClicks(dlg.m_edit, "typed");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), "typed"s);
    }

    void logHeldByAnotherInstanceIsLeftAlone()
    {
        const std::string path = Path("Logs.log");
        WriteBytes(path, "theirs\r\n");
        CEventLogFile other; // another running instance, logging on
        other.m_path = path;
        other.Open();
        QVERIFY(other.IsOpen());

        CEventLogFile log;
        log.m_path = path;
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show();
        QCOMPARE(dlg.EditText(), QString());
        QTest::keyClicks(dlg.m_edit, "mine");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QuestionAnswerer answerer(QMessageBox::Yes);
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QCOMPARE(ReadBytes(path), "theirs\r\n"s);
        other.Write("more\r\n");
        QCOMPARE(ReadBytes(path), "theirs\r\nmore\r\n"s);
    }

    void fifoInThePlaceOfTheLogIsLeftAlone()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        QCOMPARE(::mkfifo(log.m_path.c_str(), 0600), 0);
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        dlg.show(); // must not wait for a writer
        QCOMPARE(dlg.EditText(), QString());
        QTest::keyClicks(dlg.m_edit, "text");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QuestionAnswerer answerer(QMessageBox::Yes);
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        struct stat st {};
        QCOMPARE(::lstat(log.m_path.c_str(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }

    void saveWaitsForTheMonitorsLock()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, "a\r\n");
        log.Open();
        std::mutex lock;
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log, &lock);
        dlg.show();
        QTest::keyClicks(dlg.m_edit, "x");

        // A "monitor pass" writes a line while holding the lock; Save may neither close the
        // log under it nor lose the line's place.
        std::atomic<bool> held{false};
        std::optional<std::string> duringPass;
        std::thread pass([&] {
            const std::lock_guard<std::mutex> guard(lock);
            held = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            log.Write("pass\r\n");
            duringPass = ReadBytes(log.m_path);
        });
        while (!held)
            std::this_thread::yield();
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        pass.join();
        QCOMPARE(duringPass, "a\r\npass\r\n"s);
        QCOMPARE(ReadBytes(log.m_path), "xa\r\n"s);
        QVERIFY(log.IsOpen());
    }

    void twentyMegabyteLog()
    {
        std::string big;
        big.reserve(21 * 1024 * 1024);
        for (int i = 0; big.size() < 20 * 1024 * 1024; ++i) {
            big += BuildStartedLine("process-" + std::to_string(i), "12/06/2021 09:06:41");
            big += BuildFinishedLine("process-" + std::to_string(i), "12/06/2021 09:06:42");
        }
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, big);

        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        QElapsedTimer timer;
        timer.start();
        dlg.show();
        QCoreApplication::processEvents();
        const qint64 openMs = timer.elapsed();
        QCOMPARE(dlg.m_edit->blockCount(), int(std::count(big.begin(), big.end(), '\n')) + 1);
        timer.restart();
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        const qint64 saveMs = timer.elapsed();
        qInfo("20 MB log (%zu bytes, %d lines): opened in %lld ms, saved in %lld ms", big.size(),
              dlg.m_edit->blockCount() - 1, static_cast<long long>(openMs), static_cast<long long>(saveMs));
        QVERIFY(ReadBytes(log.m_path) == big);
    }

    void editGrowsWithTheDialog()
    {
        CLogsViewDlg dlg;
        dlg.show();
        const QRect edit = dlg.m_edit->geometry();
        const QRect save = dlg.m_btnSave->geometry();
        dlg.resize(dlg.size() + QSize(120, 80));
        QCOMPARE(dlg.m_edit->geometry(), edit.adjusted(0, 0, 120, 80));
        QCOMPARE(dlg.m_btnSave->geometry(), save);
    }

    // --- Pictures ---------------------------------------------------------------------------

    // Renders both dialogs with realistic content; with ORVANE_SCREENSHOT_DIR set, the pictures
    // are written there (the documentation's screenshots come from here).
    void screenshots()
    {
        const QString outDir = qEnvironmentVariableIsSet("ORVANE_SCREENSHOT_DIR")
                                   ? qEnvironmentVariable("ORVANE_SCREENSHOT_DIR")
                                   : m_dir->path();
        CDisabledList list;
        LoadList(list, "xmrig|teamviewer|steam.exe|anydesk|minerd|");
        CDListDlg listDlg;
        Attach(listDlg, list);
        listDlg.show();
        ClickRow(listDlg.m_listBox, 1);
        QVERIFY(!listDlg.windowIcon().pixmap(32).isNull());
        const QPixmap listShot = listDlg.grab();
        QCOMPARE(listShot.size(), listDlg.size());
        QVERIFY(listShot.save(outDir + "/disabled-list.png"));

        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, SampleLog());
        CLogsViewDlg logDlg;
        logDlg.m_runWithLogClosed = CLogsViewDlg::ForLog(log);
        logDlg.show();
        QVERIFY(!logDlg.windowIcon().pixmap(32).isNull());
        const QPixmap logShot = logDlg.grab();
        QCOMPARE(logShot.size(), logDlg.size());
        QVERIFY(logShot.save(outDir + "/event-log.png"));
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
