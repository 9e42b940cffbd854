// The watch protocol: frames as the other side reads them, however the stream cuts them; the
// faults a receiver must refuse; the client's table through snapshots and resyncs; the
// client's connection against a service played by the test.

#include "protocol/CFrameDecoder.h"
#include "protocol/CWatchClient.h"
#include "protocol/CWatchTable.h"
#include "protocol/MessageCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace watch;

namespace {

ProcessInfo Info(std::uint32_t pid, std::uint64_t start, std::string name, std::string path = {})
{
    return ProcessInfo{pid, 1, 1000, start, 5000 + start, std::move(name), std::move(path)};
}

std::string Frame(const Message& message)
{
    std::string frame;
    Encode(message, frame);
    return frame;
}

// A frame body of the given type byte and fields.
std::string Body(std::uint8_t type, std::string fields = {})
{
    return std::string(1, static_cast<char>(type)) + fields;
}

std::string Le(std::uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

std::vector<Message> AllKinds()
{
    return {
        Hello{},
        Hello{0xFFFF},
        Welcome{kProtocolVersion, EventSource::Connector, Welcome::kMayKill | Welcome::kOwnProcesses,
                133000000000000000ULL, 100},
        SnapshotBegin{},
        Process{Info(1, 0, "", "")},
        Process{Info(0xFFFFFFFF, ~0ULL, std::string(kMaxName, 'n'), std::string(kMaxPath, 'p'))},
        SnapshotEnd{42},
        Started{Info(300, 77, "bash", "/usr/bin/bash")},
        Exec{Info(300, 77, "name with\tcontrol\nbytes \xC3\xA9", "/opt/a b/x")},
        Exited{300, 77, 9999},
        Resync{ResyncReason::FellBehind},
        Resync{ResyncReason::EventsLost},
        KillRequest{12, 34},
        KillResult{12, 34, -1},
        Goodbye{GoodbyeReason::TooManyConnections, "too many"},
        Goodbye{GoodbyeReason::ShuttingDown, ""},
    };
}

} // namespace

TEST(ProtocolFrames, EveryKindReadsBackAsWritten)
{
    for (const Message& message : AllKinds()) {
        const std::string frame = Frame(message);
        ASSERT_GE(frame.size(), 5u);
        EXPECT_EQ(frame.substr(0, 4), Le(frame.size() - 4, 4));
        Result<Message> decoded = DecodeBody(std::string_view(frame).substr(4));
        ASSERT_TRUE(decoded) << "type " << static_cast<int>(TypeOf(message)) << ": " << decoded.error().message();
        EXPECT_EQ(*decoded, message) << "type " << static_cast<int>(TypeOf(message));
    }
}

TEST(ProtocolFrames, TextsOverTheirLimitAreCutAndStillRead)
{
    Message message = Started{Info(5, 6, std::string(kMaxName + 40, 'n'), std::string(kMaxPath + 1, 'p'))};
    Result<Message> decoded = DecodeBody(Frame(message).substr(4));
    ASSERT_TRUE(decoded);
    const ProcessInfo& info = std::get<Started>(*decoded).info;
    EXPECT_EQ(info.name, std::string(kMaxName, 'n'));
    EXPECT_EQ(info.path, std::string(kMaxPath, 'p'));
}

TEST(ProtocolFrames, FaultyBodiesAreRefusedWithTheirReason)
{
    const std::string info = Le(1, 4) + Le(2, 4) + Le(3, 4) + Le(4, 8) + Le(5, 8);
    struct Case {
        const char* what;
        std::string body;
        ProtocolFault fault;
    };
    const Case cases[] = {
        {"empty", "", ProtocolFault::Malformed},
        {"type 0", Body(0), ProtocolFault::UnknownMessage},
        {"type after the last", Body(13), ProtocolFault::UnknownMessage},
        {"type 255", Body(255, "xxxx"), ProtocolFault::UnknownMessage},
        {"Hello cut short", Body(1, "\x01"), ProtocolFault::Malformed},
        {"Hello with a byte more", Body(1, Le(1, 2) + "x"), ProtocolFault::Malformed},
        {"Welcome of an unknown source", Body(2, Le(1, 2) + Le(3, 1) + Le(0, 1) + Le(0, 8) + Le(100, 4)),
         ProtocolFault::Malformed},
        {"Resync of an unknown reason", Body(9, Le(0, 1)), ProtocolFault::Malformed},
        {"Goodbye of an unknown reason", Body(12, Le(9, 1) + Le(0, 2)), ProtocolFault::Malformed},
        {"a name over its limit", Body(6, info + Le(kMaxName + 1, 2) + std::string(kMaxName + 1, 'n') + Le(0, 2)),
         ProtocolFault::Malformed},
        {"a path longer than the body", Body(6, info + Le(0, 2) + Le(10, 2) + "abc"), ProtocolFault::Malformed},
        {"a body over the frame limit", Body(4, std::string(kMaxFrameBody, 'x')), ProtocolFault::Oversized},
    };
    for (const Case& c : cases) {
        Result<Message> decoded = DecodeBody(c.body);
        ASSERT_FALSE(decoded) << c.what;
        EXPECT_EQ(decoded.error(), make_error_code(c.fault)) << c.what << ": " << decoded.error().message();
    }
}

TEST(ProtocolDecoder, MessagesComeWholeHoweverTheStreamIsCut)
{
    std::string stream;
    for (const Message& message : AllKinds())
        Encode(message, stream);
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, stream.size()}) {
        CFrameDecoder decoder;
        std::vector<Message> received;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            decoder.Feed(std::string_view(stream).substr(at, piece));
            for (;;) {
                auto next = decoder.Next();
                ASSERT_TRUE(next) << next.error().message();
                if (!*next)
                    break;
                received.push_back(std::move(**next));
            }
        }
        EXPECT_EQ(received, AllKinds()) << "pieces of " << piece;
        EXPECT_EQ(decoder.Pending(), 0u);
    }
}

