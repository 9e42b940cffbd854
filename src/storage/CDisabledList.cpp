#include "storage/CDisabledList.h"

#include "storage/FileIo.h"

#include <algorithm>

namespace {

// isspace() in the C locale, without consulting the process's locale (which another thread
// may be changing) and never true for bytes from 0x80 up.
bool IsCSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

std::vector<std::string> ParseDisabledList(std::string_view bytes)
{
    bytes = bytes.substr(0, bytes.find('\0'));
    std::vector<std::string> entries;
    std::string_view::size_type start = 0;
    for (;;) {
        std::string_view::size_type bar = bytes.find('|', start);
        if (bar == std::string_view::npos)
            break;
        entries.emplace_back(bytes.substr(start, bar - start));
        start = bar + 1;
    }
    return entries;
}

std::string SerializeDisabledList(const std::vector<std::string>& entries)
{
    std::string bytes;
    for (const std::string& entry : entries) {
        bytes += entry;
        bytes += '|';
    }
    return bytes;
}

std::string NormalizeDisabledName(std::string_view name)
{
    while (!name.empty() && IsCSpace(static_cast<unsigned char>(name.back())))
        name.remove_suffix(1);
    while (!name.empty() && IsCSpace(static_cast<unsigned char>(name.front())))
        name.remove_prefix(1);
    std::string lowered(name);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

void CDisabledList::Load()
{
    std::string bytes;
    if (!ReadWholeFile(m_path, bytes) || bytes.empty())
        return;
    m_entries = ParseDisabledList(bytes);
}

bool CDisabledList::Save()
{
    if (m_path.empty())
        return false;
    return ReplaceFileAtomically(m_path, SerializeDisabledList(m_entries));
}

void CDisabledList::Add(const std::string& name)
{
    std::string entry = NormalizeDisabledName(name);
    if (entry.empty() || entry.find('|') != std::string::npos ||
        entry.find('\0') != std::string::npos)
        return;
    m_entries.push_back(std::move(entry));
    Save();
}

bool CDisabledList::Contains(const std::string& name) const
{
    const std::string probe = NormalizeDisabledName(name);
    if (probe.empty())
        return false;
    return std::find(m_entries.begin(), m_entries.end(), probe) != m_entries.end();
}

void CDisabledList::RemoveAt(std::size_t index)
{
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
}

void CDisabledList::RemoveAll()
{
    m_entries.clear();
}

std::size_t CDisabledList::GetSize() const
{
    return m_entries.size();
}

const std::string& CDisabledList::GetAt(std::size_t index) const
{
    return m_entries[index];
}
