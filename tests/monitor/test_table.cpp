// The process table: live-row index, change batches, texts by state, freeing, exit watch.

#include "monitor/ProcessTable.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::ProcessHandle;

// ---- Live rows ---------------------------------------------------------------------------

bool Special(std::string_view name) { return name == "unknown" || name == "System"; }

// The scan of the monitor, row by row from the first: rows of `pid` named "unknown" or
// "System" are visited, and the first live row is visited and ends the scan.
std::vector<int> ScanLinearly(ProcessTable& table, std::uint32_t pid)
{
    std::vector<int> visited;
    for (int row = 0; row < table.GetRowCount(); ++row) {
        if (table.Pid(row) != pid)
            continue;
        const bool live = table.GetRecord(row) != nullptr;
        if (Special(table.Name(row)) || live)
            visited.push_back(row);
        if (live)
            break;
    }
    return visited;
}

int FindLinearly(ProcessTable& table, std::uint32_t pid)
{
    for (int row = 0; row < table.GetRowCount(); ++row)
        if (table.Pid(row) == pid && table.GetRecord(row))
            return row;
    return -1;
}

// A handle on a process that has already ended, as the monitor keeps one until it notices
// (no descriptor). Made a batch at a time: `sleep`s are started (posix_spawn: no copy of this
// process's memory, which sanitizers make large), opened, killed together and reaped. Null on
// failure.
std::unique_ptr<ProcessHandle> EndedHandle()
{
    static std::vector<std::unique_ptr<ProcessHandle>> ready;
    if (ready.empty()) {
        std::vector<pid_t> children;
        char sleep[] = "sleep", forever[] = "1000";
        char* argv[] = {sleep, forever, nullptr};
        for (int i = 0; i < 16; ++i) {
            pid_t child = -1;
            if (posix_spawn(&child, "/bin/sleep", nullptr, nullptr, argv, environ) != 0)
                break;
            children.push_back(child);
            if (auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child)))
                ready.push_back(std::move(handle));
        }
        for (pid_t child : children)
            kill(child, SIGKILL);
        for (pid_t child : children)
            waitpid(child, nullptr, 0);
        std::erase_if(ready, [](const std::unique_ptr<ProcessHandle>& handle) {
            return !(handle->GetTimes() && handle->HasEnded());
        });
        if (ready.empty())
            return nullptr;
    }
    std::unique_ptr<ProcessHandle> handle = std::move(ready.back());
    ready.pop_back();
    return handle;
}

// A record whose handle stands for a process that has already ended (any process: the table
// goes by the row).
std::unique_ptr<ProcessRecord> Record()
{
    auto record = std::make_unique<ProcessRecord>();
    record->hProcess = EndedHandle();
    if (!record->hProcess)
        ADD_FAILURE() << "no handle on an ended process could be had";
    return record;
}

std::array<std::string, ColumnCount> Texts(const ProcessTable& table, int row)
{
    std::array<std::string, ColumnCount> texts;
    for (int column = 0; column < ColumnCount; ++column)
        texts[static_cast<std::size_t>(column)] = table.CellText(row, column);
    return texts;
}

// What a display shows after every change batch: it rereads exactly the rows a batch names,
// so a change the batches leave out shows as a difference from the table.
struct Display {
    std::vector<std::array<std::string, ColumnCount>> cells;
    std::vector<std::string> iconNames;

    void Apply(const ProcessTable& table, const TableChanges& changes)
    {
        ASSERT_EQ(changes.firstNewRow, static_cast<int>(cells.size()));
        int previous = -1;
        for (int row : changes.rows) {
            ASSERT_GT(row, previous) << "rows out of order or reported twice";
            ASSERT_LT(row, changes.firstNewRow);
            previous = row;
            cells[static_cast<std::size_t>(row)] = Texts(table, row);
        }
        for (int row = changes.firstNewRow; row < changes.rowCount; ++row)
            cells.push_back(Texts(table, row));
        ASSERT_EQ(changes.firstNewImage, static_cast<int>(iconNames.size()));
        iconNames.insert(iconNames.end(), changes.iconNames.begin(), changes.iconNames.end());
    }

