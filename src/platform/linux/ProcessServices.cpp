// Process services on Linux: /proc for listing and reading, pidfds for identity and signals.

#include "platform/ProcessServices.h"

#include "linux/Capabilities.h"
#include "linux/DescriptorBudget.h"
#include "linux/KernelThreadRegistry.h"
#include "linux/ProcFiles.h"
#include "platform/FileIo.h"

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
    Result<std::string> target = exefd >= 0
        ? ReadExeTarget(exefd, "")
        : ReadExeTarget(AT_FDCWD, procfs::ProcessFilePath(pid, "exe").c_str());
    if (target || target.error() != std::errc::no_such_file_or_directory)
        return target;
    const Result<procfs::ProcessDir> dir = procfs::ProcessDir::Open(pid);
    if (!dir)
        return target;
    Result<FileDescriptor> taskFd = dir->OpenFile("task", O_RDONLY | O_DIRECTORY);
    DIR* tasks = taskFd ? fdopendir(taskFd->Get()) : nullptr;
    if (!tasks)
        return target;
    taskFd->Release(); // closedir closes it
    while (const dirent* entry = readdir(tasks)) {
        char* end = nullptr;
        const unsigned long tid = std::strtoul(entry->d_name, &end, 10);
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || *end != '\0' || tid == pid)
            continue;
        char path[48];
        std::snprintf(path, sizeof path, "task/%lu/exe", tid);
        if (Result<std::string> thread = ReadExeTarget(dir->Fd(), path)) {
            closedir(tasks);
            return thread;
        }
    }
    closedir(tasks);
    return target;
}

// The kernel's command name of `pid` (at most 15 bytes and a line break: one small read).
bool ReadComm(std::uint32_t pid, std::string& name)
{
    char text[64];
    const Result<std::size_t> n =
        procfs::ReadSmallFile(procfs::ProcessFilePath(pid, "comm").c_str(), text, sizeof text);
    if (!n)
        return false;
    name.assign(text, *n);
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return !name.empty();
}

int PidfdOpen(std::uint32_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u));
}

Result<> PidfdKill(int pidfd)
{
    if (syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0u) != 0)
        return LastError();
    return {};
}

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// Opens file `name` of process `pid` by path; -1 with errno set on failure, a shortage of
// descriptors noted.
int OpenProcessFile(std::uint32_t pid, const char* name, int flags)
{
    const int fd = open(procfs::ProcessFilePath(pid, name).c_str(), flags | O_CLOEXEC);
    if (fd < 0 && OutOfDescriptors(errno)) {
        const int error = errno;
        procfs::NoteDescriptorShortage();
        errno = error;
    }
    return fd;
}

void CloseIfOpen(int fd)
{
    if (fd >= 0)
        close(fd);
}

// The descriptors that ProcessHandle::Open gathers, -1 where none is open; closed by Close
// unless the handle takes them.
struct OpenedFiles {
    int stat = -1, comm = -1, exe = -1, pid = -1;
    int error = 0; // errno of the last open that failed

    // Every descriptor a handle of its kind keeps.
    bool Complete(bool kernelThread) const
    {
        return pid >= 0 && (kernelThread || (comm >= 0 && exe >= 0));
    }
    void Close()
    {
        for (int* fd : {&pid, &comm, &exe, &stat}) {
            CloseIfOpen(*fd);
            *fd = -1;
        }
    }
};

// Opens the stat file of `pid` into `files` and reads it. Each file of a handle is opened by
// path, one open apiece: the proof after the pidfd makes them one process's files, so opening
// the process's folder first would only add an open.
Result<procfs::ProcStat> OpenStat(std::uint32_t pid, OpenedFiles& files, char (&buffer)[kStatBufferSize])
{
    files.stat = OpenProcessFile(pid, "stat", O_RDONLY);
    if (files.stat < 0)
        return LastError();
    Result<procfs::ProcStat> stat = procfs::ReadStat(files.stat, buffer);
    if (stat && stat->pid != pid)
        stat = std::errc::no_such_process;
    if (!stat)
        files.Close();
    return stat;
}

// The descriptors of the command name and of the exe link.
void OpenNameFiles(std::uint32_t pid, OpenedFiles& files)
{
    files.comm = OpenProcessFile(pid, "comm", O_RDONLY);
    files.error = files.comm < 0 ? errno : 0;
    // The link itself, not its target: read again, it names the executable of the moment,
    // without a walk through /proc (measured at about 0.6 of the cost of a read by path),
    // and it reads as nothing once the process is gone, whatever took its identifier since.
    files.exe = OpenProcessFile(pid, "exe", O_PATH | O_NOFOLLOW);
    if (files.exe < 0)
        files.error = errno;
}

