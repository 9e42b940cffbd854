#pragma once
// While the passes poll, the quick way to a disabled program: the directories of PATH and of
// every executable the rows name are watched for opens (an exec opens its program's file), and
// an open of a file named as a disabled program ends the pause between passes, so that the
// next pass, which kills it, starts at once instead of up to half a second later. The kernel's
// event can come before the exec has replaced the process's program, so a pass that killed
// nothing is followed by a few quick ones.
//
// Cheap by construction: nothing is watched while the list is empty or the service feeds the
// passes; an open of any other file is a look-up in a sorted copy of the list, no pass and no
// allocation, and a stream of them wakes the thread twenty times a second at most. The
// watched directories are bounded; a directory that cannot be watched (no watches left, no
// access) is told once and the passes go on finding what starts there.
//
// Threads: the monitor thread alone, outside m_lock (it takes m_lock to copy the list).

#include "platform/DirectoryWatch.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class CProcessMonitor;

class CExecTrigger {
public:
    explicit CExecTrigger(CProcessMonitor& owner);

    // Between polling passes: waits up to `pause` (less while following a trigger), until
    // `wake` (an eventfd, drained here) is signalled, or until a disabled program's file is
    // opened. False at once when nothing is watched (the caller pauses as before).
    bool Wait(std::chrono::milliseconds pause, int wake);
    // Watches nothing (the service feeds the passes); the next Wait starts again.
    void Close();

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };

    // The list as it stands, the kills since, and the directories of the rows made since.
    void Update();
    void WatchDirectory(std::string_view directory);
    // Reads every queued open; true when one named a disabled program or some were lost.
    bool Drain();
    bool Disabled(std::string_view name) const;

    CProcessMonitor& m_owner;
    std::string m_path; // PATH as the program was started with
    std::unique_ptr<platform::DirectoryWatch> m_watch;
    bool m_openFailed = false; // told; not tried again
    std::vector<std::string> m_entries; // the disabled list as last copied
    std::vector<std::string> m_names;   // the same, sorted
    std::unordered_set<std::string, Hash, std::equal_to<>> m_directories; // tried, watched or not
    int m_rowsSeen = 0;
    std::uint64_t m_kills = 0;
    std::uint64_t m_killsAtTrigger = 0;
    int m_quickPasses = 0; // left to make after a trigger, until one kills
    std::chrono::steady_clock::time_point m_heldUntil{}; // the watch is not read before
};
