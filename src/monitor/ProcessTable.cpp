#include "monitor/ProcessTable.h"

#include <algorithm>

namespace {

const std::string kEmpty;

bool IsSpecialName(const std::string& name) { return name == "unknown" || name == "System"; }

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

bool IsBlankText(const std::string& text)
{
    return text.find_first_not_of(" \t\n\v\f\r") == std::string::npos;
}

ProcessTable::ProcessTable()
{
    m_images.emplace_back(); // image 0: the default process icon
}

ProcessTable::~ProcessTable() = default;

bool ProcessTable::ValidRow(int row) const
{
    return row >= 0 && static_cast<std::size_t>(row) < m_rows.size();
}

int ProcessTable::GetRowCount() const { return static_cast<int>(m_rows.size()); }

ProcessRecord* ProcessTable::GetRecord(int row)
{
    if (!ValidRow(row) || !m_rows[row].hasRecord)
        return nullptr;
    return &m_rows[row].record;
}

const std::string& ProcessTable::GetCellText(int row, int column) const
{
    if (!ValidRow(row) || column < 0 || column >= ColumnCount)
        return kEmpty;
    return m_rows[row].cells[column];
}

void ProcessTable::SetCellText(int row, int column, std::string text)
{
    if (!ValidRow(row) || column < 0 || column >= ColumnCount)
        return;
    Row& r = m_rows[row];
    if (r.cells[column] == text)
        return;
    const bool keyed = column == ColName || column == ColFinish;
    if (keyed)
        Unindex(row);
    r.cells[column] = std::move(text);
    r.cells[column].shrink_to_fit(); // rows are kept for the whole run
    if (keyed)
        Index(row);
    MarkDirty(row);
}

int ProcessTable::AppendRow(int image, std::string name)
{
    Row& r = m_rows.emplace_back();
    r.image = image;
    r.cells[ColName] = std::move(name);
    r.cells[ColName].shrink_to_fit();
    return static_cast<int>(m_rows.size()) - 1; // appended rows are reported without marking
}

void ProcessTable::SetRecord(int row, std::unique_ptr<ProcessRecord> record)
{
    if (!ValidRow(row))
        return;
    Unindex(row);
    Row& r = m_rows[row];
    r.hasRecord = record != nullptr;
    r.record = record ? std::move(*record) : ProcessRecord{};
    Index(row);
}

void ProcessTable::SetImageAndName(int row, int image, std::string name)
{
    if (!ValidRow(row))
        return;
    Row& r = m_rows[row];
    if (r.image == image && r.cells[ColName] == name)
        return;
    Unindex(row);
    r.image = image;
    r.cells[ColName] = std::move(name);
    r.cells[ColName].shrink_to_fit();
    Index(row);
    MarkDirty(row);
}

int ProcessTable::GetImage(int row) const { return ValidRow(row) ? m_rows[row].image : 0; }

void ProcessTable::Unindex(int row)
{
    const Row& r = m_rows[row];
    if (!r.hasRecord)
        return;
    if (IsBlankText(r.cells[ColFinish]))
        EraseFrom(m_live, r.record.pid, row);
    if (IsSpecialName(r.cells[ColName]))
        EraseFrom(m_special, r.record.pid, row);
}

void ProcessTable::Index(int row)
{
    const Row& r = m_rows[row];
    if (!r.hasRecord)
        return;
    if (IsBlankText(r.cells[ColFinish]))
        InsertSorted(m_live[r.record.pid], row);
    if (IsSpecialName(r.cells[ColName]))
        InsertSorted(m_special[r.record.pid], row);
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

int ProcessTable::AddImage(std::string iconName)
{
    m_images.push_back(std::move(iconName));
    return static_cast<int>(m_images.size()) - 1;
}

int ProcessTable::GetImageCount() const { return static_cast<int>(m_images.size()); }

const std::string& ProcessTable::GetImageName(int image) const
{
    if (image < 0 || static_cast<std::size_t>(image) >= m_images.size())
        return kEmpty;
    return m_images[image];
}

void ProcessTable::FreeRecords()
{
    for (auto it = m_rows.rbegin(); it != m_rows.rend(); ++it) {
        if (!it->hasRecord)
            continue;
        it->record.pid = 0;
        it->record.hProcess.reset(); // closes the process's descriptors
        it->record = ProcessRecord{};
        it->hasRecord = false;
    }
    m_live.clear();
    m_special.clear();
}

void ProcessTable::MarkDirty(int row)
{
    Row& r = m_rows[row];
    if (row < m_reportedRows && !r.dirty) {
        r.dirty = true;
        m_dirty.push_back(row);
    }
}

void ProcessTable::Snapshot(int row, std::vector<RowSnapshot>& out) const
{
    const Row& r = m_rows[row];
    out.push_back(RowSnapshot{row, r.image, r.cells});
}

TableChanges ProcessTable::TakeChanges()
{
    TableChanges changes;
    changes.rowCount = GetRowCount();
    std::sort(m_dirty.begin(), m_dirty.end());
    changes.rows.reserve(m_dirty.size() + (m_rows.size() - m_reportedRows));
    for (int row : m_dirty) {
        Snapshot(row, changes.rows);
        m_rows[row].dirty = false;
    }
    m_dirty.clear();
    for (int row = m_reportedRows; row < changes.rowCount; ++row)
        Snapshot(row, changes.rows);
    m_reportedRows = changes.rowCount;

    changes.firstNewImage = m_reportedImages;
    changes.iconNames.assign(m_images.begin() + m_reportedImages, m_images.end());
    m_reportedImages = GetImageCount();
    return changes;
}
