#include "monitor/ProcessTable.h"

#include <algorithm>

namespace {

bool IsSpecialName(std::uint32_t name)
{
    return name == StringPool::kUnknown || name == StringPool::kSystem;
}

// The flags that a row's name decides.
constexpr std::uint32_t kNameFlags = StoredRow::kUnnamed | StoredRow::kStandInName;
std::uint32_t NameFlags(std::uint32_t name)
{
    return (name == StringPool::kUnknown ? StoredRow::kUnnamed : 0u)
        | (IsSpecialName(name) ? StoredRow::kStandInName : 0u);
}

void InsertSorted(std::vector<int>& rows, int row)
{
    rows.insert(std::lower_bound(rows.begin(), rows.end(), row), row);
}

void EraseFrom(std::unordered_map<std::uint32_t, std::vector<int>>& index, std::uint32_t pid,
               int row)
{
    auto it = index.find(pid);
    if (it == index.end())
        return;
    auto& rows = it->second;
    auto at = std::lower_bound(rows.begin(), rows.end(), row);
    if (at != rows.end() && *at == row)
        rows.erase(at);
    if (rows.empty())
        index.erase(it);
}

} // namespace

ProcessTable::ProcessTable()
    // Without an epoll set every live handle is asked for its exit instead (m_polled).
    : m_exits(platform::ExitWatch::Create().value_or(nullptr))
{
    m_images.emplace_back(); // image 0: the default process icon
}

ProcessTable::~ProcessTable()
{
    FreeRecords();
}

void ProcessTable::SetFlags(int row, std::uint32_t set, std::uint32_t clear)
{
    std::atomic<std::uint32_t>& flags = m_store.Mutable(row).flags;
    const std::uint32_t old = flags.load(std::memory_order_relaxed);
    const std::uint32_t now = (old | set) & ~clear;
    if (now != old)
        flags.store(now, std::memory_order_release);
}

int ProcessTable::AppendRow(std::uint32_t pid, platform::FileTime creation, int image,
                            std::string_view name, std::string_view path)
{
    const int row = m_store.Append(pid, creation, name, path, image, NameFlags(m_store.Intern(name)));
    if (row < 0)
        return -1;
    m_isDirty.push_back(false);
    if (IsSpecialName(m_store.Row(row).name.load(std::memory_order_relaxed)))
        InsertSorted(m_special[pid], row);
    return row; // appended rows are reported without marking
}

void ProcessTable::SetRecord(int row, std::unique_ptr<ProcessRecord> record)
{
    if (!ValidRow(row) || !record || !record->hProcess || m_records.count(row))
        return;
    if (!m_exits || !m_exits->Add(*record->hProcess, static_cast<std::uint64_t>(row)))
        InsertSorted(m_polled, row);
    m_records.emplace(row, std::move(record));
    SetFlags(row, StoredRow::kLive, 0);
    InsertSorted(m_live[Pid(row)], row);
}

ProcessRecord* ProcessTable::GetRecord(int row)
{
    auto it = m_records.find(row);
    return it == m_records.end() ? nullptr : it->second.get();
}

void ProcessTable::Rename(int row, int image, std::string_view name, std::string_view path)
{
    if (!ValidRow(row))
        return;
    StoredRow& r = m_store.Mutable(row);
    const std::uint32_t nameId = m_store.Intern(name);
    const std::uint32_t pathId = m_store.Intern(path);
    const std::uint32_t oldName = r.name.load(std::memory_order_relaxed);
    const bool changed = oldName != nameId || r.path.load(std::memory_order_relaxed) != pathId
        || r.image.load(std::memory_order_relaxed) != static_cast<std::uint32_t>(image);
    if (!changed)
        return;
    if (IsSpecialName(oldName))
        EraseFrom(m_special, r.pid, row);
    r.name.store(nameId, std::memory_order_release);
    r.path.store(pathId, std::memory_order_release);
    r.image.store(static_cast<std::uint32_t>(image), std::memory_order_release);
    SetFlags(row, NameFlags(nameId), kNameFlags & ~NameFlags(nameId));
    if (IsSpecialName(nameId))
        InsertSorted(m_special[r.pid], row);
    MarkDirty(row);
}

void ProcessTable::ShowStart(int row)
{
    if (!ValidRow(row) || Has(row, StoredRow::kStartShown))
        return;
    SetFlags(row, StoredRow::kStartShown, 0);
    MarkDirty(row);
}

void ProcessTable::SetLoad(int row, std::int32_t load)
{
    if (!ValidRow(row))
        return;
    StoredRow& r = m_store.Mutable(row);
    if (Has(row, StoredRow::kLoadShown) && r.load.load(std::memory_order_relaxed) == load)
        return;
    r.load.store(load, std::memory_order_release);
    SetFlags(row, StoredRow::kLoadShown, 0);
    MarkDirty(row);
}

