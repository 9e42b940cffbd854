#include "CExecTrigger.h"

#include "monitor/CProcessMonitor.h"
#include "platform/FileIo.h"
#include "storage/CDisabledList.h"
#include "storage/StringTable.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <sys/eventfd.h>

namespace {

// Enough for PATH and the places programs are run from; a directory past these is left to
// the passes.
constexpr std::size_t kMaxDirectories = 256;
// The pauses after a trigger while no pass has killed yet: the exec may still be under way.
constexpr std::chrono::milliseconds kQuickPauses[] = {std::chrono::milliseconds(2),
                                                      std::chrono::milliseconds(10),
                                                      std::chrono::milliseconds(50)};
constexpr int kQuickPassCount = static_cast<int>(std::size(kQuickPauses));
// After opens of other files, the watch is read again no sooner than this: a stream of execs
// (a build, a script) wakes the thread this often at most, and a disabled program started
// in such a stream is found this much later at worst. The first open after a quiet spell is
// read at once.
constexpr auto kHoldOff = std::chrono::milliseconds(50);

int Remaining(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

CExecTrigger::CExecTrigger(CProcessMonitor& owner) : m_owner(owner)
{
    // Read here, on the constructing thread: the environment is not the monitor thread's to
    // read while another may change it.
    if (const char* path = std::getenv("PATH"))
        m_path = path;
}

void CExecTrigger::Close()
{
    m_watch.reset();
    m_directories.clear();
    m_rowsSeen = 0;
    m_quickPasses = 0;
}

bool CExecTrigger::Wait(std::chrono::milliseconds pause, int wake)
{
    if (wake < 0)
        return false; // a stop request could not end the wait
    Update();
    if (!m_watch)
        return false;
    if (m_quickPasses > 0)
        pause = std::min(pause, kQuickPauses[kQuickPassCount - m_quickPasses--]);
    const auto deadline = std::chrono::steady_clock::now() + pause;
    for (;;) {
        const int wait = Remaining(deadline);
        if (wait == 0)
            return true;
        // The wake first, so that it is watched alone during a hold-off.
        pollfd fds[2] = {{wake, POLLIN, 0}, {m_watch->Fd(), POLLIN, 0}};
        const int holdOff = Remaining(m_heldUntil);
        if (poll(fds, holdOff > 0 ? 1 : 2, holdOff > 0 ? std::min(wait, holdOff) : wait) < 0) {
            if (errno == EINTR)
                continue;
            Close();
            return false;
        }
        if (fds[0].revents) {
            eventfd_t count;
            (void)eventfd_read(wake, &count);
            return true;
        }
        if (holdOff > 0 || !fds[1].revents)
            continue;
        if (Drain()) {
            m_quickPasses = kQuickPassCount;
            m_killsAtTrigger = m_kills;
            return true;
        }
        m_heldUntil = std::chrono::steady_clock::now() + kHoldOff;
    }
}

void CExecTrigger::Update()
{
    {
        std::lock_guard lock(m_owner.m_lock);
        const CDisabledList& list = m_owner.m_disabledList;
        m_kills = m_owner.m_kills;
        bool same = list.GetSize() == m_entries.size();
        for (std::size_t i = 0; same && i < m_entries.size(); ++i)
            same = list.GetAt(i) == m_entries[i];
        if (!same) {
            m_entries.clear();
            for (std::size_t i = 0; i < list.GetSize(); ++i)
                m_entries.push_back(list.GetAt(i));
            m_names = m_entries;
            std::sort(m_names.begin(), m_names.end());
        }
    }
    if (m_kills != m_killsAtTrigger)
        m_quickPasses = 0;
    if (m_names.empty()) {
        Close(); // nothing to find: nothing watched
        return;
    }
    if (!m_watch) {
        if (m_openFailed)
            return;
        Result<std::unique_ptr<platform::DirectoryWatch>> opened = platform::DirectoryWatch::Open();
        if (!opened) {
            m_openFailed = true;
            m_owner.NoticeFileFailure(CProcessMonitor::NoticeKind::ExecWatch, IDS_MSG_EXEC_WATCH,
                                      "inotify", opened.error());
            return;
        }
        m_watch = std::move(*opened);
        for (std::string_view rest = m_path; !rest.empty();) {
            const std::size_t colon = std::min(rest.find(':'), rest.size());
            WatchDirectory(rest.substr(0, colon));
            rest.remove_prefix(std::min(colon + 1, rest.size()));
        }
    }
    const RowStore& rows = m_owner.m_table.Rows();
    for (const int count = rows.Count(); m_rowsSeen < count; ++m_rowsSeen) {
        const std::string_view path = rows.Path(m_rowsSeen);
        if (const std::size_t slash = path.rfind('/'); slash != std::string_view::npos)
            WatchDirectory(path.substr(0, std::max<std::size_t>(slash, 1)));
    }
}

void CExecTrigger::WatchDirectory(std::string_view directory)
{
    // A relative PATH entry means the current directory of whoever runs a program: nothing to
    // watch for all of them.
    if (directory.empty() || directory.front() != '/' || m_directories.size() >= kMaxDirectories
        || m_directories.find(directory) != m_directories.end())
        return;
    const std::string& added = *m_directories.emplace(directory).first;
    const Result<> watched = m_watch->Add(added);
    // A PATH entry that does not exist is common and harmless.
    const std::error_code error = watched.error();
    if (error && error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory)
        m_owner.NoticeFileFailure(CProcessMonitor::NoticeKind::ExecWatch, IDS_MSG_EXEC_WATCH, added, error);
}

bool CExecTrigger::Drain()
{
    bool found = false;
    for (;;) {
        const Result<bool> read = m_watch->Read();
        if (!read || !*read)
            return found;
        const bool more = m_watch->MayHaveMore();
        std::string_view name;
        while (m_watch->Next(name)) {
            if (!found && Disabled(name))
                found = true;
        }
        found = found || m_watch->Overflowed();
        if (!more)
            return found;
    }
}

bool CExecTrigger::Disabled(std::string_view name) const
{
    // As the list compares; a program's name fits the string's own buffer, so this allocates
    // only for names longer than that.
    const std::string probe = NormalizeDisabledName(name);
    return !probe.empty() && std::binary_search(m_names.begin(), m_names.end(), probe);
}
