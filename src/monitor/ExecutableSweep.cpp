#include "monitor/ExecutableSweep.h"

#include <algorithm>

void ExecutableSweep::BeginPass(std::uint64_t pass, std::chrono::steady_clock::time_point now)
{
    if (pass == m_pass && m_share)
        return;
    m_pass = pass;
    const std::int64_t clock = now.time_since_epoch() / kShareTime;
    if (!m_share)
        m_share = clock - 1; // the first pass takes one share, as every pass at the usual pace
    // Faster passes run ahead of the clock, one share each; slower ones catch up with it.
    const std::int64_t last = std::max(*m_share + 1, clock);
    m_due = 0;
    if (last - *m_share >= static_cast<std::int64_t>(kShares)) {
        m_due = (1u << kShares) - 1;
    } else {
        for (std::int64_t share = *m_share + 1; share <= last; ++share)
            m_due |= 1u << static_cast<unsigned>(share % kShares);
    }
    m_share = last;
}
