#pragma once
// Reading the files of /proc (Linux only): a process's stat line by path, small files, and the
// clock tick and the boot time that turn kernel tick counts into FileTime values. The watch
// service reads them the same way as the process services do; whole files are read with
// ReadSystemFile (platform/FileIo.h).

#include "platform/FileDescriptor.h"
#include "platform/ProcessServices.h"
#include "platform/ProcStat.h"
#include "platform/Result.h"

#include <cstddef>
#include <optional>
#include <string>

#include <fcntl.h>

namespace platform::procfs {

// Room for a whole stat line (about 300 bytes; command names are at most 64).
constexpr std::size_t kStatBufferSize = 1024;

// Whether a failure to read a process's file of /proc says that the process has gone (ENOENT,
// ESRCH): the normal, silent path, not an error to tell.
bool IsGone(std::error_code error);

// The path of file `name` of process `pid` ("/proc/<pid>/<name>"): the one place where such a
// path is made. For a file read alone; where several files of one process are read, ProcessDir
// opens the folder once.
struct ProcessFilePath {
    ProcessFilePath(std::uint32_t pid, const char* name);
    const char* c_str() const { return text; }
    char text[96];
};

// The folder of one process in /proc, opened once (O_PATH): the process's files are opened
// relative to it, every one of them the file of the process the folder was opened on.
class ProcessDir {
public:
    // Fails with the reason of the open (ENOENT when there is no such process); a failure for
    // lack of descriptors is noted as a shortage.
    static Result<ProcessDir> Open(std::uint32_t pid);
    int Fd() const { return m_fd.Get(); }
    // Opens file `name` of the process ("stat", "task/12/exe"), close-on-exec; fails as Open.
    Result<FileDescriptor> OpenFile(const char* name, int flags = O_RDONLY) const;
    // One read of file `name` from its start, as ReadSmallFile reads by path.
    Result<std::size_t> ReadFile(const char* name, char* buffer, std::size_t size) const;

private:
    explicit ProcessDir(FileDescriptor fd) : m_fd(std::move(fd)) {}
    FileDescriptor m_fd;
};

// Reads a small file of /proc by path into `buffer` (one read, from its start): the byte count,
// never 0. Fails with ESRCH when the read fails or finds nothing (the file's process has gone),
// and with the reason of an open that failed (ENOENT when there is no such process); a failure
// for lack of descriptors is noted as a shortage.
Result<std::size_t> ReadSmallFile(const char* path, char* buffer, std::size_t size);

// Reads and parses /proc/<pid>/stat by path: fails as ReadSmallFile does, and with EBADMSG for
// a line that does not parse. The identifier may name a newer process than the caller meant:
// callers compare the start time.
Result<ProcStat> ReadStatByPath(std::uint32_t pid, char (&buffer)[kStatBufferSize]);

// Clock ticks per second of the tick counts in stat files.
long ClockTicksPerSecond();

// A count of clock ticks as a duration in 100-ns units.
FileTime TicksToFileTime(std::uint64_t ticks);

// Boot time as a FileTime (btime of /proc/stat), read once; 0 when it cannot be read.
FileTime BootTime();

} // namespace platform::procfs
