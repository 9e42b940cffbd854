#include "ProcReading.h"

#include "platform/ProcessServices.h"
#include "platform/ProcFiles.h"

#include <charconv>
#include <cstdio>
#include <string_view>
#include <unistd.h>

namespace service {
namespace {

using platform::procfs::kStatBufferSize;

// (9) flags: the task is in do_exit (its exit has been told, or is being told, to tracers).
constexpr std::uint32_t kPfExiting = 0x00000004;

// "Threads:\t<n>" of a status text; 1 when it cannot be read.
std::uint32_t ThreadCount(std::string_view status)
{
    const std::size_t at = status.find("\nThreads:");
    if (at == std::string_view::npos)
        return 1;
    status.remove_prefix(at + 9);
    while (!status.empty() && (status.front() == '\t' || status.front() == ' '))
        status.remove_prefix(1);
    std::uint32_t threads = 1;
    std::from_chars(status.data(), status.data() + status.size(), threads);
    return threads;
}

// "Uid:\t<real>\t<effective>\t<saved>\t<fs>" of /proc/<pid>/status, and its thread count.
bool ReadCredentials(std::uint32_t pid, std::uint32_t& uid, std::uint32_t& euid, std::uint32_t& threads)
{
    const platform::procfs::ProcessFilePath path(pid, "status");
    char text[4096];
    const Result<std::size_t> n = platform::procfs::ReadSmallFile(path.c_str(), text, sizeof text);
    if (!n)
        return false;
    std::string_view view(text, *n);
    threads = ThreadCount(view);
    const std::size_t at = view.find("\nUid:");
    if (at == std::string_view::npos)
        return false;
    view.remove_prefix(at + 5);
    std::uint32_t values[2] = {};
    for (std::uint32_t& value : values) {
        while (!view.empty() && (view.front() == '\t' || view.front() == ' '))
            view.remove_prefix(1);
        const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
        if (error != std::errc())
            return false;
        view.remove_prefix(static_cast<std::size_t>(end - view.data()));
    }
    uid = values[0];
    euid = values[1];
    return true;
}

bool ReadExe(std::uint32_t pid, std::string& target)
{
    const platform::procfs::ProcessFilePath path(pid, "exe");
    char buffer[4097];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return false;
    target.assign(buffer, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.size() > kDeleted.size() && target.ends_with(kDeleted))
        target.resize(target.size() - kDeleted.size());
    return true;
}

} // namespace

std::optional<ProcReading> ReadProcess(std::uint32_t pid, bool statOnly)
{
    char buffer[kStatBufferSize];
    const Result<platform::procfs::ProcStat> stat = platform::procfs::ReadStatByPath(pid, buffer);
    if (!stat)
        return std::nullopt;
    ProcReading reading;
    reading.pid = pid;
    reading.ppid = stat->ppid > 0 ? static_cast<std::uint32_t>(stat->ppid) : 0;
    reading.startTicks = stat->starttime;
    reading.kernelThread = (stat->flags & platform::procfs::kPfKthread) != 0;
    // Past its exit, or on its way out of the kernel after it (where the exit event has
    // already come): ended, unless threads other than the leader still run.
    const bool leaderEnded = stat->state == 'Z' || stat->state == 'X' || (stat->flags & kPfExiting);
    reading.comm.assign(stat->comm);
    if (reading.kernelThread || statOnly)
        return reading;
    // The executable first: its link goes with the process's memory, before the process is
    // a zombie, while stat and status last until it is reaped.
    ReadExe(pid, reading.path);
    std::uint32_t threads = 1;
    reading.credentialsRead = ReadCredentials(pid, reading.uid, reading.euid, threads);
    reading.ended = leaderEnded && threads <= 1;
    return reading;
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Result<std::vector<ProcReading>> ReadAllProcesses()
{
    const Result<std::vector<std::uint32_t>> pids = platform::EnumProcesses();
    if (!pids)
        return pids.error();
    std::vector<ProcReading> out;
    out.reserve(pids->size());
    for (std::uint32_t pid : *pids) {
        std::optional<ProcReading> reading = ReadProcess(pid);
        if (reading && !reading->kernelThread && !reading->ended)
            out.push_back(std::move(*reading));
    }
    return out;
}

} // namespace service
