// The event log's writer: a queue in front of Logs.log, bounded, in order, that never makes
// its callers wait for the disk. A disk that holds the writer is played by the fault-injection
// hook, which stops the writer's thread before an entry as a frozen filesystem would.

#include "platform/FileIo.h"
#include "storage/CLogWriter.h"
#include "storage/LogFileAccess.h"
#include "storage/StorageFault.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using storage_test::ReadBytes;
using storage_test::TempDir;

namespace {

// Holds the writer's thread before its next entry until Release (a disk that takes nothing).
// Made before the writer, so that it outlives the writer's thread.
class HeldDisk {
public:
    void Hold(CLogWriter& writer)
    {
        writer.SetWriteHookForTesting([this] {
            std::unique_lock lock(m_lock);
            m_bEntered = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_bReleased; });
        });
    }
    ~HeldDisk() { Release(); }
    // Waits until the writer is held (it has taken an entry off the queue).
    void WaitUntilHeld()
    {
        std::unique_lock lock(m_lock);
        ASSERT_TRUE(m_changed.wait_for(lock, 10s, [this] { return m_bEntered; }));
    }
    void Release()
    {
        std::lock_guard lock(m_lock);
        m_bReleased = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_bEntered = false;
    bool m_bReleased = false;
};

struct BoundCase {
    const char* label;
    CLogWriter::Limits limits; // each lets four of the four-byte entries wait
};

class LogWriterBound : public ::testing::TestWithParam<BoundCase> {};

} // namespace

// While the disk holds the writer, entries wait up to the bound and later ones are dropped;
// the banner never is. All that waited reaches the file in order once the disk takes it, and
// the number dropped is told once, when the backlog is gone.
TEST_P(LogWriterBound, FullQueueDropsLaterEntriesAndTellsHowMany)
{
    TempDir dir;
    HeldDisk disk;
    CLogWriter writer(dir.File("Logs.log"), GetParam().limits);
    std::vector<std::uint64_t> told;
    std::atomic<int> failures{0};
    writer.SetCallbacks({[&](std::error_code) { ++failures; }, [&](std::uint64_t n) { told.push_back(n); }});
    disk.Hold(writer);
    writer.Open();
    ASSERT_TRUE(writer.Write("e0\r\n"));
    disk.WaitUntilHeld();

    std::vector<bool> taken;
    for (int i = 1; i <= 6; ++i)
        taken.push_back(writer.Write("e" + std::to_string(i) + "\r\n").has_value());
    writer.WriteBanner("banner\r\n");
    EXPECT_EQ(taken, (std::vector<bool>{true, true, true, true, false, false}));

    disk.Release();
    ASSERT_TRUE(writer.Flush(10s));
    EXPECT_EQ(ReadBytes(dir.File("Logs.log")), "e0\r\ne1\r\ne2\r\ne3\r\ne4\r\nbanner\r\n");
    EXPECT_EQ(writer.Finish(), 0u);
    EXPECT_EQ(told, std::vector<std::uint64_t>{2});
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, LogWriterBound,
                         ::testing::Values(BoundCase{"ByEntries", {4, 1 << 20}}, BoundCase{"ByBytes", {100, 16}}),
                         [](const auto& c) { return std::string(c.param.label); });

// The switch and the dialog's operations keep their place among the entries: what was queued
// before them is in the file when they run, what comes after waits for them.
TEST(LogWriter, SwitchAndDialogOperationsKeepTheirPlace)
{
    TempDir dir;
    const std::string path = dir.File("Logs.log");
    CLogWriter writer(path);
    writer.Open();
    ASSERT_TRUE(writer.Write("a\r\n"));
    std::string seen;
    ASSERT_TRUE(writer.RunClosed(
        [&](const std::string& given) {
            EXPECT_EQ(given, path);
            // Its exclusive lock is had only while the log is closed.
            const Result<LogContent> read = ReadLogFile(given);
            EXPECT_TRUE(read);
            seen = read ? read->bytes : std::string();
            EXPECT_TRUE(writer.Write("b\r\n")); // waits for the operation
            EXPECT_TRUE(TruncateLogFile(given));
        },
        3s));
    EXPECT_EQ(seen, "a\r\n");
    writer.Close();
    ASSERT_TRUE(writer.Write("dropped while closed\r\n"));
    ASSERT_TRUE(writer.OpenAndWait(3s));
    ASSERT_TRUE(writer.Write("c\r\n"));
    ASSERT_TRUE(writer.Flush(3s));
    EXPECT_EQ(ReadBytes(path), "b\r\nc\r\n");
}

// A writer held by the disk makes the window's calls give up after their wait and leave the
// log as it was; once the disk takes them, the entries go on as if nothing had happened.
TEST(LogWriter, HeldWriterGivesUpTheWaitAndKeepsTheLog)
{
    TempDir dir;
    const std::string path = dir.File("Logs.log");
    HeldDisk disk;
    CLogWriter writer(path);
    disk.Hold(writer);
    writer.Open();
    ASSERT_TRUE(writer.Write("held\r\n"));
    disk.WaitUntilHeld();

    bool ran = false;
    EXPECT_EQ(writer.RunClosed([&](const std::string&) { ran = true; }, 200ms).error(), StorageFault::LogBusy);
    EXPECT_FALSE(ran);
    EXPECT_EQ(writer.OpenAndWait(200ms).error(), StorageFault::LogBusy);
    EXPECT_EQ(writer.Flush(200ms).error(), StorageFault::LogBusy);
    ASSERT_TRUE(writer.Write("after\r\n"));

    disk.Release();
    ASSERT_TRUE(writer.Flush(10s));
    EXPECT_EQ(ReadBytes(path), "held\r\nafter\r\n");
    EXPECT_EQ(ReadLogFile(path).error(), StorageFault::InUse) << "the log is still open";
}

// At the end the queue is written out; a disk that takes nothing makes the end give up after
// the stall, counting what is lost, and the entry under way still lands when the disk lets go.
TEST(LogWriter, FinishWritesTheQueueOrCountsWhatIsLost)
{
    TempDir dir;
    {
        CLogWriter writer(dir.File("done.log"));
        writer.Open();
        for (int i = 0; i < 1000; ++i)
            ASSERT_TRUE(writer.Write("entry\r\n"));
        writer.Close();
        EXPECT_EQ(writer.Finish(), 0u);
        EXPECT_EQ(ReadBytes(dir.File("done.log"))->size(), 7000u);
    }

    HeldDisk disk;
    CLogWriter writer(dir.File("Logs.log"), {2, 1 << 20});
    disk.Hold(writer);
    writer.Open();
    ASSERT_TRUE(writer.Write("under way\r\n"));
    disk.WaitUntilHeld();
    for (int i = 0; i < 4; ++i)
        (void)writer.Write("queued\r\n"); // two wait, two are dropped
    EXPECT_EQ(writer.Finish(300ms), 4u);
    disk.Release();
    std::optional<std::string> bytes;
    for (int i = 0; i < 500 && bytes != "under way\r\n"; ++i) {
        std::this_thread::sleep_for(10ms);
        bytes = ReadBytes(dir.File("Logs.log"));
    }
    EXPECT_EQ(bytes, "under way\r\n");
}