// Opens the pidfd and reads the stat descriptor again: the stat of a process that has held
// `pid` since it started at `startTicks`, or ESRCH.
//
// The pidfd names whichever process holds `pid` now. The stat descriptor reads only the
// process it was opened on and fails once that one has been reaped; so a read through it
// after pidfd_open that still shows the same start time proves that the process held the
// identifier throughout, and every descriptor opened meanwhile names it.
Result<procfs::ProcStat> ReadAgainWithPidfd(std::uint32_t pid, std::uint64_t startTicks,
                                            OpenedFiles& files, char (&buffer)[kStatBufferSize])
{
    files.pid = PidfdOpen(pid);
    if (files.pid < 0)
        files.error = errno;
    const bool pidGone = files.pid < 0 && files.error == ESRCH;
    Result<procfs::ProcStat> after = procfs::ReadStat(files.stat, buffer);
    // A zombie has ended: it waits only for its parent to collect it. Opened, it would come
    // back as a new process once its row has been given a finish time. Without a pidfd to
    // ask, it is taken for ended and met again on a later pass.
    if (!after || after->starttime != startTicks || pidGone
        || (IsExited(after->state) && (files.pid < 0 || PidfdReadable(files.pid))))
        return std::errc::no_such_process;
    return after;
}

// The stat of the process that a handle names: through its descriptor where it keeps one,
// otherwise by path, where the identifier may have passed to a newer process (a different
// start time), which means that the handle's process has gone (ESRCH).
Result<procfs::ProcStat> ReadOwnStat(std::uint32_t pid, int statfd, std::uint64_t startTicks,
                                     char (&buffer)[kStatBufferSize])
{
    if (statfd >= 0)
        return procfs::ReadStat(statfd, buffer);
    Result<procfs::ProcStat> stat = procfs::ReadStatByPath(pid, buffer);
    if (stat && stat->starttime != startTicks)
        return std::errc::no_such_process;
    return stat;
}

} // namespace

Result<std::vector<std::uint32_t>> EnumProcesses()
{
    std::vector<std::uint32_t> pids;
    DIR* dir = opendir("/proc");
    if (!dir) {
        const std::error_code error = LastError();
        if (OutOfDescriptors(error.value()))
            procfs::NoteDescriptorShortage();
        return error;
    }
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
    return pids;
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
        return std::nullopt; // every update lists then
    return ParseTaskMark({text, static_cast<std::size_t>(n)});
}

} // namespace

Result<> ProcessListing::Update()
{
    // Read before the list, so that a task made while the list is read changes the next mark.
    const std::optional<TaskMark> mark = ReadTaskMark(m_markFile);
    if (mark && m_listed && *mark == *m_listed && ++m_kept < kKeptUpdates) {
        // Kernel threads met since the listing are folded into kthreadd.
        const std::vector<std::uint32_t> folded = KernelThreadRegistry::Instance().Registered();
        std::erase_if(m_pids, [&](std::uint32_t pid) {
            return std::binary_search(folded.begin(), folded.end(), pid);
        });
        return {};
    }
    m_listed.reset();
    m_kept = 0;
    ++m_listings;
    Result<std::vector<std::uint32_t>> listed = EnumProcesses();
    if (!listed) {
        m_pids.clear();
        return listed.error();
    }
    m_pids = std::move(*listed);
    m_listed = mark;
    return {};
}

std::unique_ptr<ProcessHandle> ProcessHandle::Open(std::uint32_t pid)
{
    OpenedFiles files;
    char buffer[kStatBufferSize];
    const Result<procfs::ProcStat> before = OpenStat(pid, files, buffer);
    if (!before)
        return nullptr;
    const bool kernelThread = (before->flags & procfs::kPfKthread) != 0;
    if (kernelThread && pid != kKthreaddPid) {
        KernelThreadRegistry::Instance().Add(pid, files.stat, before->starttime, before->utime,
                                             before->stime);
        return nullptr;
    }

    // kthreadd's name never changes and it has no executable: it needs neither the comm
    // descriptor nor the one of its exe link.
    const int wanted = kernelThread ? 2 : 4;
    bool keep = procfs::TryHoldDescriptors(wanted);
    if (keep && !kernelThread)
        OpenNameFiles(pid, files);
    const Result<procfs::ProcStat> after = ReadAgainWithPidfd(pid, before->starttime, files, buffer);
    if (!after) {
        files.Close();
        if (keep)
            procfs::ReleaseDescriptors(wanted);
        return nullptr;
    }
    if (keep && !files.Complete(kernelThread)) {
        if (OutOfDescriptors(files.error)) // the limit is shared with the rest of the program
            procfs::NoteDescriptorShortage();
        procfs::ReleaseDescriptors(wanted);
        keep = false;
    }

    std::unique_ptr<ProcessHandle> handle(new ProcessHandle);
    handle->m_pid = pid;
    if (keep)
        handle->KeepDescriptors(files.pid, files.stat, files.comm, files.exe);
    else // kept none: every later read goes by path and is proven by the start time
        files.Close();
    handle->SetFirstStat(kernelThread, *after);
    return handle;
}

