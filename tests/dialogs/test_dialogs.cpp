// The disabled-list dialog and the event log dialog, driven like a user would (clicks, keys,
// answers to the question) on real files in a temporary directory.

#include "CLogEdit.h"
#include "controls/CFindBar.h"
#include "dialogs/CDListDlg.h"
#include "dialogs/CLogsViewDlg.h"
#include "storage/CDisabledList.h"
#include "storage/CEventLogFile.h"
#include "storage/LogFileAccess.h"

#include "LogRunner.h"

#include <QApplication>
#include <QDir>
#include <QListView>
#include <QPointer>
#include <QMessageBox>
#include <QCheckBox>
#include <QKeyEvent>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
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
#include <tuple>
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

// What the event log dialog's box holds, as Save would write it.
std::string Shown(const CLogsViewDlg& dlg)
{
    return std::string(dlg.EditBytes());
}

void GoToEnd(CLogEdit* edit)
{
    QTest::keyClick(edit, Qt::Key_End, Qt::ControlModifier);
}

// Types `text` as a keyboard would deliver it, letters beyond ASCII included (which QTest's
// key clicks do not take).
void Type(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

void WriteBytes(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Answers the message boxes that become the active modal widget, in turn, as a user would:
// the first with the first answer, and so on.
class QuestionAnswerer : public QObject {
public:
    explicit QuestionAnswerer(QMessageBox::StandardButton answer) : QuestionAnswerer({answer}) {}
    explicit QuestionAnswerer(std::initializer_list<QMessageBox::StandardButton> answers)
        : m_answers(answers)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box == m_last || !box->button(m_answers.front()))
                return;
            m_last = box;
            m_texts << box->text();
            m_text = box->text();
            m_caption = box->windowTitle();
            const QMessageBox::StandardButton answer = m_answers.takeFirst();
            if (m_answers.isEmpty())
                m_timer.stop();
            box->button(answer)->click();
        });
        m_timer.start(10);
    }
    QString m_text; // of the last box answered
    QString m_caption;
    QStringList m_texts; // of every box answered

private:
    QList<QMessageBox::StandardButton> m_answers;
    QPointer<QMessageBox> m_last;
    QTimer m_timer;
};

void ClickRow(QListView* box, int row)
{
    QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, box->visualRect(box->model()->index(row, 0)).center());
}

QStringList Lines(const QListView* box)
{
    QStringList lines;
    for (int i = 0; i < box->model()->rowCount(); ++i)
        lines << box->model()->index(i, 0).data().toString();
    return lines;
}

bool NothingSelected(const QListView* box)
{
    return box->selectionModel()->selectedIndexes().isEmpty();
}

// Shows the event log dialog and answers the message box it opens with, if any: its text, or
// an empty text when none came.
QString ShowTelling(CLogsViewDlg& dlg)
{
    QuestionAnswerer answerer(QMessageBox::Ok);
    dlg.show();
    QTest::qWait(100);
    return answerer.m_texts.join(QLatin1Char('|'));
}

