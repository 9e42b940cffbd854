#include "storage/CDisabledList.h"

#include "platform/FileDescriptor.h"

#include "platform/FileIo.h"
#include "platform/Result.h"
#include "storage/StorageFault.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

Result<> CDisabledList::Load()
{
    const Stamp stamp = CurrentStamp().value_or(Stamp{});
    Result<std::string> bytes = ReadWholeFile(m_path);
    if (!bytes)
        return bytes.error() == std::errc::no_such_file_or_directory ? Result<>() : bytes.error();
    if (bytes->empty())
        return {};
    m_entries = ParseDisabledList(*bytes);
    m_stamp = stamp;
    return {};
}

Result<CDisabledList::Stamp> CDisabledList::CurrentStamp() const
{
    struct stat st {};
    if (m_path.empty())
        return std::errc::no_such_file_or_directory;
    if (::stat(m_path.c_str(), &st) != 0)
        return LastError();
    return Stamp{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
                 static_cast<unsigned long long>(st.st_size),
                 static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                     static_cast<unsigned long long>(st.st_mtim.tv_nsec)};
}

Result<> CDisabledList::Refresh()
{
    const Result<Stamp> stamp = CurrentStamp();
    if (!stamp)
        return stamp.error() == std::errc::no_such_file_or_directory ? Result<>() : stamp.error();
    if (*stamp == m_stamp)
        return {};
    Result<std::string> bytes = ReadWholeFile(m_path);
    if (!bytes)
        return bytes.error() == std::errc::no_such_file_or_directory ? Result<>() : bytes.error();
    m_entries = ParseDisabledList(*bytes);
    m_stamp = *stamp;
    return {};
}

template <class Change>
CDisabledList::FileChange CDisabledList::ChangeOnDisk(Change change) const
{
    if (m_path.empty())
        return {std::make_error_code(std::errc::no_such_file_or_directory), {}, {}, {}};
    // The lock is held on the file itself, which a change replaces: a copy that got the lock
    // on a file that has meanwhile been replaced lets it go and locks the new one.
    for (;;) {
        Result<FileDescriptor> opened = OpenForWriting(m_path, O_RDWR | O_CREAT);
        if (opened.error() == std::errc::permission_denied) {
            // A read-only file can still be replaced. Where there is no file, it was the folder
            // that refused it: that is the reason, not the missing file.
            Result<FileDescriptor> readOnly = OpenForWriting(m_path, O_RDONLY);
            if (readOnly.error() != std::errc::no_such_file_or_directory)
                opened = std::move(readOnly);
        }
        if (!opened)
            return {opened.error(), {}, {}, {}};
        const int raw = opened->Get();
        int rc;
        do
            rc = ::flock(raw, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        if (rc != 0)
            return {LastError(), {}, {}, {}};
        struct stat held {}, now {};
        if (::fstat(raw, &held) != 0)
            return {LastError(), {}, {}, {}};
        if (::stat(m_path.c_str(), &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino)
            continue;

        const Result<std::string> read = ReadWholeDescriptor(raw);
        if (!read)
            return {read.error(), {}, {}, {}};
        const std::string& bytes = *read;
        std::vector<std::string> entries = ParseDisabledList(bytes);
        change(entries);
        const std::error_code error = ReplaceFile(m_path, SerializeDisabledList(entries)).error();
        // On failure the list is what the file held; should the file have been replaced all
        // the same (its folder could not be flushed after the rename), the next Refresh reads it.
        if (error)
            return {error, ParseDisabledList(bytes), {}, {}};
        return {{}, std::move(entries), CurrentStamp().value_or(Stamp{}), {}};
    }
}

Result<> CDisabledList::Adopt(FileChange change)
{
    if (const auto held = std::find(m_held.begin(), m_held.end(), change.added); held != m_held.end())
        m_held.erase(held);
    if (change.entries) {
        m_entries = std::move(*change.entries);
        m_stamp = change.stamp;
    }
    return change.error;
}

CDisabledList::FileChange CDisabledList::AddOnDisk(const std::string& name) const
{
    std::string entry = NormalizeDisabledName(name);
    if (entry.empty())
        return {};
    if (entry.find('|') != std::string::npos || entry.find('\0') != std::string::npos)
        return {StorageFault::NameNotStorable, {}, {}, entry};
    FileChange change =
        ChangeOnDisk([&entry](std::vector<std::string>& entries) { entries.push_back(entry); });
    change.added = std::move(entry);
    return change;
}

Result<> CDisabledList::Add(const std::string& name)
{
    return Adopt(AddOnDisk(name));
}

void CDisabledList::Hold(const std::string& name)
{
    if (std::string entry = NormalizeDisabledName(name); !entry.empty())
        m_held.push_back(std::move(entry));
}

Result<> CDisabledList::Remove(std::size_t index)
{
    if (index >= m_entries.size())
        return {};
    return Remove(index, std::string(m_entries[index]));
}

Result<> CDisabledList::Remove(std::size_t index, const std::string& name)
{
    return Adopt(RemoveOnDisk(index, name));
}

CDisabledList::FileChange CDisabledList::RemoveOnDisk(std::size_t index, const std::string& name) const
{
    return ChangeOnDisk([&](std::vector<std::string>& entries) {
        if (index < entries.size() && entries[index] == name) {
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
            return;
        }
        const auto it = std::find(entries.begin(), entries.end(), name);
        if (it != entries.end())
            entries.erase(it);
    });
}

bool CDisabledList::Contains(const std::string& name) const
{
    const std::string probe = NormalizeDisabledName(name);
    if (probe.empty())
        return false;
    return std::find(m_entries.begin(), m_entries.end(), probe) != m_entries.end()
        || std::find(m_held.begin(), m_held.end(), probe) != m_held.end();
}

void CDisabledList::RemoveAll()
{
    m_entries.clear();
    m_held.clear();
}

std::size_t CDisabledList::GetSize() const
{
    return m_entries.size();
}

const std::string& CDisabledList::GetAt(std::size_t index) const
{
    return m_entries[index];
}
