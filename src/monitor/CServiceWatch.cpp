#include "CServiceWatch.h"

#include "monitor/CProcessMonitor.h"
#include "storage/StringTable.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using watch::CWatchTable;
using watch::ProcessInfo;

// How long a connection may take to bring its first snapshot, and how often a service that
// did not answer is asked again.
constexpr auto kJoinWait = std::chrono::seconds(2);
constexpr auto kRetry = std::chrono::seconds(5);
constexpr const char* kUnknown = "unknown";
constexpr const char* kSystem = "System";

// The process (pid, startTicks) and no other that has taken its pid since.
std::unique_ptr<platform::ProcessHandle> OpenChecked(std::uint32_t pid, std::uint64_t startTicks)
{
    std::unique_ptr<platform::ProcessHandle> handle = platform::ProcessHandle::Open(pid);
    if (handle && handle->StartTicks() != startTicks)
        handle.reset();
    return handle;
}

int Remaining(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

} // namespace

CServiceWatch::CServiceWatch(CProcessMonitor& owner)
    : m_owner(owner)
    , m_socketPath(watch::CWatchClient::SocketPath())
    , m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

CServiceWatch::~CServiceWatch()
{
    if (m_wake >= 0)
        close(m_wake);
}

void CServiceWatch::Drop()
{
    m_client.reset();
    m_lost = true;
    m_nextTry = Clock::now() + kRetry;
}

bool CServiceWatch::Receive()
{
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard lock(m_clientLock);
        if (m_client) {
            if (!m_client->Receive(m_queue, 0))
                Drop();
            return m_client != nullptr;
        }
        if (m_lost)
            return false;
    }
    // Without the lock: a kill asked for meanwhile must not wait for the service's answer.
    int wait = 0;
    if (!m_joining) {
        if (now < m_nextTry)
            return false;
        m_nextTry = now + kRetry;
        Result<std::unique_ptr<watch::CWatchClient>> client = watch::CWatchClient::Connect(m_socketPath);
        if (!client)
            return false;
        m_joining = std::move(*client);
        m_joinQueue.clear();
        m_joinDeadline = now + kJoinWait;
        // The first pass of all has nothing to poll yet: it waits for the service's answer.
        // Later ones poll on meanwhile, so that a service that accepts and says nothing
        // cannot hold them up.
        if (!std::exchange(m_triedBefore, true))
            wait = Remaining(m_joinDeadline);
    }
    // The passes change over only with the whole first snapshot in hand: a row that polling
    // made is then matched, and none is made twice or lost.
    for (;;) {
        const std::size_t before = m_joinQueue.size();
        if (!m_joining->Receive(m_joinQueue, wait)) {
            m_joining.reset();
            return false;
        }
        if (std::any_of(m_joinQueue.begin() + static_cast<std::ptrdiff_t>(before), m_joinQueue.end(),
                        [](const watch::Message& m) { return std::holds_alternative<watch::SnapshotEnd>(m); }))
            break;
        if (Clock::now() >= m_joinDeadline) {
            m_joining.reset();
            return false;
        }
        if (wait == 0)
            return false; // the rest at the next passes
        wait = Remaining(m_joinDeadline);
    }
    std::lock_guard lock(m_clientLock);
    m_client = std::move(m_joining);
    m_queue = std::move(m_joinQueue);
    m_joinQueue.clear();
    m_joined = true;
    m_mayKill = (m_client->GetWelcome()->flags & watch::Welcome::kMayKill) != 0;
    return true;
}

