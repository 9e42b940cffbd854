#pragma once
// A client's end of a connection to the watch service: connect, greet, read messages, ask for
// a kill. Single-threaded: the owner serialises calls. The socket is non-blocking; Fd() can
// join the owner's poll or epoll set.
//
// Contract:
// - Connect fails with the system's reason when nothing serves the path (ENOENT,
//   ECONNREFUSED) or the caller may not use it (EACCES); a caller that can work without the
//   service (the window polls /proc) treats every failure as "no service".
// - The first message received is Welcome (or Goodbye, then the connection is over). A
//   Welcome of another version fails Receive with VersionUnsupported.
// - Receive hands out messages in the order sent. After a Goodbye, or when the service closes
//   the connection, or a frame is malformed, it fails (Refused, Closed, Malformed, Oversized)
//   once every whole message before that point has been handed out; the connection is then
//   finished and the owner makes a new one when it wants to.
// - RequestKill never waits for the answer: the KillResult comes through Receive. Without
//   kMayKill in the Welcome the answer is the quiet refusal (EPERM).

#include "protocol/CFrameDecoder.h"
#include "protocol/MessageCodec.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace watch {

// Where the service listens unless told otherwise.
inline constexpr const char* kDefaultSocketPath = "/run/orvane/orvaned.sock";

class CWatchClient {
public:
    // ORVANE_SOCKET when it is set and not empty, else kDefaultSocketPath.
    static std::string SocketPath();

    // Connects to `path` and sends Hello.
    static Result<std::unique_ptr<CWatchClient>> Connect(const std::string& path);

    ~CWatchClient();
    CWatchClient(const CWatchClient&) = delete;
    CWatchClient& operator=(const CWatchClient&) = delete;

    int Fd() const { return m_fd; }

    // Waits up to `timeoutMs` (0: not at all; -1: without limit) for the service to send
    // something, then appends every whole message received so far to `out`. Returns how many
    // were appended (0 when the time ran out).
    Result<std::size_t> Receive(std::vector<Message>& out, int timeoutMs);

    // Asks the service to kill the process (pid, startTicks).
    Result<> RequestKill(std::uint32_t pid, std::uint64_t startTicks);

    // The service's Welcome, once received.
    const std::optional<Welcome>& GetWelcome() const { return m_welcome; }

private:
    explicit CWatchClient(int fd) : m_fd(fd) {}
    Result<> Send(const Message& message);
    // Decodes what is held; sets m_finished on a Goodbye or a bad frame.
    void TakeMessages(std::vector<Message>& out, std::size_t& taken);

    int m_fd = -1;
    CFrameDecoder m_decoder;
    std::optional<Welcome> m_welcome;
    std::error_code m_finished; // why the connection is over, once it is
};

} // namespace watch
