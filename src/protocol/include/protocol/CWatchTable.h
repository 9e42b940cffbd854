#pragma once
// A client's copy of the live processes that the service reports, kept from its messages,
// with the resync handled: a snapshot builds a new table beside the old one (the stream
// messages that come during it change the new one), and when it ends the new table replaces
// the old. Every difference comes out as a change, as if it had been a stream message, so an
// owner that keeps rows (the window) applies changes and never has to tell a snapshot from
// the stream: a process gone during a gap is Exited at the snapshot's end time, a process
// new in it is Started, a process whose program differs is an Exec at that time.
//
// Not thread-safe by itself.

#include "protocol/WatchMessages.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace watch {

class CWatchTable {
public:
    struct Change {
        enum class Kind { Started, Exec, Exited } kind;
        ProcessInfo info; // Exited: pid, startTicks and the time of the exit; the rest as last known
    };

    // Applies one message from the service; appends the changes it makes to `changes` (none
    // while a snapshot is being read: they come at its end). Messages that concern no table
    // (Welcome, KillResult, ...) change nothing.
    void Apply(const Message& message, std::vector<Change>& changes);

    // The live processes by pid, as of the last snapshot's end and the stream since.
    const std::unordered_map<std::uint32_t, ProcessInfo>& Live() const { return m_live; }
    // True between the end of a snapshot and the beginning of the next.
    bool Synchronised() const { return m_synchronised; }
    // How many Resync messages came.
    std::uint64_t Resyncs() const { return m_resyncs; }

private:
    using Table = std::unordered_map<std::uint32_t, ProcessInfo>;
    // Stream messages change `table`; changes are told only for the live table.
    static void ApplyStarted(Table& table, const ProcessInfo& info, std::vector<Change>* changes);
    static void ApplyExec(Table& table, const ProcessInfo& info, std::vector<Change>* changes);
    static void ApplyExited(Table& table, const Exited& exited, std::vector<Change>* changes);
    void FinishSnapshot(FileTime time, std::vector<Change>& changes);

    Table m_live;
    Table m_snapshot;
    bool m_inSnapshot = false;
    bool m_synchronised = false;
    std::uint64_t m_resyncs = 0;
};

} // namespace watch