void ProcessTable::UnwatchKeepingRecord(int row)
{
    auto it = m_records.find(row);
    if (it == m_records.end() || !it->second->hProcess)
        return;
    if (auto at = std::lower_bound(m_polled.begin(), m_polled.end(), row);
        at != m_polled.end() && *at == row)
        m_polled.erase(at);
    else if (m_exits && it->second->hProcess)
        m_exits->Remove(*it->second->hProcess);
}

void ProcessTable::UnwatchAndDrop(int row)
{
    auto it = m_records.find(row);
    if (it == m_records.end())
        return;
    UnwatchKeepingRecord(row);
    m_records.erase(it); // closes the process's descriptors
    EraseFrom(m_live, Pid(row), row);
    SetFlags(row, 0, StoredRow::kLive);
}

void ProcessTable::EndRow(int row, platform::FileTime finish)
{
    if (!ValidRow(row) || Has(row, StoredRow::kEnded))
        return;
    UnwatchAndDrop(row);
    StoredRow& r = m_store.Mutable(row);
    r.finish.store(finish, std::memory_order_release);
    r.load.store(0, std::memory_order_release);
    SetFlags(row, StoredRow::kEnded | StoredRow::kLoadShown, 0);
    MarkDirty(row);
}

std::unique_ptr<platform::ProcessHandle> ProcessTable::EndRowKeepingHandle(int row, platform::FileTime finish)
{
    ProcessRecord* record = GetRecord(row);
    if (!record || !record->hProcess || Has(row, StoredRow::kEnded))
        return nullptr;
    // Out of the watch (or the polled list) while the record still holds the handle.
    UnwatchKeepingRecord(row);
    std::unique_ptr<platform::ProcessHandle> handle = std::move(record->hProcess);
    EndRow(row, finish);
    return handle;
}

void ProcessTable::TakeEnded(std::vector<int>& rows)
{
    rows.clear();
    if (m_exits) {
        m_keys.clear();
        m_exits->TakeEnded(m_keys);
        for (std::uint64_t key : m_keys)
            rows.push_back(static_cast<int>(key));
    }
    for (int row : m_polled) {
        // A handle whose times cannot be read now is asked again at the next pass.
        ProcessRecord* record = GetRecord(row);
        if (record && record->hProcess->GetTimes() && record->hProcess->HasEnded())
            rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
}

int ProcessTable::FindLiveRow(std::uint32_t pid) const
{
    auto it = m_live.find(pid);
    return it == m_live.end() ? -1 : it->second.front();
}

void ProcessTable::RowsToVisit(std::uint32_t pid, std::vector<int>& out) const
{
    out.clear();
    const int live = FindLiveRow(pid);
    if (auto it = m_special.find(pid); it != m_special.end()) {
        for (int row : it->second) {
            if (live >= 0 && row >= live)
                break;
            out.push_back(row);
        }
    }
    if (live >= 0)
        out.push_back(live);
}

int ProcessTable::PlainLiveRow(std::uint32_t pid) const
{
    // A live row named "unknown" or "System" is among the pid's special rows as well.
    if (!m_special.empty() && m_special.count(pid) != 0)
        return -1;
    return FindLiveRow(pid);
}

int ProcessTable::AddImage(std::string iconName)
{
    m_images.push_back(std::move(iconName));
    return static_cast<int>(m_images.size()) - 1;
}

int ProcessTable::GetImageCount() const { return static_cast<int>(m_images.size()); }

void ProcessTable::FreeRecords()
{
    std::vector<int> rows;
    rows.reserve(m_records.size());
    for (const auto& [row, record] : m_records)
        rows.push_back(row);
    std::sort(rows.rbegin(), rows.rend());
    for (int row : rows)
        UnwatchAndDrop(row);
    m_live.clear();
    m_special.clear();
    m_polled.clear();
}

void ProcessTable::MarkDirty(int row)
{
    if (row < m_reportedRows && !m_isDirty[static_cast<std::size_t>(row)]) {
        m_isDirty[static_cast<std::size_t>(row)] = true;
        m_dirty.push_back(row);
    }
}

TableChanges ProcessTable::TakeChanges()
{
    TableChanges changes;
    changes.firstNewRow = m_reportedRows;
    changes.rowCount = GetRowCount();
    std::sort(m_dirty.begin(), m_dirty.end());
    for (int row : m_dirty)
        m_isDirty[static_cast<std::size_t>(row)] = false;
    changes.rows.swap(m_dirty);
    m_reportedRows = changes.rowCount;
    changes.timesChanged = m_timesChanged;
    m_timesChanged = false;

    changes.firstNewImage = m_reportedImages;
    changes.iconNames.assign(m_images.begin() + m_reportedImages, m_images.end());
    m_reportedImages = GetImageCount();
    return changes;
}
