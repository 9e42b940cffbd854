#pragma once
// The service's table of live processes, kept from the kernel's events and from listings of
// /proc. Every process has a serial number, given when it enters the table and kept through
// its execs: a client's snapshot walks the table in serial order, so what enters during the
// walk comes at its end, and what changes behind the walk is told as a stream message (see
// CClientConnection). Events come more than once around a listing (the kernel's queue holds
// what happened while /proc was read): a repeated one changes nothing.

#include "KernelEvent.h"
#include "CPathPool.h"
#include "ProcReading.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace service {

struct LiveProcess {
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint32_t uid = 0;
    std::uint32_t euid = 0;
    std::uint64_t startTicks = 0;
    FileTime began = 0; // creation, or the last exec
    FileTime seen = 0;  // when a listing last read it (0: known from events only)
    std::uint64_t serial = 0;
    char comm[16] = {};           // command name (at most 15 bytes); empty when it could not be read
    CPathPool::Path path;         // executable; null when it could not be read

    std::string_view Comm() const { return {comm, strnlen(comm, sizeof comm)}; }
    void SetComm(std::string_view name);
    const std::string& Path() const;
    // The name the window shows: the executable's base name, else the command name, else
    // "unknown".
    std::string Name() const;
};

class CLiveProcesses {
public:
    // Told of every change, at once, in the order of the events.
    class Listener {
    public:
        virtual void Started(const LiveProcess& process) = 0;
        virtual void Exec(const LiveProcess& process) = 0;
        virtual void Exited(const LiveProcess& process, FileTime when) = 0;

    protected:
        ~Listener() = default;
    };

    explicit CLiveProcesses(Listener& listener) : m_listener(listener) {}

    void Apply(const KernelEvent& event);
    // Makes the table what the listing says, read at `now`: what is missing from it has
    // exited, what is new has started, a different executable is an exec.
    void Rescan(const std::vector<ProcReading>& listing, FileTime now);

    const LiveProcess* Find(std::uint32_t pid) const;
    // The process with the lowest serial above `serial`; null when there is none.
    const LiveProcess* After(std::uint64_t serial) const;
    std::size_t Size() const { return m_bySerial.size(); }

private:
    LiveProcess FromReading(const ProcReading& reading, FileTime now);
    LiveProcess* FindMutable(std::uint32_t pid);
    LiveProcess& Insert(LiveProcess process);
    void Remove(const LiveProcess& process, FileTime when);
    void ApplyFork(const KernelEvent& event);
    void ApplyExec(const KernelEvent& event);

    Listener& m_listener;
    CPathPool m_paths;
    std::map<std::uint64_t, LiveProcess> m_bySerial;
    std::unordered_map<std::uint32_t, std::uint64_t> m_serialOfPid;
    std::uint64_t m_nextSerial = 1;
};

} // namespace service
