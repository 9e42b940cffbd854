#include "CConnectorSource.h"

#include "KernelClock.h"
#include "ProcReading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace service {
namespace {

// The subscription with an event filter (Linux 6.6); the headers of older systems lack it.
struct ProcInput {
    std::uint32_t mcastOp;
    std::uint32_t eventType;
};
constexpr std::uint32_t kProcEventFork = 0x00000001;
constexpr std::uint32_t kProcEventExec = 0x00000002;
constexpr std::uint32_t kProcEventExit = 0x80000000;

bool KernelHasEventFilter()
{
    utsname name{};
    if (uname(&name) != 0)
        return false;
    unsigned major = 0, minor = 0;
    if (std::sscanf(name.release, "%u.%u", &major, &minor) != 2)
        return false;
    return major > 6 || (major == 6 && minor >= 6);
}

// The event of a connector message: its data follows a 20-byte header, so it is copied out
// to be read at the alignment its 64-bit fields need.
proc_event EventOf(const cn_msg& message)
{
    proc_event event{};
    std::memcpy(&event, message.data, std::min<std::size_t>(message.len, sizeof event));
    return event;
}

Result<> Subscribe(int fd)
{
    const bool filter = KernelHasEventFilter();
    const std::size_t payload = filter ? sizeof(ProcInput) : sizeof(std::uint32_t);
    alignas(nlmsghdr) char request[NLMSG_SPACE(sizeof(cn_msg) + sizeof(ProcInput))] = {};
    auto* header = reinterpret_cast<nlmsghdr*>(request);
    header->nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(sizeof(cn_msg) + payload));
    header->nlmsg_type = NLMSG_DONE;
    header->nlmsg_pid = static_cast<std::uint32_t>(getpid());
    auto* message = static_cast<cn_msg*>(NLMSG_DATA(header));
    message->id.idx = CN_IDX_PROC;
    message->id.val = CN_VAL_PROC;
    message->len = static_cast<std::uint16_t>(payload);
    const ProcInput input{PROC_CN_MCAST_LISTEN, kProcEventFork | kProcEventExec | kProcEventExit};
    std::memcpy(message->data, &input, payload);
    if (send(fd, request, header->nlmsg_len, 0) < 0)
        return LastError();
    // The kernel answers with an acknowledgement that carries its verdict (EPERM without
    // CAP_NET_ADMIN); events that come first are dropped, the service reads /proc after this.
    for (int waited = 0; waited < 4; ++waited) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 250) <= 0)
            continue;
        alignas(nlmsghdr) char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            continue;
        auto remaining = static_cast<long>(n); // wide enough for the macros' unsigned lengths
        for (auto* answer = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(answer, remaining);
             answer = NLMSG_NEXT(answer, remaining)) {
            const auto* body = static_cast<const cn_msg*>(NLMSG_DATA(answer));
            const proc_event event = EventOf(*body);
            if (event.what == proc_event::PROC_EVENT_NONE) {
                if (event.event_data.ack.err != 0)
                    return std::error_code(static_cast<int>(event.event_data.ack.err), std::generic_category());
                return {};
            }
        }
    }
    return {}; // kernels that do not acknowledge: events will tell
}

// The connector stamps events with CLOCK_MONOTONIC.
FileTime WallAtMonotonicZero()
{
    timespec mono{}, wall{};
    clock_gettime(CLOCK_MONOTONIC, &mono);
    clock_gettime(CLOCK_REALTIME, &wall);
    const auto ns = [](const timespec& t) {
        return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(t.tv_nsec);
    };
    return 116444736000000000ULL + ns(wall) / 100 - ns(mono) / 100;
}

std::uint64_t BootMinusMonotonicNs()
{
    timespec mono{}, boot{};
    clock_gettime(CLOCK_MONOTONIC, &mono);
    clock_gettime(CLOCK_BOOTTIME, &boot);
    const auto ns = [](const timespec& t) {
        return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000ULL + static_cast<std::uint64_t>(t.tv_nsec);
    };
    return ns(boot) > ns(mono) ? ns(boot) - ns(mono) : 0;
}

// Fills what /proc told of the event's process.
void Fill(KernelEvent& event, const ProcReading& reading)
{
    event.startTicks = reading.startTicks;
    event.startKnown = true;
    // A fork names the parent itself; a process caught while it is released shows none (0).
    if (event.kind != KernelEvent::Kind::Fork && reading.ppid != 0)
        event.ppid = reading.ppid;
    event.comm = reading.comm;
    event.commKnown = true;
    event.path = reading.path; // empty for a stat-only reading: the parent's, then
    if (reading.credentialsRead) {
        event.uid = reading.uid;
        event.euid = reading.euid;
        event.credentialsKnown = true;
    }
}

} // namespace

