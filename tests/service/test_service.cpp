// The service's parts on their own: the table under repeated and missing events, a client's
// queue when its reader stalls, who sees what, the list files it obeys, kills by pid and start
// time, the sockets it is given or binds, and its command line.

#include "CClientConnection.h"
#include "ChildProcess.h"
#include "CLiveProcesses.h"
#include "CSystemList.h"
#include "ListeningSocket.h"
#include "PeerIdentity.h"
#include "ProcessKill.h"
#include "ServiceOptions.h"

#include "platform/ProcFiles.h"
#include "protocol/CFrameDecoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace service;

namespace {

// Records what the table tells, as "started 10", "exec 10 true", "exited 10".
class Recorder : public CLiveProcesses::Listener {
public:
    std::vector<std::string> told;
    void Started(const LiveProcess& p) override { told.push_back("started " + std::to_string(p.pid) + " " + p.Name()); }
    void Exec(const LiveProcess& p) override { told.push_back("exec " + std::to_string(p.pid) + " " + p.Name()); }
    void Exited(const LiveProcess& p, FileTime) override { told.push_back("exited " + std::to_string(p.pid)); }
};

KernelEvent Event(KernelEvent::Kind kind, std::uint32_t pid, std::uint64_t start, std::string comm = "sh",
                  std::string path = {}, FileTime time = 1000)
{
    KernelEvent event;
    event.kind = kind;
    event.pid = pid;
    event.ppid = 1;
    event.startTicks = start;
    event.comm = std::move(comm);
    event.path = std::move(path);
    event.time = time;
    return event;
}

using K = KernelEvent::Kind;

ProcReading Reading(std::uint32_t pid, std::uint64_t start, std::string path)
{
    ProcReading reading;
    reading.pid = pid;
    reading.startTicks = start;
    reading.comm = "x";
    reading.path = std::move(path);
    reading.credentialsRead = true;
    return reading;
}

class TempFolder {
public:
    TempFolder()
    {
        char path[] = "/tmp/orvaned-unit-XXXXXX";
        m_path = mkdtemp(path);
        chmod(m_path.c_str(), 0755);
    }
    ~TempFolder() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    const std::string& Path() const { return m_path; }
    std::string Write(const std::string& name, const std::string& bytes, mode_t mode = 0644) const
    {
        const std::string file = m_path + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        chmod(file.c_str(), mode);
        return file;
    }

private:
    std::string m_path;
};

} // namespace

TEST(LiveProcesses, EventsMakeOneStoryPerProcessWhateverComesTwice)
{
    struct Case {
        const char* what;
        std::vector<KernelEvent> events;
        std::vector<std::string> told;
    };
    const Case cases[] = {
        {"fork, exec, exit",
         {Event(K::Fork, 10, 5), Event(K::Exec, 10, 5, "true", "/usr/bin/true", 2000), Event(K::Exit, 10, 5)},
         {"started 10 sh", "exec 10 true", "exited 10"}},
        {"a fork told twice", {Event(K::Fork, 10, 5), Event(K::Fork, 10, 5)}, {"started 10 sh"}},
        {"an exit of another start, then one told twice",
         {Event(K::Fork, 10, 5), Event(K::Exit, 10, 6), Event(K::Exit, 10, 5), Event(K::Exit, 10, 5)},
         {"started 10 sh", "exited 10"}},
        {"a pid taken again before its exit was told",
         {Event(K::Fork, 10, 5), Event(K::Fork, 10, 9)},
         {"started 10 sh", "exited 10", "started 10 sh"}},
        {"an exec of a process never seen", {Event(K::Exec, 11, 5, "true", "/usr/bin/true")}, {"started 11 true"}},
        {"nothing readable: unknown, as the window names it",
         {[] {
             KernelEvent exec = Event(K::Exec, 12, 5, "", "");
             exec.commKnown = false;
             return exec;
         }()},
         {"started 12 unknown"}},
        {"an exit whose start is not known (the connector)",
         {Event(K::Fork, 13, 5), [] {
              KernelEvent exit = Event(K::Exit, 13, 0);
              exit.startKnown = false;
              return exit;
          }()},
         {"started 13 sh", "exited 13"}},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        CLiveProcesses table(recorder);
        for (const KernelEvent& event : c.events)
            table.Apply(event);
        EXPECT_EQ(recorder.told, c.told) << c.what;
    }
}

