// The program itself (the built executable, run offscreen) with a FIFO in the place of its
// event log: it must neither hang in a write nor die of SIGPIPE, must say why it logs nothing,
// and must still end on SIGTERM with its settings saved.

#include "storage/CDataFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestProgramFiles : public QObject {
    Q_OBJECT

private slots:
    void fifoInPlaceOfTheLog_data();
    void fifoInPlaceOfTheLog();
};

void TestProgramFiles::fifoInPlaceOfTheLog_data()
{
    QTest::addColumn<bool>("headReader"); // `head -c 100`, else a reader that never reads
    QTest::newRow("reader that never reads, pipe full") << false;
    QTest::newRow("head -c 100") << true;
}

void TestProgramFiles::fifoInPlaceOfTheLog()
{
    QFETCH(bool, headReader);
    QTemporaryDir dir;
    const QString program = dir.filePath("orvane");
    QVERIFY(QFile::link(QStringLiteral(ORVANE_BINARY), program)); // its files are kept in `dir`
    SettingsRecord settings;
    settings.eventLogOn = 1;
    settings.randomWord = 777777; // beyond what a saved file holds: a rewrite shows
    CDataFile file;
    file.m_path = dir.filePath("Settings.dat").toStdString();
    QVERIFY(SaveSettings(settings, file));
    const QByteArray fifo = dir.filePath("Logs.log").toLocal8Bit();
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);

    QProcess head;
    int reader = -1;
    if (headReader) {
        head.start(QStringLiteral("head"), {QStringLiteral("-c"), QStringLiteral("100"), QString::fromLocal8Bit(fifo)});
        QVERIFY(head.waitForStarted());
        QTest::qWait(300); // until it waits in its open
    } else {
        reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        const int filler = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        QVERIFY(filler >= 0);
        const std::string chunk(4096, 'x');
        while (::write(filler, chunk.data(), chunk.size()) > 0) {
        }
        ::close(filler);
    }

    QProcess orvane;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    orvane.setProcessEnvironment(env);
    orvane.start(program, {});
    QVERIFY(orvane.waitForStarted());
    // The monitor's first pass meets the log it cannot write and says so on stderr.
    QByteArray told;
    QTRY_VERIFY_WITH_TIMEOUT((told += orvane.readAllStandardError()).contains("Event log entry not written"), 20000);
    QVERIFY2(told.contains(fifo + ": not a regular file"), told.constData());
    QCOMPARE(orvane.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(orvane.processId()), SIGTERM);
    QVERIFY2(orvane.waitForFinished(5000), "SIGTERM must end the program (hang detector)");
    QCOMPARE(orvane.exitStatus(), QProcess::NormalExit);
    QCOMPARE(orvane.exitCode(), 0);
    SettingsRecord saved;
    QVERIFY(LoadSettings(saved, file)); // draws a new randomWord: read the raw field instead
    QFile raw(dir.filePath("Settings.dat"));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QCOMPARE(bytes.size(), 32);
    std::int32_t word = 0;
    std::memcpy(&word, bytes.constData() + 4, 4);
    QVERIFY(word >= 0 && word <= 32767);
    QCOMPARE(saved.eventLogOn, 1);

    if (reader >= 0)
        ::close(reader);
    head.kill();
    head.waitForFinished();
}

QTEST_MAIN(TestProgramFiles)
#include "test_program_files.moc"
