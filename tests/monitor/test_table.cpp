// The process table (live-row index, change batches, freeing) and its time texts.

#include "monitor/ProcessTable.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <unistd.h>

namespace {

// ---- Live rows ---------------------------------------------------------------------------

bool Special(const std::string& name) { return name == "unknown" || name == "System"; }

bool LiveFinish(const std::string& finish)
{
    std::string trimmed = finish;
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back())))
        trimmed.pop_back();
    return trimmed.empty();
}

// The scan of the monitor, row by row from the first: rows of `pid` named "unknown" or
// "System" are visited, and the first live row is visited and ends the scan.
std::vector<int> ScanLinearly(ProcessTable& table, std::uint32_t pid)
{
    std::vector<int> visited;
    for (int row = 0; row < table.GetRowCount(); ++row) {
        ProcessRecord* record = table.GetRecord(row);
        if (!record || record->pid != pid)
            continue;
        const bool live = LiveFinish(table.GetCellText(row, ColFinish));
        if (Special(table.GetCellText(row, ColName)) || live)
            visited.push_back(row);
        if (live)
            break;
    }
    return visited;
}

int FindLinearly(ProcessTable& table, std::uint32_t pid)
{
    for (int row = 0; row < table.GetRowCount(); ++row) {
        ProcessRecord* record = table.GetRecord(row);
        if (record && record->pid == pid && LiveFinish(table.GetCellText(row, ColFinish)))
            return row;
    }
    return -1;
}

std::unique_ptr<ProcessRecord> Record(std::uint32_t pid)
{
    auto record = std::make_unique<ProcessRecord>();
    record->pid = pid;
    return record;
}

// What a display holds after applying every change batch.
struct Display {
    std::vector<std::array<std::string, ColumnCount>> cells;
    std::vector<int> images;
    std::vector<std::string> iconNames;

    void Apply(const TableChanges& changes)
    {
        int previous = -1;
        for (const RowSnapshot& row : changes.rows) {
            ASSERT_GT(row.row, previous) << "rows out of order or reported twice";
            previous = row.row;
            ASSERT_LT(row.row, changes.rowCount);
        }
        cells.resize(static_cast<std::size_t>(changes.rowCount));
        images.resize(static_cast<std::size_t>(changes.rowCount));
        for (const RowSnapshot& row : changes.rows) {
            cells[static_cast<std::size_t>(row.row)] = row.cells;
            images[static_cast<std::size_t>(row.row)] = row.image;
        }
        ASSERT_EQ(changes.firstNewImage, static_cast<int>(iconNames.size()));
        iconNames.insert(iconNames.end(), changes.iconNames.begin(), changes.iconNames.end());
    }

    void ExpectSameAs(const ProcessTable& table) const
    {
        ASSERT_EQ(static_cast<int>(cells.size()), table.GetRowCount());
        for (int row = 0; row < table.GetRowCount(); ++row) {
            EXPECT_EQ(images[static_cast<std::size_t>(row)], table.GetImage(row)) << "row " << row;
            for (int column = 0; column < ColumnCount; ++column)
                EXPECT_EQ(cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)],
                          table.GetCellText(row, column))
                    << "row " << row << " column " << column;
        }
        ASSERT_EQ(static_cast<int>(iconNames.size()), table.GetImageCount());
        for (int image = 0; image < table.GetImageCount(); ++image)
            EXPECT_EQ(iconNames[static_cast<std::size_t>(image)], table.GetImageName(image));
    }
};

// Random appends and changes of names, finish times and records, on a handful of pids so
// that they repeat; after every step the index answers exactly as the linear scan does, and
// a display fed with the change batches stays identical to the table.
class RandomOperations : public testing::TestWithParam<unsigned> {};

