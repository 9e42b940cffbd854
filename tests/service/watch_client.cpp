// The service tests' client: connects as whoever runs it, prints what it receives and, on
// request, stalls, asks for a kill or compares its table with /proc.
//
//   orvane_watch_client --socket PATH [--dump] [--stall FILE] [--until FILE]
//                       [--kill PID:START] [--check-proc] [--connections N --hold FILE]
//
// Lines (tab-separated): "welcome SOURCE FLAGS", "ready" once the first snapshot has ended,
// with --dump one line per message ("started|exec|process PID PPID UID START NAME PATH",
// "exited PID START", "resync REASON", "snapshot-begin", "snapshot-end", "goodbye REASON TEXT",
// "kill-result PID START ERROR"), and at the end "resyncs N", "table N" and with --check-proc
// "proc-check MISSING EXTRA". Without --until the client stops after the first snapshot (or
// the kill's answer); with it, once FILE exists and nothing has come for half a second.

#include "ProcReading.h"
#include "protocol/CWatchClient.h"
#include "protocol/CWatchTable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace watch;

struct Options {
    std::string socket;
    bool dump = false;
    std::string stallUntil; // reads nothing until this file exists
    std::string until;
    bool kill = false;
    std::uint32_t killPid = 0;
    std::uint64_t killStart = 0;
    bool checkProc = false;
    int connections = 0;
    std::string hold;
};

void Print(const char* kind, const ProcessInfo& info)
{
    std::printf("%s\t%u\t%u\t%u\t%llu\t%s\t%s\n", kind, info.pid, info.ppid, info.uid,
                static_cast<unsigned long long>(info.startTicks), info.name.c_str(), info.path.c_str());
}

void Dump(const Message& message)
{
    if (const auto* process = std::get_if<Process>(&message))
        Print("process", process->info);
    if (const auto* started = std::get_if<Started>(&message))
        Print("started", started->info);
    if (const auto* exec = std::get_if<Exec>(&message))
        Print("exec", exec->info);
    if (const auto* exited = std::get_if<Exited>(&message))
        std::printf("exited\t%u\t%llu\n", exited->pid, static_cast<unsigned long long>(exited->startTicks));
    if (const auto* resync = std::get_if<Resync>(&message))
        std::printf("resync\t%d\n", static_cast<int>(resync->reason));
    if (std::holds_alternative<SnapshotBegin>(message))
        std::printf("snapshot-begin\n");
    if (std::holds_alternative<SnapshotEnd>(message))
        std::printf("snapshot-end\n");
}

