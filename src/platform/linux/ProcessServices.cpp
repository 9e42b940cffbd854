// Process services on Linux: /proc for listing and reading, pidfds for identity and signals.

#include "platform/ProcessServices.h"

#include "linux/Capabilities.h"
#include "linux/DescriptorBudget.h"
#include "linux/KernelThreadRegistry.h"
#include "linux/ProcFiles.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
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

// The target of an exe link of /proc (`path` relative to `dir`; an empty path reads the link
// that `dir` is), without a trailing " (deleted)".
Result<std::string> ReadExeTarget(int dir, const char* path)
{
    char buffer[4097];
    const ssize_t n = readlinkat(dir, path, buffer, sizeof buffer);
    if (n < 0)
        return LastError();
    if (n == 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return std::errc::filename_too_long;
    std::string target(buffer, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.size() > kDeleted.size() && target.ends_with(kDeleted))
        target.resize(target.size() - kDeleted.size());
    return target;
}

// The executable of process `pid`, through `exefd` (its exe link, kept open) when there is
// one, else by path. The link is the first thread's: once that thread has exited while others
// run on, it reads as ENOENT (a program may rename that thread and end it to pass under another
// name), and any live thread's link tells the executable. Read by identifier, that thread's
// link may be a newer process's if this one has gone: callers prove the identity.
Result<std::string> ReadExeLink(std::uint32_t pid, int exefd = -1)
{
    char path[64] = "";
    if (exefd < 0)
        std::snprintf(path, sizeof path, "/proc/%u/exe", pid);
    Result<std::string> target = ReadExeTarget(exefd >= 0 ? exefd : AT_FDCWD, path);
    if (target || target.error() != std::errc::no_such_file_or_directory)
        return target;
    std::snprintf(path, sizeof path, "/proc/%u/task", pid);
    DIR* tasks = opendir(path);
    if (!tasks)
        return target;
    while (const dirent* entry = readdir(tasks)) {
        char* end = nullptr;
        const unsigned long tid = std::strtoul(entry->d_name, &end, 10);
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || *end != '\0' || tid == pid)
            continue;
        std::snprintf(path, sizeof path, "/proc/%u/task/%lu/exe", pid, tid);
        if (Result<std::string> thread = ReadExeTarget(AT_FDCWD, path)) {
            closedir(tasks);
            return thread;
        }
    }
    closedir(tasks);
    return target;
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

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

void CloseIfOpen(int fd)
{
    if (fd >= 0)
        close(fd);
}

// The stat of the process that a handle names: through its descriptor where it keeps one,
// otherwise by path, where the identifier may have passed to a newer process (a different
// start time), which means that the handle's process has gone.
std::optional<procfs::ProcStat> ReadOwnStat(std::uint32_t pid, int statfd, std::uint64_t startTicks,
                                            char (&buffer)[kStatBufferSize], bool& gone)
{
    if (statfd >= 0)
        return procfs::ReadStat(statfd, buffer, gone);
    auto stat = procfs::ReadStatByPath(pid, buffer, gone);
    if (stat && stat->starttime != startTicks) {
        gone = true;
        return std::nullopt;
    }
    return stat;
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

std::optional<TaskMark> ParseTaskMark(std::string_view loadavg)
{
    // Three load averages, then "running/tasks", then the last identifier given out.
    std::string_view fields[5];
    for (std::string_view& field : fields) {
        const std::size_t end = std::min(loadavg.find_first_of(" \n"), loadavg.size());
        field = loadavg.substr(0, end);
        loadavg.remove_prefix(std::min(end + 1, loadavg.size()));
    }
    const std::size_t slash = fields[3].find('/');
    TaskMark mark;
    auto number = [](std::string_view text, std::uint32_t& out) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
        return error == std::errc() && end == text.data() + text.size() && !text.empty();
    };
    if (slash == std::string_view::npos || !number(fields[3].substr(slash + 1), mark.tasks)
        || !number(fields[4], mark.lastPid))
        return std::nullopt;
    return mark;
}

namespace {

// The mark of /proc/loadavg counts in this program's own pid namespace, the list in that of
// the /proc mounted: the two agree when /proc names this program by its own identifier.
bool ProcCountsLikeThisProgram()
{
    static const bool same = [] {
        char link[32] = {};
        const ssize_t n = readlink("/proc/self", link, sizeof link - 1);
        return n > 0 && std::strtoul(link, nullptr, 10) == static_cast<unsigned long>(getpid());
    }();
    return same;
}

std::optional<TaskMark> ReadTaskMark(FileDescriptor& file)
{
    if (!ProcCountsLikeThisProgram())
        return std::nullopt;
    // Kept open and read from its start each time, as the exit and name reads do: a pass
    // spends no path walk on it.
    if (!file.Valid())
        file = FileDescriptor(open("/proc/loadavg", O_RDONLY | O_CLOEXEC));
    if (!file.Valid())
        return std::nullopt;
    char text[128];
    ssize_t n;
    do {
        n = pread(file.Get(), text, sizeof text, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return std::nullopt;
    return ParseTaskMark({text, static_cast<std::size_t>(n)});
}

} // namespace

bool ProcessListing::Update()
{
    // Read before the list, so that a task made while the list is read changes the next mark.
    const std::optional<TaskMark> mark = ReadTaskMark(m_markFile);
    if (mark && m_listed && *mark == *m_listed && ++m_kept < kKeptUpdates) {
        // Kernel threads met since the listing are folded into kthreadd.
        const std::vector<std::uint32_t> folded = KernelThreadRegistry::Instance().Registered();
        std::erase_if(m_pids, [&](std::uint32_t pid) {
            return std::binary_search(folded.begin(), folded.end(), pid);
        });
        return true;
    }
    m_listed.reset();
    m_kept = 0;
    ++m_listings;
    if (!EnumProcesses(m_pids))
        return false;
    m_listed = mark;
    return true;
}

std::unique_ptr<ProcessHandle> ProcessHandle::Open(std::uint32_t pid)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    int statfd = open(path, O_RDONLY | O_CLOEXEC);
    if (statfd < 0) {
        if (OutOfDescriptors(errno))
            procfs::NoteDescriptorShortage();
        return nullptr;
    }

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

    // kthreadd's name never changes and it has no executable: it needs neither the comm
    // descriptor nor the one of its exe link.
    const int wanted = kernelThread ? 2 : 4;
    bool keep = procfs::TryHoldDescriptors(wanted);
    int commfd = -1;
    int exefd = -1;
    int openError = 0;
    if (keep && !kernelThread) {
        std::snprintf(path, sizeof path, "/proc/%u/comm", pid);
        commfd = open(path, O_RDONLY | O_CLOEXEC);
        openError = commfd < 0 ? errno : 0;
        // The link itself, not its target: read again, it names the executable of the moment,
        // without a walk through /proc (measured at about 0.6 of the cost of a read by path),
        // and it reads as nothing once the process is gone, whatever took its identifier since.
        std::snprintf(path, sizeof path, "/proc/%u/exe", pid);
        exefd = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (exefd < 0)
            openError = errno;
    }
    // The pidfd names whichever process holds `pid` now. The stat descriptor reads only the
    // process it was opened on and fails once that one has been reaped; so a read through it
    // after pidfd_open that still shows the same start time proves that the process held the
    // identifier throughout, and every descriptor opened meanwhile names it.
    int pidfd = PidfdOpen(pid);
    if (pidfd < 0)
        openError = errno;
    const bool pidGone = pidfd < 0 && openError == ESRCH;
    auto after = procfs::ReadStat(statfd, buffer, readFailed);
    // A zombie has ended: it waits only for its parent to collect it. Opened, it would come
    // back as a new process once its row has been given a finish time. Without a pidfd to
    // ask, it is taken for ended and met again on a later pass.
    if (!after || after->starttime != before->starttime || pidGone
        || (IsExited(after->state) && (pidfd < 0 || PidfdReadable(pidfd)))) {
        CloseIfOpen(pidfd);
        CloseIfOpen(commfd);
        CloseIfOpen(exefd);
        close(statfd);
        if (keep)
            procfs::ReleaseDescriptors(wanted);
        return nullptr;
    }
    if (keep && (pidfd < 0 || (!kernelThread && (commfd < 0 || exefd < 0)))) {
        if (OutOfDescriptors(openError)) // the limit is shared with the rest of the program
            procfs::NoteDescriptorShortage();
        procfs::ReleaseDescriptors(wanted);
        keep = false;
    }

    std::unique_ptr<ProcessHandle> handle(new ProcessHandle);
    handle->m_pid = pid;
    if (keep) {
        handle->m_pidfd = pidfd;
        handle->m_statfd = statfd;
        handle->m_commfd = commfd;
        handle->m_exefd = exefd;
    } else {
        // Kept none: every later read goes by path and is proven by the start time.
        CloseIfOpen(pidfd);
        CloseIfOpen(commfd);
        CloseIfOpen(exefd);
        close(statfd);
    }
    handle->m_kthreadd = kernelThread;
    handle->m_startTicks = after->starttime;
    const std::size_t commLength = std::min(after->comm.size(), sizeof handle->m_comm - 1);
    std::memcpy(handle->m_comm, after->comm.data(), commLength);
    const FileTime boot = procfs::BootTime();
    handle->m_times.creation = boot ? boot + procfs::TicksToFileTime(after->starttime) : 0;
    handle->m_times.kernel = procfs::TicksToFileTime(after->stime);
    handle->m_times.user = procfs::TicksToFileTime(after->utime);
    return handle;
}

ProcessHandle::~ProcessHandle()
{
    if (const int kept = DescriptorCount()) {
        CloseIfOpen(m_pidfd);
        CloseIfOpen(m_statfd);
        CloseIfOpen(m_commfd);
        CloseIfOpen(m_exefd);
        procfs::ReleaseDescriptors(kept);
    }
}

std::uint32_t ProcessHandle::Pid() const { return m_pid; }

std::uint64_t ProcessHandle::StartTicks() const { return m_startTicks; }

FileTime ProcessHandle::CreationTime() const { return m_times.creation; }

bool ProcessHandle::HasEnded() const { return m_ended; }

int ProcessHandle::DescriptorCount() const
{
    return (m_pidfd >= 0) + (m_statfd >= 0) + (m_commfd >= 0) + (m_exefd >= 0);
}

void ProcessHandle::MarkEnded()
{
    m_times.exit = GetSystemTimeAsFileTime();
    if (const int kept = DescriptorCount()) {
        CloseIfOpen(m_pidfd);
        CloseIfOpen(m_statfd);
        CloseIfOpen(m_commfd);
        CloseIfOpen(m_exefd);
        procfs::ReleaseDescriptors(kept);
    }
    m_pidfd = -1;
    m_statfd = -1;
    m_commfd = -1;
    m_exefd = -1;
    m_ended = true;
}

bool ProcessHandle::Exited() const
{
    if (m_pidfd >= 0)
        return PidfdReadable(m_pidfd);
    const int pidfd = PidfdOpen(m_pid);
    if (pidfd < 0)
        return errno == ESRCH; // collected meanwhile
    // Should the identifier have passed to a newer process since the stat read, its pidfd is
    // not readable: the next read by path finds the other start time.
    const bool exited = PidfdReadable(pidfd);
    close(pidfd);
    return exited;
}

int ProcessHandle::OpenPidfdForMoment() const
{
    const int pidfd = PidfdOpen(m_pid);
    if (pidfd < 0) {
        if (OutOfDescriptors(errno))
            procfs::NoteDescriptorShortage();
        return -1;
    }
    // As at open: a read after pidfd_open that still shows the start time proves that the
    // pidfd names this process.
    if (!StillSameProcess()) {
        close(pidfd);
        return -1;
    }
    return pidfd;
}

bool ProcessHandle::GetTimes(ProcessTimes& out)
{
    if (m_ended) {
        out = m_times;
        return true;
    }
    char buffer[kStatBufferSize];
    bool gone = false;
    auto stat = ReadOwnStat(m_pid, m_statfd, m_startTicks, buffer, gone);
    if (!stat) {
        // A failed read means the process has been reaped; a kept pidfd confirms it.
        if (!gone || (m_pidfd >= 0 && !PidfdReadable(m_pidfd)))
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
    if (IsExited(stat->state) && Exited())
        MarkEnded();
    out = m_times;
    return true;
}

bool ProcessHandle::StillSameProcess() const
{
    if (m_ended)
        return false;
    char buffer[kStatBufferSize];
    bool gone = false;
    auto stat = ReadOwnStat(m_pid, m_statfd, m_startTicks, buffer, gone);
    return stat && stat->starttime == m_startTicks;
}

bool ProcessHandle::CommandNameChanged()
{
    if (m_ended || m_kthreadd)
        return false;
    char text[64];
    long n;
    if (m_commfd >= 0) {
        do {
            n = pread(m_commfd, text, sizeof text, 0);
        } while (n < 0 && errno == EINTR);
    } else {
        char path[32];
        std::snprintf(path, sizeof path, "/proc/%u/comm", m_pid);
        bool gone = false;
        n = procfs::ReadSmallFile(path, text, sizeof text, gone);
    }
    if (n <= 0)
        return false;
    auto length = static_cast<std::size_t>(n);
    if (text[length - 1] == '\n')
        --length;
    length = std::min(length, sizeof m_comm - 1);
    if (length == std::strlen(m_comm) && std::memcmp(text, m_comm, length) == 0)
        return false;
    // Read by path, the name may be a newer process's: the start time read afterwards tells.
    if (m_commfd < 0 && !StillSameProcess())
        return false;
    std::memcpy(m_comm, text, length);
    m_comm[length] = '\0';
    return true;
}

Result<bool> ProcessHandle::ExecutableDiffers(std::string_view known) const
{
    if (m_ended || m_kthreadd)
        return std::errc::no_such_process;
    Result<std::string> exe = ReadExeLink(m_pid, m_exefd);
    if (!exe)
        return exe.error();
    return WithoutControlBytes(std::move(*exe)) != known;
}

void ProcessHandle::BeganProgram(FileTime seen)
{
    if (!m_ended)
        m_times.creation = seen;
}

std::string ProcessHandle::BaseName() const
{
    if (m_ended)
        return {};
    if (m_kthreadd)
        return "unknown";
    // Both files are read by identifier; a read of the handle's own descriptor afterwards
    // proves that the identifier still belonged to this process while they were read.
    if (Result<std::string> exe = ReadExeLink(m_pid); exe && StillSameProcess()) {
        std::string text = std::move(*exe);
        std::size_t slash = text.rfind('/');
        if (slash != std::string::npos)
            text.erase(0, slash + 1);
        if (!text.empty())
            return WithoutControlBytes(std::move(text));
    }
    std::string text;
    if (ReadComm(m_pid, text) && StillSameProcess())
        return WithoutControlBytes(std::move(text));
    return "unknown";
}

std::string ProcessHandle::FilePath() const
{
    if (m_ended || m_kthreadd)
        return {};
    if (Result<std::string> exe = ReadExeLink(m_pid); exe && StillSameProcess())
        return WithoutControlBytes(std::move(*exe));
    return {};
}

Result<bool> ProcessHandle::Kill()
{
    if (m_ended)
        return false;
    const int pidfd = m_pidfd >= 0 ? m_pidfd : OpenPidfdForMoment();
    if (pidfd < 0)
        return false;
    Result<bool> sent = PidfdKill(pidfd);
    const bool refused = !*sent && errno == EPERM;
    if (refused)
        sent = caps::WithCapabilityRaised(CAP_KILL, [pidfd] { return PidfdKill(pidfd); });
    if (pidfd != m_pidfd)
        close(pidfd);
    return sent;
}

const std::error_category& PrivilegeCategory()
{
    static const struct : std::error_category {
        const char* name() const noexcept override { return "privilege"; }
        std::string message(int value) const override
        {
            switch (static_cast<PrivilegeError>(value)) {
            case PrivilegeError::GivenUp:
                return "CAP_KILL could not be dropped again; every capability was given up";
            case PrivilegeError::StillRaised:
                return "CAP_KILL could not be dropped again";
            }
            return "privilege error";
        }
    } category;
    return category;
}

std::error_code make_error_code(PrivilegeError error)
{
    return {static_cast<int>(error), PrivilegeCategory()};
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
    // A handle that has seen its exit has closed its pidfd, which left the set with it.
    if (handle.m_pidfd >= 0)
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, handle.m_pidfd, nullptr);
    if (m_watched > 0)
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

unsigned ProcessorCount()
{
    static const unsigned count = [] {
        const long configured = sysconf(_SC_NPROCESSORS_CONF);
        return configured > 0 ? static_cast<unsigned>(configured) : 1u;
    }();
    return count;
}

std::uint64_t FileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return UINT64_MAX;
    return limit.rlim_cur;
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
