#pragma once
// The messages between the watch service orvaned and its clients, over a Unix stream socket.
//
// Wire form: every message is one frame, a 32-bit little-endian length followed by that many
// bytes: one byte of message type, then the fields in the order declared below. Integers are
// little-endian of the width declared; a text is a 16-bit length and its bytes (no
// terminator). A frame's length counts the type byte and the fields, never more than
// kMaxFrameBody; a frame that is longer, shorter than its fields, longer than its fields, of
// an unknown type or with a text over its limit is malformed, and the side that receives it
// closes the connection.
//
// Conversation:
//   client -> Hello (its version)
//   service -> Welcome, or Goodbye (and closes) when it cannot serve the client
//   service -> SnapshotBegin, Process..., SnapshotEnd: every live process the client may see
//   service -> Started, Exec, Exited as they happen, for those same processes
//   service -> Resync when the client fell behind or events were lost: a new snapshot follows,
//              and the client's table is what that snapshot says
//   client -> KillRequest at any time after Hello; service -> KillResult
// Stream messages that come between SnapshotBegin and SnapshotEnd concern processes already
// sent in that snapshot; a process not yet sent comes in the snapshot as it is then.
//
// A process is its pid and its start time (startTicks, field 22 of /proc/<pid>/stat: clock
// ticks after boot); exec keeps both. Times are FileTime values: 100-ns units since
// 1601-01-01 UTC.

#include <cstdint>
#include <string>
#include <variant>

namespace watch {

using FileTime = std::uint64_t;

constexpr std::uint16_t kProtocolVersion = 1;
// Limits of one frame (type byte and fields) and of its texts.
constexpr std::size_t kMaxFrameBody = 16 * 1024;
constexpr std::size_t kMaxName = 255;
constexpr std::size_t kMaxPath = 4096;
constexpr std::size_t kMaxText = 1024;

enum class MessageType : std::uint8_t {
    Hello = 1,
    Welcome = 2,
    SnapshotBegin = 3,
    Process = 4,
    SnapshotEnd = 5,
    Started = 6,
    Exec = 7,
    Exited = 8,
    Resync = 9,
    KillRequest = 10,
    KillResult = 11,
    Goodbye = 12,
};

// Where the service takes its events from.
enum class EventSource : std::uint8_t {
    Bpf = 1,       // eBPF tracepoints: every start, exec and exit named by the kernel
    Connector = 2, // the process connector: names read from /proc, lost for the shortest lives
};

// One process as the client may see it. `name` is the executable's base name where the client
// may read the executable (its own processes, or any for root), else the kernel's command name
// (at most 15 bytes), or "unknown" when neither could be read; `path` is empty where the
// client may not read it or it could not be read.
struct ProcessInfo {
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint32_t uid = 0;        // real user id
    std::uint64_t startTicks = 0; // (22) starttime of /proc/<pid>/stat
    FileTime time = 0;            // Process, Started: when its program began; Exec: the exec
    std::string name;             // at most kMaxName bytes
    std::string path;             // at most kMaxPath bytes
    bool operator==(const ProcessInfo&) const = default;
};

struct Hello {
    std::uint16_t version = kProtocolVersion;
    bool operator==(const Hello&) const = default;
};

struct Welcome {
    static constexpr std::uint8_t kMayKill = 1;     // KillRequest will be carried out
    static constexpr std::uint8_t kOwnProcesses = 2; // /proc hides other users' processes from the client
    std::uint16_t version = kProtocolVersion;
    EventSource source = EventSource::Bpf;
    std::uint8_t flags = 0;
    FileTime bootTime = 0;            // startTicks / ticksPerSecond after this is the start
    std::uint32_t ticksPerSecond = 100;
    bool operator==(const Welcome&) const = default;
};

struct SnapshotBegin {
    bool operator==(const SnapshotBegin&) const = default;
};

struct Process {
    ProcessInfo info;
    bool operator==(const Process&) const = default;
};

struct SnapshotEnd {
    FileTime time = 0; // when the snapshot was complete: the end of what it left out
    bool operator==(const SnapshotEnd&) const = default;
};

struct Started {
    ProcessInfo info;
    bool operator==(const Started&) const = default;
};

// The process began another program: it keeps pid and startTicks; name, path and uid are the
// new program's, time is the exec.
struct Exec {
    ProcessInfo info;
    bool operator==(const Exec&) const = default;
};

struct Exited {
    std::uint32_t pid = 0;
    std::uint64_t startTicks = 0;
    FileTime time = 0;
    bool operator==(const Exited&) const = default;
};

enum class ResyncReason : std::uint8_t {
    FellBehind = 1, // the client's queue was full
    EventsLost = 2, // the kernel dropped events; the service read /proc again
};

struct Resync {
    ResyncReason reason = ResyncReason::FellBehind;
    bool operator==(const Resync&) const = default;
};

// Kill the process (pid, startTicks) with SIGKILL; never another that has taken its pid.
struct KillRequest {
    std::uint32_t pid = 0;
    std::uint64_t startTicks = 0;
    bool operator==(const KillRequest&) const = default;
};

// error: 0 when the signal was delivered; EPERM when the client may not ask (the quiet
// refusal) or the kill was refused; ESRCH when no process of that pid and start is running.
struct KillResult {
    std::uint32_t pid = 0;
    std::uint64_t startTicks = 0;
    std::int32_t error = 0;
    bool operator==(const KillResult&) const = default;
};

enum class GoodbyeReason : std::uint8_t {
    VersionUnsupported = 1,
    TooManyConnections = 2,
    Malformed = 3,
    ShuttingDown = 4,
};

struct Goodbye {
    GoodbyeReason reason = GoodbyeReason::ShuttingDown;
    std::string text; // at most kMaxText bytes, for a person
    bool operator==(const Goodbye&) const = default;
};

// In the order of MessageType, so that index() + 1 is the type.
using Message = std::variant<Hello, Welcome, SnapshotBegin, Process, SnapshotEnd, Started, Exec,
                             Exited, Resync, KillRequest, KillResult, Goodbye>;

inline MessageType TypeOf(const Message& message)
{
    return static_cast<MessageType>(message.index() + 1);
}

} // namespace watch