TEST(LiveProcesses, AForkedChildTakesItsParentsProgramAndCredentials)
{
    Recorder recorder;
    CLiveProcesses table(recorder);
    table.Rescan({Reading(20, 1, "/usr/bin/bash")}, 100);
    KernelEvent fork = Event(K::Fork, 21, 7, "", "");
    fork.ppid = 20;
    fork.credentialsKnown = fork.commKnown = false;
    table.Apply(fork);
    ASSERT_TRUE(table.Find(21));
    EXPECT_EQ(table.Find(21)->Path(), "/usr/bin/bash");
    EXPECT_EQ(table.Find(21)->Name(), "bash");
}

TEST(LiveProcesses, AListingMakesTheTableWhatProcShowsAndRepeatsFromBeforeItChangeNothing)
{
    Recorder recorder;
    CLiveProcesses table(recorder);
    table.Apply(Event(K::Fork, 30, 1, "a", "/bin/a"));
    table.Apply(Event(K::Fork, 31, 2, "b", "/bin/b"));
    table.Apply(Event(K::Fork, 32, 3, "c", "/bin/c"));
    recorder.told.clear();
    // 30 has ended, 31 runs another program, 32 is as it was, 33 is new.
    table.Rescan({Reading(31, 2, "/bin/other"), Reading(32, 3, "/bin/c"), Reading(33, 4, "/bin/d")}, 5000);
    EXPECT_EQ(recorder.told, (std::vector<std::string>{"exec 31 other", "started 33 d", "exited 30"}));
    // The exec that the listing had already read, told by the kernel afterwards.
    recorder.told.clear();
    table.Apply(Event(K::Exec, 31, 2, "x", "/bin/other", 4000));
    EXPECT_TRUE(recorder.told.empty());
    // The walk of a snapshot: serial order, execs keep their place.
    std::vector<std::uint32_t> order;
    for (const LiveProcess* p = table.After(0); p; p = table.After(p->serial))
        order.push_back(p->pid);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{31, 32, 33}));
}

namespace {

// A greeted client on one end of a socket pair; the test reads the other end.
struct ClientPair {
    explicit ClientPair(PeerIdentity peer = {}, int bufferBytes = 0)
    {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        if (bufferBytes) {
            setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
            setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
        }
        client = std::make_unique<CClientConnection>(fds[0], std::move(peer), 0);
        reader = fds[1];
    }
    ~ClientPair() { close(reader); }
    // Every message the socket holds now.
    std::vector<watch::Message> Read()
    {
        char bytes[65536];
        for (;;) {
            const ssize_t n = recv(reader, bytes, sizeof bytes, MSG_DONTWAIT);
            if (n <= 0)
                break;
            decoder.Feed(std::string_view(bytes, static_cast<std::size_t>(n)));
        }
        std::vector<watch::Message> messages;
        for (;;) {
            auto next = decoder.Next();
            EXPECT_TRUE(next) << next.error().message();
            if (!next || !*next)
                break;
            messages.push_back(std::move(**next));
        }
        return messages;
    }
    std::unique_ptr<CClientConnection> client;
    int reader;
    watch::CFrameDecoder decoder;
};

std::size_t Count(const std::vector<watch::Message>& messages, watch::MessageType type)
{
    return static_cast<std::size_t>(std::count_if(messages.begin(), messages.end(),
                                                  [&](const watch::Message& m) { return watch::TypeOf(m) == type; }));
}

} // namespace

TEST(ClientConnection, ASnapshotGoesOutAsTheSocketTakesItAndStreamsFollowOnlyWhatItPassed)
{
    Recorder recorder;
    CLiveProcesses table(recorder);
    std::vector<ProcReading> listing;
    for (std::uint32_t pid = 100; pid < 3100; ++pid)
        listing.push_back(Reading(pid, pid, "/usr/lib/some/long/path/to/a/program-" + std::to_string(pid)));
    table.Rescan(listing, 1);
    ClientPair pair;
    pair.client->BeginSnapshot();
    ASSERT_TRUE(pair.client->Flush(table));
    std::vector<watch::Message> received = pair.Read();
    // The socket cannot hold 3,000 processes: the rest waits in the table, not in the queue.
    ASSERT_FALSE(received.empty());
    EXPECT_LT(Count(received, watch::MessageType::Process), 3000u);
    const LiveProcess* passed = table.Find(100);
    const LiveProcess* ahead = table.Find(3099);
    EXPECT_TRUE(pair.client->Follows(*passed));
    EXPECT_FALSE(pair.client->Follows(*ahead));
    for (int round = 0; round < 200 && pair.client->GetPhase() != CClientConnection::Phase::Streaming; ++round) {
        ASSERT_TRUE(pair.client->Flush(table));
        auto more = pair.Read();
        received.insert(received.end(), more.begin(), more.end());
    }
    auto more = pair.Read();
    received.insert(received.end(), more.begin(), more.end());
    EXPECT_EQ(Count(received, watch::MessageType::Process), 3000u);
    EXPECT_EQ(Count(received, watch::MessageType::SnapshotEnd), 1u);
    EXPECT_TRUE(pair.client->Follows(*ahead));
}

