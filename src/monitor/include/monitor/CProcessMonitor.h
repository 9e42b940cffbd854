#pragma once
// The owner of everything the monitor works on: the process table and its image list, the
// table lock, the monitor thread and its flags, the disabled list, the settings and the event
// log. The process list window holds one; it is free of Qt so that tests drive it directly.
// Its data stay inside: the window and the dialogs call the operations below.
//
// Locking: m_lock guards the table, the disabled list and the settings. A pass holds it from
// after the enumeration to its end. No thread ever waits for the window's thread while it
// holds m_lock: changes leave as posted batches (onChanges is called after the lock is released
// and must not block on the GUI). The rows themselves are read by the window from Rows()
// without the lock (see RowStore). The event log is written by its own thread (CLogWriter): a
// pass only queues its lines, under m_lock, so that they keep their order with the switch and
// the banners, and no holder of m_lock ever waits for the disk to take them.
//
// A pass: new processes and names read again (every process, every pass), exits learned from
// the exit watch (every live process), then the load of the live rows the window shows. While
// the window shows no row, a pass reads no process's times at all. While the watch service
// answers, its events take the place of the first two (see CServiceWatch); while it does not,
// the exec of a disabled program from a watched folder ends the pause between passes at once
// (see CExecTrigger).

#include "monitor/ExecutableSweep.h"
#include "monitor/ProcessTable.h"
#include "storage/CDataFile.h"
#include "storage/CDisabledList.h"
#include "storage/CEventLogFile.h"
#include "storage/CLogWriter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

class CExecTrigger;
class CServiceWatch;

class CProcessMonitor {
public:
    // Called on the monitor thread after every pass that changed something, outside m_lock.
    using ChangesCallback = std::function<void(TableChanges&&)>;
    // Called on the monitor thread as its last act, after the thread is marked ended.
    using EndedCallback = std::function<void()>;
    // Told of a failure in the background that the user should know of; called on the thread
    // that met it, outside m_lock, after the text went to stderr as one line. Must not block.
    using NoticeCallback = std::function<void(const std::string& text)>;

    // The kinds of background failure; each is told once per run.
    enum class NoticeKind : unsigned {
        LogWrite,
        SettingsSave,
        DescriptorsShort,
        ListRead,
        SettingsRead,
        LogDropped,
        DataFolder,
        Signals,
        Privilege,
        ProcessesHidden,
        ExecWatch,
        Count
    };

    // In this order: the three paths in `programDirectory`, the disabled list loaded, the
    // settings loaded, and when eventLogOn is non-zero the log opened, eventLogOn set to 1 and
    // the start banner written. A list or settings file that cannot be read is told as a
    // notice (kept until the notice callback is set).
    explicit CProcessMonitor(const std::string& programDirectory);
    // Stops and joins the thread if it still runs (without a banner or a settings write).
    ~CProcessMonitor();
    CProcessMonitor(const CProcessMonitor&) = delete;
    CProcessMonitor& operator=(const CProcessMonitor&) = delete;

    // Clears the stop flag and starts the monitor thread: one pass, then a pause of 500 ms.
    void Start(ChangesCallback onChanges, EndedCallback onEnded);
    bool ThreadEnded() const { return m_bThreadEnded.load(); }

    // Where background failures go besides stderr (set before Start; may stay unset). The
    // notices told before it was set (those of the start-up) are passed to it at once.
    void SetNoticeCallback(NoticeCallback onNotice);
    // Tells a background failure: the first time for its kind, one line on stderr and the
    // callback; later times nothing. Any thread, without m_lock held.
    void Notice(NoticeKind kind, const std::string& text);
    // Notice of a failure on one of the program's files: the text of `stringId`, then
    // "<path>: <reason>"; nothing when `error` is empty.
    void NoticeFileFailure(NoticeKind kind, unsigned stringId, const std::string& path,
                           std::error_code error);

