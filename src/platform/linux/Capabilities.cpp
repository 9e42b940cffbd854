#include "linux/Capabilities.h"

#include <atomic>
#include <cerrno>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::caps {
namespace {

std::atomic<CapsetFault> g_fault{nullptr};
std::atomic<unsigned> g_calls{0};
std::atomic<bool> g_raisingAllowed{true};

} // namespace

Result<CapabilitySets> GetCapabilities()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return LastError();
    auto join = [](std::uint32_t low, std::uint32_t high) {
        return std::uint64_t{low} | (std::uint64_t{high} << 32);
    };
    return CapabilitySets{join(data[0].effective, data[1].effective),
                          join(data[0].permitted, data[1].permitted),
                          join(data[0].inheritable, data[1].inheritable)};
}

Result<> SetCapabilities(const CapabilitySets& sets)
{
    if (const CapsetFault fault = g_fault.load()) {
        if (const int error = fault(g_calls.fetch_add(1) + 1))
            return std::error_code(error, std::generic_category());
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    for (int i = 0; i < 2; ++i) {
        data[i].effective = static_cast<std::uint32_t>(sets.effective >> (32 * i));
        data[i].permitted = static_cast<std::uint32_t>(sets.permitted >> (32 * i));
        data[i].inheritable = static_cast<std::uint32_t>(sets.inheritable >> (32 * i));
    }
    if (syscall(SYS_capset, &header, data) != 0)
        return LastError();
    return {};
}

void SetCapsetFaultForTesting(CapsetFault fault)
{
    g_calls = 0;
    g_fault = fault;
}

bool RaisingAllowed() { return g_raisingAllowed.load(); }

PrivilegeError GiveUpAfterFailedDrop()
{
    g_raisingAllowed = false;
    // Empty sets lower every capability; the kernel refuses no lowering, but whatever made
    // the drop fail may refuse this too.
    return SetCapabilities(CapabilitySets{}) ? PrivilegeError::GivenUp : PrivilegeError::StillRaised;
}

} // namespace platform::caps
