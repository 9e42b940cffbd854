#pragma once
// The owner of everything the monitor works on: the process table and its image list, the
// table lock, the monitor thread and its flags, the disabled list, the settings and the event
// log. The process list window holds one; it is free of Qt so that tests drive it directly.
//
// Locking: m_lock guards the table, the disabled list, the event log and the eventLogOn
// switch. A pass holds it from after the enumeration to its end. No thread ever waits for the
// window's thread while it holds m_lock: changes leave as posted batches (onChanges is called
// after the lock is released and must not block on the GUI).

#include "monitor/ProcessTable.h"
#include "storage/CDataFile.h"
#include "storage/CDisabledList.h"
#include "storage/CEventLogFile.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

class CProcessMonitor {
public:
    // Called on the monitor thread after every pass that changed something, outside m_lock.
    using ChangesCallback = std::function<void(TableChanges&&)>;
    // Called on the monitor thread as its last act, after m_bThreadEnded is set.
    using EndedCallback = std::function<void()>;
    // Told of a failure in the background that the user should know of; called on the thread
    // that met it, outside m_lock, after the text went to stderr as one line. Must not block.
    using NoticeCallback = std::function<void(const std::string& text)>;

    // The kinds of background failure; each is told once per run.
    enum class NoticeKind : unsigned { LogWrite, SettingsSave, DescriptorsShort, Count };

    // In this order: the three paths in `programDirectory`, the disabled list loaded, the
    // settings loaded, and when eventLogOn is non-zero the log opened, eventLogOn set to 1 and
    // the start banner written.
    explicit CProcessMonitor(const std::string& programDirectory);
    // Stops and joins the thread if it still runs (without a banner or a settings write).
    ~CProcessMonitor();
    CProcessMonitor(const CProcessMonitor&) = delete;
    CProcessMonitor& operator=(const CProcessMonitor&) = delete;

    // Sets m_bNT, clears m_bStop and starts MonitorThreadProc.
    void Start(ChangesCallback onChanges, EndedCallback onEnded);

    // Where background failures go besides stderr (set before Start; may stay unset).
    void SetNoticeCallback(NoticeCallback onNotice);
    // Tells a background failure: the first time for its kind, one line on stderr and the
    // callback; later times nothing. Any thread, without m_lock held.
    void Notice(NoticeKind kind, const std::string& text);

    // Every close request. Phase 1 (thread not ended): finish banner and close when eventLogOn
    // is non-zero, settings saved, m_bStop set. Phase 2 (thread ended): records freed and the
    // disabled list emptied in memory. The caller closes only if m_bThreadEnded afterwards.
    void PrepareClose();

    // The event-log switch (no banner either way). A log that cannot be opened stays off and
    // the reason is returned.
    std::error_code StartEventLog();
    void StopEventLog();

    // The commands on a row of the table (the window's selection mark), under m_lock; a
    // negative or unknown row, or a row without record, does nothing.
    void KillSelected(int row);
    // DisableSelected returns why the name could not be added to the list on disk (the process
    // is killed all the same).
    std::error_code DisableSelected(int row);

    // The disabled-list dialog's Delete: CDisabledList::Remove(index), under m_lock.
    std::error_code RemoveDisabledAt(std::size_t index);

    // The monitor's steps (public so that tests can run passes without the thread).
    void MonitorThreadProc();
    void ScanProcesses();
    void TrackProcess(std::uint32_t pid);
    void RefreshRows();
    static std::string GetProcessBaseName(platform::ProcessHandle* hProcess);
    static std::string GetProcessFilePath(platform::ProcessHandle* hProcess);
    // Both of the above with one read of the executable's link where it can be read.
    static void ReadNameAndPath(platform::ProcessHandle* handle, std::string& name, std::string& path);

    // The changes of the table since the last call, taken under m_lock.
    TableChanges TakeChanges();

    std::mutex m_lock;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bThreadEnded{false};
    std::thread m_hThread;
    bool m_bNT = false;
    SettingsRecord m_settings;
    CDisabledList m_disabledList;
    CEventLogFile m_eventLog;
    CDataFile m_settingsFile;
    ProcessTable m_table;
    std::string m_programDirectory;

    static constexpr const char* kOwnName = "orvane";

private:
    // A live row whose process runs another executable than the row names (exec keeps the
    // identifier) is finished, and the new program is met as at first sight.
    void FollowExec(int row);
    // First sight of a program: killed when its name is disabled, else given a new row.
    void MeetProgram(std::unique_ptr<platform::ProcessHandle> handle, std::string name, std::string path);
    void NoticeDescriptorsShort();
    void RefreshRow(int row, bool& stopped);
    int ImageFor(const std::string& path);
    void Reactivate(int row);

    ChangesCallback m_onChanges;
    EndedCallback m_onEnded;
    NoticeCallback m_onNotice;
    std::atomic<unsigned> m_noticesTold{0}; // one bit per NoticeKind

    // Rows whose texts may still change, ascending. An ended row whose texts have settled
    // ("0 %" load, finish time written) leaves this list: its times can no longer change, so
    // refreshing it would rewrite the same texts. It comes back when its name is read anew,
    // and every row comes back when the offset from UTC changes (all time texts change then).
    std::vector<int> m_activeRows;
    long m_utcOffset = 0;
    bool m_offsetChanged = false; // in the current pass
    std::unordered_map<std::string, int> m_iconImages; // icon name -> image
    std::vector<std::uint32_t> m_pids;                  // reused by every pass
    std::vector<int> m_visit;                           // rows of one pid, reused

    std::mutex m_pauseLock; // wakes the pause early on a stop request
    std::condition_variable m_pauseWake;
};
