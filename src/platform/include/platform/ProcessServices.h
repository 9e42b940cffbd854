#pragma once
// Process services of the operating system, as the monitor, the process table and process
// termination rely on them. One implementation per OS (linux/ now), chosen by CMake.
//
// Times are FileTime values: 64-bit counts of 100-nanosecond units since 1601-01-01 UTC.
// Every call about another process may fail because that process has ended meanwhile: that
// is the normal, silent "cannot be opened" / "cannot be read" path, which the caller is given
// (ENOENT, ESRCH) and never reports.

#include "platform/FileDescriptor.h"
#include "platform/Result.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct epoll_event;

namespace platform {
namespace procfs {
struct ProcStat;
}

using FileTime = std::uint64_t;

// FileTime units in a second.
constexpr FileTime kFileTimePerSecond = 10'000'000;
// Difference between 1601-01-01 and 1970-01-01 in 100-ns units.
constexpr FileTime kUnixEpochAsFileTime = 116444736000000000ULL;

// The name of a process that could not be named, and the name a row takes when its process
// still cannot be named at a later pass (a kernel process, say).
constexpr std::string_view kUnknownName = "unknown";
constexpr std::string_view kSystemName = "System";

struct ProcessTimes {
    FileTime creation = 0; // 0 when not known
    FileTime exit = 0;     // 0 while the process runs; then the time its exit was first seen
    FileTime kernel = 0;   // processor time in kernel mode (stime), 100-ns units
    FileTime user = 0;     // processor time in user mode (utime), 100-ns units
};

// Lists the process identifiers of this machine (the numeric entries of /proc: processes,
// not threads), in the order the system gives them, without cap. Kernel threads already
// known to be folded into kthreadd (see ProcessHandle::Open) are left out. Fails when /proc
// cannot be listed at all.
Result<std::vector<std::uint32_t>> EnumProcesses();

// What the kernel tells in one small read of the tasks it has made: the last process
// identifier it gave out and the number of tasks (processes and threads) it holds. A task
// that starts or is collected changes one of the two (for the one exception, see
// ProcessListing).
struct TaskMark {
    std::uint32_t lastPid = 0;
    std::uint32_t tasks = 0;
    bool operator==(const TaskMark&) const = default;
};

// Parses the text of /proc/loadavg ("0.00 0.01 0.05 1/234 5678").
std::optional<TaskMark> ParseTaskMark(std::string_view loadavg);

// The process list of the monitor's passes. It lists /proc (as EnumProcesses) only when a
// task may have started or been collected since its last listing: between two equal task
// marks, the one read before that listing and the one read now, no process can have appeared
// or gone, so the last listing still holds, less the kernel threads folded since. Where the
// mark cannot be read, or this program's identifiers are not those of the /proc it lists
// (the /proc of another pid namespace), every update lists. A process made with an identifier
// chosen by its maker (clone3 with set_tid, privileged: a restore of saved processes) leaves
// the last identifier as it was, and the task count too if another task is collected
// meanwhile; so every kKeptUpdates-th update lists whatever the mark, which bounds that gap.
class ProcessListing {
public:
    static constexpr int kKeptUpdates = 20; // ten seconds at the monitor's pace

    // Brings Pids() up to date. Fails, with Pids() empty, when the list cannot be read.
    Result<> Update();
    // The processes as EnumProcesses gives them.
    const std::vector<std::uint32_t>& Pids() const { return m_pids; }
    // How many updates read /proc's list.
    std::uint64_t Listings() const { return m_listings; }

private:
    std::vector<std::uint32_t> m_pids;
    std::optional<TaskMark> m_listed; // the mark read before the last listing
    FileDescriptor m_markFile;        // /proc/loadavg, kept open: each update reads it again
    std::uint64_t m_listings = 0;
    int m_kept = 0; // updates since the last listing
};

// A handle on one process: its start time, checked on every read, so a reused identifier
// never mixes two processes. While descriptors are plentiful the handle keeps four: a pidfd,
// descriptors of /proc/<pid>/stat and /proc/<pid>/comm and one of the link /proc/<pid>/exe
// itself, all checked at open to name the same process. When the program runs short of
// descriptors (see DescriptorsRanShort) the handle keeps none: it reads those files by path
// and proves each read by the start time, and opens a pidfd only for the moment it needs one.
// Both kinds behave alike. Once the exit has been seen the handle releases its descriptors and
// keeps only its last times.
//
// Not thread-safe by itself: the owner serialises calls on one handle.
class ProcessHandle {
public:
    // Opens `pid`. Returns null when the process is gone, its /proc entry cannot be read,
    // or it is a kernel thread other than kthreadd (pid 2). A kernel thread met here is
    // folded into kthreadd: from then on EnumProcesses leaves it out and kthreadd's times
    // include its times, until it ends.
    static std::unique_ptr<ProcessHandle> Open(std::uint32_t pid);