TEST(ClientConnection, AStalledReaderLosesItsQueueNeverAHalfFrameAndIsToldToResync)
{
    Recorder recorder;
    CLiveProcesses table(recorder);
    table.Rescan({Reading(5, 5, "/bin/five")}, 1);
    ClientPair pair({}, 4096);
    pair.client->BeginSnapshot();
    ASSERT_TRUE(pair.client->Flush(table));
    std::string frame;
    watch::Encode(watch::Exec{watch::ProcessInfo{5, 1, 0, 5, 9, "five", std::string(3000, 'p')}}, frame);
    // More than the bound, while nobody reads; flushes in between leave a frame half written.
    for (std::size_t queued = 0; queued < 2 * CClientConnection::kQueueLimit && !pair.client->Resyncs();
         queued += frame.size()) {
        pair.client->Queue(frame);
        ASSERT_TRUE(pair.client->Flush(table));
    }
    EXPECT_EQ(pair.client->Resyncs(), 1u);
    std::vector<watch::Message> received;
    for (int round = 0; round < 500 && pair.client->HasQueued(); ++round) {
        auto more = pair.Read();
        received.insert(received.end(), more.begin(), more.end());
        ASSERT_TRUE(pair.client->Flush(table));
    }
    auto more = pair.Read();
    received.insert(received.end(), more.begin(), more.end());
    // Whole frames only (the decoder would have failed otherwise), then the resync and a snapshot.
    ASSERT_GE(Count(received, watch::MessageType::Resync), 1u);
    const auto resync = std::find_if(received.begin(), received.end(), [](const watch::Message& m) {
        return watch::TypeOf(m) == watch::MessageType::Resync;
    });
    ASSERT_NE(resync + 1, received.end());
    EXPECT_EQ(watch::TypeOf(*(resync + 1)), watch::MessageType::SnapshotBegin);
    EXPECT_EQ(watch::TypeOf(received.back()), watch::MessageType::SnapshotEnd);
}

TEST(ClientConnection, AClientSeesWhatItsProcShowsIt)
{
    CPathPool paths;
    LiveProcess own, others, setuid;
    own.uid = own.euid = 1000;
    own.SetComm("mine");
    own.path = paths.Intern("/home/u/mine");
    others.uid = others.euid = 0;
    others.SetComm("daemon");
    others.path = paths.Intern("/usr/sbin/daemon");
    setuid.uid = 1000;
    setuid.euid = 0;
    setuid.SetComm("passwd");
    setuid.path = paths.Intern("/usr/bin/passwd");
    struct Case {
        const char* what;
        uid_t uid;
        bool ownOnly;
        const LiveProcess& process;
        bool sees;
        std::string name, path;
    };
    const Case cases[] = {
        {"own process", 1000, true, own, true, "mine", "/home/u/mine"},
        {"another's, hidepid", 1000, true, others, false, "", ""},
        {"another's, no hidepid: the command name only", 1000, false, others, true, "daemon", ""},
        {"own setuid program, hidepid", 1000, true, setuid, false, "", ""},
        {"root sees every path", 0, false, others, true, "daemon", "/usr/sbin/daemon"},
    };
    for (const Case& c : cases) {
        PeerIdentity peer;
        peer.uid = c.uid;
        peer.ownProcessesOnly = c.ownOnly;
        ClientPair pair(peer);
        EXPECT_EQ(pair.client->Sees(c.process), c.sees) << c.what;
        if (!c.sees)
            continue;
        const watch::ProcessInfo info = pair.client->InfoFor(c.process, 0);
        EXPECT_EQ(info.name, c.name) << c.what;
        EXPECT_EQ(info.path, c.path) << c.what;
    }
}

