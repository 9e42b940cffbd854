// Process services on Linux: /proc for listing and reading, pidfds for identity and signals.

#include "platform/ProcessServices.h"

#include "platform/linux/Capabilities.h"
#include "platform/linux/KernelThreadRegistry.h"
#include "platform/linux/ProcFiles.h"

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

using procfs::KernelThreadRegistry;
using procfs::kStatBufferSize;

constexpr std::uint32_t kKthreaddPid = 2;

bool IsExited(char state) { return state == 'Z' || state == 'X'; }

// A pidfd turns readable once the whole thread group has exited (zombie or reaped).
bool PidfdReadable(int pidfd)
{
    pollfd fd{pidfd, POLLIN, 0};
    int n;
    do {
        n = poll(&fd, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR));
}

// Bytes below 0x20 and 0x7F become '?': a crafted file name must not be able to break a line
// of the event log or of the window.
std::string WithoutControlBytes(std::string text)
{
    for (char& c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return text;
}

bool ReadExeLink(std::uint32_t pid, std::string& target)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/exe", pid);
    char buffer[4097];
    ssize_t n = readlink(path, buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return false;
    target.assign(buffer, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.size() > kDeleted.size() && target.ends_with(kDeleted))
        target.resize(target.size() - kDeleted.size());
    return true;
}

bool ReadComm(std::uint32_t pid, std::string& name)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/comm", pid);
    if (!procfs::ReadWholeFile(path, name))
        return false;
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return !name.empty();
}

int PidfdOpen(std::uint32_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u));
}

bool PidfdKill(int pidfd)
{
    return syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0u) == 0;
}

} // namespace

bool EnumProcesses(std::vector<std::uint32_t>& pids)
{
    pids.clear();
    DIR* dir = opendir("/proc");
    if (!dir)
        return false;
    const std::vector<std::uint32_t> folded =
        KernelThreadRegistry::Instance().RegisteredForEnumeration();
    while (const dirent* entry = readdir(dir)) {
        std::uint32_t pid = 0;
        const char* c = entry->d_name;
        if (*c < '1' || *c > '9')
            continue;
        for (; *c >= '0' && *c <= '9'; ++c)
            pid = pid * 10 + static_cast<std::uint32_t>(*c - '0');
        if (*c != '\0')
            continue;
        if (std::binary_search(folded.begin(), folded.end(), pid))
            continue;
        pids.push_back(pid);
    }
    closedir(dir);
    return true;
}

std::unique_ptr<ProcessHandle> ProcessHandle::Open(std::uint32_t pid)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    int statfd = open(path, O_RDONLY | O_CLOEXEC);
    if (statfd < 0)
        return nullptr;

    char buffer[kStatBufferSize];
    bool readFailed = false;
    auto before = procfs::ReadStat(statfd, buffer, readFailed);
    if (!before || before->pid != pid) {
        close(statfd);
        return nullptr;
    }
    const bool kernelThread = (before->flags & procfs::kPfKthread) != 0;
    if (kernelThread && pid != kKthreaddPid) {
        KernelThreadRegistry::Instance().Add(pid, statfd, before->starttime, before->utime,
                                             before->stime);
        return nullptr;
    }

    // The pidfd names whichever process holds `pid` now. The stat descriptor reads only the
    // process it was opened on and fails once that one has been reaped; so a read through it
    // after pidfd_open that still shows the same start time proves that the process held the
    // identifier throughout, and both descriptors name it.
    int pidfd = PidfdOpen(pid);
    if (pidfd < 0) {
        close(statfd);
        return nullptr;
    }
    auto after = procfs::ReadStat(statfd, buffer, readFailed);
    // A zombie has ended: it waits only for its parent to collect it. Opened, it would come
    // back as a new process once its row has been given a finish time.
    if (!after || after->starttime != before->starttime
        || (IsExited(after->state) && PidfdReadable(pidfd))) {
        close(pidfd);
        close(statfd);
        return nullptr;
    }

    std::unique_ptr<ProcessHandle> handle(new ProcessHandle);
    handle->m_pid = pid;
    handle->m_pidfd = pidfd;
    handle->m_statfd = statfd;
    handle->m_kthreadd = kernelThread;
    handle->m_startTicks = after->starttime;
    const FileTime boot = procfs::BootTime();
    handle->m_times.creation = boot ? boot + procfs::TicksToFileTime(after->starttime) : 0;
    handle->m_times.kernel = procfs::TicksToFileTime(after->stime);
    handle->m_times.user = procfs::TicksToFileTime(after->utime);
    return handle;
}

std::unique_ptr<ProcessHandle> ProcessHandle::Ended(std::uint32_t pid, const ProcessTimes& times)
{
    std::unique_ptr<ProcessHandle> handle(new ProcessHandle);
    handle->m_pid = pid;
    handle->m_ended = true;
    handle->m_times = times;
    return handle;
}

ProcessHandle::~ProcessHandle()
{
    if (m_pidfd >= 0)
        close(m_pidfd);
    if (m_statfd >= 0)
        close(m_statfd);
}

std::uint32_t ProcessHandle::Pid() const { return m_pid; }

FileTime ProcessHandle::CreationTime() const { return m_times.creation; }

bool ProcessHandle::HasEnded() const { return m_ended; }

int ProcessHandle::DescriptorCount() const { return (m_pidfd >= 0) + (m_statfd >= 0); }

