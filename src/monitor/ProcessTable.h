#pragma once
// The process table: one row for every process seen since start, only ever appended.
// The cell texts are the model: exactly what is shown and what the monitor compares against.
//
// Not locked by itself: every access from the monitor thread happens under the owner's
// m_lock (CProcessMonitor), and so does every access from the window's thread.

#include "monitor/TimeText.h"
#include "platform/ProcessServices.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

enum Column : int {
    ColName = 0,   // "Name"
    ColPid = 1,    // "PID"
    ColStart = 2,  // "Start time"
    ColFinish = 3, // "Finish time"
    ColCpu = 4,    // "CPU"
    ColFile = 5,   // "File"
    ColumnCount = 6
};

struct ProcessRecord {
    std::uint32_t pid = 0;
    std::unique_ptr<platform::ProcessHandle> hProcess; // null once freed
    std::uint64_t userTime = 0;   // user time at the last sample, 100 ns
    std::uint64_t kernelTime = 0; // kernel time at the last sample, 100 ns
    std::uint64_t sampleTime = 0; // system time of the last sample; 0 = never sampled
};

// A snapshot of one row, as handed to the display.
struct RowSnapshot {
    int row = 0;
    int image = 0;
    std::array<std::string, ColumnCount> cells;
};

// What changed since the last TakeChanges: rows appended or changed (whole rows, in row
// order) and the icon names of images appended to the image list.
struct TableChanges {
    int rowCount = 0;                     // row count after the changes
    std::vector<RowSnapshot> rows;        // appended and changed rows, ascending row index
    int firstNewImage = 0;                // index of iconNames[0] in the image list
    std::vector<std::string> iconNames;   // images appended since the last take
    bool Empty() const { return rows.empty() && iconNames.empty(); }
};

class ProcessTable {
public:
    ProcessTable();
    ~ProcessTable();
    ProcessTable(const ProcessTable&) = delete;
    ProcessTable& operator=(const ProcessTable&) = delete;

    int GetRowCount() const;
    // The row's record, or null when the row has none (or the records were freed). Its pid
    // is the row's key in the live-row index: it is set once, through SetRecord.
    ProcessRecord* GetRecord(int row);
    // The text of a cell; an absent text reads as empty.
    const std::string& GetCellText(int row, int column) const;
    void SetCellText(int row, int column, std::string text);
    // Appends a row with an image and the column-0 text; returns its index (the row count
    // before the call).
    int AppendRow(int image, std::string name);
    // Gives the row its record (the table owns it from now on).
    void SetRecord(int row, std::unique_ptr<ProcessRecord> record);
    void SetImageAndName(int row, int image, std::string name);
    int GetImage(int row) const;

    // The live row of `pid`: the first row whose record's pid is `pid` and whose "Finish time"
    // with trailing white space removed is empty; -1 when there is none. Indexed: returns
    // exactly the row a linear scan from row 0 would find.
    int FindLiveRow(std::uint32_t pid) const;

    // The rows a scan for `pid` from row 0 would stop at, in row order: the rows of that pid
    // named "unknown" or "System" that come before its live row, then the live row (if any).
    // The scan ends at the live row; rows of that pid that are neither special nor live are
    // passed over and not listed. Indexed, like FindLiveRow.
    void RowsToVisit(std::uint32_t pid, std::vector<int>& out) const;

    // The image list: image 0 is the default icon (empty name); others carry the icon name
    // found for an executable.
    int AddImage(std::string iconName);
    int GetImageCount() const;
    const std::string& GetImageName(int image) const;

    // Closes every record's handle and frees the records, from the last row to the first;
    // the rows stay. Only after the monitor thread has ended.
    void FreeRecords();

    // Changes since the previous call (the first call reports every row).
    TableChanges TakeChanges();

private:
    // A row of an ended process is kept for the rest of the run: it holds its texts, its
    // record and (through the record) its handle, and nothing else.
    struct Row {
        std::array<std::string, ColumnCount> cells;
        int image = 0;
        bool dirty = false;     // changed since the last TakeChanges
        bool hasRecord = false;
        ProcessRecord record;
    };
    bool ValidRow(int row) const;
    // The index holds, per pid, the rows that are live and the rows named "unknown" or
    // "System"; a row leaves it before a change to its name, finish time or record and comes
    // back after.
    void Unindex(int row);
    void Index(int row);
    void MarkDirty(int row);
    void Snapshot(int row, std::vector<RowSnapshot>& out) const;

    std::deque<Row> m_rows; // no reallocation as rows grow; records stay put
    std::unordered_map<std::uint32_t, std::vector<int>> m_live;    // pid -> live rows, ascending
    std::unordered_map<std::uint32_t, std::vector<int>> m_special; // pid -> rows named unknown/System
    std::vector<std::string> m_images;
    std::vector<int> m_dirty;
    int m_reportedRows = 0;
    int m_reportedImages = 0;
};

// True when `text` holds nothing but C-locale white space: a "Finish time" that is blank
// this way marks a live row.
bool IsBlankText(const std::string& text);