TEST(ProtocolDecoder, AnOversizedLengthFailsBeforeItsBodyAndForEver)
{
    CFrameDecoder decoder(64);
    decoder.Feed(Le(65, 4));
    auto next = decoder.Next();
    ASSERT_FALSE(next);
    EXPECT_EQ(next.error(), make_error_code(ProtocolFault::Oversized));
    decoder.Feed(Frame(Hello{}));
    EXPECT_FALSE(decoder.Next());
    EXPECT_EQ(decoder.Pending(), 0u);
}

TEST(ProtocolDecoder, AMalformedFrameEndsTheStreamAfterTheGoodOnesBeforeIt)
{
    CFrameDecoder decoder;
    decoder.Feed(Frame(Hello{}) + Le(1, 4) + Body(0) + Frame(Hello{}));
    auto first = decoder.Next();
    ASSERT_TRUE(first && *first);
    auto second = decoder.Next();
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error(), make_error_code(ProtocolFault::UnknownMessage));
    EXPECT_FALSE(decoder.Next());
}

namespace {

using Kind = CWatchTable::Change::Kind;

std::vector<std::pair<Kind, std::uint32_t>> ApplyAll(CWatchTable& table, const std::vector<Message>& messages,
                                                     std::vector<CWatchTable::Change>* full = nullptr)
{
    std::vector<CWatchTable::Change> changes;
    for (const Message& message : messages)
        table.Apply(message, changes);
    std::vector<std::pair<Kind, std::uint32_t>> summary;
    for (const auto& change : changes)
        summary.emplace_back(change.kind, change.info.pid);
    if (full)
        *full = std::move(changes);
    return summary;
}

} // namespace

TEST(ClientTable, TheFirstSnapshotStartsEveryProcessAndTheStreamFollows)
{
    CWatchTable table;
    auto changes = ApplyAll(table, {SnapshotBegin{}, Process{Info(10, 1, "a")}, Exited{10, 1, 7},
                                    Process{Info(11, 2, "b")}, SnapshotEnd{100}});
    // The exit during the snapshot concerns a process already sent: it never reaches the table.
    EXPECT_EQ(changes, (std::vector<std::pair<Kind, std::uint32_t>>{{Kind::Started, 11}}));
    EXPECT_TRUE(table.Synchronised());
    changes = ApplyAll(table, {Started{Info(12, 3, "sh")}, Exec{Info(12, 3, "true", "/usr/bin/true")},
                               Exited{12, 3, 200}, Exited{11, 999, 200}, Started{Info(11, 2, "b")}});
    // An exit of another start and a start told twice change nothing.
    EXPECT_EQ(changes, (std::vector<std::pair<Kind, std::uint32_t>>{
                           {Kind::Started, 12}, {Kind::Exec, 12}, {Kind::Exited, 12}}));
    EXPECT_EQ(table.Live().size(), 1u);
}

TEST(ClientTable, AResyncTellsOnlyWhatChangedDuringTheGap)
{
    CWatchTable table;
    ApplyAll(table, {SnapshotBegin{}, Process{Info(10, 1, "kept")}, Process{Info(11, 2, "gone")},
                     Process{Info(12, 3, "sh", "/bin/sh")}, Process{Info(13, 4, "old")}, SnapshotEnd{100}});
    std::vector<CWatchTable::Change> full;
    auto changes = ApplyAll(table,
                            {Resync{ResyncReason::FellBehind}, SnapshotBegin{}, Process{Info(10, 1, "kept")},
                             Process{Info(12, 3, "true", "/usr/bin/true")}, Process{Info(13, 9, "new")},
                             Process{Info(14, 5, "fresh")}, SnapshotEnd{500}},
                            &full);
    std::sort(changes.begin(), changes.end());
    EXPECT_EQ(changes, (std::vector<std::pair<Kind, std::uint32_t>>{
                           {Kind::Started, 13}, {Kind::Started, 14}, {Kind::Exec, 12}, {Kind::Exited, 11}, {Kind::Exited, 13}}));
    for (const auto& change : full) {
        if (change.kind != Kind::Started) {
            EXPECT_EQ(change.info.time, 500u) << "pid " << change.info.pid;
        }
    }
    EXPECT_EQ(table.Resyncs(), 1u);
    EXPECT_EQ(table.Live().at(13).startTicks, 9u);
}