TEST_P(RandomOperations, IndexEqualsLinearScanAndChangesReachTheDisplay)
{
    std::mt19937 random(GetParam());
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const std::vector<std::string> names = {"sleep", "unknown", "System", "bash", "Unknown"};
    const std::vector<std::string> finishes = {"", " ", " \t\r\n", "12/06/2024 09:05:03", " x", "x "};
    constexpr std::uint32_t kPids = 6;

    ProcessTable table;
    Display display;
    std::vector<int> visited;
    for (int step = 0; step < 3000; ++step) {
        const int rows = table.GetRowCount();
        switch (rows == 0 ? 0 : pick(8)) {
        case 0:
        case 1: { // a new process, as the monitor appends it
            int row = table.AppendRow(pick(3), std::to_string(step));
            EXPECT_EQ(row, rows);
            table.SetCellText(row, ColName, names[pick(static_cast<int>(names.size()))]);
            if (pick(10) != 0)
                table.SetRecord(row, Record(1 + random() % kPids));
            break;
        }
        case 2:
            table.SetCellText(pick(rows), ColName, names[pick(static_cast<int>(names.size()))]);
            break;
        case 3:
        case 4:
            table.SetCellText(pick(rows), ColFinish, finishes[pick(static_cast<int>(finishes.size()))]);
            break;
        case 5:
            table.SetImageAndName(pick(rows), pick(3), names[pick(static_cast<int>(names.size()))]);
            break;
        case 6:
            table.SetRecord(pick(rows), pick(4) ? Record(1 + random() % kPids) : nullptr);
            break;
        case 7:
            table.SetCellText(pick(rows), pick(ColumnCount), std::to_string(pick(5)));
            if (pick(4) == 0)
                table.AddImage("icon-" + std::to_string(step));
            break;
        }
        for (std::uint32_t pid = 0; pid <= kPids; ++pid) {
            ASSERT_EQ(table.FindLiveRow(pid), FindLinearly(table, pid)) << "step " << step;
            table.RowsToVisit(pid, visited);
            ASSERT_EQ(visited, ScanLinearly(table, pid)) << "step " << step << " pid " << pid;
        }
        if (pick(20) == 0) {
            display.Apply(table.TakeChanges());
            ASSERT_FALSE(HasFatalFailure());
        }
    }
    display.Apply(table.TakeChanges());
    display.ExpectSameAs(table);

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
    int first = table.AppendRow(0, "100");
    table.SetCellText(first, ColName, "sleep");
    table.SetRecord(first, Record(100));
    int system = table.AppendRow(0, "2");
    table.SetCellText(system, ColName, "unknown");
    table.SetRecord(system, Record(2));
    EXPECT_EQ(table.FindLiveRow(100), first);
    EXPECT_EQ(table.FindLiveRow(2), system);

    table.SetCellText(first, ColFinish, "12/06/2024 09:05:03");
    EXPECT_EQ(table.FindLiveRow(100), -1);
    int second = table.AppendRow(0, "100");
    table.SetRecord(second, Record(100));
    table.SetCellText(second, ColName, "sleep");
    EXPECT_EQ(table.FindLiveRow(100), second);
    EXPECT_EQ(table.GetCellText(first, ColPid), "");
    EXPECT_EQ(table.GetCellText(99, ColName), ""); // absent texts read as empty
    EXPECT_EQ(table.GetRecord(99), nullptr);

    std::vector<int> visited;
    table.RowsToVisit(2, visited);
    EXPECT_EQ(visited, std::vector<int>{system});
    table.SetCellText(system, ColName, "System");
    table.SetCellText(system, ColFinish, "12/06/2024 21:05:03 ");
    table.RowsToVisit(2, visited);
    EXPECT_EQ(visited, std::vector<int>{system}); // finished, still read again by name
    EXPECT_EQ(table.FindLiveRow(2), -1);
}

TEST(ProcessTable, ChangesAreReportedOnce)
{
    ProcessTable table;
    EXPECT_EQ(table.GetImageCount(), 1); // the default icon
    for (int i = 0; i < 3; ++i)
        table.SetRecord(table.AppendRow(0, "p" + std::to_string(i)), Record(10 + i));
    int image = table.AddImage("utilities-terminal");
    EXPECT_EQ(image, 1);

    TableChanges first = table.TakeChanges();
    EXPECT_EQ(first.rowCount, 3);
    ASSERT_EQ(first.rows.size(), 3u);
    EXPECT_EQ(first.rows[2].cells[ColName], "p2");
    EXPECT_EQ(first.firstNewImage, 0);
    EXPECT_EQ(first.iconNames, (std::vector<std::string>{"", "utilities-terminal"}));

    EXPECT_TRUE(table.TakeChanges().Empty());

    table.SetCellText(2, ColCpu, "5 %");
    table.SetCellText(0, ColCpu, "1 %");
    table.SetCellText(2, ColCpu, "7 %");
    table.SetCellText(1, ColCpu, ""); // unchanged: no report
    table.SetImageAndName(1, 0, "p1");  // unchanged too
    table.AppendRow(image, "p3");
    TableChanges second = table.TakeChanges();
    EXPECT_EQ(second.rowCount, 4);
    ASSERT_EQ(second.rows.size(), 3u);
    EXPECT_EQ(second.rows[0].row, 0);
    EXPECT_EQ(second.rows[1].row, 2);
    EXPECT_EQ(second.rows[1].cells[ColCpu], "7 %");
    EXPECT_EQ(second.rows[2].row, 3);
    EXPECT_EQ(second.rows[2].image, image);
    EXPECT_TRUE(second.iconNames.empty());
    EXPECT_EQ(second.firstNewImage, 2);
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
    for (int i = 0; i < 5; ++i) {
        auto record = Record(static_cast<std::uint32_t>(getpid()));
        record->hProcess = platform::ProcessHandle::Open(static_cast<std::uint32_t>(getpid()));
        ASSERT_NE(record->hProcess, nullptr);
        int row = table.AppendRow(0, "self");
        table.SetRecord(row, std::move(record));
        table.SetCellText(row, ColFinish, i < 4 ? "12/06/2024 09:05:03" : "");
    }
    EXPECT_EQ(OpenDescriptors(), before + 10);
    EXPECT_EQ(table.FindLiveRow(static_cast<std::uint32_t>(getpid())), 4);

    table.FreeRecords();
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(table.GetRowCount(), 5);
    EXPECT_EQ(table.GetCellText(3, ColName), "self");
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(table.GetRecord(row), nullptr);
    EXPECT_EQ(table.FindLiveRow(static_cast<std::uint32_t>(getpid())), -1);
}

} // namespace
