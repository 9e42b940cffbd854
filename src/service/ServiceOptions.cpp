#include "ServiceOptions.h"

#include <charconv>

namespace service {

const char* ServiceUsage()
{
    return "Usage: orvaned [--socket PATH] [--disabled-list PATH] [--source bpf|connector]\n"
           "               [--buffer-size BYTES]\n"
           "Watches every process start, exec and exit of the machine and serves them to\n"
           "Orvane's windows over a Unix socket; kills the programs of the system-wide\n"
           "disabled list when they start.\n"
           "\n"
           "  --socket PATH          listen on PATH (default /run/orvane/orvaned.sock; a\n"
           "                         socket passed by systemd is taken first)\n"
           "  --disabled-list PATH   the system-wide disabled list (default\n"
           "                         /etc/orvane/BlackList.log); obeyed only when root owns\n"
           "                         it and no one else may change it\n"
           "  --source bpf|connector take events from eBPF tracepoints or from the process\n"
           "                         connector only (default: eBPF, else the connector)\n"
           "  --buffer-size BYTES    the kernel buffer of events (default: 1 MiB for eBPF,\n"
           "                         8 MiB for the connector); a tiny one loses events, for\n"
           "                         testing the recovery\n";
}

Result<ServiceOptions> ParseServiceOptions(const std::vector<std::string>& arguments, std::string& problem)
{
    ServiceOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            continue;
        }
        std::string value;
        const std::size_t equals = option.find('=');
        const std::string name = option.substr(0, equals);
        if (name != "--socket" && name != "--disabled-list" && name != "--source" && name != "--buffer-size") {
            problem = "unknown option " + option;
            return std::errc::invalid_argument;
        }
        if (equals != std::string::npos) {
            value = option.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            problem = name + " needs a value";
            return std::errc::invalid_argument;
        }
        if (value.empty()) {
            problem = name + " needs a value";
            return std::errc::invalid_argument;
        }
        if (name == "--socket") {
            options.socketPath = value;
            options.socketGiven = true;
        } else if (name == "--disabled-list") {
            options.listPath = value;
        } else if (name == "--source") {
            if (value == "bpf") {
                options.source = watch::EventSource::Bpf;
            } else if (value == "connector") {
                options.source = watch::EventSource::Connector;
            } else {
                problem = "--source takes bpf or connector, not " + value;
                return std::errc::invalid_argument;
            }
        } else {
            std::size_t bytes = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), bytes);
            if (error != std::errc() || end != value.data() + value.size() || bytes == 0 || bytes > (1u << 30)) {
                problem = "--buffer-size takes a number of bytes from 1 to 1073741824, not " + value;
                return std::errc::invalid_argument;
            }
            options.bufferBytes = bytes;
        }
    }
    return options;
}

} // namespace service
