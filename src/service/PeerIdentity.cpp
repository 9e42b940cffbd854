#include "PeerIdentity.h"

#include "platform/FileIo.h"
#include "platform/ProcFiles.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <grp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace service {
namespace {

// The next blank-separated field of a mountinfo line.
std::string_view NextField(std::string_view& line)
{
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    const std::size_t end = std::min(line.find(' '), line.size());
    std::string_view field = line.substr(0, end);
    line.remove_prefix(end);
    return field;
}

int HidepidValue(std::string_view value)
{
    if (value == "1" || value == "noaccess")
        return 1;
    if (value == "2" || value == "invisible")
        return 2;
    if (value == "4" || value == "ptraceable")
        return 4;
    return 0;
}

} // namespace

std::optional<ProcMountOptions> ParseProcMount(std::string_view mountinfo)
{
    std::optional<ProcMountOptions> found;
    while (!mountinfo.empty()) {
        const std::size_t end = std::min(mountinfo.find('\n'), mountinfo.size());
        std::string_view line = mountinfo.substr(0, end);
        mountinfo.remove_prefix(std::min(end + 1, mountinfo.size()));
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        std::string_view fields[5];
        for (std::string_view& field : fields)
            field = NextField(line);
        if (fields[4] != "/proc")
            continue;
        const std::size_t dash = line.find(" - ");
        if (dash == std::string_view::npos)
            continue;
        line.remove_prefix(dash + 3);
        if (NextField(line) != "proc")
            continue;
        NextField(line); // source
        std::string_view options = NextField(line);
        ProcMountOptions parsed;
        while (!options.empty()) {
            const std::size_t comma = std::min(options.find(','), options.size());
            const std::string_view option = options.substr(0, comma);
            options.remove_prefix(std::min(comma + 1, options.size()));
            if (option.starts_with("hidepid=")) {
                parsed.hidepid = HidepidValue(option.substr(8));
            } else if (option.starts_with("gid=")) {
                gid_t gid = 0;
                const std::string_view digits = option.substr(4);
                const auto [ptr, error] = std::from_chars(digits.data(), digits.data() + digits.size(), gid);
                if (error == std::errc() && ptr == digits.data() + digits.size())
                    parsed.gid = gid;
            }
        }
        found = parsed; // the last mount at /proc is the one on top
    }
    return found;
}

bool PeerIdentity::InGroup(gid_t group) const
{
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

Result<PeerIdentity> IdentifyPeer(int fd, std::optional<gid_t> adminGroup)
{
    PeerIdentity peer;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return LastError();
    peer.pid = credentials.pid;
    peer.uid = credentials.uid;
    peer.gid = credentials.gid;

    std::vector<gid_t> groups(32);
    for (;;) {
        socklen_t bytes = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) == 0) {
            groups.resize(bytes / sizeof(gid_t));
            break;
        }
        if (errno != ERANGE || groups.size() >= 65536)
            return LastError();
        groups.resize(std::max<std::size_t>(bytes / sizeof(gid_t), groups.size() * 2));
    }
    peer.groups = std::move(groups);
    peer.groups.push_back(peer.gid);
    peer.admin = peer.uid == 0 || (adminGroup && peer.InGroup(*adminGroup));

    if (peer.uid != 0) {
        std::optional<ProcMountOptions> options;
        if (peer.pid > 0) {
            const platform::procfs::ProcessFilePath path(static_cast<std::uint32_t>(peer.pid),
                                                         "mountinfo");
            if (const Result<std::string> mountinfo = ReadSystemFile(path.c_str()))
                options = ParseProcMount(*mountinfo);
        }
        if (!options) // cannot tell: show the least
            peer.ownProcessesOnly = true;
        else
            peer.ownProcessesOnly = options->hidepid != 0 && !(options->gid && peer.InGroup(*options->gid));
    }
    return peer;
}

std::optional<gid_t> LookUpGroup(const char* name)
{
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    while (getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    return found->gr_gid;
}

} // namespace service