TEST(PeerIdentity, TheProcMountsOptionsDecideWhatOthersShow)
{
    const std::string hostProc = "22 1 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n";
    const std::string hidden =
        "40 30 0:50 / /proc rw,relatime - proc proc rw,hidepid=invisible\n";
    struct Case {
        const char* what;
        std::string mountinfo;
        std::optional<int> hidepid;
        std::optional<gid_t> gid;
    };
    const Case cases[] = {
        {"the host's /proc", hostProc, 0, std::nullopt},
        {"hidepid=2 with gid", "23 1 0:22 / /proc rw shared:1 - proc proc rw,gid=27,hidepid=2\n", 2, 27},
        {"a later mount on top wins", hostProc + hidden, 2, std::nullopt},
        {"proc mounted elsewhere only", "23 1 0:22 / /mnt/proc rw - proc proc rw,hidepid=2\n", std::nullopt, std::nullopt},
        {"no proc at all", "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n", std::nullopt, std::nullopt},
        {"noaccess", "23 1 0:22 / /proc rw - proc proc rw,hidepid=noaccess\n", 1, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto options = ParseProcMount(c.mountinfo);
        ASSERT_EQ(options.has_value(), c.hidepid.has_value()) << c.what;
        if (!options)
            continue;
        EXPECT_EQ(options->hidepid, *c.hidepid) << c.what;
        EXPECT_EQ(options->gid, c.gid) << c.what;
    }
}

TEST(SystemList, OnlyAListThatRootAloneMayChangeIsObeyed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "owners other than root need root to set";
    TempFolder folder;
    const std::string entries = "game.exe|  Spaced |Capital|| clean|";
    struct Case {
        const char* what;
        std::function<std::string()> make; // returns the list's path
        std::error_code result;
    };
    const Case cases[] = {
        {"root's, 0644", [&] { return folder.Write("a", entries); }, {}},
        {"a user's", [&] {
             const std::string path = folder.Write("b", entries);
             EXPECT_EQ(chown(path.c_str(), 65534, 65534), 0);
             return path;
         }, make_error_code(ListFault::NotOwnedByRoot)},
        {"group-writable", [&] { return folder.Write("c", entries, 0664); }, make_error_code(ListFault::WritableByOthers)},
        {"a link to root's file", [&] {
             const std::string target = folder.Write("d", entries);
             EXPECT_EQ(symlink(target.c_str(), (folder.Path() + "/e").c_str()), 0);
             return folder.Path() + "/e";
         }, make_error_code(ListFault::NotRegularFile)},
        {"a FIFO (must not hang)", [&] {
             EXPECT_EQ(mkfifo((folder.Path() + "/f").c_str(), 0644), 0);
             return folder.Path() + "/f";
         }, make_error_code(ListFault::NotRegularFile)},
        {"in a folder others may write", [&] {
             mkdir((folder.Path() + "/open").c_str(), 0777);
             chmod((folder.Path() + "/open").c_str(), 0777);
             return folder.Write("open/g", entries);
         }, make_error_code(ListFault::FolderNotSafe)},
    };
    for (const Case& c : cases) {
        CSystemList list(c.make());
        Result<std::size_t> loaded = list.Load();
        EXPECT_EQ(loaded.error(), c.result) << c.what;
        EXPECT_EQ(list.Contains("game.exe"), !c.result) << c.what;
    }
    CSystemList missing(folder.Path() + "/none");
    EXPECT_EQ(missing.Load().value_or(99), 0u);
}

TEST(SystemList, NamesMatchByTheWindowsRule)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "the list is obeyed only when root owns it";
    TempFolder folder;
    CSystemList list(folder.Write("BlackList.log", "game.exe|  Spaced |Capital||tail"));
    ASSERT_EQ(list.Load().value_or(0), 3u);
    struct Case {
        const char* name;
        bool disabled;
    };
    // The probe is trimmed and lowered; the entries are taken as they stand.
    const Case cases[] = {{"game.exe", true}, {" GAME.EXE\t", true}, {"Spaced", false}, {"  Spaced ", false},
                          {"capital", false}, {"Capital", false}, {"", false}, {"tail", false}};
    for (const Case& c : cases)
        EXPECT_EQ(list.Contains(c.name), c.disabled) << "'" << c.name << "'";
}