bool Exists(const std::string& path)
{
    struct stat info{};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

Result<std::unique_ptr<CWatchClient>> ConnectSoon(const std::string& path)
{
    for (int tries = 0;; ++tries) {
        auto client = CWatchClient::Connect(path);
        if (client || tries == 100 || (client.error() != std::errc::no_such_file_or_directory &&
                                       client.error() != std::errc::connection_refused))
            return client;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Many connections that each say Hello and then hold still: one user's attempt to exhaust the
// service. Prints "connections ACCEPTED REFUSED" once each has been welcomed or refused.
int HoldConnections(const Options& options)
{
    std::vector<std::unique_ptr<CWatchClient>> clients;
    int refused = 0, welcomed = 0;
    for (int i = 0; i < options.connections; ++i) {
        auto client = CWatchClient::Connect(options.socket);
        if (!client) {
            ++refused;
            continue;
        }
        clients.push_back(std::move(*client));
    }
    for (auto& client : clients) {
        std::vector<Message> messages;
        for (int waited = 0; waited < 100 && !client->GetWelcome(); ++waited) {
            auto received = client->Receive(messages, 100);
            if (!received) {
                ++refused;
                client.reset();
                break;
            }
        }
        if (client && client->GetWelcome())
            ++welcomed;
    }
    std::printf("connections\t%d\t%d\n", welcomed, refused);
    std::fflush(stdout);
    while (!Exists(options.hold))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return 0;
}

// Live processes by /proc: pid and start time to command name, kernel threads left out.
std::map<std::pair<std::uint32_t, std::uint64_t>, std::string> ProcListing()
{
    // A /proc that cannot be listed gives an empty listing, which the script's count shows.
    const std::vector<service::ProcReading> readings = service::ReadAllProcesses().value_or({});
    std::map<std::pair<std::uint32_t, std::uint64_t>, std::string> listing;
    for (const auto& reading : readings)
        listing.emplace(std::pair(reading.pid, reading.startTicks), reading.comm);
    return listing;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--socket")
            options.socket = value();
        else if (arg == "--dump")
            options.dump = true;
        else if (arg == "--stall")
            options.stallUntil = value();
        else if (arg == "--until")
            options.until = value();
        else if (arg == "--check-proc")
            options.checkProc = true;
        else if (arg == "--connections")
            options.connections = std::atoi(value().c_str());
        else if (arg == "--hold")
            options.hold = value();
        else if (arg == "--kill") {
            const std::string target = value();
            unsigned long long start = 0;
            unsigned pid = 0;
            if (std::sscanf(target.c_str(), "%u:%llu", &pid, &start) != 2)
                return false;
            options.kill = true;
            options.killPid = pid;
            options.killStart = start;
        } else
            return false;
    }
    return !options.socket.empty();
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: orvane_watch_client --socket PATH [options]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (options.connections > 0)
        return HoldConnections(options);

    auto connected = ConnectSoon(options.socket);
    if (!connected) {
        std::fprintf(stderr, "orvane_watch_client: %s: %s\n", options.socket.c_str(),
                     connected.error().message().c_str());
        return 1;
    }
    CWatchClient& client = **connected;
    CWatchTable table;
    std::vector<CWatchTable::Change> changes;
    bool ready = false;
    bool killAnswered = false;
    auto take = [&](int timeoutMs) -> Result<std::size_t> {
        std::vector<Message> messages;
        Result<std::size_t> received = client.Receive(messages, timeoutMs);
        for (const Message& message : messages) {
            if (const auto* welcome = std::get_if<Welcome>(&message))
                std::printf("welcome\t%s\t%d\n", welcome->source == EventSource::Bpf ? "bpf" : "connector",
                            welcome->flags);
            if (const auto* goodbye = std::get_if<Goodbye>(&message))
                std::printf("goodbye\t%d\t%s\n", static_cast<int>(goodbye->reason), goodbye->text.c_str());
            if (const auto* result = std::get_if<KillResult>(&message)) {
                std::printf("kill-result\t%u\t%llu\t%d\n", result->pid,
                            static_cast<unsigned long long>(result->startTicks), result->error);
                killAnswered = true;
            }
            if (options.dump)
                Dump(message);
            table.Apply(message, changes);
            changes.clear();
            if (!ready && table.Synchronised()) {
                ready = true;
                std::printf("ready\n");
            }
        }
        return received;
    };

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ready) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "orvane_watch_client: no snapshot within 20 s\n");
            return 1;
        }
        if (auto received = take(200); !received) {
            std::fprintf(stderr, "orvane_watch_client: %s\n", received.error().message().c_str());
            return 1;
        }
    }
    if (options.kill) {
        if (Result<> sent = client.RequestKill(options.killPid, options.killStart); !sent) {
            std::fprintf(stderr, "orvane_watch_client: kill request: %s\n", sent.error().message().c_str());
            return 1;
        }
        for (int waited = 0; waited < 50 && !killAnswered; ++waited)
            if (!take(100))
                break;
        return killAnswered ? 0 : 1;
    }
    for (int waited = 0; !options.stallUntil.empty() && !Exists(options.stallUntil) && waited < 2400; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!options.until.empty()) {
        // Read on until the test says its work is done and the stream has gone quiet, with
        // the table synchronised (a resync may still be under way).
        int quietMs = 0;
        while (!Exists(options.until) || quietMs < 500 || !table.Synchronised()) {
            auto received = take(100);
            if (!received) {
                std::fprintf(stderr, "orvane_watch_client: %s\n", received.error().message().c_str());
                return 1;
            }
            quietMs = *received ? 0 : quietMs + 100;
        }
    }
    std::printf("resyncs\t%llu\n", static_cast<unsigned long long>(table.Resyncs()));
    std::printf("table\t%zu\n", table.Live().size());
    if (options.checkProc) {
        // What lives through both listings must be in the table, and what the table holds
        // must be in one of them; processes that start or end meanwhile may go either way.
        // The table is compared only when synchronised (a resync may come at any time while
        // the machine is busy), and a difference must last over three tries to count.
        std::size_t missing = 0, extra = 0;
        std::string report;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const auto before = ProcListing();
            take(300).value_or(0);
            for (int waited = 0; waited < 100 && !table.Synchronised(); ++waited)
                take(100).value_or(0);
            const auto after = ProcListing();
            missing = extra = 0;
            report.clear();
            char line[512];
            for (const auto& [process, comm] : before)
                if (after.contains(process)) {
                    auto live = table.Live().find(process.first);
                    if (live == table.Live().end() || live->second.startTicks != process.second) {
                        ++missing;
                        std::snprintf(line, sizeof line, "missing: pid %u start %llu %s\n", process.first,
                                      static_cast<unsigned long long>(process.second), comm.c_str());
                        report += line;
                    }
                }
            for (const auto& [pid, info] : table.Live())
                if (!before.contains({pid, info.startTicks}) && !after.contains({pid, info.startTicks})) {
                    ++extra;
                    std::snprintf(line, sizeof line, "extra: pid %u start %llu %s\n", pid,
                                  static_cast<unsigned long long>(info.startTicks), info.name.c_str());
                    report += line;
                }
            if (missing == 0 && extra == 0)
                break;
        }
        std::fputs(report.c_str(), stderr);
        std::printf("proc-check\t%zu\t%zu\n", missing, extra);
    }
    return 0;
}
