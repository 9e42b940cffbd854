#include "ListeningSocket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace service {
namespace {

constexpr int kFirstPassedFd = 3; // SD_LISTEN_FDS_START

Result<> MakeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return LastError();
    if (fcntl(fd, F_SETFD, FD_CLOEXEC) < 0)
        return LastError();
    return {};
}

} // namespace

Result<int> SocketFromSystemd()
{
    const char* listenPid = std::getenv("LISTEN_PID");
    const char* listenFds = std::getenv("LISTEN_FDS");
    const bool forUs = listenPid && listenFds && std::strtol(listenPid, nullptr, 10) == getpid();
    const long count = forUs ? std::strtol(listenFds, nullptr, 10) : 0;
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
    if (count <= 0)
        return -1;
    // Only the first is used; the others are not ours to keep.
    for (long extra = 1; extra < count; ++extra)
        close(kFirstPassedFd + static_cast<int>(extra));
    int type = 0, domain = 0, listening = 0;
    socklen_t size = sizeof type;
    if (getsockopt(kFirstPassedFd, SOL_SOCKET, SO_TYPE, &type, &size) != 0)
        return LastError();
    size = sizeof domain;
    if (getsockopt(kFirstPassedFd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0)
        return LastError();
    size = sizeof listening;
    if (getsockopt(kFirstPassedFd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0)
        return LastError();
    if (type != SOCK_STREAM || domain != AF_UNIX || !listening)
        return std::errc::not_a_socket;
    if (Result<> ready = MakeNonBlocking(kFirstPassedFd); !ready)
        return ready.error();
    return kFirstPassedFd;
}

Result<int> BindSocket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return std::errc::filename_too_long;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return LastError();
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return LastError();
    auto fail = [fd](std::error_code error) {
        close(fd);
        return Result<int>(error);
    };
    struct stat existing{};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode))
            return fail(std::make_error_code(std::errc::file_exists));
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered =
            probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (probe >= 0)
            close(probe);
        if (answered)
            return fail(std::make_error_code(std::errc::address_in_use));
        unlink(path.c_str());
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail(LastError());
    if (chmod(path.c_str(), 0666) != 0 || listen(fd, SOMAXCONN) != 0) {
        const std::error_code error = LastError();
        unlink(path.c_str());
        return fail(error);
    }
    return fd;
}

} // namespace service
