#pragma once
// The system-wide disabled list (/etc/orvane/BlackList.log): names in the window's own
// "name|" format, obeyed only from a regular file that root owns and no one else may write,
// in folders that no one but root may change; anything else is refused, and the list is then
// empty. Watched for changes through inotify on its folder.

#include "platform/Result.h"

#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>

namespace service {

// Why a list file is not obeyed.
enum class ListFault {
    NotRegularFile = 1, // a link, folder, FIFO, device...
    NotOwnedByRoot,
    WritableByOthers,   // group or others may write it
    FolderNotSafe,      // a folder on its way is not root's, or others may change it
};
const std::error_category& ListFaultCategory();
std::error_code make_error_code(ListFault fault);

class CSystemList {
public:
    explicit CSystemList(std::string path);
    ~CSystemList();
    CSystemList(const CSystemList&) = delete;
    CSystemList& operator=(const CSystemList&) = delete;

    const std::string& Path() const { return m_path; }

    // Reads the file again. Returns the number of names now obeyed; a missing file gives an
    // empty list and 0. A refused or unreadable file empties the list and fails with the
    // reason (a ListFault, or the system's).
    Result<std::size_t> Load();

    // Whether `name` (an executable's base name) is disabled: the window's rule, white space
    // trimmed and ASCII lowered before an exact comparison with the entries as they stand.
    bool Contains(std::string_view name) const;
    std::size_t Size() const { return m_names.size(); }

    // The inotify descriptor to wait on, -1 when the folder cannot be watched (yet).
    int WatchFd() const { return m_inotify; }
    bool Watching() const { return m_watch >= 0; }
    // Starts watching the folder when it was not (it may have been made since). Cheap when
    // watching already.
    void EnsureWatched();
    // Reads the inotify events; true when they may concern the file.
    bool TakeWatchEvents();

private:
    std::string m_path;
    std::string m_folder;
    std::string m_fileName;
    std::unordered_set<std::string> m_names;
    int m_inotify = -1;
    int m_watch = -1;
};

} // namespace service

template <>
struct std::is_error_code_enum<service::ListFault> : std::true_type {};
