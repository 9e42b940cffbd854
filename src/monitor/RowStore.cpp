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
    if (row < 0 || row >= Count())
        return {};
    const StoredRow& r = Row(row);
    switch (column) {
    case ColName:
        return std::string(Name(row));
    case ColPid: {
        char buffer[16];
        return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, r.pid).ptr);
    }
    case ColStart:
        return (Flags(row) & StoredRow::kStartShown) ? FormatFileDateTime(r.creation) : std::string();
    case ColFinish:
        return (Flags(row) & StoredRow::kEnded)
            ? FormatFileDateTime(r.finish.load(std::memory_order_acquire))
            : std::string();
    case ColCpu:
        return (Flags(row) & StoredRow::kLoadShown)
            ? LoadText(r.load.load(std::memory_order_acquire))
            : std::string();
    case ColFile:
        return std::string(Path(row));
    default:
        return {};
    }
}

int RowStore::Append(std::uint32_t pid, platform::FileTime creation, std::string_view name,
                     std::string_view path, int image, std::uint32_t flags)
{
    const std::size_t at = m_rows.Append(pid, creation, m_strings.Intern(name),
                                         m_strings.Intern(path), static_cast<std::uint32_t>(image),
                                         flags);
    return at >= AppendOnlyArray<StoredRow>::kCapacity ? -1 : static_cast<int>(at);
}