TEST(ProcessKill, OnlyTheProcessOfThatPidAndStartDies)
{
    ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sleep", "30"}));
    char buffer[platform::procfs::kStatBufferSize];
    const auto stat = platform::procfs::ReadStatByPath(static_cast<std::uint32_t>(child.Pid()), buffer);
    ASSERT_TRUE(stat);
    const auto pid = static_cast<std::uint32_t>(child.Pid());
    EXPECT_EQ(KillProcess(pid, stat->starttime + 1).error(), std::errc::no_such_process);
    EXPECT_FALSE(child.WaitEnded(50));
    EXPECT_TRUE(KillProcess(pid, stat->starttime));
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(KillProcess(pid, stat->starttime).error(), std::errc::no_such_process);
}

TEST(ListeningSocket, SystemdsSocketIsTakenOnlyWhenItIsForThisProcess)
{
    struct Case {
        const char* what;
        bool ownPid;
        bool listening;
        int result; // 3: taken, 4: none passed, 1: refused
    };
    const Case cases[] = {{"ours", true, true, 3}, {"another process's", false, true, 4}, {"not listening", true, false, 1}};
    for (const Case& c : cases) {
        const int code = ChildProcess::RunInHelper([&] {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const std::string name = "orvaned-test-" + std::to_string(getpid()); // abstract: no file
            std::memcpy(address.sun_path + 1, name.data(), name.size());
            bind(fd, reinterpret_cast<sockaddr*>(&address), static_cast<socklen_t>(sizeof(sa_family_t) + 1 + name.size()));
            if (c.listening)
                listen(fd, 1);
            dup2(fd, 3);
            setenv("LISTEN_PID", std::to_string(c.ownPid ? getpid() : getpid() + 1).c_str(), 1);
            setenv("LISTEN_FDS", "1", 1);
            Result<int> taken = SocketFromSystemd();
            if (std::getenv("LISTEN_FDS"))
                return 9; // the variables must not reach children
            return !taken ? 1 : (*taken == 3 ? 3 : (*taken == -1 ? 4 : 8));
        });
        EXPECT_EQ(code, c.result) << c.what;
    }
}

TEST(ListeningSocket, AStaleSocketIsReplacedALiveOneIsNot)
{
    TempFolder folder;
    const std::string path = folder.Path() + "/run/orvaned.sock";
    Result<int> first = BindSocket(path);
    ASSERT_TRUE(first) << first.error().message();
    EXPECT_EQ(BindSocket(path).error(), std::errc::address_in_use);
    struct stat info{};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u);
    close(*first); // the file stays behind, as after a crash
    Result<int> second = BindSocket(path);
    ASSERT_TRUE(second) << second.error().message();
    close(*second);
    EXPECT_EQ(BindSocket(folder.Write("plain", "x")).error(), std::errc::file_exists);
}

TEST(ServiceOptions, TheCommandLineIsReadOrRefusedWithWhatIsWrong)
{
    struct Case {
        std::vector<std::string> arguments;
        bool ok;
        std::string socket, list;
        std::optional<watch::EventSource> source;
        std::size_t buffer;
    };
    const Case cases[] = {
        {{}, true, "/run/orvane/orvaned.sock", "/etc/orvane/BlackList.log", std::nullopt, 0},
        {{"--socket", "/tmp/s", "--disabled-list=/tmp/l", "--source", "connector"}, true, "/tmp/s", "/tmp/l",
         watch::EventSource::Connector, 0},
        {{"--source=bpf", "--buffer-size", "4096"}, true, "/run/orvane/orvaned.sock", "/etc/orvane/BlackList.log",
         watch::EventSource::Bpf, 4096},
        {{"--source", "poll"}, false, "", "", std::nullopt, 0},
        {{"--socket"}, false, "", "", std::nullopt, 0},
        {{"--socket="}, false, "", "", std::nullopt, 0},
        {{"--buffer-size", "0"}, false, "", "", std::nullopt, 0},
        {{"--buffer-size", "12k"}, false, "", "", std::nullopt, 0},
        {{"--verbose"}, false, "", "", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        std::string problem;
        Result<ServiceOptions> options = ParseServiceOptions(c.arguments, problem);
        ASSERT_EQ(options.has_value(), c.ok) << (c.arguments.empty() ? "(none)" : c.arguments[0]);
        if (!options) {
            EXPECT_FALSE(problem.empty());
            continue;
        }
        EXPECT_EQ(options->socketPath, c.socket);
        EXPECT_EQ(options->listPath, c.list);
        EXPECT_EQ(options->source, c.source);
        EXPECT_EQ(options->bufferBytes, c.buffer);
    }
}
