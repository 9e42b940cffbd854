#include "CWatchServer.h"

#include "KernelClock.h"
#include "ProcessKill.h"
#include "ProcReading.h"
#include "platform/ProcFiles.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace service {
namespace {

constexpr const char* kAdminGroup = "orvane-admin";

// Tags of the descriptors that are not clients, in epoll_event.data.u64 (clients carry their
// descriptor, which is below 2^31).
constexpr std::uint64_t kTagSource = 1ULL << 40;
constexpr std::uint64_t kTagListen = kTagSource + 1;
constexpr std::uint64_t kTagSignal = kTagSource + 2;
constexpr std::uint64_t kTagTimer = kTagSource + 3;
constexpr std::uint64_t kTagList = kTagSource + 4;
constexpr std::uint64_t kTagDrainTimer = kTagSource + 5;

void Tell(const std::string& line)
{
    std::fprintf(stderr, "orvaned: %s\n", line.c_str());
    std::fflush(stderr);
}

FileTime SecondsFromNow(int seconds)
{
    return WallClockNow() + static_cast<FileTime>(seconds) * platform::kFileTimePerSecond;
}

} // namespace

CWatchServer::CWatchServer(int listenFd, std::string removeOnExit, std::unique_ptr<CEventSource> source,
                           std::unique_ptr<CSystemList> list)
    : m_listenFd(listenFd), m_socketFile(std::move(removeOnExit)), m_source(std::move(source)),
      m_list(std::move(list)), m_table(*this)
{
}

CWatchServer::~CWatchServer()
{
    m_clients.clear();
    for (int fd : {m_epoll, m_listenFd, m_signalFd, m_timerFd, m_drainTimerFd, m_spareFd})
        if (fd >= 0)
            close(fd);
    if (!m_socketFile.empty())
        unlink(m_socketFile.c_str());
}

Result<> CWatchServer::Setup()
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        return LastError();
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0)
        return LastError();
    m_signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_signalFd < 0 || m_timerFd < 0)
        return LastError();
    const itimerspec second{{1, 0}, {1, 0}};
    if (timerfd_settime(m_timerFd, 0, &second, nullptr) != 0)
        return LastError();
    m_drainTimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_drainTimerFd < 0)
        return LastError();
    m_spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);

    auto watch = [this](int fd, std::uint64_t tag) -> Result<> {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = tag;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
            return LastError();
        return {};
    };
    for (auto [fd, tag] : {std::pair{m_source->Fd(), kTagSource}, std::pair{m_listenFd, kTagListen},
                           std::pair{m_signalFd, kTagSignal}, std::pair{m_timerFd, kTagTimer},
                           std::pair{m_drainTimerFd, kTagDrainTimer}})
        if (Result<> added = watch(fd, tag); !added)
            return added;
    if (m_list->WatchFd() >= 0)
        if (Result<> added = watch(m_list->WatchFd(), kTagList); !added)
            return added;
    return {};
}

Result<> CWatchServer::Run()
{
    if (Result<> ready = Setup(); !ready)
        return ready;
    ReloadList();
    Rescan(false);

    std::vector<epoll_event> events(256);
    while (!m_stop) {
        const int n = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastError();
        }
        bool sourceBroken = false;
        for (int i = 0; i < n; ++i) {
            const std::uint64_t tag = events[static_cast<std::size_t>(i)].data.u64;
            const std::uint32_t what = events[static_cast<std::size_t>(i)].events;
            if (tag == kTagSource) {
                DrainSource(sourceBroken);
            } else if (tag == kTagListen) {
                AcceptClients();
            } else if (tag == kTagSignal) {
                signalfd_siginfo info{};
                while (read(m_signalFd, &info, sizeof info) == sizeof info) {
                    if (info.ssi_signo == SIGHUP)
                        ReloadList();
                    else
                        m_stop = true;
                }
            } else if (tag == kTagTimer) {
                std::uint64_t expirations = 0;
                (void)!read(m_timerFd, &expirations, sizeof expirations);
                Housekeeping();
            } else if (tag == kTagDrainTimer) {
                std::uint64_t expirations = 0;
                (void)!read(m_drainTimerFd, &expirations, sizeof expirations);
            } else if (tag == kTagList) {
                if (m_list->TakeWatchEvents())
                    ReloadList();
            } else {
                const int fd = static_cast<int>(tag);
                auto client = m_clients.find(fd);
                if (client == m_clients.end())
                    continue;
                if (what & (EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP))
                    ReadClient(*client->second);
                if (m_clients.contains(fd) && (what & EPOLLOUT))
                    m_dirty.insert(fd);
            }
        }
        // Events that came while the clients were read reach them in the same round.
        DrainSource(sourceBroken);
        if (sourceBroken)
            return std::errc::io_error;
        FlushClients();
    }
    for (auto& [fd, client] : m_clients) {
        client->Close(watch::Goodbye{watch::GoodbyeReason::ShuttingDown, "the service is stopping"});
        (void)client->Flush(m_table);
    }
    return {};
}

