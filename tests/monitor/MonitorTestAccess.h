#pragma once
// Tests only: what a test checks inside the monitor (its table, under its lock). Everything
// else goes through the monitor's own operations, as the window's do.

#include "monitor/CProcessMonitor.h"

#include <chrono>
#include <mutex>

class MonitorTestAccess {
public:
    static std::mutex& Lock(CProcessMonitor& monitor) { return monitor.m_lock; }
    // Only under Lock(monitor).
    static ProcessTable& Table(CProcessMonitor& monitor) { return monitor.m_table; }
    static bool ThreadJoinable(CProcessMonitor& monitor) { return monitor.m_hThread.joinable(); }
    // Before Start: the pause between the thread's passes.
    static void SetPause(CProcessMonitor& monitor, std::chrono::milliseconds pause) { monitor.m_pause = pause; }
};
