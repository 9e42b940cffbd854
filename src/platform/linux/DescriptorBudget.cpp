#include "linux/DescriptorBudget.h"

#include "platform/ProcessServices.h"

#include <algorithm>
#include <atomic>
#include <sys/resource.h>

namespace platform::procfs {
namespace {

std::atomic<long> g_held{0};
std::atomic<bool> g_short{false};

// The program's own needs do not grow with the number of processes: a fixed floor, or an
// eighth of a large limit.
long HoldableDescriptors()
{
    const long limit = static_cast<long>(std::min<std::uint64_t>(FileLimit(), 1L << 30));
    return limit - std::max(64L, limit / 8);
}

} // namespace

bool TryHoldDescriptors(int count)
{
    const long holdable = HoldableDescriptors();
    long held = g_held.load(std::memory_order_relaxed);
    do {
        if (held + count > holdable) {
            g_short.store(true, std::memory_order_relaxed);
            return false;
        }
    } while (!g_held.compare_exchange_weak(held, held + count, std::memory_order_relaxed));
    return true;
}

void ReleaseDescriptors(int count)
{
    g_held.fetch_sub(count, std::memory_order_relaxed);
}

void NoteDescriptorShortage()
{
    g_short.store(true, std::memory_order_relaxed);
}

} // namespace platform::procfs

namespace platform {

bool DescriptorsRanShort()
{
    return procfs::g_short.load(std::memory_order_relaxed);
}

} // namespace platform