    ~ProcessHandle();
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    std::uint32_t Pid() const;
    // Its start time as the kernel counts it ((22) starttime of /proc/<pid>/stat), which names
    // the process together with its identifier.
    std::uint64_t StartTicks() const;
    // The creation time read at Open (0 when not known); reads nothing.
    FileTime CreationTime() const;

    // Reads the current times. While the process runs: creation, exit 0, kernel and user
    // times of the whole thread group (for kthreadd: summed over all kernel threads). When
    // the exit is seen (the process is gone, a zombie, or its pidfd is readable) the exit
    // time becomes the current system time, the descriptors are released and the last
    // times read are kept; every later call returns those same times and succeeds.
    // Fails only when a live process's times cannot be read.
    Result<ProcessTimes> GetTimes();

    // True once the exit has been seen (descriptors released).
    bool HasEnded() const;

    // Number of descriptors the handle holds now: 4 while live (2 for kthreadd), 0 once
    // ended or when it was opened short of descriptors.
    int DescriptorCount() const;

    // Whether the kernel's command name (/proc/<pid>/comm) differs from the one it had at
    // the previous call (at the first call: at open). Cheap enough for every pass: one read.
    // A new name may mean a new program (exec) or only a rename (prctl); the executable tells
    // which. False for an ended handle, kthreadd, or a name that cannot be read now.
    bool CommandNameChanged();

    // Whether the executable, read as FilePath reads it, is another than `known` (a path as
    // FilePath gave it). One read of the kept link (of the link by path on a handle that keeps
    // none), cheap enough for a share of the rows every pass; the identifier is not proven
    // here, so a caller that acts on a change reads the path again through FilePath. Fails
    // when the link cannot be read: the handle has ended, it is kthreadd's, or the process is
    // closed to this program (another user's).
    Result<bool> ExecutableDiffers(std::string_view known) const;

    // The process has begun another program (exec keeps the identifier) at `seen`: from now
    // on the creation time reads `seen`, as the start of that program.
    void BeganProgram(FileTime seen);

    // Base name of the executable: last component of /proc/<pid>/exe (without a trailing
    // " (deleted)"), or of a live thread's link once the first thread has exited (its own then
    // reads as nothing); for a user-space process whose link cannot be read, /proc/<pid>/comm;
    // "unknown" when neither can be read (kthreadd, or the process ended). Control bytes
    // (below 0x20 and 0x7F) read as '?'. Empty when the handle has ended before any read.
    std::string BaseName() const;

    // Full path of the executable (target of /proc/<pid>/exe or a live thread's, as above,
    // without " (deleted)"), control bytes read as '?'; empty when it cannot be read.
    std::string FilePath() const;