    // Every close request. Phase 1 (thread not ended): finish banner and close queued when
    // eventLogOn is non-zero (after the entries queued before), settings saved, stop requested.
    // Phase 2 (thread ended): thread joined, the log's queue written out (given up when the disk
    // takes nothing for a few seconds; how many entries were lost goes to stderr), records freed
    // and the disabled list emptied in memory. The caller closes only if ThreadEnded()
    // afterwards.
    void PrepareClose();

    // The settings as they stand, and a change of them. eventLogOn changes only through
    // StartEventLog and StopEventLog: SetSettings keeps it.
    SettingsRecord GetSettings() const;
    void SetSettings(const SettingsRecord& settings);
    // The event-log switch (no banner either way), in order with the entries queued before. A
    // log that cannot be opened stays off and fails with the reason; so does a log whose writer
    // the disk has held for kLogWait (StorageFault::LogBusy).
    Result<> StartEventLog();
    void StopEventLog();
    // Runs `operation` on this thread, on the log's path, with the log closed once the entries
    // queued before are written, and opens it again afterwards if it was open; the entries
    // queued meanwhile wait for it. When the disk holds the writer for kLogWait, `operation`
    // is not run and StorageFault::LogBusy is returned.
    Result<> RunWithLogClosed(const std::function<void(const std::string& path)>& operation);
    // How long the window's thread waits for the log's writer.
    static constexpr std::chrono::milliseconds kLogWait{3000};

    // The commands on a row of the table (the window's selection mark), under m_lock; a
    // negative or unknown row does nothing, and so does the kill of an ended row.
    void KillSelected(int row);
    // DisableSelected fails with the reason the name could not be added to the list on disk
    // (the process is killed all the same).
    Result<> DisableSelected(int row);

    // The disabled list's entries in order, read again first when another copy of the program
    // changed the file; the dialog's Delete: the entry `name` shown at `index` removed from the
    // list on disk under its lock (CDisabledList::Remove), under m_lock; the list's path.
    std::vector<std::string> DisabledEntries();
    Result<> RemoveDisabledAt(std::size_t index, const std::string& name);
    std::string DisabledListPath() const;
    // The event log's path (for telling why it could not be opened).
    std::string EventLogPath() const;

    // The rows the window shows, first to last (a row count past the end is fine); an empty
    // range (last < first) while the window is hidden or minimised. Any thread, no lock.
    // A pass samples the load of the live rows in the range only; a row that comes into view
    // is sampled at once, so that the load it shows next covers at most one pass.
    void SetVisibleRows(int first, int last);

    // The rows, for reading on any thread without the lock (see RowStore).
    const RowStore& Rows() const { return m_table.Rows(); }
    // The changes of the table since the last call, taken under m_lock.
    TableChanges TakeChanges();

    // One pass on the calling thread (the thread runs the same; tests and benchmarks call it
    // without a thread). A pass made on another thread than the monitor's returns once its
    // log entries are written, so that its caller finds them in the file.
    void ScanProcesses();
    // Reads of processes' times made by passes so far (tests check what is read, and when).
    std::uint64_t TimeReads() const { return m_timeReads.load(); }
    // Passes made so far, and how many of them had to read /proc's list again.
    std::uint64_t PassesMade() const { return m_passesMade.load(); }
    std::uint64_t PassesListed() const { return m_passesListed.load(); }

    static std::string GetProcessBaseName(platform::ProcessHandle* hProcess);
    static std::string GetProcessFilePath(platform::ProcessHandle* hProcess);
    // Both of the above with one read of the executable's link where it can be read.
    static void ReadNameAndPath(platform::ProcessHandle* handle, std::string& name, std::string& path);

    static constexpr const char* kOwnName = "orvane";

private:
    friend class MonitorTestAccess; // tests: the table under the lock
    friend class CServiceWatch;     // the passes fed by the watch service
    friend class CExecTrigger;      // the pause cut short by a disabled program's exec

    enum class LineKind { Started, Finished };
    struct Line {
        int row;
        LineKind kind;
    };

