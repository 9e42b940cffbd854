// orvaned: the watch service. Errors and notices go to stderr (the journal under systemd),
// one line each, prefixed "orvaned: ".

#include "CBpfSource.h"
#include "CConnectorSource.h"
#include "CSystemList.h"
#include "CWatchServer.h"
#include "ListeningSocket.h"
#include "ServiceOptions.h"
#include "platform/ProcessServices.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBpfBuffer = 1u << 20;
constexpr std::size_t kConnectorBuffer = 8u << 20;

void Tell(const std::string& line)
{
    std::fprintf(stderr, "orvaned: %s\n", line.c_str());
}

std::unique_ptr<service::CEventSource> OpenSource(const service::ServiceOptions& options)
{
    using watch::EventSource;
    if (options.source != EventSource::Connector) {
        std::string detail;
        auto bpf = service::CBpfSource::Open(options.bufferBytes ? options.bufferBytes : kBpfBuffer, detail);
        if (bpf) {
            Tell("watching with eBPF tracepoints");
            return std::move(*bpf);
        }
        const std::string why = detail + ": " + bpf.error().message();
        if (options.source == EventSource::Bpf) {
            Tell("eBPF tracepoints cannot be used: " + why);
            return nullptr;
        }
        Tell("eBPF tracepoints cannot be used (" + why + "): using the process connector");
    }
    auto connector = service::CConnectorSource::Open(options.bufferBytes ? options.bufferBytes : kConnectorBuffer);
    if (!connector) {
        Tell("the process connector cannot be used: " + connector.error().message());
        return nullptr;
    }
    Tell("watching with the process connector");
    return std::move(*connector);
}

} // namespace

int main(int argc, char** argv)
{
    std::string problem;
    auto options = service::ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc), problem);
    if (!options) {
        Tell(problem);
        std::fputs(service::ServiceUsage(), stderr);
        return 2;
    }
    if (options->help) {
        std::fputs(service::ServiceUsage(), stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Every client holds a descriptor.
    if (const Result<> raised = platform::RaiseFileLimit(); !raised)
        Tell("the descriptor limit cannot be raised: " + raised.error().message());

    Result<int> passed = service::SocketFromSystemd();
    if (!passed) {
        Tell("the socket passed by systemd cannot be used: " + passed.error().message());
        return 1;
    }
    int listenFd = *passed;
    std::string boundPath;
    if (listenFd >= 0) {
        Tell("listening on the socket passed by systemd");
    } else {
        Result<int> bound = service::BindSocket(options->socketPath);
        if (!bound) {
            Tell(options->socketPath + ": " + bound.error().message());
            return 1;
        }
        listenFd = *bound;
        boundPath = options->socketPath;
        Tell("listening on " + boundPath);
    }

    auto list = std::make_unique<service::CSystemList>(options->listPath);
    std::unique_ptr<service::CEventSource> source = OpenSource(*options);
    if (!source) {
        if (!boundPath.empty())
            unlink(boundPath.c_str());
        return 1;
    }
    service::CWatchServer server(listenFd, boundPath, std::move(source), std::move(list));
    if (Result<> ran = server.Run(); !ran) {
        Tell("stopped: " + ran.error().message());
        return 1;
    }
    return 0;
}
