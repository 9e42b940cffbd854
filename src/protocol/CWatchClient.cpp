#include "protocol/CWatchClient.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace watch {

std::string CWatchClient::SocketPath()
{
    const char* fromEnvironment = std::getenv("ORVANE_SOCKET");
    return fromEnvironment && *fromEnvironment ? fromEnvironment : kDefaultSocketPath;
}

Result<std::unique_ptr<CWatchClient>> CWatchClient::Connect(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return std::errc::filename_too_long;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return LastError();
    std::unique_ptr<CWatchClient> client(new CWatchClient(fd));
    // A blocking connect: on a local socket it waits only for the service's backlog.
    int result;
    do {
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return LastError();
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return LastError();
    if (Result<> sent = client->Send(Hello{}); !sent)
        return sent.error();
    return client;
}

CWatchClient::~CWatchClient()
{
    if (m_fd >= 0)
        close(m_fd);
}

Result<> CWatchClient::Send(const Message& message)
{
    std::string frame;
    Encode(message, frame);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = send(m_fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // A few bytes only: the service reads its clients promptly; give it a second.
            pollfd fd{m_fd, POLLOUT, 0};
            const int ready = poll(&fd, 1, 1000);
            if (ready > 0)
                continue;
            if (ready == 0)
                return std::errc::timed_out;
            if (errno == EINTR)
                continue;
        }
        return LastError();
    }
    return {};
}

Result<> CWatchClient::RequestKill(std::uint32_t pid, std::uint64_t startTicks)
{
    if (m_finished)
        return m_finished;
    return Send(KillRequest{pid, startTicks});
}

void CWatchClient::TakeMessages(std::vector<Message>& out, std::size_t& taken)
{
    while (!m_finished) {
        Result<std::optional<Message>> next = m_decoder.Next();
        if (!next) {
            m_finished = next.error();
            return;
        }
        if (!*next)
            return;
        Message& message = **next;
        if (const auto* welcome = std::get_if<Welcome>(&message)) {
            if (welcome->version != kProtocolVersion) {
                m_finished = ProtocolFault::VersionUnsupported;
                return;
            }
            m_welcome = *welcome;
        } else if (std::holds_alternative<Goodbye>(message)) {
            m_finished = std::get<Goodbye>(message).reason == GoodbyeReason::VersionUnsupported
                             ? make_error_code(ProtocolFault::VersionUnsupported)
                             : make_error_code(ProtocolFault::Refused);
        }
        out.push_back(std::move(message));
        ++taken;
    }
}

Result<std::size_t> CWatchClient::Receive(std::vector<Message>& out, int timeoutMs)
{
    std::size_t taken = 0;
    TakeMessages(out, taken);
    if (taken)
        return taken;
    if (m_finished)
        return m_finished;
    pollfd fd{m_fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&fd, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return LastError();
    if (ready == 0)
        return std::size_t{0};
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = recv(m_fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            m_decoder.Feed(std::string_view(chunk, static_cast<std::size_t>(n)));
            TakeMessages(out, taken);
            if (m_finished)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The service closed the connection, or the socket failed; a frame cut short by the
        // close is lost with it.
        m_finished = n == 0 ? make_error_code(ProtocolFault::Closed) : LastError();
        break;
    }
    if (taken)
        return taken;
    return m_finished ? Result<std::size_t>(m_finished) : Result<std::size_t>(std::size_t{0});
}

} // namespace watch
