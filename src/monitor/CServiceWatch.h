#pragma once
// The monitor's other way of watching: through the watch service orvaned. While its socket
// answers, the passes take every start, exec and exit from the service and list nothing of
// /proc; the disabled list acts on an exec as soon as the service tells of it, between passes.
// When the service is absent, refuses or goes away, the passes poll /proc as before, and a
// connection is tried again every few seconds. Each change of the way is told once.
//
// Rows are made as a pass over /proc would make them: a process gets its row at the first
// pass after its start is told, under the program it runs by then (a fork that execs before
// that pass shows as the program it ran, one that never execs as its parent's program), and a
// process that has ended by then gets its row all the same, with both times. A row made here
// holds a handle only once it is shown (to sample its load); a kill opens one for the moment;
// both are opened with the start-time check, and an ended row holds none. When the service
// goes away, every live row it made gets a handle, or is finished when its process is gone,
// and the polling passes carry the rows on.
// Coming to the service, the rows that polling made are matched by pid and start time.
//
// Threads: Receive, Wait and TellNews run on the pass's thread without m_lock; Apply and Kill
// run under the owner's m_lock. m_clientLock guards the connection and what it received; it is
// taken after m_lock or alone, never the other way round.

#include "platform/ProcessServices.h"
#include "protocol/CWatchClient.h"
#include "protocol/CWatchTable.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class CProcessMonitor;

class CServiceWatch {
public:
    explicit CServiceWatch(CProcessMonitor& owner);
    ~CServiceWatch();
    CServiceWatch(const CServiceWatch&) = delete;
    CServiceWatch& operator=(const CServiceWatch&) = delete;

    // Before a pass: connects when it is time to try, reads what the service sent. True when
    // this pass takes its processes from the service, false when it polls.
    bool Receive();
    // In the pass: what was received becomes rows and log lines; once the service has gone,
    // its rows are handed to the polling passes.
    void Apply();
    // After the pass, outside m_lock: tells what Apply found to tell (the way of watching, a
    // kill the service refused).
    void TellNews();
    // Between passes: waits up to `pause`, reading what the service sends as it comes and
    // killing the disabled programs it names. False at once when the service does not feed
    // the passes (the caller pauses as before).
    bool Wait(std::chrono::milliseconds pause);
    // Ends a Wait early (a stop request). Any thread.
    void Interrupt();
    // The eventfd that Interrupt signals, for a wait of the caller's own (-1: none).
    int WakeFd() const { return m_wake; }
    // The kill of a row while the service feeds the passes: through the row's handle, or one
    // opened for it, and where this user may not and the service may, by the service. False
    // when the service does not feed the passes (the caller kills as before).
    bool Kill(int row);

private:
    using Clock = std::chrono::steady_clock;
    // A row made from the service's events whose process still runs.
    struct LiveRow {
        int row;
        std::uint64_t startTicks;
        bool opened = false; // a handle was tried for it
    };
    // A process told of since the last pass, not given a row yet.
    struct Pending {
        watch::ProcessInfo info;
        watch::FileTime start = 0;
        watch::FileTime finish = 0; // 0 while it runs
        std::unique_ptr<platform::ProcessHandle> handle; // an exec's, from its former row
    };

    void ApplyChange(watch::CWatchTable::Change& change);
    Pending* FindPending(std::uint32_t pid, std::uint64_t startTicks);
    // A live row that polling made for the process, taken over.
    bool Adopt(const watch::ProcessInfo& info);
    // The process of a live row runs `info`'s program: a new row unless it is the row's own.
    void ExecRow(watch::ProcessInfo& info);
    // The row's program ended at `time` (exec or exit); its handle, if it has one, is returned.
    std::unique_ptr<platform::ProcessHandle> EndLiveRow(std::uint32_t pid, watch::FileTime time);
    void MakeRows();
    void OpenShownRows();
    void HandOver();
    void KillDisabled(const std::vector<watch::ProcessInfo>& started);
    void KillNamed(const watch::ProcessInfo& info);
    void Drop(); // under m_clientLock: the connection is over

    CProcessMonitor& m_owner;
    const std::string m_socketPath;
    int m_wake = -1; // eventfd of Interrupt

    // A connection until its first snapshot is whole (the pass's thread alone).
    std::unique_ptr<watch::CWatchClient> m_joining;
    std::vector<watch::Message> m_joinQueue;
    Clock::time_point m_joinDeadline{};
    Clock::time_point m_nextTry{};
    bool m_triedBefore = false;

    std::mutex m_clientLock; // guards the members down to m_news
    std::unique_ptr<watch::CWatchClient> m_client;
    std::vector<watch::Message> m_queue; // received, not applied yet
    bool m_joined = false;               // connected since the last Apply
    bool m_lost = false;                 // the connection ended since the last Apply
    bool m_mayKill = false;              // the service kills on request
    std::vector<std::string> m_news;

    // Under m_lock.
    bool m_feeding = false; // the service feeds the passes
    watch::CWatchTable m_table;
    std::unordered_map<std::uint32_t, LiveRow> m_rows; // pid -> its live row
    std::vector<Pending> m_pending;
    std::vector<watch::Message> m_messages;
    std::vector<watch::CWatchTable::Change> m_changes;
};
