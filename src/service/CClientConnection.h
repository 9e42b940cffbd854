#pragma once
// One client of the service: its identity, its bounded queue of frames and where its snapshot
// stands. The service never waits for a client: frames wait in the queue while the socket is
// full, and a client whose queue would pass its bound loses the queue (the frame half sent
// is finished) and is told to resync, after which it gets a new snapshot. The snapshot is
// written from the table as the socket takes it, never copied whole, so a slow client costs
// its queue's bound and no more.

#include "CLiveProcesses.h"
#include "PeerIdentity.h"
#include "protocol/CFrameDecoder.h"

#include <cstdint>
#include <string>

namespace service {

class CClientConnection {
public:
    enum class Phase {
        AwaitingHello, // nothing is sent until the client has said which version it speaks
        Snapshot,      // the table is being written; stream messages for what is written follow it
        Streaming,
        Closing, // the last frames go out, then the connection is closed
    };

    // The queue's bound, and the level below which more of a snapshot is written.
    static constexpr std::size_t kQueueLimit = 256 * 1024;
    static constexpr std::size_t kSnapshotLowWater = 32 * 1024;

    CClientConnection(int fd, PeerIdentity peer, FileTime helloDeadline);
    ~CClientConnection();
    CClientConnection(const CClientConnection&) = delete;
    CClientConnection& operator=(const CClientConnection&) = delete;

    int Fd() const { return m_fd; }
    const PeerIdentity& Peer() const { return m_peer; }
    Phase GetPhase() const { return m_phase; }
    FileTime HelloDeadline() const { return m_helloDeadline; }
    watch::CFrameDecoder& Decoder() { return m_decoder; }
    std::uint64_t Resyncs() const { return m_resyncs; }

    // Whether the client may see the process (hidepid), and read its executable's path.
    bool Sees(const LiveProcess& process) const;
    bool ReadsPath(const LiveProcess& process) const;
    // The process as this client may see it.
    watch::ProcessInfo InfoFor(const LiveProcess& process, FileTime time) const;

    // Whether a stream message about `process` is for this client now: it has been greeted,
    // sees the process, and its snapshot (if one is being written) has passed it.
    bool Follows(const LiveProcess& process) const;

    // Queues one encoded frame; when that would pass the bound, falls behind instead
    // (the frame is dropped with the rest of the queue).
    void Queue(const std::string& frame);
    void Queue(const watch::Message& message);
    // Starts a snapshot (after Hello, or a resync).
    void BeginSnapshot();
    // Drops the queue and starts over with a resync.
    void FallBehind(watch::ResyncReason reason);
    // Queues a last message; the connection is closed once it is out or cannot go.
    void Close(const watch::Message& farewell);

    // Writes what the socket takes, writing more of a snapshot from `table` as the queue
    // runs low. Returns false when the connection is finished (an error, or Closing done).
    bool Flush(const CLiveProcesses& table);
    bool HasQueued() const { return m_sent < m_out.size(); }
    // Whether the service should wait for the socket to take more (EPOLLOUT).
    bool WantsWritable() const { return m_blocked; }

private:
    std::size_t Queued() const { return m_out.size() - m_sent; }
    // Writes what the socket takes now; false when the connection has failed.
    bool Send();
    void Compact();
    void WriteSnapshotPart(const CLiveProcesses& table);

    int m_fd;
    PeerIdentity m_peer;
    FileTime m_helloDeadline;
    Phase m_phase = Phase::AwaitingHello;
    watch::CFrameDecoder m_decoder;
    std::string m_out;
    std::size_t m_sent = 0;     // bytes of m_out written
    std::size_t m_frameEnd = 0; // end of the frame that holds m_sent (a frame boundary >= m_sent)
    std::uint64_t m_cursor = 0; // serial of the last process the snapshot wrote
    bool m_blocked = false; // the socket took no more at the last write
    bool m_failed = false;
    std::uint64_t m_resyncs = 0;
};

} // namespace service
