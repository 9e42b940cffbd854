#include "CLiveProcesses.h"

#include "KernelClock.h"
#include "platform/ProcessServices.h"

#include <unordered_set>

namespace service {

void LiveProcess::SetComm(std::string_view name)
{
    const std::string clean =
        platform::WithoutControlBytes(std::string(name.substr(0, sizeof comm - 1)));
    std::memset(comm, 0, sizeof comm);
    std::memcpy(comm, clean.data(), clean.size());
}

const std::string& LiveProcess::Path() const
{
    static const std::string none;
    return path ? *path : none;
}

std::string LiveProcess::Name() const
{
    if (path)
        return BaseName(*path);
    if (comm[0])
        return std::string(Comm());
    return std::string(platform::kUnknownName);
}

LiveProcess CLiveProcesses::FromReading(const ProcReading& reading, FileTime now)
{
    LiveProcess process;
    process.pid = reading.pid;
    process.ppid = reading.ppid;
    process.uid = reading.uid;
    process.euid = reading.euid;
    process.startTicks = reading.startTicks;
    process.began = CreationTime(reading.startTicks);
    process.seen = now;
    process.SetComm(reading.comm);
    process.path = m_paths.Intern(platform::WithoutControlBytes(reading.path));
    return process;
}

LiveProcess* CLiveProcesses::FindMutable(std::uint32_t pid)
{
    const auto serial = m_serialOfPid.find(pid);
    return serial == m_serialOfPid.end() ? nullptr : &m_bySerial.at(serial->second);
}

const LiveProcess* CLiveProcesses::Find(std::uint32_t pid) const
{
    const auto serial = m_serialOfPid.find(pid);
    return serial == m_serialOfPid.end() ? nullptr : &m_bySerial.at(serial->second);
}

const LiveProcess* CLiveProcesses::After(std::uint64_t serial) const
{
    const auto next = m_bySerial.upper_bound(serial);
    return next == m_bySerial.end() ? nullptr : &next->second;
}

LiveProcess& CLiveProcesses::Insert(LiveProcess process)
{
    process.serial = m_nextSerial++;
    m_serialOfPid[process.pid] = process.serial;
    LiveProcess& stored = m_bySerial.emplace(process.serial, std::move(process)).first->second;
    m_listener.Started(stored);
    return stored;
}

void CLiveProcesses::Remove(const LiveProcess& process, FileTime when)
{
    const LiveProcess ended = process;
    m_serialOfPid.erase(ended.pid);
    m_bySerial.erase(ended.serial);
    m_listener.Exited(ended, when);
}

void CLiveProcesses::Apply(const KernelEvent& event)
{
    switch (event.kind) {
    case KernelEvent::Kind::Fork:
        ApplyFork(event);
        break;
    case KernelEvent::Kind::Exec:
        ApplyExec(event);
        break;
    case KernelEvent::Kind::Exit:
        if (const LiveProcess* process = Find(event.pid);
            process && (!event.startKnown || process->startTicks == event.startTicks))
            Remove(*process, event.time);
        break;
    }
}

void CLiveProcesses::ApplyFork(const KernelEvent& event)
{
    if (const LiveProcess* old = Find(event.pid)) {
        if (old->startTicks == event.startTicks)
            return; // told again after a listing
        Remove(*old, event.time);
    }
    LiveProcess process;
    process.pid = event.pid;
    process.ppid = event.ppid;
    process.uid = event.uid;
    process.euid = event.euid;
    process.startTicks = event.startTicks;
    process.began = CreationTime(event.startTicks);
    process.SetComm(event.comm);
    process.path = m_paths.Intern(platform::WithoutControlBytes(event.path));
    // A forked child runs its parent's program with its parent's credentials.
    if (const LiveProcess* parent = Find(event.ppid)) {
        if (!process.path)
            process.path = parent->path;
        if (!event.credentialsKnown) {
            process.uid = parent->uid;
            process.euid = parent->euid;
        }
        if (!event.commKnown)
            process.SetComm(parent->Comm());
    } else if (!process.path) {
        if (std::optional<ProcReading> reading = ReadProcess(event.pid);
            reading && reading->startTicks == event.startTicks)
            process.path = m_paths.Intern(platform::WithoutControlBytes(reading->path));
    }
    Insert(std::move(process));
}

void CLiveProcesses::ApplyExec(const KernelEvent& event)
{
    LiveProcess* process = FindMutable(event.pid);
    if (process && event.startKnown && process->startTicks != event.startTicks) {
        Remove(*process, event.time);
        process = nullptr;
    }
    const std::string_view comm = event.commKnown ? std::string_view(event.comm) : std::string_view();
    CPathPool::Path path = m_paths.Intern(platform::WithoutControlBytes(event.path));
    if (!path && event.commKnown) {
        // A path the kernel side could not build: /proc may still tell.
        if (std::optional<ProcReading> reading = ReadProcess(event.pid);
            reading && (!event.startKnown || reading->startTicks == event.startTicks))
            path = m_paths.Intern(platform::WithoutControlBytes(reading->path));
    }
    if (!process) {
        LiveProcess fresh;
        fresh.pid = event.pid;
        fresh.ppid = event.ppid;
        fresh.uid = event.uid;
        fresh.euid = event.euid;
        fresh.startTicks = event.startTicks;
        fresh.began = event.startKnown ? CreationTime(event.startTicks) : event.time;
        fresh.SetComm(comm);
        fresh.path = std::move(path);
        Insert(std::move(fresh));
        return;
    }
    // The listing that made or refreshed this row read it after this exec already (pooled
    // paths are equal when they are the same copy).
    if (event.time <= process->seen && process->path == path && process->Comm() == comm.substr(0, 15))
        return;
    process->SetComm(comm);
    process->path = std::move(path);
    if (event.credentialsKnown) {
        process->uid = event.uid;
        process->euid = event.euid;
    }
    if (event.ppid != 0)
        process->ppid = event.ppid;
    process->began = event.time;
    m_listener.Exec(*process);
}

void CLiveProcesses::Rescan(const std::vector<ProcReading>& listing, FileTime now)
{
    std::unordered_set<std::uint32_t> listed;
    listed.reserve(listing.size());
    for (const ProcReading& reading : listing) {
        listed.insert(reading.pid);
        LiveProcess* process = FindMutable(reading.pid);
        if (process && process->startTicks != reading.startTicks) {
            Remove(*process, now);
            process = nullptr;
        }
        if (!process) {
            Insert(FromReading(reading, now));
            continue;
        }
        LiveProcess fresh = FromReading(reading, now);
        if (!reading.credentialsRead) {
            fresh.uid = process->uid;
            fresh.euid = process->euid;
        }
        const bool exec = fresh.path != process->path && fresh.path;
        process->ppid = fresh.ppid;
        process->uid = fresh.uid;
        process->euid = fresh.euid;
        process->seen = now;
        if (exec) {
            std::memcpy(process->comm, fresh.comm, sizeof process->comm);
            process->path = std::move(fresh.path);
            process->began = now;
            m_listener.Exec(*process);
        }
    }
    std::vector<std::uint32_t> gone;
    for (const auto& [serial, process] : m_bySerial)
        if (!listed.contains(process.pid))
            gone.push_back(process.pid);
    for (std::uint32_t pid : gone)
        if (const LiveProcess* process = Find(pid))
            Remove(*process, now);
}

} // namespace service
