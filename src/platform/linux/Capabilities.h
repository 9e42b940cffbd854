#pragma once
// The capability sets of the calling thread, through the capget/capset system calls.
// Capabilities belong to a thread on Linux, so raising one here never lends it to another
// thread of the program.

#include "platform/ProcessServices.h"
#include "platform/Result.h"

#include <cstdint>

namespace platform::caps {

struct CapabilitySets {
    std::uint64_t effective = 0;
    std::uint64_t permitted = 0;
    std::uint64_t inheritable = 0;
};

constexpr std::uint64_t Bit(int capability) { return std::uint64_t{1} << capability; }

Result<CapabilitySets> GetCapabilities();
Result<> SetCapabilities(const CapabilitySets& sets);

// Fault injection, for tests only: while set, every capset call of the program is numbered
// (from 1 when the hook is set) and offered to the hook first; a non-zero answer fails the
// call with that errno value, as the kernel would. Null removes the hook.
using CapsetFault = int (*)(unsigned call);
void SetCapsetFaultForTesting(CapsetFault fault);

// Whether a capability may still be raised: no longer once one could not be dropped again.
bool RaisingAllowed();

// After a raised capability could not be dropped again: no thread raises one from now on, and
// the calling thread gives up every capability it has (the only way down that is left).
// PrivilegeError::GivenUp when that worked, StillRaised when the thread could drop nothing.
PrivilegeError GiveUpAfterFailedDrop();

// Runs `attempt` (which returns a Result<>) once with `capability` raised in the effective
// set, when it is permitted but not effective, and drops it again at once, whatever the
// outcome; the result is the attempt's. Fails with EPERM without an attempt when the
// capability cannot be raised that way, or when no capability may be raised any more (the
// calling thread then gives up its own as well). When the capability cannot be dropped again,
// the PrivilegeError tells how far the thread came down (see GiveUpAfterFailedDrop); the
// attempt's result is lost then.
template <typename Attempt>
Result<> WithCapabilityRaised(int capability, Attempt&& attempt)
{
    if (!RaisingAllowed()) {
        (void)SetCapabilities(CapabilitySets{}); // this thread too, as far as it may
        return std::errc::operation_not_permitted;
    }
    const Result<CapabilitySets> before = GetCapabilities();
    if (!before || !(before->permitted & Bit(capability)) || (before->effective & Bit(capability)))
        return std::errc::operation_not_permitted;
    CapabilitySets raised = *before;
    raised.effective |= Bit(capability);
    if (!SetCapabilities(raised))
        return std::errc::operation_not_permitted;
    const Result<> result = attempt();
    if (!SetCapabilities(*before))
        return GiveUpAfterFailedDrop();
    return result;
}

} // namespace platform::caps
