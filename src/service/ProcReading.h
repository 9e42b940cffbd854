#pragma once
// What /proc tells of one process now: the same reading the window makes of a process it
// sees first, for the service's listings and for the events of the process connector, which
// carry identifiers only.

#include "platform/Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace service {

struct ProcReading {
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint32_t uid = 0;  // real
    std::uint32_t euid = 0; // effective
    bool credentialsRead = false; // uid and euid (status read)
    std::uint64_t startTicks = 0;
    bool kernelThread = false;
    bool ended = false; // a zombie: it has exited and waits to be reaped
    std::string comm;
    std::string path; // target of /proc/<pid>/exe without " (deleted)"; empty when unreadable
};

// Reads /proc/<pid>: stat (required), status and exe (each when readable). Nothing when the
// process has gone or its stat cannot be read. `statOnly`: stat alone (a forked child, whose
// program and credentials are its parent's).
std::optional<ProcReading> ReadProcess(std::uint32_t pid, bool statOnly = false);

// The base name of an executable path ("" for "").
std::string BaseName(const std::string& path);

// Every live process of /proc (kernel threads and zombies left out), as ReadProcess reads
// them. Fails when /proc cannot be listed.
Result<std::vector<ProcReading>> ReadAllProcesses();

} // namespace service