    // Terminates the process with SIGKILL through its pidfd (one opened for the moment and
    // checked by the start time, on a handle that keeps none), never by bare identifier. On
    // EPERM, when CAP_KILL is permitted but not effective, raises it in the calling thread
    // alone (capabilities are per thread on Linux) for one more attempt and drops it again at
    // once. Fails when the signal was not delivered: ESRCH for an ended handle or a process
    // that has gone, EPERM when it was refused (also after the retry); and with a
    // PrivilegeError when CAP_KILL could not be dropped again, which the caller must tell.
    Result<> Kill();

private:
    friend class ExitWatch;
    ProcessHandle() = default;
    // The steps of Open: the descriptors it kept, and what the stat read at open tells.
    void KeepDescriptors(int pidfd, int statfd, int commfd, int exefd);
    void SetFirstStat(bool kernelThread, const procfs::ProcStat& stat);
    void MarkEnded();
    bool StillSameProcess() const;
    bool Exited() const; // the whole thread group has exited (asked when stat shows a zombie)
    int OpenPidfdForMoment() const;
    // Kept small and inline: an ended row keeps its handle for the rest of the run.
    std::uint32_t m_pid = 0;
    int m_pidfd = -1;
    int m_statfd = -1;
    int m_commfd = -1;
    int m_exefd = -1; // the exe link itself (O_PATH), read again by the sweep
    bool m_ended = false;
    bool m_kthreadd = false;
    char m_comm[16] = {};           // command name last read (the kernel keeps at most 15 bytes)
    std::uint64_t m_startTicks = 0; // (22) starttime, identity check
    ProcessTimes m_times;           // last times read
};

// How a kill's privileged retry failed to leave the program as it was: the capability it
// raised could not be dropped again. From then on no thread raises a capability.
enum class PrivilegeError {
    GivenUp = 1, // the thread gave up every capability in its place
    StillRaised, // not even that: the thread still holds the capability raised
};
const std::error_category& PrivilegeCategory();
std::error_code make_error_code(PrivilegeError error);

// Tells which processes have ended, from one epoll set of their pidfds: a pass learns of every
// exit since the previous one without reading a file of any process. A process counts as
// ended when its pidfd turns readable, exactly as ProcessHandle::GetTimes sees it.
// Not thread-safe by itself: the owner serialises calls.
class ExitWatch {
public:
    // Fails when no epoll set can be had (descriptors exhausted).
    static Result<std::unique_ptr<ExitWatch>> Create();
    ~ExitWatch();
    ExitWatch(const ExitWatch&) = delete;
    ExitWatch& operator=(const ExitWatch&) = delete;

    // Watches the handle's process under `key`. Fails when it cannot be watched (an ended
    // handle, one that keeps no pidfd, or the set refuses it): the caller then learns of the
    // exit from GetTimes.
    Result<> Add(const ProcessHandle& handle, std::uint64_t key);
    // Stops watching a handle that Add took; call before the handle is closed.
    void Remove(const ProcessHandle& handle);
    // Appends the keys of the watched processes that have ended. A key comes again at every
    // call until its handle is removed.
    void TakeEnded(std::vector<std::uint64_t>& keys);

private:
    ExitWatch() = default;
    int m_epoll = -1;
    std::size_t m_watched = 0;
    std::vector<::epoll_event> m_events;
};

// Current UTC time in FileTime units (CLOCK_REALTIME).
FileTime GetSystemTimeAsFileTime();

// The processors of this machine, online or not (at least 1): no process can keep more of
// them busy. Read once.
unsigned ProcessorCount();

// Broken-down local time of a FileTime, using the UTC offset in force now (not at `t`).
struct LocalTime {
    unsigned year, month, day, hour, minute, second;
};
// Fails for a time before 1601 or past the year the C library can tell (ERANGE, EOVERFLOW).
Result<LocalTime> FileTimeToLocal(FileTime t);

// Offset from UTC in force now, in seconds (tm_gmtoff of localtime_r of the current time).
long CurrentUtcOffset();

// `text` with its control bytes (below 0x20, and 0x7F) turned into '?': a name from a file or
// from another process, however crafted, must stay on one line of a log, a list or the window.
std::string WithoutControlBytes(std::string text);

// Icon name for an executable, from the desktop entries (/usr/share/applications,
// ~/.local/share/applications, $XDG_DATA_DIRS): the entry whose TryExec or Exec program is
// that executable. Empty when none. Looked up once per path (cached; thread-safe).
std::string FindIconName(const std::string& executablePath);

// Whether /proc hides other users' processes from this program, so that the list holds only
// its user's own: the proc mounted at /proc has a hidepid= option, and the program neither may
// trace every process (CAP_SYS_PTRACE, as root) nor belongs to the group of its gid= option.
// Fails when the mount table cannot be read.
Result<bool> ProcHidesOtherUsers();

// Raises the soft RLIMIT_NOFILE to the hard limit (each live process's handle keeps four
// descriptors). The program calls it once at start; when it fails, the handles keep fewer
// descriptors (see DescriptorsRanShort).
Result<> RaiseFileLimit();

// The soft RLIMIT_NOFILE in force now (UINT64_MAX when unlimited).
std::uint64_t FileLimit();

// True once a handle or the kernel-thread registry has had to do without kept descriptors
// for lack of them (stays true for the rest of the run).
bool DescriptorsRanShort();

} // namespace platform

template <> struct std::is_error_code_enum<platform::PrivilegeError> : std::true_type {};
