#include "protocol/CWatchTable.h"

namespace watch {

void CWatchTable::ApplyStarted(Table& table, const ProcessInfo& info, std::vector<Change>* changes)
{
    auto [at, inserted] = table.try_emplace(info.pid, info);
    if (!inserted) {
        if (at->second.startTicks == info.startTicks)
            return; // told twice: the first stands
        // The pid was taken again and the end of its former holder was not told.
        if (changes) {
            ProcessInfo ended = at->second;
            ended.time = info.time;
            changes->push_back({Change::Kind::Exited, std::move(ended)});
        }
        at->second = info;
    }
    if (changes)
        changes->push_back({Change::Kind::Started, info});
}

void CWatchTable::ApplyExec(Table& table, const ProcessInfo& info, std::vector<Change>* changes)
{
    auto at = table.find(info.pid);
    if (at == table.end() || at->second.startTicks != info.startTicks) {
        ApplyStarted(table, info, changes);
        return;
    }
    at->second = info;
    if (changes)
        changes->push_back({Change::Kind::Exec, info});
}

void CWatchTable::ApplyExited(Table& table, const Exited& exited, std::vector<Change>* changes)
{
    auto at = table.find(exited.pid);
    if (at == table.end() || at->second.startTicks != exited.startTicks)
        return;
    if (changes) {
        ProcessInfo ended = std::move(at->second);
        ended.time = exited.time;
        changes->push_back({Change::Kind::Exited, std::move(ended)});
    }
    table.erase(at);
}

void CWatchTable::FinishSnapshot(FileTime time, std::vector<Change>& changes)
{
    for (auto& [pid, old] : m_live) {
        auto now = m_snapshot.find(pid);
        if (now != m_snapshot.end() && now->second.startTicks == old.startTicks)
            continue;
        ProcessInfo ended = old;
        ended.time = time;
        changes.push_back({Change::Kind::Exited, std::move(ended)});
    }
    for (auto& [pid, info] : m_snapshot) {
        auto old = m_live.find(pid);
        if (old == m_live.end() || old->second.startTicks != info.startTicks) {
            changes.push_back({Change::Kind::Started, info});
        } else if (old->second.name != info.name || old->second.path != info.path) {
            ProcessInfo began = info;
            began.time = time;
            changes.push_back({Change::Kind::Exec, std::move(began)});
        }
    }
    m_live.swap(m_snapshot);
    m_snapshot.clear();
    m_inSnapshot = false;
    m_synchronised = true;
}

void CWatchTable::Apply(const Message& message, std::vector<Change>& changes)
{
    Table& table = m_inSnapshot ? m_snapshot : m_live;
    std::vector<Change>* told = m_inSnapshot ? nullptr : &changes;
    if (std::holds_alternative<SnapshotBegin>(message)) {
        m_snapshot.clear();
        m_inSnapshot = true;
        m_synchronised = false;
    } else if (const auto* process = std::get_if<Process>(&message)) {
        if (m_inSnapshot)
            m_snapshot.insert_or_assign(process->info.pid, process->info);
    } else if (const auto* end = std::get_if<SnapshotEnd>(&message)) {
        if (m_inSnapshot)
            FinishSnapshot(end->time, changes);
    } else if (const auto* started = std::get_if<Started>(&message)) {
        ApplyStarted(table, started->info, told);
    } else if (const auto* exec = std::get_if<Exec>(&message)) {
        ApplyExec(table, exec->info, told);
    } else if (const auto* exited = std::get_if<Exited>(&message)) {
        ApplyExited(table, *exited, told);
    } else if (std::holds_alternative<Resync>(message)) {
        ++m_resyncs;
    }
}

} // namespace watch
