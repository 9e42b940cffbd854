#include "ProcessKill.h"

#include "platform/FileDescriptor.h"
#include "platform/ProcFiles.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace service {

Result<> KillProcess(std::uint32_t pid, std::uint64_t startTicks)
{
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX))
        return std::errc::no_such_process;
    FileDescriptor pidfd(static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u)));
    if (!pidfd.Valid())
        return errno == EINVAL ? std::make_error_code(std::errc::no_such_process) : LastError();
    char buffer[platform::procfs::kStatBufferSize];
    const Result<platform::procfs::ProcStat> stat = platform::procfs::ReadStatByPath(pid, buffer);
    if (!stat || stat->starttime != startTicks || stat->state == 'Z' || stat->state == 'X')
        return std::errc::no_such_process;
    pollfd alive{pidfd.Get(), POLLIN, 0};
    if (poll(&alive, 1, 0) != 0)
        return std::errc::no_such_process; // it ended after the pidfd was opened
    if (syscall(SYS_pidfd_send_signal, pidfd.Get(), SIGKILL, nullptr, 0u) != 0)
        return LastError();
    return {};
}

} // namespace service
