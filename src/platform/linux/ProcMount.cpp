#include "linux/ProcMount.h"

#include "linux/Capabilities.h"
#include "linux/ProcFiles.h"
#include "platform/FileIo.h"
#include "platform/ProcessServices.h"

#include <algorithm>
#include <charconv>
#include <linux/capability.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform::procfs {
namespace {

// The next field of a line, fields being separated by single blanks.
std::string_view NextField(std::string_view& line)
{
    const std::size_t end = std::min(line.find(' '), line.size());
    const std::string_view field = line.substr(0, end);
    line.remove_prefix(std::min(end + 1, line.size()));
    return field;
}

ProcMountOptions ParseOptions(std::string_view options)
{
    ProcMountOptions parsed;
    while (!options.empty()) {
        const std::size_t end = std::min(options.find(','), options.size());
        const std::string_view option = options.substr(0, end);
        options.remove_prefix(std::min(end + 1, options.size()));
        if (option.starts_with("hidepid=")) {
            const std::string_view value = option.substr(8);
            parsed.hidesProcesses = value != "0" && value != "off";
        } else if (option.starts_with("gid=")) {
            std::uint32_t gid = 0;
            const std::string_view value = option.substr(4);
            const auto [at, error] = std::from_chars(value.data(), value.data() + value.size(), gid);
            if (error == std::errc() && at == value.data() + value.size() && !value.empty())
                parsed.gid = gid;
        }
    }
    return parsed;
}

} // namespace

std::optional<ProcMountOptions> ParseProcMount(std::string_view mountinfo)
{
    // "36 35 98:0 /root /mountpoint options optional... - fstype source superoptions"
    std::optional<ProcMountOptions> top;
    while (!mountinfo.empty()) {
        const std::size_t end = std::min(mountinfo.find('\n'), mountinfo.size());
        std::string_view line = mountinfo.substr(0, end);
        mountinfo.remove_prefix(std::min(end + 1, mountinfo.size()));
        const std::size_t separator = line.find(" - ");
        if (separator == std::string_view::npos)
            continue;
        std::string_view tail = line.substr(separator + 3);
        line = line.substr(0, separator);
        NextField(line); // mount id
        NextField(line); // parent id
        NextField(line); // major:minor
        NextField(line); // root
        // Blanks in a mount point are written as \040: "/proc" is only ever /proc itself.
        if (NextField(line) != "/proc" || NextField(tail) != "proc")
            continue;
        NextField(tail); // source
        top = ParseOptions(NextField(tail));
    }
    return top;
}

} // namespace platform::procfs

namespace platform {

Result<bool> ProcHidesOtherUsers()
{
    const Result<std::string> mountinfo = ReadSystemFile("/proc/self/mountinfo");
    if (!mountinfo)
        return mountinfo.error();
    const std::optional<procfs::ProcMountOptions> options = procfs::ParseProcMount(*mountinfo);
    if (!options || !options->hidesProcesses)
        return false;
    // Whoever may trace every process sees them all (root does); so do the members of the
    // group that the gid= option names.
    if (const Result<caps::CapabilitySets> sets = caps::GetCapabilities();
        sets && (sets->effective & caps::Bit(CAP_SYS_PTRACE)))
        return false;
    if (options->gid) {
        if (getegid() == *options->gid)
            return false;
        const int count = getgroups(0, nullptr);
        std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
        if (count > 0 && getgroups(count, groups.data()) == count
            && std::find(groups.begin(), groups.end(), *options->gid) != groups.end())
            return false;
    }
    return true;
}

} // namespace platform