void ProcessHandle::MarkEnded()
{
    m_times.exit = GetSystemTimeAsFileTime();
    close(m_pidfd);
    close(m_statfd);
    m_pidfd = -1;
    m_statfd = -1;
    m_ended = true;
}

bool ProcessHandle::GetTimes(ProcessTimes& out)
{
    if (m_ended) {
        out = m_times;
        return true;
    }
    char buffer[kStatBufferSize];
    bool readFailed = false;
    auto stat = procfs::ReadStat(m_statfd, buffer, readFailed);
    if (!stat) {
        // A failed read means the process has been reaped; the pidfd confirms it.
        if (!readFailed || !PidfdReadable(m_pidfd))
            return false;
        MarkEnded();
        out = m_times;
        return true;
    }
    if (stat->starttime != m_startTicks) { // cannot happen for a /proc descriptor
        MarkEnded();
        out = m_times;
        return true;
    }

    std::uint64_t utime = stat->utime;
    std::uint64_t stime = stat->stime;
    if (m_kthreadd) {
        std::uint64_t threadsUtime = 0, threadsStime = 0;
        KernelThreadRegistry::Instance().SumTimes(threadsUtime, threadsStime);
        utime += threadsUtime;
        stime += threadsStime;
    }
    m_times.user = procfs::TicksToFileTime(utime);
    m_times.kernel = procfs::TicksToFileTime(stime);

    // A leader thread that has exited shows as a zombie while other threads run on; only the
    // pidfd tells whether the whole process has ended.
    if (IsExited(stat->state) && PidfdReadable(m_pidfd))
        MarkEnded();
    out = m_times;
    return true;
}

bool ProcessHandle::StillSameProcess() const
{
    if (m_ended)
        return false;
    char buffer[kStatBufferSize];
    bool readFailed = false;
    auto stat = procfs::ReadStat(m_statfd, buffer, readFailed);
    return stat && stat->starttime == m_startTicks;
}

std::string ProcessHandle::BaseName() const
{
    if (m_ended)
        return {};
    if (m_kthreadd)
        return "unknown";
    // Both files are read by identifier; a read of the handle's own descriptor afterwards
    // proves that the identifier still belonged to this process while they were read.
    std::string text;
    if (ReadExeLink(m_pid, text) && StillSameProcess()) {
        std::size_t slash = text.rfind('/');
        if (slash != std::string::npos)
            text.erase(0, slash + 1);
        if (!text.empty())
            return WithoutControlBytes(std::move(text));
    }
    if (ReadComm(m_pid, text) && StillSameProcess())
        return WithoutControlBytes(std::move(text));
    return "unknown";
}

std::string ProcessHandle::FilePath() const
{
    if (m_ended || m_kthreadd)
        return {};
    std::string text;
    if (ReadExeLink(m_pid, text) && StillSameProcess())
        return WithoutControlBytes(std::move(text));
    return {};
}

bool ProcessHandle::Kill() { return Kill(true); }

bool ProcessHandle::Kill(bool privilegedRetry)
{
    if (m_ended || m_pidfd < 0)
        return false;
    if (PidfdKill(m_pidfd))
        return true;
    if (errno != EPERM || !privilegedRetry)
        return false;
    return caps::WithCapabilityRaised(CAP_KILL, [this] { return PidfdKill(m_pidfd); });
}

std::unique_ptr<ExitWatch> ExitWatch::Create()
{
    const int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<ExitWatch> watch(new ExitWatch);
    watch->m_epoll = fd;
    return watch;
}

ExitWatch::~ExitWatch()
{
    if (m_epoll >= 0)
        close(m_epoll);
}

bool ExitWatch::Add(const ProcessHandle& handle, std::uint64_t key)
{
    if (handle.m_ended || handle.m_pidfd < 0)
        return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = key;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, handle.m_pidfd, &event) != 0)
        return false;
    ++m_watched;
    return true;
}

void ExitWatch::Remove(const ProcessHandle& handle)
{
    if (handle.m_pidfd >= 0 && epoll_ctl(m_epoll, EPOLL_CTL_DEL, handle.m_pidfd, nullptr) == 0)
        --m_watched;
}

void ExitWatch::TakeEnded(std::vector<std::uint64_t>& keys)
{
    // Level-triggered: an ended process stays ready until removed, so one call with room for
    // every watched process reports each of them once.
    m_events.resize(std::max<std::size_t>(m_watched, 1));
    int n;
    do {
        n = epoll_wait(m_epoll, m_events.data(), static_cast<int>(m_events.size()), 0);
    } while (n < 0 && errno == EINTR);
    for (int i = 0; i < n; ++i)
        keys.push_back(m_events[static_cast<std::size_t>(i)].data.u64);
}

FileTime GetSystemTimeAsFileTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return kUnixEpochAsFileTime + static_cast<FileTime>(now.tv_sec) * 10'000'000 +
           static_cast<FileTime>(now.tv_nsec) / 100;
}

void RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max)
        return;
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
        return;
    // An unlimited hard limit cannot be the soft one: the kernel caps it at fs.nr_open.
    std::string text;
    if (!procfs::ReadWholeFile("/proc/sys/fs/nr_open", text))
        return;
    rlim_t nrOpen = std::strtoull(text.c_str(), nullptr, 10);
    if (nrOpen > limit.rlim_cur) {
        raised.rlim_cur = std::min(nrOpen, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &raised);
    }
}

} // namespace platform
