#include "CClientConnection.h"

#include "KernelClock.h"
#include "platform/ProcessServices.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace service {

namespace {
// Frames a client sends are a few bytes: anything longer is not a client of this protocol.
constexpr std::size_t kMaxClientFrame = 64;
} // namespace

CClientConnection::CClientConnection(int fd, PeerIdentity peer, FileTime helloDeadline)
    : m_fd(fd), m_peer(std::move(peer)), m_helloDeadline(helloDeadline), m_decoder(kMaxClientFrame)
{
}

CClientConnection::~CClientConnection()
{
    close(m_fd);
}

bool CClientConnection::Sees(const LiveProcess& process) const
{
    return !m_peer.ownProcessesOnly || (process.uid == m_peer.uid && process.euid == m_peer.uid);
}

bool CClientConnection::ReadsPath(const LiveProcess& process) const
{
    return m_peer.uid == 0 || (process.uid == m_peer.uid && process.euid == m_peer.uid);
}

watch::ProcessInfo CClientConnection::InfoFor(const LiveProcess& process, FileTime time) const
{
    watch::ProcessInfo info;
    info.pid = process.pid;
    info.ppid = process.ppid;
    info.uid = process.uid;
    info.startTicks = process.startTicks;
    info.time = time;
    if (ReadsPath(process)) {
        info.name = process.Name();
        info.path = process.Path();
    } else {
        info.name = process.comm[0] ? std::string(process.Comm()) : std::string(platform::kUnknownName);
    }
    return info;
}

bool CClientConnection::Follows(const LiveProcess& process) const
{
    if (m_phase == Phase::Streaming)
        return Sees(process);
    if (m_phase == Phase::Snapshot)
        return process.serial <= m_cursor && Sees(process);
    return false;
}

void CClientConnection::Queue(const std::string& frame)
{
    if (m_phase == Phase::Closing)
        return;
    // A burst of events is queued before the round's flush: the socket may take some now.
    if (Queued() + frame.size() > kQueueLimit && !m_blocked)
        (void)Send();
    if (Queued() + frame.size() > kQueueLimit) {
        FallBehind(watch::ResyncReason::FellBehind);
        return;
    }
    m_out += frame;
}

void CClientConnection::Queue(const watch::Message& message)
{
    std::string frame;
    watch::Encode(message, frame);
    Queue(frame);
}

void CClientConnection::BeginSnapshot()
{
    m_phase = Phase::Snapshot;
    m_cursor = 0;
    Queue(watch::SnapshotBegin{});
}

void CClientConnection::FallBehind(watch::ResyncReason reason)
{
    if (m_phase == Phase::Closing || m_phase == Phase::AwaitingHello)
        return;
    // Keep the frame that is half written: the stream must stay whole.
    m_out.resize(m_frameEnd);
    ++m_resyncs;
    std::string frame;
    watch::Encode(watch::Resync{reason}, frame);
    m_out += frame;
    BeginSnapshot();
}

void CClientConnection::Close(const watch::Message& farewell)
{
    if (m_phase == Phase::Closing)
        return;
    m_out.resize(m_frameEnd);
    watch::Encode(farewell, m_out);
    m_phase = Phase::Closing;
}

void CClientConnection::Compact()
{
    if (m_sent == m_out.size()) {
        m_out.clear();
        m_sent = m_frameEnd = 0;
        if (m_out.capacity() > 2 * kQueueLimit)
            m_out.shrink_to_fit();
    } else if (m_sent > 64 * 1024 && m_sent * 2 > m_out.size()) {
        m_out.erase(0, m_sent);
        m_frameEnd -= m_sent;
        m_sent = 0;
    }
}

void CClientConnection::WriteSnapshotPart(const CLiveProcesses& table)
{
    while (m_phase == Phase::Snapshot && Queued() < kSnapshotLowWater) {
        const LiveProcess* process = table.After(m_cursor);
        if (!process) {
            m_phase = Phase::Streaming;
            watch::Encode(watch::SnapshotEnd{WallClockNow()}, m_out);
            return;
        }
        m_cursor = process->serial;
        if (Sees(*process))
            watch::Encode(watch::Process{InfoFor(*process, process->began)}, m_out);
    }
}

bool CClientConnection::Send()
{
    while (HasQueued()) {
        const ssize_t n = send(m_fd, m_out.data() + m_sent, m_out.size() - m_sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_blocked = true;
                return true;
            }
            m_failed = true;
            return false;
        }
        m_sent += static_cast<std::size_t>(n);
        // Follow the frame boundaries past what was written.
        while (m_frameEnd < m_sent && m_frameEnd + 4 <= m_out.size()) {
            std::uint32_t length = 0;
            for (std::size_t i = 0; i < 4; ++i)
                length |= static_cast<std::uint32_t>(static_cast<unsigned char>(m_out[m_frameEnd + i])) << (8 * i);
            m_frameEnd += 4 + length;
        }
        Compact();
    }
    m_blocked = false;
    return true;
}

bool CClientConnection::Flush(const CLiveProcesses& table)
{
    if (m_failed)
        return false;
    m_blocked = false; // the service flushes a blocked client when its socket has room again
    do {
        WriteSnapshotPart(table);
        if (!Send())
            return false;
    } while (!m_blocked && m_phase == Phase::Snapshot);
    // Closing: the farewell went out, or the client will not take it; either way it is over.
    return m_phase != Phase::Closing;
}

} // namespace service