void CWatchServer::DrainSource(bool& broken)
{
    std::size_t events = 0;
    Result<bool> lost = m_source->Drain([this, &events](const KernelEvent& event) {
        m_table.Apply(event);
        ++events;
    });
    if (events) {
        // The kernel side wakes the service for some records only: those after the last one
        // it woke for are read by this timer, which sleeps while nothing happens.
        const itimerspec once{{0, 0}, {0, kDrainDelayMs * 1'000'000}};
        timerfd_settime(m_drainTimerFd, 0, &once, nullptr);
    }
    if (!lost) {
        Tell("the event source failed: " + lost.error().message());
        broken = true;
        return;
    }
    if (*lost) {
        Tell("kernel events were lost (the buffer was full): /proc read again, every client resynchronised");
        Rescan(true);
    }
}

void CWatchServer::Rescan(bool resyncClients)
{
    const Result<std::vector<ProcReading>> listing = ReadAllProcesses();
    if (!listing) {
        Tell("/proc cannot be listed: " + listing.error().message());
        return;
    }
    m_rescanning = true;
    m_table.Rescan(*listing, WallClockNow());
    m_rescanning = false;
    if (!resyncClients)
        return;
    for (auto& [fd, client] : m_clients) {
        client->FallBehind(watch::ResyncReason::EventsLost);
        m_dirty.insert(fd);
    }
}

void CWatchServer::KillIfDisabled(const LiveProcess& process)
{
    const std::string name = process.Name();
    if (!m_list->Contains(name) || process.pid == static_cast<std::uint32_t>(getpid()))
        return;
    // A process may be met twice before it dies (its start and its exec read together).
    if (!m_killed.emplace(process.pid, process.startTicks).second)
        return;
    if (Result<> killed = KillProcess(process.pid, process.startTicks); killed) {
        Tell("killed " + name + " (pid " + std::to_string(process.pid) + ", uid " + std::to_string(process.uid) +
             "): on the disabled list");
    } else if (killed.error() != std::errc::no_such_process) {
        Tell("cannot kill " + name + " (pid " + std::to_string(process.pid) + "): " + killed.error().message());
    }
}

void CWatchServer::Started(const LiveProcess& process)
{
    KillIfDisabled(process);
    if (!m_rescanning)
        Broadcast(process, Change::Started);
}

void CWatchServer::Exec(const LiveProcess& process)
{
    KillIfDisabled(process);
    if (!m_rescanning)
        Broadcast(process, Change::Exec);
}

void CWatchServer::Exited(const LiveProcess& process, FileTime when)
{
    m_killed.erase({process.pid, process.startTicks});
    if (m_rescanning)
        return;
    std::string frame;
    for (auto& [fd, client] : m_clients) {
        if (!client->Follows(process))
            continue;
        if (frame.empty())
            watch::Encode(watch::Exited{process.pid, process.startTicks, when}, frame);
        client->Queue(frame);
        m_dirty.insert(fd);
    }
}

void CWatchServer::Broadcast(const LiveProcess& process, Change change)
{
    // Two forms at most: with the path, for clients that may read it, and without.
    std::string withPath, withoutPath;
    for (auto& [fd, client] : m_clients) {
        if (!client->Follows(process))
            continue;
        std::string& frame = client->ReadsPath(process) ? withPath : withoutPath;
        if (frame.empty()) {
            watch::ProcessInfo info = client->InfoFor(process, process.began);
            if (change == Change::Started)
                watch::Encode(watch::Started{std::move(info)}, frame);
            else
                watch::Encode(watch::Exec{std::move(info)}, frame);
        }
        client->Queue(frame);
        m_dirty.insert(fd);
    }
}

void CWatchServer::RefuseConnection(int fd, watch::GoodbyeReason reason, const std::string& text)
{
    std::string frame;
    watch::Encode(watch::Goodbye{reason, text}, frame);
    (void)!send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    close(fd);
}

void CWatchServer::AcceptClients()
{
    const std::optional<gid_t> adminGroup = LookUpGroup(kAdminGroup);
    for (int accepted = 0; accepted < 256; ++accepted) {
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if ((errno == EMFILE || errno == ENFILE) && m_spareFd >= 0) {
                // Take the connection with the spare descriptor and close it, or it would stay
                // in the backlog and wake the loop for ever.
                close(m_spareFd);
                const int refused = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (refused >= 0)
                    close(refused);
                m_spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
                Tell("out of descriptors: a connection was refused");
                continue;
            }
            return;
        }
        Result<PeerIdentity> peer = IdentifyPeer(fd, adminGroup);
        if (!peer) {
            close(fd);
            continue;
        }
        std::size_t& count = m_perUser[peer->uid];
        if (count >= kConnectionsPerUser || m_clients.size() >= kConnections) {
            if (m_toldFull.insert(peer->uid).second)
                Tell("user " + std::to_string(peer->uid) + " has " + std::to_string(count) +
                     " connections, the most one user may have: further ones are refused");
            RefuseConnection(fd, watch::GoodbyeReason::TooManyConnections, "too many connections");
            continue;
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = static_cast<std::uint64_t>(fd);
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
            close(fd);
            continue;
        }
        ++count;
        m_clients.emplace(fd, std::make_unique<CClientConnection>(fd, std::move(*peer), SecondsFromNow(kHelloSeconds)));
    }
}

