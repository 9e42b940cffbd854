#pragma once
// Kernel threads other than kthreadd are not listed one by one: kthreadd (pid 2) stands for
// the kernel, and its processor times are the sum over every kernel thread. The registry keeps
// a stat descriptor for each kernel thread met so far, so that enumeration leaves them out and
// kthreadd's handle can add up their times. Process-wide and thread-safe.

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform::procfs {

class KernelThreadRegistry {
public:
    static KernelThreadRegistry& Instance();

    ~KernelThreadRegistry();
    KernelThreadRegistry(const KernelThreadRegistry&) = delete;
    KernelThreadRegistry& operator=(const KernelThreadRegistry&) = delete;

    // Takes over `statfd` (a descriptor of the thread's stat file) with the values just read
    // through it; closes it at once when descriptors are short. A thread already registered
    // keeps its entry and `statfd` is closed.
    void Add(std::uint32_t pid, int statfd, std::uint64_t starttime, std::uint64_t utime,
             std::uint64_t stime);

    // The registered identifiers, sorted, for one enumeration. Threads that ended are dropped
    // first unless a sum has already checked every entry since the previous enumeration, so a
    // reused identifier is hidden for at most one pass.
    std::vector<std::uint32_t> RegisteredForEnumeration();

    // The registered identifiers, sorted, as they stand: nothing is read.
    std::vector<std::uint32_t> Registered() const;

    // Utime and stime (clock ticks) summed over every kernel thread registered so far; a thread
    // that has ended keeps counting with its last times, so the sums never go back. Reads every
    // entry and drops those whose read fails or whose start time changed.
    void SumTimes(std::uint64_t& utime, std::uint64_t& stime);

    std::size_t Size() const;

private:
    KernelThreadRegistry() = default;

    struct Entry {
        int statfd = -1; // -1: read by path
        std::uint64_t starttime = 0;
        std::uint64_t utime = 0;
        std::uint64_t stime = 0;
    };
    void SweepLocked();

    mutable std::mutex m_mutex;
    std::unordered_map<std::uint32_t, Entry> m_entries;
    std::uint64_t m_retiredUtime = 0; // last times of threads that have ended
    std::uint64_t m_retiredStime = 0;
    bool m_sweptSinceEnumeration = false;
};

} // namespace platform::procfs
