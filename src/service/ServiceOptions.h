#pragma once
// The command line of orvaned.

#include "platform/Result.h"
#include "protocol/WatchMessages.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace service {

struct ServiceOptions {
    std::string socketPath = "/run/orvane/orvaned.sock";
    bool socketGiven = false;
    std::string listPath = "/etc/orvane/BlackList.log";
    std::optional<watch::EventSource> source; // none: the best that loads
    // The kernel buffer's size; 0: the source's default. Small sizes force lost events (tests).
    std::size_t bufferBytes = 0;
    bool help = false;
};

// Parses the arguments after the program's name; `problem` tells what is wrong on failure.
Result<ServiceOptions> ParseServiceOptions(const std::vector<std::string>& arguments, std::string& problem);

// The text of --help.
const char* ServiceUsage();

} // namespace service