void CWatchServer::ReadClient(CClientConnection& client)
{
    const int fd = client.Fd();
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        CloseClient(fd);
        return;
    }
    if (n < 0)
        return;
    client.Decoder().Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    for (;;) {
        Result<std::optional<watch::Message>> message = client.Decoder().Next();
        if (!message) {
            client.Close(watch::Goodbye{watch::GoodbyeReason::Malformed, message.error().message()});
            break;
        }
        if (!*message)
            break;
        Handle(client, **message);
        if (client.GetPhase() == CClientConnection::Phase::Closing)
            break;
    }
    m_dirty.insert(fd);
}

void CWatchServer::Handle(CClientConnection& client, const watch::Message& message)
{
    const bool greeted = client.GetPhase() != CClientConnection::Phase::AwaitingHello;
    if (const auto* hello = std::get_if<watch::Hello>(&message); hello && !greeted) {
        if (hello->version != watch::kProtocolVersion) {
            client.Close(watch::Goodbye{watch::GoodbyeReason::VersionUnsupported,
                                        "this service speaks version " + std::to_string(watch::kProtocolVersion)});
            return;
        }
        watch::Welcome welcome;
        welcome.source = m_source->Kind();
        welcome.flags = static_cast<std::uint8_t>((client.Peer().admin ? watch::Welcome::kMayKill : 0) |
                                                  (client.Peer().ownProcessesOnly ? watch::Welcome::kOwnProcesses : 0));
        welcome.bootTime = platform::procfs::BootTime();
        welcome.ticksPerSecond = static_cast<std::uint32_t>(platform::procfs::ClockTicksPerSecond());
        client.Queue(welcome);
        client.BeginSnapshot();
        return;
    }
    if (const auto* kill = std::get_if<watch::KillRequest>(&message); kill && greeted) {
        watch::KillResult result{kill->pid, kill->startTicks, EPERM};
        if (client.Peer().admin) {
            Result<> killed = KillProcess(kill->pid, kill->startTicks);
            result.error = killed ? 0 : killed.error().value();
            if (killed)
                Tell("killed pid " + std::to_string(kill->pid) + " at the request of uid " +
                     std::to_string(client.Peer().uid));
        }
        client.Queue(result);
        return;
    }
    client.Close(watch::Goodbye{watch::GoodbyeReason::Malformed, "unexpected message"});
}

void CWatchServer::CloseClient(int fd)
{
    auto client = m_clients.find(fd);
    if (client == m_clients.end())
        return;
    const uid_t uid = client->second->Peer().uid;
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    m_clients.erase(client);
    m_dirty.erase(fd);
    m_wantsOut.erase(fd);
    if (auto count = m_perUser.find(uid); count != m_perUser.end() && --count->second == 0)
        m_perUser.erase(count);
    m_toldFull.erase(uid);
}

void CWatchServer::UpdateInterest(CClientConnection& client)
{
    bool& registered = m_wantsOut[client.Fd()];
    if (registered == client.WantsWritable())
        return;
    registered = client.WantsWritable();
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | (registered ? EPOLLOUT : 0u);
    event.data.u64 = static_cast<std::uint64_t>(client.Fd());
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, client.Fd(), &event);
}

void CWatchServer::FlushClients()
{
    std::set<int> dirty;
    dirty.swap(m_dirty);
    for (int fd : dirty) {
        auto client = m_clients.find(fd);
        if (client == m_clients.end())
            continue;
        if (!client->second->Flush(m_table)) {
            CloseClient(fd);
            continue;
        }
        UpdateInterest(*client->second);
    }
}

void CWatchServer::ReloadList()
{
    Result<std::size_t> loaded = m_list->Load();
    std::string line;
    if (!loaded)
        line = m_list->Path() + ": not obeyed: " + loaded.error().message();
    else if (*loaded == 0)
        line = m_list->Path() + ": no disabled programs";
    else
        line = m_list->Path() + ": " + std::to_string(*loaded) + " disabled program name(s)";
    if (line != m_listTold) {
        Tell(line);
        m_listTold = line;
    }
    m_source->SetUrgentExecs(m_list->Size() > 0);
}

void CWatchServer::Housekeeping()
{
    const FileTime now = WallClockNow();
    std::vector<int> late;
    for (auto& [fd, client] : m_clients)
        if (client->GetPhase() == CClientConnection::Phase::AwaitingHello && now > client->HelloDeadline())
            late.push_back(fd);
    for (int fd : late)
        CloseClient(fd);
    // A list folder made after the start is watched from then on.
    if (m_list->WatchFd() >= 0) {
        const bool before = m_list->Watching();
        m_list->EnsureWatched();
        if (!before && m_list->Watching())
            ReloadList();
    }
}

} // namespace service
