#include "monitor/RowStore.h"

#include "monitor/TimeText.h"

#include <charconv>

StringPool::StringPool()
{
    Intern("");
    Intern(platform::kUnknownName);
    Intern(platform::kSystemName);
}

std::uint32_t StringPool::Intern(std::string_view text)
{
    if (auto it = m_ids.find(text); it != m_ids.end())
        return it->second;
    const std::size_t at = m_strings.Append(text);
    if (at >= AppendOnlyArray<std::string>::kCapacity)
        return kEmpty;
    const auto id = static_cast<std::uint32_t>(at);
    m_ids.emplace(std::string_view(m_strings[at]), id);
    return id;
}

std::string_view StringPool::Get(std::uint32_t id) const
{
    return m_strings[id];
}

std::string LoadText(std::int32_t load)
{
    char buffer[16];
    auto end = std::to_chars(buffer, buffer + 12, load).ptr; // 11 characters at most
    *end++ = ' ';
    *end++ = '%';
    return std::string(buffer, end);
}

namespace {

std::string NameText(const RowStore& rows, int row)
{
    return std::string(rows.Name(row));
}

std::string PidText(const RowStore& rows, int row)
{
    char buffer[16];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, rows.Row(row).pid).ptr);
}

std::string StartText(const RowStore& rows, int row)
{
    return (rows.Flags(row) & StoredRow::kStartShown) ? FormatFileDateTime(rows.Row(row).creation)
                                                      : std::string();
}

std::string FinishText(const RowStore& rows, int row)
{
    return (rows.Flags(row) & StoredRow::kEnded)
        ? FormatFileDateTime(rows.Row(row).finish.load(std::memory_order_acquire))
        : std::string();
}

std::string LoadCellText(const RowStore& rows, int row)
{
    return (rows.Flags(row) & StoredRow::kLoadShown)
        ? LoadText(rows.Row(row).load.load(std::memory_order_acquire))
        : std::string();
}

std::string PathText(const RowStore& rows, int row)
{
    return std::string(rows.Path(row));
}

} // namespace

constexpr ColumnFacts kColumns[ColumnCount] = {
    {ColName, IDS_COL_NAME, 130, ColumnAlign::Left, NameText},
    {ColPid, IDS_COL_PID, 40, ColumnAlign::Right, PidText},
    {ColStart, IDS_COL_START_TIME, 120, ColumnAlign::Right, StartText},
    {ColFinish, IDS_COL_FINISH_TIME, 120, ColumnAlign::Right, FinishText},
    {ColCpu, IDS_COL_CPU, 60, ColumnAlign::Right, LoadCellText},
    {ColFile, IDS_COL_FILE, 400, ColumnAlign::Left, PathText},
};

constexpr bool ColumnsInOrder()
{
    for (int i = 0; i < ColumnCount; ++i)
        if (kColumns[i].column != i)
            return false;
    return true;
}
static_assert(ColumnsInOrder(), "kColumns must list the columns in their order");

std::string_view RowStore::Name(int row) const
{
    return m_strings.Get(Row(row).name.load(std::memory_order_acquire));
}

std::string_view RowStore::Path(int row) const
{
    return m_strings.Get(Row(row).path.load(std::memory_order_acquire));
}

int RowStore::Image(int row) const
{
    return static_cast<int>(Row(row).image.load(std::memory_order_acquire));
}

std::string RowStore::CellText(int row, int column) const
{
    if (row < 0 || row >= Count() || column < 0 || column >= ColumnCount)
        return {};
    return kColumns[column].text(*this, row);
}

int RowStore::Append(std::uint32_t pid, platform::FileTime creation, std::string_view name,
                     std::string_view path, int image, std::uint32_t flags)
{
    const std::size_t at = m_rows.Append(pid, creation, m_strings.Intern(name),
                                         m_strings.Intern(path), static_cast<std::uint32_t>(image),
                                         flags);
    return at >= AppendOnlyArray<StoredRow>::kCapacity ? -1 : static_cast<int>(at);
}
