#include "CSystemList.h"

#include "platform/FileDescriptor.h"
#include "platform/FileIo.h"
#include "storage/CDisabledList.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace service {
namespace {

class ListFaultCategoryImpl : public std::error_category {
public:
    const char* name() const noexcept override { return "orvaned-list"; }
    std::string message(int value) const override
    {
        switch (static_cast<ListFault>(value)) {
        case ListFault::NotRegularFile:
            return "not a regular file";
        case ListFault::NotOwnedByRoot:
            return "not owned by root";
        case ListFault::WritableByOthers:
            return "writable by others than root";
        case ListFault::FolderNotSafe:
            return "a folder on its way may be changed by others than root";
        }
        return "refused";
    }
};

// A folder that only root may change: root's, and not writable by group or others unless
// sticky (where nobody may replace root's files).
bool FolderIsRoots(const std::string& folder)
{
    struct stat info{};
    if (stat(folder.c_str(), &info) != 0)
        return errno == ENOENT; // judged when it exists
    if (!S_ISDIR(info.st_mode) || info.st_uid != 0)
        return false;
    return !(info.st_mode & (S_IWGRP | S_IWOTH)) || (info.st_mode & S_ISVTX);
}

bool FoldersAreRoots(const std::string& folder)
{
    std::string at = folder;
    for (;;) {
        if (!FolderIsRoots(at.empty() ? "/" : at))
            return false;
        const std::size_t slash = at.rfind('/');
        if (at.empty() || slash == std::string::npos)
            return true;
        at.resize(slash);
    }
}

} // namespace

const std::error_category& ListFaultCategory()
{
    static const ListFaultCategoryImpl category;
    return category;
}

std::error_code make_error_code(ListFault fault)
{
    return {static_cast<int>(fault), ListFaultCategory()};
}

CSystemList::CSystemList(std::string path) : m_path(std::move(path))
{
    const std::size_t slash = m_path.rfind('/');
    m_folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : m_path.substr(0, slash));
    m_fileName = slash == std::string::npos ? m_path : m_path.substr(slash + 1);
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EnsureWatched();
}

CSystemList::~CSystemList()
{
    if (m_inotify >= 0)
        close(m_inotify);
}

void CSystemList::EnsureWatched()
{
    if (m_inotify < 0 || m_watch >= 0)
        return;
    m_watch = inotify_add_watch(m_inotify, m_folder.c_str(),
                                IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                    IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

bool CSystemList::TakeWatchEvents()
{
    bool concerned = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_inotify, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder itself went: watch it again once it is back.
                if (event->mask & IN_IGNORED)
                    m_watch = -1;
                concerned = true;
            } else if (event->len == 0 || m_fileName == event->name || (event->mask & IN_ATTRIB)) {
                concerned = true;
            }
        }
    }
    return concerned;
}

Result<std::size_t> CSystemList::Load()
{
    m_names.clear();
    if (!FoldersAreRoots(m_folder))
        return ListFault::FolderNotSafe;
    FileDescriptor fd(open(m_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid()) {
        if (errno == ENOENT)
            return std::size_t{0};
        if (errno == ELOOP)
            return ListFault::NotRegularFile;
        return LastError();
    }
    struct stat info{};
    if (fstat(fd.Get(), &info) != 0)
        return LastError();
    if (!S_ISREG(info.st_mode))
        return ListFault::NotRegularFile;
    if (info.st_uid != 0)
        return ListFault::NotOwnedByRoot;
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return ListFault::WritableByOthers;
    const Result<std::string> bytes = ReadWholeDescriptor(fd.Get());
    if (!bytes)
        return bytes.error();
    for (std::string& entry : ParseDisabledList(*bytes))
        if (!entry.empty())
            m_names.insert(std::move(entry));
    return m_names.size();
}

bool CSystemList::Contains(std::string_view name) const
{
    if (m_names.empty())
        return false;
    const std::string probe = NormalizeDisabledName(name);
    return !probe.empty() && m_names.contains(probe);
}

} // namespace service