namespace {

// A service played by the test: one connection on a socket in a temporary folder.
class FakeService {
public:
    FakeService()
    {
        char folder[] = "/tmp/orvane-protocol-XXXXXX";
        m_folder = mkdtemp(folder);
        m_path = m_folder + "/s";
        m_listen = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_path.c_str());
        EXPECT_EQ(bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(m_listen, 4), 0);
    }
    ~FakeService()
    {
        if (m_peer >= 0)
            close(m_peer);
        close(m_listen);
        unlink(m_path.c_str());
        rmdir(m_folder.c_str());
    }
    const std::string& Path() const { return m_path; }
    // Accepts and returns the bytes of the client's Hello.
    std::string Accept()
    {
        m_peer = accept(m_listen, nullptr, nullptr);
        return Read();
    }
    // What the client sent (waits up to a second for it).
    std::string Read()
    {
        pollfd ready{m_peer, POLLIN, 0};
        if (poll(&ready, 1, 1000) != 1)
            return {};
        char bytes[256];
        const ssize_t n = recv(m_peer, bytes, sizeof bytes, 0);
        return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
    }
    void Send(const std::string& bytes) { ASSERT_EQ(send(m_peer, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
    void Hangup()
    {
        close(m_peer);
        m_peer = -1;
    }

private:
    std::string m_folder, m_path;
    int m_listen = -1, m_peer = -1;
};

// Receives until `count` messages came or the connection failed; returns the failure, if any.
std::error_code ReceiveAll(CWatchClient& client, std::vector<Message>& out, std::size_t count)
{
    for (int tries = 0; tries < 50 && out.size() < count; ++tries)
        if (auto received = client.Receive(out, 100); !received)
            return received.error();
    auto more = client.Receive(out, 100);
    return more ? std::error_code() : more.error();
}

} // namespace

TEST(WatchClient, GreetsReadsCutFramesAndAsksForKills)
{
    FakeService service;
    auto client = CWatchClient::Connect(service.Path());
    ASSERT_TRUE(client) << client.error().message();
    EXPECT_EQ(service.Accept(), Frame(Hello{}));
    const std::string stream = Frame(Welcome{}) + Frame(SnapshotBegin{}) + Frame(Process{Info(1, 2, "init")});
    service.Send(stream.substr(0, 7));
    std::vector<Message> received;
    ASSERT_TRUE((*client)->Receive(received, 500));
    service.Send(stream.substr(7));
    EXPECT_FALSE(ReceiveAll(**client, received, 3));
    ASSERT_EQ(received.size(), 3u);
    EXPECT_TRUE((*client)->GetWelcome());
    EXPECT_EQ(received[2], Message(Process{Info(1, 2, "init")}));
    ASSERT_TRUE((*client)->RequestKill(77, 88));
    EXPECT_EQ(service.Read(), Frame(KillRequest{77, 88}));
}

TEST(WatchClient, TheConnectionEndsWithItsReasonAfterTheMessagesBeforeIt)
{
    struct Case {
        const char* what;
        std::string bytes;
        bool hangup;
        ProtocolFault fault;
        std::size_t delivered;
    };
    const Case cases[] = {
        {"the service closes", Frame(Welcome{}) + Frame(SnapshotBegin{}), true, ProtocolFault::Closed, 2},
        {"a Goodbye", Frame(Goodbye{GoodbyeReason::TooManyConnections, "no"}), false, ProtocolFault::Refused, 1},
        {"another version", Frame(Welcome{2}), false, ProtocolFault::VersionUnsupported, 0},
        {"a malformed frame", Frame(Welcome{}) + Le(1, 4) + Body(0), false, ProtocolFault::UnknownMessage, 1},
    };
    for (const Case& c : cases) {
        FakeService service;
        auto client = CWatchClient::Connect(service.Path());
        ASSERT_TRUE(client);
        service.Accept();
        service.Send(c.bytes);
        if (c.hangup)
            service.Hangup();
        std::vector<Message> received;
        EXPECT_EQ(ReceiveAll(**client, received, c.delivered), make_error_code(c.fault)) << c.what;
        EXPECT_EQ(received.size(), c.delivered) << c.what;
        EXPECT_FALSE((*client)->RequestKill(1, 2)) << c.what;
    }
}

TEST(WatchClient, NoServiceIsTheSystemsReason)
{
    EXPECT_EQ(CWatchClient::Connect("/nonexistent/orvaned.sock").error(), std::errc::no_such_file_or_directory);
    setenv("ORVANE_SOCKET", "/tmp/x.sock", 1);
    EXPECT_EQ(CWatchClient::SocketPath(), "/tmp/x.sock");
    unsetenv("ORVANE_SOCKET");
    EXPECT_EQ(CWatchClient::SocketPath(), kDefaultSocketPath);
}