void CServiceWatch::Apply()
{
    bool joined, lost;
    {
        std::lock_guard lock(m_clientLock);
        m_messages.swap(m_queue);
        m_queue.clear();
        joined = std::exchange(m_joined, false);
        lost = std::exchange(m_lost, false);
    }
    if (joined) {
        m_feeding = true;
        m_table = watch::CWatchTable();
        std::lock_guard lock(m_clientLock);
        m_news.push_back(LoadString(IDS_MSG_WATCH_SERVICE));
    }
    if (!m_feeding)
        return;
    m_changes.clear();
    for (const watch::Message& message : m_messages) {
        m_table.Apply(message, m_changes);
        const auto* result = std::get_if<watch::KillResult>(&message);
        if (result && result->error != 0 && result->error != ESRCH) {
            std::string text = LoadString(IDS_MSG_SERVICE_KILL);
            text.replace(text.find("%1"), 2, std::to_string(result->pid));
            std::lock_guard lock(m_clientLock);
            m_news.push_back(text + " " + std::strerror(result->error));
        }
    }
    m_messages.clear();
    for (CWatchTable::Change& change : m_changes)
        ApplyChange(change);
    MakeRows();
    if (lost) {
        HandOver();
        m_feeding = false;
        std::lock_guard lock(m_clientLock);
        m_news.push_back(LoadString(IDS_MSG_WATCH_POLLING));
        return;
    }
    OpenShownRows();
}

CServiceWatch::Pending* CServiceWatch::FindPending(std::uint32_t pid, std::uint64_t startTicks)
{
    // From the last: a pid met twice in one batch is its latest holder.
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it) {
        if (it->info.pid == pid && it->info.startTicks == startTicks)
            return &*it;
    }
    return nullptr;
}

bool CServiceWatch::Adopt(const ProcessInfo& info)
{
    ProcessTable& table = m_owner.m_table;
    const int row = table.FindLiveRow(info.pid);
    ProcessRecord* record = table.GetRecord(row);
    if (!record || !record->hProcess || record->hProcess->StartTicks() != info.startTicks
        || m_rows.count(info.pid))
        return false;
    m_rows[info.pid] = {row, info.startTicks, true};
    return true;
}

std::unique_ptr<platform::ProcessHandle> CServiceWatch::EndLiveRow(std::uint32_t pid, watch::FileTime time)
{
    auto it = m_rows.find(pid);
    if (it == m_rows.end())
        return nullptr;
    ProcessTable& table = m_owner.m_table;
    const int row = it->second.row;
    m_rows.erase(it);
    if (table.Has(row, StoredRow::kEnded))
        return nullptr; // its handle saw the exit first
    std::unique_ptr<platform::ProcessHandle> handle = table.EndRowKeepingHandle(row, time);
    if (!handle)
        table.EndRow(row, time);
    if (!table.Has(row, StoredRow::kUnnamed))
        m_owner.m_lines.push_back({row, CProcessMonitor::LineKind::Finished});
    return handle;
}

void CServiceWatch::ApplyChange(CWatchTable::Change& change)
{
    ProcessInfo& info = change.info;
    const auto live = m_rows.find(info.pid);
    const bool hasRow = live != m_rows.end() && live->second.startTicks == info.startTicks;
    const watch::FileTime time = info.time;
    switch (change.kind) {
    case CWatchTable::Change::Kind::Started:
        if (hasRow)
            break;
        if (Adopt(info)) {
            // Polling's row, of the program it ran then.
            ExecRow(info);
            break;
        }
        // The program it runs at the next pass decides its row.
        m_pending.push_back({std::move(info), time, 0, nullptr});
        break;
    case CWatchTable::Change::Kind::Exec:
        if (Pending* pending = FindPending(info.pid, info.startTicks)) {
            // Execed before any pass met it: shown as the program it ran, from its start.
            pending->info.name = std::move(info.name);
            pending->info.path = std::move(info.path);
            pending->info.uid = info.uid;
            break;
        }
        if (hasRow) {
            ExecRow(info);
            break;
        }
        m_pending.push_back({std::move(info), time, 0, nullptr});
        break;
    case CWatchTable::Change::Kind::Exited:
        if (Pending* pending = FindPending(info.pid, info.startTicks)) {
            pending->finish = std::max(info.time, pending->start);
            pending->handle.reset();
            break;
        }
        if (hasRow)
            EndLiveRow(info.pid, info.time);
        break;
    }
}

void CServiceWatch::ExecRow(ProcessInfo& info)
{
    const int row = m_rows.at(info.pid).row;
    // The same program again (or a service that could not read the path the row has): a pass
    // would not tell the two apart either.
    if (m_owner.m_table.Name(row) == info.name
        && (info.path.empty() || m_owner.m_table.Rows().Path(row) == info.path))
        return;
    const watch::FileTime time = info.time;
    std::unique_ptr<platform::ProcessHandle> handle = EndLiveRow(info.pid, time);
    m_pending.push_back({std::move(info), time, 0, std::move(handle)});
}

