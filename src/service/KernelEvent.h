#pragma once
// One process event as the service's sources hand it on, whichever source it came from.

#include "protocol/WatchMessages.h"

#include <cstdint>
#include <string>

namespace service {

using watch::FileTime;

struct KernelEvent {
    enum class Kind { Fork, Exec, Exit };
    Kind kind = Kind::Fork;
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint32_t uid = 0;
    std::uint32_t euid = 0;
    std::uint64_t startTicks = 0; // (22) starttime of /proc/<pid>/stat
    FileTime time = 0;            // when it happened
    std::string comm;             // the kernel's command name
    std::string path;             // the executable; empty when not known
    // What the source could not learn (the process connector reads /proc, where a short
    // life may be over already): the table takes it from the parent, or the window's
    // "unknown" stands.
    bool credentialsKnown = true; // ppid, uid, euid
    bool startKnown = true;       // startTicks (an Exit of the connector never has it)
    bool commKnown = true;
};

} // namespace service