    void MonitorThreadProc();
    void TrackProcess(std::uint32_t pid);
    // A live row whose process runs another executable than the row names (exec keeps the
    // identifier) is finished, and the new program is met as at first sight.
    void FollowExec(int row);
    // Reads the name of a row that has only a stand-in for one (its process met before it
    // could be named), and shows its start; false when the process was killed instead, its
    // name being on the disabled list.
    bool NameRow(int row, platform::ProcessHandle& handle);
    // Whether the row's process may have begun another program since the last pass: its
    // command name changed, or, when the sweep's share of the row is due, its executable.
    bool ExecutableChanged(int row, platform::ProcessHandle& handle);
    // First sight of a program: killed when its name is disabled, else given a new row.
    void MeetProgram(std::unique_ptr<platform::ProcessHandle> handle, std::string name, std::string path);
    void NoticeDescriptorsShort();
    // Phase 2 of closing and the destructor: the log's queue written out, what was lost told.
    void FinishLog();
    // Every kill goes through here (under m_lock): a capability that the privileged retry
    // could not drop again is kept in m_privilegeFailure, for TellPrivilegeFailure.
    void KillChecked(platform::ProcessHandle* handle);
    // After m_lock is released: tells a privilege failure, and when the capability is still
    // raised, stops the monitor as a close request does (fail closed: the program ends, and
    // the capability with it).
    void TellPrivilegeFailure(std::error_code failure);
    // At the first pass: where /proc hides other users' processes, the list holds only the
    // user's own, which the user is told.
    void NoticeHiddenProcesses();
    void RefreshRows();
    void EndRows();
    void SampleShownRows();
    // Samples the times of the rows in [first, last] not sampled in the previous pass, the
    // start of their first interval; true when any was.
    bool SampleUnsampledRows(int first, int last);
    // The load of a row sampled in the previous pass, over the interval since.
    void MeasureLoad(int row, ProcessRecord& record);
    // The times of a live row's process; nothing when they cannot be read now, or when the
    // process has ended (the row is ended here).
    std::optional<platform::ProcessTimes> SampleTimes(int row, ProcessRecord& record);
    void WriteLines();
    int ImageFor(const std::string& path);

    mutable std::mutex m_lock;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bThreadEnded{false};
    std::thread m_hThread;
    SettingsRecord m_settings;
    CDisabledList m_disabledList;
    CDataFile m_settingsFile;
    bool m_bLogFinished = false; // the finish banner is queued: no entry after it
    ProcessTable m_table;
    std::string m_programDirectory;

    ChangesCallback m_onChanges;
    EndedCallback m_onEnded;
    std::mutex m_noticeLock; // guards the two below; never held across I/O or a callback
    NoticeCallback m_onNotice;
    std::vector<std::string> m_earlyNotices; // told before m_onNotice was set
    std::atomic<unsigned> m_noticesTold{0}; // one bit per NoticeKind
    std::error_code m_privilegeFailure;     // of a kill, until told (under m_lock)
    std::uint64_t m_kills = 0;              // kills sent (under m_lock)
    CLogWriter m_logWriter; // after what its callbacks use

    std::atomic<std::uint64_t> m_visible; // first row in the high half, last in the low half
    std::atomic<std::uint64_t> m_timeReads{0};
    std::atomic<std::uint64_t> m_passesMade{0};
    std::atomic<std::uint64_t> m_passesListed{0};
    std::uint64_t m_pass = 1; // a record sampled in no pass has samplePass 0
    long m_utcOffset = 0;
    std::unordered_map<std::string, int> m_iconImages; // icon name -> image
    platform::ProcessListing m_listing;                 // the processes each pass visits
    ExecutableSweep m_exeSweep;                         // the rows that read their executable
    std::vector<int> m_visit;                           // rows of one pid, reused
    std::vector<int> m_rows;                            // rows of one step, reused
    std::vector<Line> m_lines;                          // the pass's log lines, by row

    std::mutex m_pauseLock; // wakes the pause early on a stop request
    std::condition_variable m_pauseWake;
    std::unique_ptr<CServiceWatch> m_service;
    std::unique_ptr<CExecTrigger> m_execTrigger;
    std::chrono::milliseconds m_pause; // between passes (tests lengthen it)
};
