#include "linux/ProcFiles.h"

#include "linux/DescriptorBudget.h"
#include "platform/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace platform::procfs {

std::optional<ProcStat> ReadStat(int fd, char (&buffer)[kStatBufferSize], bool& readFailed)
{
    ssize_t n;
    do {
        n = pread(fd, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    readFailed = n <= 0;
    if (readFailed)
        return std::nullopt;
    return ParseProcStat(std::string_view(buffer, static_cast<std::size_t>(n)));
}

long ReadSmallFile(const char* path, char* buffer, std::size_t size, bool& gone)
{
    gone = false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        gone = errno == ENOENT || errno == ESRCH;
        if (errno == EMFILE || errno == ENFILE)
            NoteDescriptorShortage();
        return -1;
    }
    ssize_t n;
    do {
        n = pread(fd, buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    close(fd);
    gone = n <= 0;
    return n;
}

std::optional<ProcStat> ReadStatByPath(std::uint32_t pid, char (&buffer)[kStatBufferSize], bool& gone)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    long n = ReadSmallFile(path, buffer, sizeof buffer, gone);
    if (n <= 0)
        return std::nullopt;
    return ParseProcStat(std::string_view(buffer, static_cast<std::size_t>(n)));
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
    constexpr FileTime kPerSecond = 10'000'000;
    const auto hz = static_cast<std::uint64_t>(ClockTicksPerSecond());
    return ticks / hz * kPerSecond + ticks % hz * kPerSecond / hz;
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
        return seconds ? kUnixEpochAsFileTime + seconds * 10'000'000 : FileTime{0};
    }();
    return boot;
}

} // namespace platform::procfs
