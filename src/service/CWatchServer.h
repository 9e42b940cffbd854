#pragma once
// The service's one thread: an epoll loop over the event source, the listening socket, the
// clients, the disabled list's folder, a signal descriptor and two timers. Kernel
// events change the table, the table's changes go to the clients' queues, and the queues go
// out as the sockets take them; nothing in the loop waits for a client.

#include "CClientConnection.h"
#include "CEventSource.h"
#include "CLiveProcesses.h"
#include "CSystemList.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

namespace service {

class CWatchServer : private CLiveProcesses::Listener {
public:
    // At most this many connections per user; the next ones are refused with a Goodbye.
    static constexpr std::size_t kConnectionsPerUser = 64;
    static constexpr std::size_t kConnections = 4096;
    // A connection that has not said Hello by then is closed.
    static constexpr int kHelloSeconds = 5;
    // The longest a kernel record that did not wake the service waits to be read.
    static constexpr long kDrainDelayMs = 30;

    // Takes the listening socket (closed with the server) and the source. `removeOnExit`:
    // the socket file to remove at the end (one the service bound itself), or empty.
    CWatchServer(int listenFd, std::string removeOnExit, std::unique_ptr<CEventSource> source,
                 std::unique_ptr<CSystemList> list);
    ~CWatchServer();
    CWatchServer(const CWatchServer&) = delete;
    CWatchServer& operator=(const CWatchServer&) = delete;

    // Reads /proc once (killing what the list names), then serves until SIGTERM or SIGINT.
    // Fails when the loop itself cannot go on (the source broke, epoll failed).
    Result<> Run();

private:
    // CLiveProcesses::Listener
    void Started(const LiveProcess& process) override;
    void Exec(const LiveProcess& process) override;
    void Exited(const LiveProcess& process, FileTime when) override;

    Result<> Setup();
    void KillIfDisabled(const LiveProcess& process);
    enum class Change { Started, Exec };
    void Broadcast(const LiveProcess& process, Change change);
    void DrainSource(bool& broken);
    void Rescan(bool resyncClients);
    void AcceptClients();
    void ReadClient(CClientConnection& client);
    void Handle(CClientConnection& client, const watch::Message& message);
    void CloseClient(int fd);
    void FlushClients();
    void UpdateInterest(CClientConnection& client);
    void ReloadList();
    void Housekeeping();
    void RefuseConnection(int fd, watch::GoodbyeReason reason, const std::string& text);

    int m_epoll = -1;
    int m_listenFd;
    std::string m_socketFile;
    int m_signalFd = -1;
    int m_timerFd = -1;      // housekeeping, every second
    int m_drainTimerFd = -1; // armed after events, see DrainSource
    int m_spareFd = -1; // given up to accept and close one connection when descriptors run out
    std::unique_ptr<CEventSource> m_source;
    std::unique_ptr<CSystemList> m_list;
    CLiveProcesses m_table;
    std::map<int, std::unique_ptr<CClientConnection>> m_clients;
    std::unordered_map<uid_t, std::size_t> m_perUser;
    std::set<uid_t> m_toldFull; // users told about once while at their limit
    std::set<int> m_dirty;      // clients with frames to write
    std::set<std::pair<std::uint32_t, std::uint64_t>> m_killed; // killed, exit not yet seen
    std::unordered_map<int, bool> m_wantsOut;
    bool m_rescanning = false;
    std::string m_listTold; // the last line told about the list
    bool m_stop = false;
};

} // namespace service