// Lowers the file-size limit for the life of the object, so that writes fail part way as on a
// full disk (for root as well).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previous);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved {};
    void (*m_previous)(int) = nullptr;
};

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
        QVERIFY(list.Load());
    }

    // The event log dialog, shown over a Logs.log that holds `content`; the log object is open
    // (as the running monitor's is) when `open` is set.
    struct ShownLog {
        CEventLogFile log;
        CLogsViewDlg dlg;
    };
    std::unique_ptr<ShownLog> ShowLog(std::string_view content, bool open = false) const
    {
        auto shown = std::make_unique<ShownLog>();
        shown->log.m_path = Path("Logs.log");
        WriteBytes(shown->log.m_path, content);
        if (open)
            (void)shown->log.Open(); // a log that cannot be opened fails the test's next Write
        shown->dlg.m_runWithLogClosed = RunnerForLog(shown->log);
        shown->dlg.show();
        return shown;
    }

    // The dialog over `list` as the monitor offers it: its entries as the file holds them,
    // and a deletion made on the file under `lock` when given.
    static void Attach(CDListDlg& dlg, CDisabledList& list, std::mutex* lock = nullptr)
    {
        auto held = [lock] {
            return lock != nullptr ? std::unique_lock<std::mutex>(*lock) : std::unique_lock<std::mutex>();
        };
        dlg.m_readEntries = [&list, held] {
            const auto guard = held();
            (void)list.Refresh(); // an unreadable file keeps the entries shown before
            std::vector<std::string> entries;
            for (std::size_t i = 0; i < list.GetSize(); ++i)
                entries.push_back(list.GetAt(i));
            return entries;
        };
        dlg.m_removeAt = [&list, held](std::size_t index, const std::string& name) {
            const auto guard = held();
            return list.Remove(index, name);
        };
        dlg.m_path = list.m_path;
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
        QCOMPARE(dlg.m_listBox->model()->rowCount(), 0);
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
        QVERIFY(NothingSelected(dlg.m_listBox));

        // The empty line is a line like the others: it can be clicked and deleted.
        const QRect empty = dlg.m_listBox->visualRect(dlg.m_listBox->model()->index(3, 0));
        QCOMPARE(empty.height(), dlg.m_listBox->visualRect(dlg.m_listBox->model()->index(0, 0)).height());
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
        QVERIFY(NothingSelected(dlg.m_listBox));
        QVERIFY(dlg.m_btnDelete->isEnabled());
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        QCOMPARE(dlg.m_listBox->model()->rowCount(), 1);
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
        QVERIFY(reloaded.Load());
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
        QCOMPARE(dlg.m_listBox->model()->rowCount(), 0);
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

    void failedDeleteIsToldAndTheLinesFollowTheFile()
    {
        CDisabledList list;
        LoadList(list, "keep.exe|gone.exe|");
        CDisabledList other; // another copy of the program in the same folder
        other.m_path = list.m_path;
        CDListDlg dlg;
        Attach(dlg, list);
        dlg.show();
        QVERIFY(other.Add("theirs.exe"));
        ClickRow(dlg.m_listBox, 1);
        {
            const FileSizeLimit limit(8);
            QuestionAnswerer answerer(QMessageBox::Ok);
            QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
            QCOMPARE(answerer.m_text, QStringLiteral("The entry was not deleted from the disabled list:\n%1: File too large")
                                          .arg(QString::fromStdString(list.m_path)));
        }
        QCOMPARE(ReadBytes(list.m_path), "keep.exe|gone.exe|theirs.exe|"s);
        QCOMPARE(Lines(dlg.m_listBox), QStringList({"keep.exe", "gone.exe", "theirs.exe"}));
        ClickRow(dlg.m_listBox, 1);
        QTest::mouseClick(dlg.m_btnDelete, Qt::LeftButton);
        QCOMPARE(ReadBytes(list.m_path), "keep.exe|theirs.exe|"s);
        QCOMPARE(Lines(dlg.m_listBox), QStringList({"keep.exe", "theirs.exe"}));
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
        QTest::newRow("bare LF and bare CR") << QByteArray("a\nb\rc\r\n\n\r\r\n") << QByteArray("a\nb\rc\r\n\n\r\r\n") << false;
        QTest::newRow("CR before CR LF") << QByteArray("a\r\r\nb") << QByteArray("a\r\r\nb") << false;
        QTest::newRow("Latin-1, UTF-8 and control bytes mixed")
            << QByteArray("caf\xc3\xa9 caf\xe9\r\x01\x1b\xff\n\xc3") << QByteArray("caf\xc3\xa9 caf\xe9\r\x01\x1b\xff\n\xc3") << true;
        // The text ends at the first zero byte, and so does what Save writes.
        QTest::newRow("zero byte") << QByteArray("abc\r\nde\0fg\r\n", 12) << QByteArray("abc\r\nde") << false;

        // Logs longer than one piece of the file's reading.
        const QByteArray piece(static_cast<qsizetype>(kLogPieceSize), 'a');
        const QByteArray almost = piece.left(piece.size() - 1);
        QTest::newRow("UTF-8 character across two pieces") << almost + "\xc3\xa9z\r\n" << almost + "\xc3\xa9z\r\n" << false;
        QTest::newRow("Latin-1 byte in the last piece only") << piece + piece + "\xe9\r\n" << piece + piece + "\xe9\r\n" << true;
        QTest::newRow("zero byte in the second piece")
            << piece + QByteArray("b\0\xe9", 3) + piece << piece + "b" << false;
        QTest::newRow("UTF-8 character cut short by a zero byte that starts a piece")
            << almost + QByteArray("\xc3\0\xa9", 3) << almost + "\xc3" << true;
    }

    void openAndSaveKeepsTheBytes()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, saved);
        QFETCH(bool, latin1);
        const auto opened = ShowLog(file.toStdString());
        auto& [log, dlg] = *opened;
        QCOMPARE(dlg.Encoding() == LogEncoding::Latin1, latin1);
        QCOMPARE(Shown(dlg), saved.toStdString());
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QVERIFY(dlg.isVisible());
        QCOMPARE(ReadBytes(log.m_path), saved.toStdString());
    }

    void saveWritesTheEditedText()
    {
        const auto opened = ShowLog("first\r\nsecond\r\n");
        auto& [log, dlg] = *opened;
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(dlg.focusWidget(), dlg.m_edit);
        QCOMPARE(Shown(dlg), "first\r\nsecond\r\n"s);

        QTest::keyClick(dlg.m_edit, Qt::Key_End); // end of the first line
        QTest::keyClicks(dlg.m_edit, " line");
        QTest::keyClick(dlg.m_edit, Qt::Key_Return); // Enter breaks the line, it does not close
        QTest::keyClicks(dlg.m_edit, "inserted");
        QVERIFY(dlg.isVisible());
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), "first line\r\ninserted\r\nsecond\r\n"s);
        // Tab moves on to the next control rather than into the text.
        dlg.m_edit->setFocus();
        QTest::keyClick(dlg.m_edit, Qt::Key_Tab);
        QCOMPARE(dlg.focusWidget(), dlg.m_btnClear);
        // Nor do keys that a plain edit box lacks (cut, duplicate, swap or re-case lines).
        dlg.m_edit->setFocus();
        const Qt::KeyboardModifiers shiftCtrl = Qt::ControlModifier | Qt::ShiftModifier;
        const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
            {Qt::Key_L, Qt::ControlModifier}, {Qt::Key_L, shiftCtrl}, {Qt::Key_T, Qt::ControlModifier},
            {Qt::Key_T, shiftCtrl}, {Qt::Key_D, Qt::ControlModifier}, {Qt::Key_U, Qt::ControlModifier},
            {Qt::Key_U, shiftCtrl}};
        for (const auto& [key, modifiers] : keys)
            QTest::keyClick(dlg.m_edit, key, modifiers);
        QCOMPARE(Shown(dlg), "first line\r\ninserted\r\nsecond\r\n"s);

        // Everything deleted: an empty file.
        QTest::keyClick(dlg.m_edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(dlg.m_edit, Qt::Key_Delete);
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), ""s);
    }

    void typedTextKeepsTheFilesEncoding()
    {
        const auto opened = ShowLog("caf\xe9\r\n");
        auto& [log, dlg] = *opened;
        QCOMPARE(dlg.Encoding(), LogEncoding::Latin1);
        GoToEnd(dlg.m_edit);
        // A Latin-1 letter stays one byte; a character Latin-1 lacks is kept as UTF-8.
        Type(dlg.m_edit, QString::fromUtf8("\xc3\xa9\xe2\x82\xac"));
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), "caf\xe9\r\n\xe9\xe2\x82\xac"s);
    }

    void typedAndPastedTextIsUtf8WithCrLf()
    {
        const auto opened = ShowLog("a\nb");
        auto& [log, dlg] = *opened;
        GoToEnd(dlg.m_edit);
        QTest::keyClick(dlg.m_edit, Qt::Key_Return);
        Type(dlg.m_edit, QString::fromUtf8("\xc3\xa9\xe2\x82\xac"));
        QApplication::clipboard()->setText(QStringLiteral("p\nq\rr"));
        QTest::keyClick(dlg.m_edit, Qt::Key_V, Qt::ControlModifier);
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        // The bytes read stay as they were; what was added has CR LF breaks and is UTF-8.
        QCOMPARE(ReadBytes(log.m_path), "a\nb\r\n\xc3\xa9\xe2\x82\xacp\r\nq\r\nr"s);
    }

    void findInTheLog()
    {
        const auto opened = ShowLog("alpha\r\nBeta\r\nalpha beta\r\n");
        auto& [log, dlg] = *opened;
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        CFindBar* bar = dlg.m_findBar;
        QVERIFY(!bar->isVisible());
        QTest::keyClick(dlg.m_edit, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), bar->m_text);
        QTest::keyClicks(bar->m_text, "beta");

        const auto selection = [&edit = *dlg.m_edit] {
            return std::pair(edit.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART),
                             edit.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND));
        };
        // Each step: a key, where it is sent, the selection it leaves and what the bar says.
        struct Step {
            const char* what;
            QWidget* target;
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            std::pair<long, long> selected;
            const char* status;
        };
        const Step steps[] = {
            {"Enter finds ignoring case", bar->m_text, Qt::Key_Return, {}, {7, 11}, ""},
            {"F3 the next", dlg.m_edit, Qt::Key_F3, {}, {19, 23}, ""},
            {"F3 goes round", bar->m_text, Qt::Key_F3, {}, {7, 11}, "Continued from the top"},
            {"Shift+F3 goes round back", bar->m_text, Qt::Key_F3, Qt::ShiftModifier, {19, 23},
             "Continued from the bottom"},
            {"Shift+F3 the previous", bar->m_text, Qt::Key_F3, Qt::ShiftModifier, {7, 11}, ""},
        };
        for (const Step& step : steps) {
            QTest::keyClick(step.target, step.key, step.modifiers);
            QVERIFY2(selection() == step.selected, step.what);
            QVERIFY2(bar->m_status->text() == QLatin1String(step.status), step.what);
            QVERIFY(dlg.isVisible());
        }

        bar->m_matchCase->setChecked(true);
        QCOMPARE(bar->FindNext(), FindOutcome::Found);
        QCOMPARE(selection(), std::pair(19L, 23L));
        QCOMPARE(bar->FindNext(), FindOutcome::Wrapped); // the only lower-case one again
        QCOMPARE(selection(), std::pair(19L, 23L));

        bar->m_text->setText(QStringLiteral("gamma"));
        QCOMPARE(bar->FindNext(), FindOutcome::NotFound);
        QCOMPARE(bar->m_status->text(), QStringLiteral("Not found"));
        QCOMPARE(selection(), std::pair(19L, 23L));

        // Esc closes the bar, not the dialog; the next Esc closes the dialog.
        QTest::keyClick(bar->m_text, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QVERIFY(dlg.isVisible());
        QCOMPARE(QApplication::focusWidget(), dlg.m_edit);
        QTest::keyClick(dlg.m_edit, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(ReadBytes(log.m_path), "alpha\r\nBeta\r\nalpha beta\r\n"s);
    }

    void findFoldsLettersOfTheTextsEncoding_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<long>("start");
        const QByteArray utf8("a CAF\xc3\x89 b caf\xc3\xa9");
        const QByteArray latin1("a CAF\xc9 b caf\xe9");
        const QString cafe = QString::fromUtf8("caf\xc3\xa9");
        QTest::newRow("UTF-8, any case") << utf8 << cafe << false << 2L;
        QTest::newRow("UTF-8, match case") << utf8 << cafe << true << 10L;
        QTest::newRow("Latin-1, any case") << latin1 << cafe << false << 2L;
        QTest::newRow("Latin-1, match case") << latin1 << cafe << true << 9L;
        QTest::newRow("no match") << utf8 << QStringLiteral("cafe") << false << -1L;
    }

    void findFoldsLettersOfTheTextsEncoding()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, needle);
        QFETCH(bool, matchCase);
        QFETCH(long, start);
        CLogEdit edit;
        edit.SetBytes(text.toStdString());
        const FindOutcome outcome = edit.Find(needle, true, matchCase);
        QCOMPARE(outcome, start < 0 ? FindOutcome::NotFound : FindOutcome::Found);
        QCOMPARE(edit.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART), start < 0 ? 0L : start);
    }

    void utf8IsTestedAcrossPieces_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ASCII") << QByteArray("plain text, longer than a word\r\n") << true;
        QTest::newRow("two, three and four bytes") << QByteArray("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 end") << true;
        QTest::newRow("highest code point") << QByteArray("\xf4\x8f\xbf\xbf") << true;
        QTest::newRow("overlong two bytes") << QByteArray("ab\xc0\xaf") << false;
        QTest::newRow("overlong three bytes") << QByteArray("\xe0\x80\xaf") << false;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("cut short at the end") << QByteArray("abcdefghij\xe2\x82") << false;
        QTest::newRow("bad third byte") << QByteArray("\xe2\x82\x28 abcdefgh") << false;
        QTest::newRow("lone continuation byte") << QByteArray("abcdefgh\x80") << false;
        QTest::newRow("Latin-1") << QByteArray("caf\xe9 cr\xe8me") << false;
    }

    // Whatever the cuts, the pieces are judged as the whole.
    void utf8IsTestedAcrossPieces()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        const std::string_view all(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        QCOMPARE(IsStrictUtf8(all), valid);
        for (std::size_t a = 0; a <= all.size(); ++a) {
            for (std::size_t b = a; b <= all.size(); ++b) {
                StrictUtf8Check check;
                check.Add(all.substr(0, a));
                check.Add(all.substr(a, b - a));
                check.Add(all.substr(b));
                QVERIFY2(check.Valid() == valid, qPrintable(QStringLiteral("cut at %1 and %2").arg(a).arg(b)));
            }
        }
    }

    void unfinishedLoadingLeavesTheBoxAsItWas()
    {
        CLogEdit edit;
        edit.SetBytes("caf\xe9\r\n");
        {
            CLogEdit::Loading loading(edit, 16);
            loading.Add("other text\r\n");
        }
        QCOMPARE(std::string(edit.Bytes()), "caf\xe9\r\n"s);
        QCOMPARE(edit.Encoding(), LogEncoding::Latin1);
        QCOMPARE(edit.LineCount(), 2);
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
        dlg.m_runWithLogClosed = RunnerForLog(log);
        dlg.show();
        GoToEnd(dlg.m_edit);
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
        dlg.m_runWithLogClosed = RunnerForLog(log);
        dlg.show();
        dlg.m_edit->SetBytes(std::string(64 * 1024, 'x'));

        // A file-size limit makes the write fail part way, as a full disk would: the user is
        // told which file and why, and the box keeps the text.
        {
            const FileSizeLimit limit(4096);
            QuestionAnswerer answerer(QMessageBox::Ok);
            QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
            QCOMPARE(answerer.m_text, QStringLiteral("The event log was not saved:\n%1: File too large")
                                          .arg(QString::fromStdString(log.m_path)));
        }
        QCOMPARE(ReadBytes(log.m_path), old);
        QCOMPARE(Shown(dlg), std::string(64 * 1024, 'x'));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void clearAnsweredNoChangesNothing()
    {
        const auto opened = ShowLog(SampleLog());
        auto& [log, dlg] = *opened;
        const std::string shown = Shown(dlg);
        QuestionAnswerer answerer(QMessageBox::No);
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QCOMPARE(answerer.m_text, QStringLiteral("Warning! All events will be lost! Continue?"));
        QCOMPARE(answerer.m_caption, QStringLiteral("Orvane v 1.1 XP"));
        QCOMPARE(Shown(dlg), shown);
        QCOMPARE(ReadBytes(log.m_path), SampleLog());
    }

    void clearWithLoggingOnReopensTheLog()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, SampleLog());
        QVERIFY(log.Open());
        QVERIFY(log.IsOpen());
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = RunnerForLog(log);
        dlg.show();
        QVERIFY(log.IsOpen());
        QCOMPARE(Shown(dlg), SampleLog());

        QuestionAnswerer answerer(QMessageBox::Yes);
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QVERIFY(!answerer.m_text.isEmpty());
        QCOMPARE(Shown(dlg), ""s);
        QVERIFY(log.IsOpen());
        QCOMPARE(ReadBytes(log.m_path), ""s);

        // The monitor's next line starts the empty file, with no banner before it.
        const std::string line = BuildStartedLine("sleep", "12/06/2021 09:20:00");
        QVERIFY(log.Write(line));
        QCOMPARE(ReadBytes(log.m_path), line);
    }

    void saveWithLoggingOnAppendsToTheNewFile()
    {
        const auto opened = ShowLog("a\r\n", true);
        auto& [log, dlg] = *opened;
        // An entry the monitor appends while the dialog is open follows the box's text, on a
        // line of its own.
        QVERIFY(log.Write("kept\r\n"));
        GoToEnd(dlg.m_edit);
        QTest::keyClicks(dlg.m_edit, "b");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QVERIFY(log.IsOpen());
        QCOMPARE(ReadBytes(log.m_path), "a\r\nb\r\nkept\r\n"s);
        // The log was reopened on the file that replaced the old one; a second Save knows it.
        QVERIFY(log.Write("next\r\n"));
        QTest::keyClicks(dlg.m_edit, "c");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), "a\r\nbc\r\nkept\r\nnext\r\n"s);
        // A file that did not only grow (rewritten by someone else) is not mixed in.
        QVERIFY(log.Close());
        WriteBytes(log.m_path, "other\r\n");
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(ReadBytes(log.m_path), "a\r\nbc\r\nkept\r\nnext\r\n"s);
    }

    // However often the user saves, the entries the monitor appended in between are kept
    // after the box's text, and the box shows them from then on: it holds what the file holds.
    void everySaveKeepsTheEntriesAppendedMeanwhile()
    {
        const auto opened = ShowLog("a\r\n", true);
        auto& [log, dlg] = *opened;
        const std::string one = BuildStartedLine("one", "12/06/2021 09:20:00");
        const std::string two = BuildFinishedLine("one", "12/06/2021 09:20:05");
        const std::string three = BuildStartedLine("three", "12/06/2021 09:21:00");
        // The entry the monitor appends, what the user types at the end, the file after Save.
        const std::tuple<std::string, const char*, std::string> saves[] = {
            {one, "X", "a\r\nX\r\n" + one},
            {two, "Y", "a\r\nX\r\n" + one + "Y\r\n" + two},
            {three, "", "a\r\nX\r\n" + one + "Y\r\n" + two + three},
        };
        for (const auto& [entry, typed, file] : saves) {
            QVERIFY(log.Write(entry));
            GoToEnd(dlg.m_edit);
            QTest::keyClicks(dlg.m_edit, typed);
            QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
            QCOMPARE(ReadBytes(log.m_path), file);
            QCOMPARE(Shown(dlg), file);
        }
    }

    void entriesJoinTheBoxInItsEncoding_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("latin1"); // how the box reads after the Save
        QTest::newRow("UTF-8 box, UTF-8 entry") << QByteArray("caf\xc3\xa9\r\n") << QByteArray("\xe2\x82\xac\r\n") << false;
        QTest::newRow("UTF-8 box, Latin-1 entry") << QByteArray("caf\xc3\xa9\r\n") << QByteArray("caf\xe9\r\n") << true;
        QTest::newRow("Latin-1 box, UTF-8 entry") << QByteArray("caf\xe9\r\n") << QByteArray("caf\xc3\xa9\r\n") << true;
    }

    // The entries keep their bytes in the box, which reads the whole as it would the file.
    void entriesJoinTheBoxInItsEncoding()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, entry);
        QFETCH(bool, latin1);
        const auto opened = ShowLog(file.toStdString(), true);
        auto& [log, dlg] = *opened;
        QVERIFY(log.Write(entry.toStdString()));
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        QCOMPARE(Shown(dlg), (file + entry).toStdString());
        QCOMPARE(dlg.Encoding() == LogEncoding::Latin1, latin1);
    }

    void loggingOffStaysOff()
    {
        const auto opened = ShowLog("a\r\n");
        auto& [log, dlg] = *opened;
        QCOMPARE(Shown(dlg), "a\r\n"s);
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
            dlg.m_runWithLogClosed = RunnerForLog(log);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            QCOMPARE(Shown(dlg), ""s);
            QCOMPARE(dlg.focusWidget(), dlg.m_btnClose);
            QuestionAnswerer answerer(QMessageBox::Yes);
            QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
            QCOMPARE(ReadBytes(log.m_path), ""s);
        }
        QVERIFY(QFile::remove(QString::fromStdString(log.m_path)));
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = RunnerForLog(log);
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
        QVERIFY(other.Open());
        QVERIFY(other.IsOpen());

        CEventLogFile log;
        log.m_path = path;
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = RunnerForLog(log);
        QCOMPARE(ShowTelling(dlg), "The event log cannot be read:\n" + QString::fromStdString(path) +
                                       ": in use by another running copy of the program");
        QCOMPARE(Shown(dlg), ""s);
        QTest::keyClicks(dlg.m_edit, "mine");
        {
            QuestionAnswerer answerer(QMessageBox::Ok);
            QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
            QVERIFY(answerer.m_text.endsWith(": in use by another running copy of the program"));
        }
        QuestionAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QCOMPARE(answerer.m_texts.size(), 2);
        QVERIFY(answerer.m_texts[1].startsWith("The event log was not cleared:\n"));
        QCOMPARE(ReadBytes(path), "theirs\r\n"s);
        QVERIFY(other.Write("more\r\n"));
        QCOMPARE(ReadBytes(path), "theirs\r\nmore\r\n"s);
    }

    void fifoInThePlaceOfTheLogIsLeftAlone()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        QCOMPARE(::mkfifo(log.m_path.c_str(), 0600), 0);
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = RunnerForLog(log);
        // Must not wait for a writer.
        QVERIFY(ShowTelling(dlg).endsWith(": not a regular file"));
        QCOMPARE(Shown(dlg), ""s);
        QTest::keyClicks(dlg.m_edit, "text");
        {
            QuestionAnswerer answerer(QMessageBox::Ok);
            QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
            QVERIFY(answerer.m_text.endsWith(": not a regular file"));
        }
        QuestionAnswerer answerer({QMessageBox::Yes, QMessageBox::Ok});
        QTest::mouseClick(dlg.m_btnClear, Qt::LeftButton);
        QCOMPARE(answerer.m_texts.size(), 2);
        struct stat st {};
        QCOMPARE(::lstat(log.m_path.c_str(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }

    void logThatCannotBeReadIsTold_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("reason"); // after the path; empty: nothing is told
        QTest::newRow("a directory") << "directory" << ": not a regular file";
        QTest::newRow("no permission") << "mode 000" << ": Permission denied";
        QTest::newRow("busy log") << "busy" << ": Device or resource busy";
        QTest::newRow("no log yet") << "missing" << "";
    }

    // A log that cannot be read is told as the dialog opens; one not there yet is empty. A busy
    // log (the monitor's runner gives up) is told on Save too, and the box keeps what was typed.
    void logThatCannotBeReadIsTold()
    {
        QFETCH(QString, log);
        QFETCH(QString, reason);
        const std::string path = Path("Logs.log");
        CEventLogFile file;
        file.m_path = path;
        CLogsViewDlg dlg;
        dlg.m_path = path;
        dlg.m_runWithLogClosed = RunnerForLog(file);
        if (log == "directory") {
            QVERIFY(QDir().mkpath(QString::fromStdString(path)));
        } else if (log == "mode 000") {
            if (::geteuid() == 0)
                QSKIP("root reads a file whatever its mode");
            WriteBytes(path, "a\r\n");
            QCOMPARE(::chmod(path.c_str(), 0), 0);
        } else if (log == "busy") {
            WriteBytes(path, "a\r\n");
            // A stand-in for the monitor's runner when the log's disk does not answer.
            dlg.m_runWithLogClosed = [](const auto&) -> Result<> { return std::errc::device_or_resource_busy; };
        }
        const QString told = "\n" + QString::fromStdString(path) + reason;
        QCOMPARE(ShowTelling(dlg), reason.isEmpty() ? QString() : "The event log cannot be read:" + told);
        QCOMPARE(Shown(dlg), ""s);
        if (log == "busy") {
            QTest::keyClicks(dlg.m_edit, "typed");
            QuestionAnswerer answerer(QMessageBox::Ok);
            QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
            QCOMPARE(answerer.m_text, "The event log was not saved:" + told);
            QCOMPARE(Shown(dlg), "typed"s);
        }
    }

    void saveWaitsForTheMonitorsLock()
    {
        CEventLogFile log;
        log.m_path = Path("Logs.log");
        WriteBytes(log.m_path, "a\r\n");
        QVERIFY(log.Open());
        std::mutex lock;
        CLogsViewDlg dlg;
        dlg.m_runWithLogClosed = RunnerForLog(log, &lock);
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
            if (log.Write("pass\r\n"))
                duringPass = ReadBytes(log.m_path);
        });
        while (!held)
            std::this_thread::yield();
        QTest::mouseClick(dlg.m_btnSave, Qt::LeftButton);
        pass.join();
        QCOMPARE(duringPass, "a\r\npass\r\n"s);
        QCOMPARE(ReadBytes(log.m_path), "xa\r\npass\r\n"s);
        QVERIFY(log.IsOpen());
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
        logDlg.m_runWithLogClosed = RunnerForLog(log);
        logDlg.show();
        QVERIFY(!logDlg.windowIcon().pixmap(32).isNull());
        const QPixmap logShot = logDlg.grab();
        QCOMPARE(logShot.size(), logDlg.size());
        QVERIFY(logShot.save(outDir + "/event-log.png"));
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
