#include "platform/linux/Capabilities.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::caps {

bool GetCapabilities(CapabilitySets& sets)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    auto join = [](std::uint32_t low, std::uint32_t high) {
        return std::uint64_t{low} | (std::uint64_t{high} << 32);
    };
    sets.effective = join(data[0].effective, data[1].effective);
    sets.permitted = join(data[0].permitted, data[1].permitted);
    sets.inheritable = join(data[0].inheritable, data[1].inheritable);
    return true;
}

bool SetCapabilities(const CapabilitySets& sets)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    for (int i = 0; i < 2; ++i) {
        data[i].effective = static_cast<std::uint32_t>(sets.effective >> (32 * i));
        data[i].permitted = static_cast<std::uint32_t>(sets.permitted >> (32 * i));
        data[i].inheritable = static_cast<std::uint32_t>(sets.inheritable >> (32 * i));
    }
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace platform::caps
