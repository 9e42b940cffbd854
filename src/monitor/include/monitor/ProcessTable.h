#pragma once
// The process table: one row for every process seen since start, only ever appended. Each row
// is typed data in a RowStore (which the window reads without a lock); the texts are formatted
// when they are shown or written. A live row also has a record here: its process's handle and
// the last load sample. An ended row keeps no record and no string of its own.
//
// Not locked by itself: every call is made by the monitor under its m_lock. Only the store's
// reading side (Rows()) may be used from other threads.

#include "monitor/RowStore.h"
#include "monitor/TimeText.h"
#include "platform/ProcessServices.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ProcessRecord {
    std::unique_ptr<platform::ProcessHandle> hProcess;
    std::uint64_t userTime = 0;   // user time at the last sample, 100 ns
    std::uint64_t kernelTime = 0; // kernel time at the last sample, 100 ns
    std::uint64_t sampleTime = 0; // monotonic clock at the last sample, 100 ns
    std::uint64_t samplePass = 0; // the monitor's pass of the last sample
};

// What changed since the last TakeChanges.
struct TableChanges {
    int firstNewRow = 0;                // rows from here to rowCount are new
    int rowCount = 0;                   // row count after the changes
    std::vector<int> rows;              // rows below firstNewRow whose texts changed, ascending
    bool timesChanged = false;          // every time text changed (the offset from UTC did)
    int firstNewImage = 0;              // index of iconNames[0] in the image list
    std::vector<std::string> iconNames; // images appended since the last take
    bool Empty() const
    {
        return rows.empty() && iconNames.empty() && !timesChanged && firstNewRow == rowCount;
    }
};

class ProcessTable {
public:
    ProcessTable();
    ~ProcessTable();
    ProcessTable(const ProcessTable&) = delete;
    ProcessTable& operator=(const ProcessTable&) = delete;

    // The rows, for reading from any thread.
    const RowStore& Rows() const { return m_store; }

    int GetRowCount() const { return m_store.Count(); }
    std::uint32_t Pid(int row) const { return m_store.Row(row).pid; }
    std::string_view Name(int row) const { return m_store.Name(row); }
    std::uint32_t Flags(int row) const { return m_store.Flags(row); }
    bool Has(int row, std::uint32_t flag) const { return ValidRow(row) && (Flags(row) & flag); }
    std::string CellText(int row, int column) const { return m_store.CellText(row, column); }

    // Appends a row for `pid` (not live yet: see SetRecord); returns its index, -1 when the
    // table is full. A name "unknown" marks the row unnamed.
    int AppendRow(std::uint32_t pid, platform::FileTime creation, int image,
                  std::string_view name, std::string_view path);
    // Makes the row live with the record of its process; its pidfd joins the exit watch.
    void SetRecord(int row, std::unique_ptr<ProcessRecord> record);
    // The live row's record; null for a row that has none.
    ProcessRecord* GetRecord(int row);
    // The name (and image and path) read anew for the row.
    void Rename(int row, int image, std::string_view name, std::string_view path);
    void ShowStart(int row);
    void SetLoad(int row, std::int32_t load);
    // The process has ended: finish time set, "0 %" shown, the record and its handle freed.
    void EndRow(int row, platform::FileTime finish);
    // The same for a row whose process lives on in another program (exec): its handle,
    // out of the exit watch, goes to the caller. Null for a row without a record.
    std::unique_ptr<platform::ProcessHandle> EndRowKeepingHandle(int row, platform::FileTime finish);

    // Live rows whose process has ended since the last call (by the exit watch, or for
    // handles the watch cannot hold, by reading their state), ascending.
    void TakeEnded(std::vector<int>& rows);

    // The live row of `pid`: the first row of that pid that is live; -1 when there is none.
    int FindLiveRow(std::uint32_t pid) const;
    // The rows a scan for `pid` from row 0 would stop at, in row order: the rows of that pid
    // named "unknown" or "System" that come before its live row, then the live row (if any).
    void RowsToVisit(std::uint32_t pid, std::vector<int>& out) const;
    // The live row of `pid` when it is all RowsToVisit would give and has its program's name
    // (not "unknown" or "System"); -1 otherwise. The common case of a pass, found with no look
    // at the row itself.
    int PlainLiveRow(std::uint32_t pid) const;

    // The image list: image 0 is the default icon (empty name).
    int AddImage(std::string iconName);
    int GetImageCount() const;

    // Frees every record (closing its handle), from the last row to the first; the rows stay.
    void FreeRecords();
    int LiveCount() const { return static_cast<int>(m_records.size()); }

    // Every time text is to be shown again (the offset from UTC changed).
    void MarkTimesChanged() { m_timesChanged = true; }
    // Changes since the previous call (the first call reports every row as new).
    TableChanges TakeChanges();

private:
    bool ValidRow(int row) const { return row >= 0 && row < m_store.Count(); }
    void SetFlags(int row, std::uint32_t set, std::uint32_t clear);
    void MarkDirty(int row);
    void UnwatchKeepingRecord(int row);
    void UnwatchAndDrop(int row);

    RowStore m_store;
    std::unordered_map<int, std::unique_ptr<ProcessRecord>> m_records; // live rows
    std::unordered_map<std::uint32_t, std::vector<int>> m_live;    // pid -> live rows, ascending
    std::unordered_map<std::uint32_t, std::vector<int>> m_special; // pid -> rows named unknown/System
    std::unique_ptr<platform::ExitWatch> m_exits;
    std::vector<int> m_polled; // live rows whose handle the exit watch cannot hold
    std::vector<std::uint64_t> m_keys;
    std::vector<std::string> m_images;
    std::vector<int> m_dirty;
    std::vector<bool> m_isDirty;
    int m_reportedRows = 0;
    int m_reportedImages = 0;
    bool m_timesChanged = false;
};