void CServiceWatch::MakeRows()
{
    ProcessTable& table = m_owner.m_table;
    for (Pending& pending : m_pending) {
        ProcessInfo& info = pending.info;
        if (info.name == CProcessMonitor::kOwnName)
            continue;
        if (m_owner.m_disabledList.Contains(info.name)) {
            // Killed when the service told of it; once more, in case the list changed since.
            if (pending.finish == 0)
                KillNamed(info);
            continue;
        }
        // A process that could not be named is shown as polling shows it once it has tried.
        if (info.name == kUnknown)
            info.name = kSystem;
        const int row = table.AppendRow(info.pid, pending.start, m_owner.ImageFor(info.path), info.name, info.path);
        if (row < 0)
            continue;
        table.ShowStart(row);
        m_owner.m_lines.push_back({row, CProcessMonitor::LineKind::Started});
        if (pending.finish != 0) {
            table.EndRow(row, pending.finish);
            m_owner.m_lines.push_back({row, CProcessMonitor::LineKind::Finished});
            continue;
        }
        m_rows[info.pid] = {row, info.startTicks, pending.handle != nullptr};
        if (pending.handle) {
            pending.handle->BeganProgram(pending.start);
            auto record = std::make_unique<ProcessRecord>();
            record->hProcess = std::move(pending.handle);
            table.SetRecord(row, std::move(record));
        }
    }
    m_pending.clear();
}

void CServiceWatch::OpenShownRows()
{
    // Only a shown row's load is sampled, and sampling needs a handle.
    ProcessTable& table = m_owner.m_table;
    const std::uint64_t visible = m_owner.m_visible.load();
    const int first = std::max(0, static_cast<std::int32_t>(visible >> 32));
    const int last = std::min(table.GetRowCount() - 1, static_cast<std::int32_t>(visible & 0xFFFFFFFFu));
    for (int row = first; row <= last; ++row) {
        if (table.Has(row, StoredRow::kEnded) || table.GetRecord(row))
            continue;
        auto it = m_rows.find(table.Pid(row));
        if (it == m_rows.end() || it->second.row != row || it->second.opened)
            continue;
        it->second.opened = true;
        if (std::unique_ptr<platform::ProcessHandle> handle = OpenChecked(table.Pid(row), it->second.startTicks)) {
            auto record = std::make_unique<ProcessRecord>();
            record->hProcess = std::move(handle);
            table.SetRecord(row, std::move(record));
        }
    }
}

void CServiceWatch::HandOver()
{
    // Polling finds a process by its live row and its handle: every row made here gets one,
    // or is finished now when its process is gone.
    ProcessTable& table = m_owner.m_table;
    std::vector<std::pair<int, std::uint64_t>> rows;
    rows.reserve(m_rows.size());
    for (const auto& [pid, live] : m_rows)
        rows.emplace_back(live.row, live.startTicks);
    std::sort(rows.begin(), rows.end());
    const platform::FileTime now = platform::GetSystemTimeAsFileTime();
    for (const auto& [row, startTicks] : rows) {
        if (table.Has(row, StoredRow::kEnded) || table.GetRecord(row))
            continue;
        if (std::unique_ptr<platform::ProcessHandle> handle = OpenChecked(table.Pid(row), startTicks)) {
            auto record = std::make_unique<ProcessRecord>();
            record->hProcess = std::move(handle);
            table.SetRecord(row, std::move(record));
            continue;
        }
        table.EndRow(row, now);
        m_owner.m_lines.push_back({row, CProcessMonitor::LineKind::Finished});
    }
    m_rows.clear();
    m_table = watch::CWatchTable();
}