Result<std::unique_ptr<CConnectorSource>> CConnectorSource::Open(std::size_t bufferBytes)
{
    std::unique_ptr<CConnectorSource> source(new CConnectorSource());
    source->m_fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_CONNECTOR);
    if (source->m_fd < 0)
        return LastError();
    const int size = static_cast<int>(std::min<std::size_t>(bufferBytes, 1U << 30));
    if (setsockopt(source->m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
        (void)setsockopt(source->m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = CN_IDX_PROC;
    address.nl_pid = 0;
    if (bind(source->m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
        return LastError();
    if (Result<> subscribed = Subscribe(source->m_fd); !subscribed)
        return subscribed.error();
    return source;
}

CConnectorSource::~CConnectorSource()
{
    if (m_fd >= 0)
        close(m_fd);
}

Result<bool> CConnectorSource::Drain(const Sink& sink)
{
    const FileTime wallAtZero = WallAtMonotonicZero();
    const std::uint64_t bootMinusMono = BootMinusMonotonicNs();
    bool lost = false;
    // Events of one batch are taken apart first and told after /proc has been read for them,
    // the newest first: a reader that has fallen behind loses the oldest of the shortest lives
    // rather than every one of them.
    struct Pending {
        KernelEvent event;
        bool read = false; // /proc is to be read for it
    };
    std::vector<Pending> batch;
    alignas(nlmsghdr) char buffer[64 * 1024];
    while (batch.size() < 4096) {
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS) { // the kernel dropped events: the buffer was full
                m_lostPending = true;
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // The kernel tells of a loss once, and drops silently until the queue has
                // been emptied: only now can /proc be read with nothing older left behind.
                lost = m_lostPending;
                m_lostPending = false;
                break;
            }
            return LastError();
        }
        auto remaining = static_cast<long>(n); // wide enough for the macros' unsigned lengths
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == NLMSG_ERROR || header->nlmsg_type == NLMSG_NOOP)
                continue;
            const auto* message = static_cast<const cn_msg*>(NLMSG_DATA(header));
            if (message->id.idx != CN_IDX_PROC || message->id.val != CN_VAL_PROC)
                continue;
            const proc_event copy = EventOf(*message);
            const proc_event* data = &copy;
            Pending pending;
            KernelEvent& event = pending.event;
            event.time = wallAtZero + data->timestamp_ns / 100;
            event.startKnown = event.credentialsKnown = event.commKnown = false;
            switch (data->what) {
            case proc_event::PROC_EVENT_FORK: {
                const auto& fork = data->event_data.fork;
                if (fork.child_pid != fork.child_tgid || fork.parent_tgid <= 2)
                    continue; // a thread, or a kernel thread from kthreadd
                event.kind = KernelEvent::Kind::Fork;
                event.pid = static_cast<std::uint32_t>(fork.child_tgid);
                event.ppid = static_cast<std::uint32_t>(fork.parent_tgid);
                // The child starts just before the event is stamped; its own stat tells
                // exactly, when it is still there to read.
                event.startTicks = BootNsToTicks(data->timestamp_ns + bootMinusMono);
                pending.read = true;
                break;
            }
            case proc_event::PROC_EVENT_EXEC:
                event.kind = KernelEvent::Kind::Exec;
                event.pid = static_cast<std::uint32_t>(data->event_data.exec.process_tgid);
                pending.read = true;
                break;
            case proc_event::PROC_EVENT_EXIT: {
                const auto& exit = data->event_data.exit;
                if (exit.process_pid != exit.process_tgid)
                    continue; // a thread
                event.kind = KernelEvent::Kind::Exit;
                event.pid = static_cast<std::uint32_t>(exit.process_tgid);
                event.ppid = static_cast<std::uint32_t>(exit.parent_tgid);
                break;
            }
            default:
                continue;
            }
            batch.push_back(std::move(pending));
        }
    }
    // One reading per process and batch, made for its last event: what /proc shows now. A
    // fork needs the child's start only; an exec needs everything.
    std::unordered_map<std::uint32_t, std::optional<ProcReading>> readings;
    std::unordered_map<std::uint32_t, bool> execs;
    for (const Pending& pending : batch)
        if (pending.event.kind == KernelEvent::Kind::Exec)
            execs[pending.event.pid] = true;
    for (auto pending = batch.rbegin(); pending != batch.rend(); ++pending)
        if (pending->read && !readings.contains(pending->event.pid))
            readings.emplace(pending->event.pid, ReadProcess(pending->event.pid, !execs.contains(pending->event.pid)));
    for (Pending& pending : batch) {
        if (pending.read)
            if (const auto& reading = readings[pending.event.pid]; reading && !reading->kernelThread)
                Fill(pending.event, *reading);
        sink(pending.event);
    }
    return lost;
}

} // namespace service
