#include "linux/KernelThreadRegistry.h"

#include "linux/DescriptorBudget.h"
#include "linux/ProcFiles.h"

#include <algorithm>
#include <unistd.h>

namespace platform::procfs {

KernelThreadRegistry& KernelThreadRegistry::Instance()
{
    static KernelThreadRegistry registry;
    return registry;
}

namespace {

void CloseKept(int statfd)
{
    if (statfd >= 0) {
        close(statfd);
        ReleaseDescriptors(1);
    }
}

} // namespace

KernelThreadRegistry::~KernelThreadRegistry()
{
    for (auto& [pid, entry] : m_entries)
        CloseKept(entry.statfd);
}

void KernelThreadRegistry::Add(std::uint32_t pid, int statfd, std::uint64_t starttime,
                               std::uint64_t utime, std::uint64_t stime)
{
    std::lock_guard lock(m_mutex);
    auto [it, inserted] = m_entries.try_emplace(pid);
    if (!inserted && it->second.starttime == starttime) {
        close(statfd);
        return;
    }
    if (!inserted) { // the old thread has gone and its identifier was reused
        m_retiredUtime += it->second.utime;
        m_retiredStime += it->second.stime;
        CloseKept(it->second.statfd);
    }
    if (!TryHoldDescriptors(1)) {
        close(statfd);
        statfd = -1;
    }
    it->second = Entry{statfd, starttime, utime, stime};
}

void KernelThreadRegistry::SweepLocked()
{
    char buffer[kStatBufferSize];
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        Entry& entry = it->second;
        const Result<ProcStat> stat = entry.statfd >= 0 ? ReadStat(entry.statfd, buffer)
                                                        : ReadStatByPath(it->first, buffer);
        if (stat && stat->starttime == entry.starttime) {
            entry.utime = stat->utime;
            entry.stime = stat->stime;
            ++it;
            continue;
        }
        if (!stat && !IsGone(stat.error()) && entry.statfd < 0) { // no descriptor free now: asked again later
            ++it;
            continue;
        }
        m_retiredUtime += entry.utime;
        m_retiredStime += entry.stime;
        CloseKept(entry.statfd);
        it = m_entries.erase(it);
    }
    m_sweptSinceEnumeration = true;
}

std::vector<std::uint32_t> KernelThreadRegistry::RegisteredForEnumeration()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_sweptSinceEnumeration)
            SweepLocked();
        m_sweptSinceEnumeration = false;
    }
    return Registered();
}

std::vector<std::uint32_t> KernelThreadRegistry::Registered() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::uint32_t> pids;
    pids.reserve(m_entries.size());
    for (const auto& [pid, entry] : m_entries)
        pids.push_back(pid);
    std::sort(pids.begin(), pids.end());
    return pids;
}

void KernelThreadRegistry::SumTimes(std::uint64_t& utime, std::uint64_t& stime)
{
    std::lock_guard lock(m_mutex);
    SweepLocked();
    utime = m_retiredUtime;
    stime = m_retiredStime;
    for (const auto& [pid, entry] : m_entries) {
        utime += entry.utime;
        stime += entry.stime;
    }
}

std::size_t KernelThreadRegistry::Size() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

} // namespace platform::procfs