void CServiceWatch::TellNews()
{
    std::vector<std::string> news;
    {
        std::lock_guard lock(m_clientLock);
        news.swap(m_news);
    }
    // Each change is told, not only the first of its kind: the user follows the way of
    // watching as it changes.
    for (const std::string& text : news) {
        std::fprintf(stderr, "orvane: %s\n", text.c_str());
        CProcessMonitor::NoticeCallback onNotice;
        {
            std::lock_guard lock(m_owner.m_noticeLock);
            if (!m_owner.m_onNotice) {
                m_owner.m_earlyNotices.push_back(text);
                continue;
            }
            onNotice = m_owner.m_onNotice;
        }
        onNotice(text);
    }
}

bool CServiceWatch::Wait(std::chrono::milliseconds pause)
{
    int fd;
    {
        std::lock_guard lock(m_clientLock);
        if (!m_client)
            return false;
        fd = m_client->Fd(); // closed only by this thread
    }
    const Clock::time_point deadline = Clock::now() + pause;
    std::vector<ProcessInfo> started;
    for (;;) {
        const int wait = Remaining(deadline);
        if (wait == 0)
            return true;
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (poll(fds, m_wake >= 0 ? 2 : 1, wait) < 0 && errno != EINTR)
            return true;
        if (m_wake >= 0 && fds[1].revents) {
            eventfd_t count;
            (void)eventfd_read(m_wake, &count);
            return true;
        }
        if (!fds[0].revents)
            continue;
        bool over = false;
        started.clear();
        {
            std::lock_guard lock(m_clientLock);
            const std::size_t before = m_queue.size();
            if (!m_client->Receive(m_queue, 0)) {
                Drop();
                over = true;
            }
            for (std::size_t i = before; i < m_queue.size(); ++i) {
                if (const auto* exec = std::get_if<watch::Exec>(&m_queue[i]))
                    started.push_back(exec->info);
                else if (const auto* fork = std::get_if<watch::Started>(&m_queue[i]))
                    started.push_back(fork->info);
            }
        }
        if (!started.empty())
            KillDisabled(started);
        if (over)
            return true;
    }
}

void CServiceWatch::KillDisabled(const std::vector<ProcessInfo>& started)
{
    std::error_code privilege;
    {
        std::lock_guard lock(m_owner.m_lock);
        for (const ProcessInfo& info : started) {
            if (info.name != CProcessMonitor::kOwnName && m_owner.m_disabledList.Contains(info.name))
                KillNamed(info);
        }
        privilege = std::exchange(m_owner.m_privilegeFailure, {});
    }
    m_owner.TellPrivilegeFailure(privilege);
}

void CServiceWatch::KillNamed(const ProcessInfo& info)
{
    if (std::unique_ptr<platform::ProcessHandle> handle = OpenChecked(info.pid, info.startTicks))
        m_owner.KillChecked(handle.get());
}

void CServiceWatch::Interrupt()
{
    if (m_wake >= 0)
        (void)eventfd_write(m_wake, 1);
}

bool CServiceWatch::Kill(int row)
{
    if (!m_feeding)
        return false;
    ProcessTable& table = m_owner.m_table;
    if (row < 0 || row >= table.GetRowCount() || table.Has(row, StoredRow::kEnded))
        return true;
    std::unique_ptr<platform::ProcessHandle> opened;
    platform::ProcessHandle* handle = nullptr;
    if (ProcessRecord* record = table.GetRecord(row)) {
        handle = record->hProcess.get();
    } else if (auto it = m_rows.find(table.Pid(row)); it != m_rows.end() && it->second.row == row) {
        opened = OpenChecked(table.Pid(row), it->second.startTicks);
        handle = opened.get();
    }
    if (!handle)
        return true; // gone: its exit is on its way
    const Result<> sent = handle->Kill();
    if (sent || handle->HasEnded() || sent.error() != std::errc::operation_not_permitted) {
        // Delivered, gone (its exit is on its way), or a privilege that could not be dropped
        // again, which the owner tells.
        if (!sent && sent.error().category() == platform::PrivilegeCategory() &&
            !m_owner.m_privilegeFailure)
            m_owner.m_privilegeFailure = sent.error();
        return true;
    }
    // Not this user's to kill; the service answers through KillResult, told when it refuses.
    std::lock_guard lock(m_clientLock);
    if (m_mayKill && m_client)
        (void)m_client->RequestKill(handle->Pid(), handle->StartTicks());
    return true;
}
