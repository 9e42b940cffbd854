#pragma once
// Who is at the other end of a client connection, and what /proc would show that client:
// SO_PEERCRED and SO_PEERGROUPS for the credentials of the connect, the client's own mount of
// /proc (its mount namespace, read through /proc/<pid>/mountinfo) for hidepid and gid.

#include "platform/Result.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace service {

// The options of a proc mount that decide what others' processes it shows.
struct ProcMountOptions {
    int hidepid = 0;               // 0 off, 1 noaccess, 2 invisible, 4 ptraceable
    std::optional<gid_t> gid;      // members see everything whatever hidepid says
};

// The options of the mount at /proc in a mountinfo text; nothing when none is there.
std::optional<ProcMountOptions> ParseProcMount(std::string_view mountinfo);

struct PeerIdentity {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups; // supplementary groups at connect, the primary one added
    // Root, or a member of the administrators' group: kill requests are carried out.
    bool admin = false;
    // /proc hides other users' processes from this client (hidepid 1, 2 or 4 without the
    // mount's gid): it sees only processes that are its own.
    bool ownProcessesOnly = false;

    bool InGroup(gid_t group) const;
};

// Reads the credentials of the peer of `fd`; `adminGroup` is the administrators' group where
// it exists. The peer's /proc options are read from its mountinfo; when that cannot be read
// (the peer has gone), the client is taken to see only its own processes.
Result<PeerIdentity> IdentifyPeer(int fd, std::optional<gid_t> adminGroup);

// The gid of the group `name`, nothing when there is none.
std::optional<gid_t> LookUpGroup(const char* name);

} // namespace service