void ProcessHandle::KeepDescriptors(int pidfd, int statfd, int commfd, int exefd)
{
    m_pidfd = pidfd;
    m_statfd = statfd;
    m_commfd = commfd;
    m_exefd = exefd;
}

void ProcessHandle::SetFirstStat(bool kernelThread, const procfs::ProcStat& stat)
{
    m_kthreadd = kernelThread;
    m_startTicks = stat.starttime;
    const std::size_t commLength = std::min(stat.comm.size(), sizeof m_comm - 1);
    std::memcpy(m_comm, stat.comm.data(), commLength);
    const FileTime boot = procfs::BootTime();
    m_times.creation = boot ? boot + procfs::TicksToFileTime(stat.starttime) : 0;
    m_times.kernel = procfs::TicksToFileTime(stat.stime);
    m_times.user = procfs::TicksToFileTime(stat.utime);
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

Result<ProcessTimes> ProcessHandle::GetTimes()
{
    if (m_ended)
        return m_times;
    char buffer[kStatBufferSize];
    const Result<procfs::ProcStat> stat = ReadOwnStat(m_pid, m_statfd, m_startTicks, buffer);
    if (!stat) {
        // A failed read means the process has been reaped; a kept pidfd confirms it.
        if (!procfs::IsGone(stat.error()) || (m_pidfd >= 0 && !PidfdReadable(m_pidfd)))
            return stat.error();
        MarkEnded();
        return m_times;
    }
    if (stat->starttime != m_startTicks) { // cannot happen for a /proc descriptor
        MarkEnded();
        return m_times;
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
    return m_times;
}

bool ProcessHandle::StillSameProcess() const
{
    if (m_ended)
        return false;
    char buffer[kStatBufferSize];
    const Result<procfs::ProcStat> stat = ReadOwnStat(m_pid, m_statfd, m_startTicks, buffer);
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
        const procfs::ProcessFilePath path(m_pid, "comm");
        n = static_cast<long>(procfs::ReadSmallFile(path.c_str(), text, sizeof text).value_or(0));
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
        return std::string(kUnknownName);
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
    return std::string(kUnknownName);
}

std::string ProcessHandle::FilePath() const
{
    if (m_ended || m_kthreadd)
        return {};
    if (Result<std::string> exe = ReadExeLink(m_pid); exe && StillSameProcess())
        return WithoutControlBytes(std::move(*exe));
    return {};
}

Result<> ProcessHandle::Kill()
{
    if (m_ended)
        return std::errc::no_such_process;
    const int pidfd = m_pidfd >= 0 ? m_pidfd : OpenPidfdForMoment();
    if (pidfd < 0)
        return std::errc::no_such_process;
    Result<> sent = PidfdKill(pidfd);
    if (sent.error() == std::errc::operation_not_permitted)
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

Result<std::unique_ptr<ExitWatch>> ExitWatch::Create()
{
    const int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0)
        return LastError();
    std::unique_ptr<ExitWatch> watch(new ExitWatch);
    watch->m_epoll = fd;
    return watch;
}

ExitWatch::~ExitWatch()
{
    if (m_epoll >= 0)
        close(m_epoll);
}

Result<> ExitWatch::Add(const ProcessHandle& handle, std::uint64_t key)
{
    if (handle.m_ended)
        return std::errc::no_such_process;
    if (handle.m_pidfd < 0)
        return std::errc::bad_file_descriptor;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = key;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, handle.m_pidfd, &event) != 0)
        return LastError();
    ++m_watched;
    return {};
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
    // epoll_event is packed: its 64-bit data is copied out, never bound to a reference.
    for (int i = 0; i < n; ++i) {
        const std::uint64_t key = m_events[static_cast<std::size_t>(i)].data.u64;
        keys.push_back(key);
    }
}

std::string WithoutControlBytes(std::string text)
{
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return text;
}

FileTime GetSystemTimeAsFileTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return kUnixEpochAsFileTime + static_cast<FileTime>(now.tv_sec) * kFileTimePerSecond +
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

Result<> RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return LastError();
    if (limit.rlim_cur == limit.rlim_max)
        return {};
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
        return {};
    // An unlimited hard limit cannot be the soft one: the kernel caps it at fs.nr_open.
    const Result<std::string> text = ReadSystemFile("/proc/sys/fs/nr_open");
    if (!text)
        return text.error();
    rlim_t nrOpen = std::strtoull(text->c_str(), nullptr, 10);
    if (nrOpen <= limit.rlim_cur) // as high as the kernel lets it be already
        return {};
    raised.rlim_cur = std::min(nrOpen, limit.rlim_max);
    if (setrlimit(RLIMIT_NOFILE, &raised) != 0)
        return LastError();
    return {};
}

} // namespace platform
