#include "linux/ProcFiles.h"

#include "linux/DescriptorBudget.h"
#include "platform/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace platform::procfs {

namespace {

// One read from the start of `fd`; ESRCH when it fails or finds nothing.
Result<std::size_t> ReadFromStart(int fd, char* buffer, std::size_t size)
{
    ssize_t n;
    do {
        n = pread(fd, buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return std::errc::no_such_process;
    return static_cast<std::size_t>(n);
}

// The reason of a failed open, a shortage of descriptors noted.
std::error_code OpenFailure()
{
    const std::error_code error = LastError();
    if (error == std::errc::too_many_files_open || error == std::errc::too_many_files_open_in_system)
        NoteDescriptorShortage();
    return error;
}

Result<ProcStat> ParsedStat(const Result<std::size_t>& read, const char* buffer)
{
    if (!read)
        return read.error();
    if (std::optional<ProcStat> stat = ParseProcStat(std::string_view(buffer, *read)))
        return *stat;
    return std::errc::bad_message;
}

} // namespace

bool IsGone(std::error_code error)
{
    return error == std::errc::no_such_file_or_directory || error == std::errc::no_such_process;
}

Result<ProcStat> ReadStat(int fd, char (&buffer)[kStatBufferSize])
{
    return ParsedStat(ReadFromStart(fd, buffer, sizeof buffer), buffer);
}

ProcessFilePath::ProcessFilePath(std::uint32_t pid, const char* name)
{
    std::snprintf(text, sizeof text, "/proc/%u/%s", pid, name);
}

Result<ProcessDir> ProcessDir::Open(std::uint32_t pid)
{
    char path[24];
    std::snprintf(path, sizeof path, "/proc/%u", pid);
    FileDescriptor fd(open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid())
        return OpenFailure();
    return ProcessDir(std::move(fd));
}

Result<FileDescriptor> ProcessDir::OpenFile(const char* name, int flags) const
{
    FileDescriptor fd(openat(m_fd.Get(), name, flags | O_CLOEXEC));
    if (!fd.Valid())
        return OpenFailure();
    return fd;
}

Result<std::size_t> ProcessDir::ReadFile(const char* name, char* buffer, std::size_t size) const
{
    const Result<FileDescriptor> fd = OpenFile(name);
    if (!fd)
        return fd.error();
    return ReadFromStart(fd->Get(), buffer, size);
}

Result<std::size_t> ReadSmallFile(const char* path, char* buffer, std::size_t size)
{
    const FileDescriptor fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.Valid())
        return OpenFailure();
    return ReadFromStart(fd.Get(), buffer, size);
}

Result<ProcStat> ReadStatByPath(std::uint32_t pid, char (&buffer)[kStatBufferSize])
{
    return ParsedStat(ReadSmallFile(ProcessFilePath(pid, "stat").c_str(), buffer, sizeof buffer), buffer);
}

long ClockTicksPerSecond()
{
    static const long ticks = [] {
        long value = sysconf(_SC_CLK_TCK);
        return value > 0 ? value : 100;
    }();
    return ticks;
}

FileTime TicksToFileTime(std::uint64_t ticks)
{
    const auto hz = static_cast<std::uint64_t>(ClockTicksPerSecond());
    return ticks / hz * kFileTimePerSecond + ticks % hz * kFileTimePerSecond / hz;
}

FileTime BootTime()
{
    static const FileTime boot = [] {
        const Result<std::string> text = ReadSystemFile("/proc/stat");
        if (!text)
            return FileTime{0};
        std::string_view view(*text);
        std::size_t at = view.find("\nbtime ");
        if (at == std::string_view::npos)
            return FileTime{0};
        view.remove_prefix(at + 7);
        std::uint64_t seconds = 0;
        for (char c : view) {
            if (c < '0' || c > '9')
                break;
            seconds = seconds * 10 + static_cast<unsigned>(c - '0');
        }
        return seconds ? kUnixEpochAsFileTime + seconds * kFileTimePerSecond : FileTime{0};
    }();
    return boot;
}

} // namespace platform::procfs
