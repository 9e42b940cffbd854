#pragma once
// Which live rows read their executable in a pass. A process keeps its identifier through
// exec, and its command name, read every pass, may stay as it was (the new program named like
// the old one, or two long names that share the first 15 bytes, all the kernel keeps); so the
// executable of every live row is read as well: a ninth of the rows each pass, so that each
// row is read every five seconds while a pass grows by a ninth of the difference between the
// two reads. A row's share is its index modulo kShares: rows are appended as processes
// appear, so the live ones spread evenly.

#include <chrono>
#include <cstdint>
#include <optional>

class ExecutableSweep {
public:
    static constexpr unsigned kShares = 9;
    // One share is due per kShareTime: every row is read within kShares x kShareTime plus one
    // pause and pass, five seconds at the monitor's pace. Passes that come faster (tests,
    // benchmarks) still take one share each.
    static constexpr std::chrono::milliseconds kShareTime{500};

    // Starts pass `pass` at `now` (later calls for the same pass change nothing): the shares
    // whose time has come since the previous pass are due, at least the next one, and all of
    // them after a long pause.
    void BeginPass(std::uint64_t pass, std::chrono::steady_clock::time_point now);
    // The pass begun last.
    std::uint64_t Pass() const { return m_pass; }
    // Whether `row` reads its executable in the pass begun last.
    bool Due(int row) const { return (m_due >> (static_cast<unsigned>(row) % kShares)) & 1u; }

private:
    std::uint64_t m_pass = 0;
    std::optional<std::int64_t> m_share; // the last share made due, in kShareTime since the epoch
    unsigned m_due = 0;                  // one bit per share
};
