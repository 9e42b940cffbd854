#pragma once
// The capability sets of the calling thread, through the capget/capset system calls.
// Capabilities belong to a thread on Linux, so raising one here never lends it to another
// thread of the program.

#include <cstdint>

namespace platform::caps {

struct CapabilitySets {
    std::uint64_t effective = 0;
    std::uint64_t permitted = 0;
    std::uint64_t inheritable = 0;
};

constexpr std::uint64_t Bit(int capability) { return std::uint64_t{1} << capability; }

bool GetCapabilities(CapabilitySets& sets);
bool SetCapabilities(const CapabilitySets& sets);

// Runs `attempt` once with `capability` raised in the effective set, when it is permitted but
// not effective, and puts the effective set back at once, whatever the outcome. Returns
// false without calling `attempt` when the capability cannot be raised that way.
template <typename Attempt>
bool WithCapabilityRaised(int capability, Attempt&& attempt)
{
    CapabilitySets before;
    if (!GetCapabilities(before))
        return false;
    if (!(before.permitted & Bit(capability)) || (before.effective & Bit(capability)))
        return false;
    CapabilitySets raised = before;
    raised.effective |= Bit(capability);
    if (!SetCapabilities(raised))
        return false;
    bool result = attempt();
    SetCapabilities(before);
    return result;
}

} // namespace platform::caps