    // `images`: the names of the images added to the table, in order.
    void ExpectSameAs(const ProcessTable& table, const std::vector<std::string>& images) const
    {
        ASSERT_EQ(static_cast<int>(cells.size()), table.GetRowCount());
        for (int row = 0; row < table.GetRowCount(); ++row)
            EXPECT_EQ(cells[static_cast<std::size_t>(row)], Texts(table, row)) << "row " << row;
        ASSERT_EQ(static_cast<int>(iconNames.size()), table.GetImageCount());
        EXPECT_EQ(iconNames, images);
    }
};

// Random appends, renames, ends, loads and records on a handful of pids so that they repeat;
// after every step the index answers exactly as the linear scan does, and a display fed with
// the change batches stays identical to the table.
class RandomOperations : public testing::TestWithParam<unsigned> {};

TEST_P(RandomOperations, IndexEqualsLinearScanAndChangesReachTheDisplay)
{
    std::mt19937 random(GetParam());
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const std::vector<std::string> names = {"sleep", "unknown", "System", "bash", "Unknown"};
    constexpr std::uint32_t kPids = 6;
    const platform::FileTime now = platform::GetSystemTimeAsFileTime();

    ProcessTable table;
    Display display;
    std::vector<std::string> images{""}; // image 0: the default icon
    std::vector<int> visited;
    for (int step = 0; step < 3000; ++step) {
        const int rows = table.GetRowCount();
        const int row = rows ? pick(rows) : 0;
        const std::string& name = names[static_cast<std::size_t>(pick(static_cast<int>(names.size())))];
        switch (rows == 0 ? 0 : pick(7)) {
        case 0:
        case 1: { // a new process, as the monitor appends it
            const auto pid = static_cast<std::uint32_t>(1 + random() % kPids);
            EXPECT_EQ(table.AppendRow(pid, now - 100, pick(3), name, "/bin/" + name), rows);
            if (pick(10) != 0)
                table.SetRecord(rows, Record());
            break;
        }
        case 2:
            table.Rename(row, pick(3), name, "/usr/bin/" + name);
            break;
        case 3:
            table.EndRow(row, now + static_cast<platform::FileTime>(step));
            break;
        case 4:
            table.SetLoad(row, pick(3));
            break;
        case 5:
            table.ShowStart(row);
            if (pick(4) == 0) {
                images.push_back("icon-" + std::to_string(step));
                table.AddImage(images.back());
            }
            break;
        case 6:
            if (!table.Has(row, StoredRow::kEnded))
                table.SetRecord(row, Record());
            break;
        }
        for (std::uint32_t pid = 0; pid <= kPids; ++pid) {
            ASSERT_EQ(table.FindLiveRow(pid), FindLinearly(table, pid)) << "step " << step;
            table.RowsToVisit(pid, visited);
            ASSERT_EQ(visited, ScanLinearly(table, pid)) << "step " << step << " pid " << pid;
        }
        if (pick(20) == 0) {
            display.Apply(table, table.TakeChanges());
            ASSERT_FALSE(HasFatalFailure());
        }
    }
    display.Apply(table, table.TakeChanges());
    display.ExpectSameAs(table, images);

    table.FreeRecords();
    for (std::uint32_t pid = 0; pid <= kPids; ++pid) {
        EXPECT_EQ(table.FindLiveRow(pid), -1);
        table.RowsToVisit(pid, visited);
        EXPECT_TRUE(visited.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomOperations, testing::Values(1u, 2u, 3u, 2024u));

TEST(ProcessTable, ReusedPidGetsItsOwnRowAfterTheFinish)
{
    ProcessTable table;
    int first = table.AppendRow(100, 0, 0, "sleep", "/bin/sleep");
    table.SetRecord(first, Record());
    int system = table.AppendRow(2, 0, 0, "unknown", "");
    table.SetRecord(system, Record());
    EXPECT_EQ(table.FindLiveRow(100), first);
    EXPECT_EQ(table.FindLiveRow(2), system);
    EXPECT_TRUE(table.Has(system, StoredRow::kUnnamed));

    table.EndRow(first, platform::GetSystemTimeAsFileTime());
    EXPECT_EQ(table.FindLiveRow(100), -1);
    EXPECT_EQ(table.GetRecord(first), nullptr); // an ended row keeps no handle
    int second = table.AppendRow(100, 0, 0, "sleep", "/bin/sleep");
    table.SetRecord(second, Record());
    EXPECT_EQ(table.FindLiveRow(100), second);
    EXPECT_EQ(table.CellText(99, ColName), ""); // absent rows read as empty
    EXPECT_EQ(table.GetRecord(99), nullptr);

    std::vector<int> visited;
    table.RowsToVisit(2, visited);
    EXPECT_EQ(visited, std::vector<int>{system});
    table.Rename(system, 0, "System", "");
    EXPECT_FALSE(table.Has(system, StoredRow::kUnnamed));
    table.EndRow(system, platform::GetSystemTimeAsFileTime());
    table.RowsToVisit(2, visited);
    EXPECT_EQ(visited, std::vector<int>{system}); // finished, still read again by name
    EXPECT_EQ(table.FindLiveRow(2), -1);
}

// A row's name decides its flags: "unknown" and "System" stand in for a name not read (read
// again at every pass), "unknown" alone leaves the row unnamed; a rename sets them anew.
TEST(ProcessTable, NameFlagsFollowTheName)
{
    struct Case {
        const char* name;
        bool unnamed, standIn;
    };
    const Case cases[] = {{"unknown", true, true}, {"System", false, true}, {"sleep", false, false}};
    ProcessTable table;
    auto expect = [&](int row, const Case& c, const char* from) {
        EXPECT_EQ(table.Has(row, StoredRow::kUnnamed), c.unnamed) << from << " -> " << c.name;
        EXPECT_EQ(table.Has(row, StoredRow::kStandInName), c.standIn) << from << " -> " << c.name;
    };
    for (const Case& appended : cases) {
        const int row = table.AppendRow(100, 0, 0, appended.name, "");
        expect(row, appended, "");
        for (const Case& c : cases) {
            table.Rename(row, 0, c.name, "/bin/x");
            expect(row, c, appended.name);
        }
    }
}

// The six texts follow the row's state: start shown once named, load once measured, finish
// and "0 %" once ended; a creation time of 0 shows as one blank.
TEST(ProcessTable, TextsFollowTheRowsState)
{
    ProcessTable table;
    const platform::FileTime start = platform::GetSystemTimeAsFileTime() - 600'000'000;
    const int row = table.AppendRow(4194304, start, 0, "a b) (c", "/opt/a b) (c");
    const int blank = table.AppendRow(7, 0, 0, "x", "");
    EXPECT_EQ(Texts(table, row), (std::array<std::string, ColumnCount>{"a b) (c", "4194304", "", "", "", "/opt/a b) (c"}));
    table.ShowStart(row);
    table.ShowStart(blank);
    table.SetLoad(row, -7);
    EXPECT_EQ(table.CellText(row, ColStart), FormatFileDateTime(start));
    EXPECT_EQ(table.CellText(blank, ColStart), " ");
    EXPECT_EQ(table.CellText(row, ColCpu), "-7 %");
    const platform::FileTime finish = start + 300'000'000;
    table.EndRow(row, finish);
    EXPECT_EQ(table.CellText(row, ColFinish), FormatFileDateTime(finish));
    EXPECT_EQ(table.CellText(row, ColCpu), "0 %");
    EXPECT_EQ(table.CellText(row, ColumnCount), "");
}

TEST(ProcessTable, ChangesAreReportedOnce)
{
    ProcessTable table;
    EXPECT_EQ(table.GetImageCount(), 1); // the default icon
    for (int i = 0; i < 3; ++i)
        table.SetRecord(table.AppendRow(10 + i, 0, 0, "p" + std::to_string(i), ""), Record());
    int image = table.AddImage("utilities-terminal");
    EXPECT_EQ(image, 1);

    TableChanges first = table.TakeChanges();
    EXPECT_EQ(first.firstNewRow, 0);
    EXPECT_EQ(first.rowCount, 3);
    EXPECT_TRUE(first.rows.empty());
    EXPECT_EQ(first.firstNewImage, 0);
    EXPECT_EQ(first.iconNames, (std::vector<std::string>{"", "utilities-terminal"}));

    EXPECT_TRUE(table.TakeChanges().Empty());

    table.SetLoad(2, 5);
    table.SetLoad(0, 1);
    table.SetLoad(2, 7);
    table.SetLoad(0, 1);             // unchanged: no second report
    table.Rename(1, 0, "p1", "");    // unchanged: no report
    table.AppendRow(13, 0, image, "p3", "");
    TableChanges second = table.TakeChanges();
    EXPECT_EQ(second.firstNewRow, 3);
    EXPECT_EQ(second.rowCount, 4);
    EXPECT_EQ(second.rows, (std::vector<int>{0, 2}));
    EXPECT_EQ(table.CellText(2, ColCpu), "7 %");
    EXPECT_EQ(table.Rows().Image(3), image);
    EXPECT_TRUE(second.iconNames.empty());
    EXPECT_EQ(second.firstNewImage, 2);
    EXPECT_FALSE(second.timesChanged);

    table.MarkTimesChanged();
    TableChanges third = table.TakeChanges();
    EXPECT_TRUE(third.timesChanged);
    EXPECT_FALSE(third.Empty());
    EXPECT_TRUE(table.TakeChanges().Empty());
}

int OpenDescriptors()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(ProcessTable, FreeRecordsClosesEveryHandleAndKeepsTheRows)
{
    ProcessTable table;
    const int before = OpenDescriptors();
    const auto self = static_cast<std::uint32_t>(getpid());
    int each = 0;
    for (int i = 0; i < 5; ++i) {
        auto record = std::make_unique<ProcessRecord>();
        record->hProcess = ProcessHandle::Open(self);
        ASSERT_NE(record->hProcess, nullptr);
        each = record->hProcess->DescriptorCount();
        table.SetRecord(table.AppendRow(self, 0, 0, "self", ""), std::move(record));
    }
    ASSERT_GT(each, 0);
    EXPECT_EQ(OpenDescriptors(), before + 5 * each);
    for (int row = 0; row < 4; ++row)
        table.EndRow(row, platform::GetSystemTimeAsFileTime()); // an ended row closes its handle
    EXPECT_EQ(OpenDescriptors(), before + each);
    EXPECT_EQ(table.LiveCount(), 1);
    EXPECT_EQ(table.FindLiveRow(self), 4);

    table.FreeRecords();
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(table.GetRowCount(), 5);
    EXPECT_EQ(table.CellText(3, ColName), "self");
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(table.GetRecord(row), nullptr);
    EXPECT_EQ(table.FindLiveRow(self), -1);
}

// The exit watch names the row of a process once it has ended, and not before.
TEST(ProcessTable, ExitWatchReportsTheEndedProcess)
{
    ProcessTable table;
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    auto record = std::make_unique<ProcessRecord>();
    record->hProcess = ProcessHandle::Open(static_cast<std::uint32_t>(child));
    ASSERT_NE(record->hProcess, nullptr);
    table.AppendRow(1, 0, 0, "other", "");
    const int row = table.AppendRow(static_cast<std::uint32_t>(child), 0, 0, "child", "");
    table.SetRecord(row, std::move(record));

    std::vector<int> ended;
    table.TakeEnded(ended);
    EXPECT_TRUE(ended.empty());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    table.TakeEnded(ended);
    EXPECT_EQ(ended, std::vector<int>{row});
    table.EndRow(row, platform::GetSystemTimeAsFileTime());
    table.TakeEnded(ended);
    EXPECT_TRUE(ended.empty());
}

} // namespace
