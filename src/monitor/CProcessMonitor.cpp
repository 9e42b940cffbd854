#include "monitor/CProcessMonitor.h"

#include "CExecTrigger.h"
#include "CServiceWatch.h"
#include "KillProcess.h"
#include "LoadPercent.h"
#include "platform/FileIo.h"
#include "storage/ProgramDirectory.h"
#include "storage/StringTable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

namespace {

constexpr auto kPause = std::chrono::milliseconds(500);
constexpr auto kFirstSamplePause = std::chrono::milliseconds(1);
// A pass made by a caller of its own waits this long at most for its entries to be written.
constexpr auto kPassFlushWait = std::chrono::seconds(30);
// Whether this thread is a monitor's own: its passes do not wait for the log.
thread_local bool tl_bMonitorThread = false;

// The visible range packed into one word, so that it is read and written whole.
std::uint64_t PackRange(int first, int last)
{
    return (std::uint64_t{static_cast<std::uint32_t>(first)} << 32) | static_cast<std::uint32_t>(last);
}

// The text of `stringId` with its "%1" replaced by `number`.
std::string TextWithNumber(unsigned stringId, std::uint64_t number)
{
    std::string text = LoadString(stringId);
    if (auto at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, std::to_string(number));
    return text;
}

// The clock of the load's interval, in 100-ns units. Monotonic: a change of the system
// clock (by hand, or a time service stepping it) must not stretch or shrink an interval.
std::uint64_t MonotonicNow()
{
    using Ticks = std::chrono::duration<std::uint64_t, std::ratio<1, platform::kFileTimePerSecond>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

CProcessMonitor::CProcessMonitor(const std::string& programDirectory)
    : m_programDirectory(programDirectory)
    , m_logWriter(ProgramFilePath(programDirectory, kEventLogFile))
    , m_visible(PackRange(0, -1))
    , m_service(std::make_unique<CServiceWatch>(*this))
    , m_execTrigger(std::make_unique<CExecTrigger>(*this))
    , m_pause(kPause)
{
    m_logWriter.SetCallbacks({
        [this](std::error_code error) {
            NoticeFileFailure(NoticeKind::LogWrite, IDS_ERR_LOG_WRITE, m_logWriter.Path(), error);
        },
        [this](std::uint64_t dropped) {
            Notice(NoticeKind::LogDropped, TextWithNumber(IDS_MSG_LOG_DROPPED, dropped));
        },
    });
    m_disabledList.m_path = ProgramFilePath(programDirectory, kDisabledListFile);
    NoticeFileFailure(NoticeKind::ListRead, IDS_ERR_LIST_READ, m_disabledList.m_path,
                      m_disabledList.Load().error());
    m_settingsFile.m_path = ProgramFilePath(programDirectory, kSettingsFile);
    NoticeFileFailure(NoticeKind::SettingsRead, IDS_ERR_SETTINGS_READ, m_settingsFile.m_path,
                      LoadSettings(m_settings, m_settingsFile).error());
    if (m_settings.eventLogOn != 0) {
        m_logWriter.Open();
        m_settings.eventLogOn = 1;
        m_logWriter.WriteBanner(BuildStartBanner());
    }
    m_utcOffset = platform::CurrentUtcOffset();
}

CProcessMonitor::~CProcessMonitor()
{
    if (m_hThread.joinable()) {
        {
            std::lock_guard pause(m_pauseLock);
            m_bStop = true;
        }
        m_pauseWake.notify_all();
        m_service->Interrupt();
        m_hThread.join();
    }
    FinishLog();
}

void CProcessMonitor::FinishLog()
{
    if (const std::uint64_t lost = m_logWriter.Finish())
        std::fprintf(stderr, "orvane: %s\n", TextWithNumber(IDS_MSG_LOG_LOST, lost).c_str());
}

void CProcessMonitor::Start(ChangesCallback onChanges, EndedCallback onEnded)
{
    if (m_hThread.joinable())
        return;
    m_onChanges = std::move(onChanges);
    m_onEnded = std::move(onEnded);
    m_bStop = false;
    m_hThread = std::thread(&CProcessMonitor::MonitorThreadProc, this);
}

void CProcessMonitor::SetNoticeCallback(NoticeCallback onNotice)
{
    std::vector<std::string> early;
    {
        std::lock_guard lock(m_noticeLock);
        m_onNotice = onNotice;
        early.swap(m_earlyNotices);
    }
    if (onNotice) {
        for (const std::string& text : early)
            onNotice(text);
    }
}

void CProcessMonitor::Notice(NoticeKind kind, const std::string& text)
{
    const unsigned bit = 1u << static_cast<unsigned>(kind);
    if (m_noticesTold.fetch_or(bit) & bit)
        return;
    std::fprintf(stderr, "orvane: %s\n", text.c_str());
    NoticeCallback onNotice;
    {
        std::lock_guard lock(m_noticeLock);
        if (!m_onNotice) {
            m_earlyNotices.push_back(text);
            return;
        }
        onNotice = m_onNotice;
    }
    onNotice(text);
}

void CProcessMonitor::MonitorThreadProc()
{
    tl_bMonitorThread = true;
    m_bThreadEnded = false;
    while (!m_bStop) {
        ScanProcesses();
        if (m_service->Wait(m_pause)) {
            m_execTrigger->Close(); // the service tells of every exec
            continue;
        }
        if (m_execTrigger->Wait(m_pause, m_service->WakeFd()))
            continue;
        std::unique_lock pause(m_pauseLock);
        m_pauseWake.wait_for(pause, m_pause, [this] { return m_bStop.load(); });
    }
    m_bThreadEnded = true;
    // Posts, never waits: the window's thread may be waiting for m_lock right now.
    if (m_onEnded)
        m_onEnded();
}

void CProcessMonitor::ScanProcesses()
{
    // While the service answers, it tells of every process: /proc is not listed. A /proc that
    // cannot be listed now (descriptors short, say) makes no pass; the next one lists it again.
    // A shortage is told as any other is.
    const bool fed = m_service->Receive();
    if (!fed && !m_listing.Update()) {
        if (platform::DescriptorsRanShort())
            NoticeDescriptorsShort();
        return;
    }
    ++m_passesMade;
    m_passesListed = m_listing.Listings();
    TableChanges changes;
    std::error_code listFailure, privilege;
    {
        std::lock_guard lock(m_lock);
        // Another copy of the program may have changed the list on disk; a list that cannot be
        // read keeps the one read before in force.
        listFailure = m_disabledList.Refresh().error();
        ++m_pass;
        m_lines.clear();
        m_service->Apply();
        for (std::uint32_t pid : m_listing.Pids()) {
            if (m_bStop || fed)
                break;
            TrackProcess(pid);
        }
        if (!m_bStop)
            RefreshRows();
        WriteLines();
        if (m_onChanges)
            changes = m_table.TakeChanges();
        privilege = std::exchange(m_privilegeFailure, {});
    }
    // Nothing to tell when it runs out: the writer tells its own failures.
    if (!tl_bMonitorThread)
        (void)m_logWriter.Flush(kPassFlushWait);
    NoticeFileFailure(NoticeKind::ListRead, IDS_ERR_LIST_READ, m_disabledList.m_path, listFailure);
    TellPrivilegeFailure(privilege);
    m_service->TellNews();
    if (m_passesMade == 1)
        NoticeHiddenProcesses();
    if (m_onChanges && !changes.Empty())
        m_onChanges(std::move(changes));
    if (platform::DescriptorsRanShort())
        NoticeDescriptorsShort();
}

void CProcessMonitor::NoticeFileFailure(NoticeKind kind, unsigned stringId, const std::string& path,
                                         std::error_code error)
{
    if (error)
        Notice(kind, LoadString(stringId) + " " + DescribeFileError(path, error));
}

void CProcessMonitor::NoticeHiddenProcesses()
{
    // A mount table that cannot be read tells nothing either way: nothing is said.
    if (platform::ProcHidesOtherUsers().value_or(false))
        Notice(NoticeKind::ProcessesHidden, LoadString(IDS_MSG_PROCESSES_HIDDEN));
}

void CProcessMonitor::NoticeDescriptorsShort()
{
    const unsigned bit = 1u << static_cast<unsigned>(NoticeKind::DescriptorsShort);
    if (m_noticesTold.load() & bit)
        return;
    Notice(NoticeKind::DescriptorsShort, TextWithNumber(IDS_MSG_DESCRIPTORS_SHORT, platform::FileLimit()));
}

int CProcessMonitor::ImageFor(const std::string& path)
{
    if (path.empty())
        return 0;
    std::string icon = platform::FindIconName(path);
    if (icon.empty())
        return 0;
    // One image per icon name: the list only grows, and many processes share an executable.
    auto [it, added] = m_iconImages.try_emplace(icon, 0);
    if (added)
        it->second = m_table.AddImage(icon);
    return it->second;
}

void CProcessMonitor::ReadNameAndPath(platform::ProcessHandle* handle, std::string& name, std::string& path)
{
    // The base name is the last part of the executable's path: one read of the link serves
    // both. Only a process whose path cannot be read is asked for its name on its own, which
    // falls back to the kernel's command name or "unknown".
    path = GetProcessFilePath(handle);
    name = path.substr(path.rfind('/') + 1);
    if (name.empty())
        name = GetProcessBaseName(handle);
}

void CProcessMonitor::TrackProcess(std::uint32_t pid)
{
    // A live row with its own name ends the scan with no more than a look at the command name,
    // so the process is opened only when a row's name must be read again or no live row exists.
    if (const int row = m_table.PlainLiveRow(pid); row >= 0) {
        FollowExec(row);
        return;
    }
    m_table.RowsToVisit(pid, m_visit);

    std::unique_ptr<platform::ProcessHandle> handle = platform::ProcessHandle::Open(pid);
    if (!handle)
        return;

    for (int row : m_visit) {
        if (m_bStop)
            return;
        const bool named = !m_table.Has(row, StoredRow::kStandInName);
        if (!named && !NameRow(row, *handle))
            return;
        if (m_table.FindLiveRow(pid) == row) {
            if (named)
                FollowExec(row);
            return;
        }
    }

    std::string name, path;
    ReadNameAndPath(handle.get(), name, path);
    MeetProgram(std::move(handle), std::move(name), std::move(path));
}

bool CProcessMonitor::NameRow(int row, platform::ProcessHandle& handle)
{
    std::string name, path;
    ReadNameAndPath(&handle, name, path);
    if (m_disabledList.Contains(name)) {
        KillChecked(&handle);
        return false;
    }
    if (name == platform::kUnknownName)
        name = platform::kSystemName;
    const int image = ImageFor(path);
    m_table.Rename(row, image != 0 ? image : m_table.Rows().Image(row), name, path);
    // A row shows its start time from the pass it has a name.
    if (!m_table.Has(row, StoredRow::kStartShown)) {
        m_table.ShowStart(row);
        m_lines.push_back({row, LineKind::Started});
    }
    return true;
}

void CProcessMonitor::FollowExec(int row)
{
    ProcessRecord* record = m_table.GetRecord(row);
    if (!record || !record->hProcess || !ExecutableChanged(row, *record->hProcess))
        return;
    std::string name, path;
    ReadNameAndPath(record->hProcess.get(), name, path);
    // The same executable under a new name is a rename (prctl), not a new program. Where the
    // executable could be read neither before nor now, nothing tells the two apart: the row
    // stays.
    if (path == m_table.Rows().Path(row))
        return;
    // Ended meanwhile (or its times cannot be read now): the exit watch finishes the row.
    const Result<platform::ProcessTimes> times = record->hProcess->GetTimes();
    if (!times || times->exit != 0)
        return;

    // The row's program ended when the change was seen; its handle passes to the new program.
    // The Finished line is written with the pass's other lines, in row order: before the new
    // program's Started line, whose row comes later.
    const platform::FileTime seen = platform::GetSystemTimeAsFileTime();
    std::unique_ptr<platform::ProcessHandle> handle = m_table.EndRowKeepingHandle(row, seen);
    if (!handle)
        return;
    if (!m_table.Has(row, StoredRow::kUnnamed))
        m_lines.push_back({row, LineKind::Finished});

    handle->BeganProgram(seen);
    MeetProgram(std::move(handle), std::move(name), std::move(path));
}

bool CProcessMonitor::ExecutableChanged(int row, platform::ProcessHandle& handle)
{
    // A new command name, read every pass, is the quick sign of exec. A name may stay the same
    // across exec, so the sweep reads the executable itself of the rows whose share is due;
    // that read tells of any exec, and stands in for the name in that pass (the cost of a pass
    // grows by the difference of the two reads only). A row whose path could not be read at
    // first sight (another user's process) has nothing to compare: its name alone tells.
    if (m_exeSweep.Pass() != m_pass)
        m_exeSweep.BeginPass(m_pass, std::chrono::steady_clock::now());
    if (m_exeSweep.Due(row)) {
        const std::string_view known = m_table.Rows().Path(row);
        if (!known.empty()) {
            // A link that cannot be read now (ended meanwhile, or closed to us since) proves
            // nothing: the name is asked instead.
            if (const Result<bool> differs = handle.ExecutableDiffers(known))
                return *differs;
        }
    }
    return handle.CommandNameChanged();
}

void CProcessMonitor::MeetProgram(std::unique_ptr<platform::ProcessHandle> handle, std::string name,
                                  std::string path)
{
    if (name == kOwnName)
        return;
    if (m_disabledList.Contains(name)) {
        KillChecked(handle.get());
        return;
    }
    if (m_bStop)
        return;
    const std::uint32_t pid = handle->Pid();
    const int row = m_table.AppendRow(pid, handle->CreationTime(), ImageFor(path), name, path);
    if (row < 0)
        return;
    auto record = std::make_unique<ProcessRecord>();
    record->hProcess = std::move(handle);
    m_table.SetRecord(row, std::move(record));
    if (!m_table.Has(row, StoredRow::kUnnamed)) {
        m_table.ShowStart(row);
        m_lines.push_back({row, LineKind::Started});
    }
}

void CProcessMonitor::RefreshRows()
{
    const long offset = platform::CurrentUtcOffset();
    if (offset != m_utcOffset) {
        // Every time text changes with the offset: the window shows them all again, and the
        // log gets every row's lines once more in the new offset.
        m_utcOffset = offset;
        m_table.MarkTimesChanged();
        for (int row = 0, count = m_table.GetRowCount(); row < count; ++row) {
            if (m_table.Has(row, StoredRow::kUnnamed))
                continue;
            if (m_table.Has(row, StoredRow::kStartShown) && m_table.Rows().Row(row).creation != 0)
                m_lines.push_back({row, LineKind::Started});
            if (m_table.Has(row, StoredRow::kEnded))
                m_lines.push_back({row, LineKind::Finished});
        }
    }
    EndRows();
    if (!m_bStop)
        SampleShownRows();
}

void CProcessMonitor::EndRows()
{
    m_table.TakeEnded(m_rows);
    if (m_rows.empty())
        return;
    // The exit time is the time the exit is first seen.
    const platform::FileTime now = platform::GetSystemTimeAsFileTime();
    for (int row : m_rows) {
        if (m_bStop)
            return;
        m_table.EndRow(row, now);
        if (!m_table.Has(row, StoredRow::kUnnamed))
            m_lines.push_back({row, LineKind::Finished});
    }
}

std::optional<platform::ProcessTimes> CProcessMonitor::SampleTimes(int row, ProcessRecord& record)
{
    ++m_timeReads;
    // Times that cannot be read now give no sample this pass (a process on its way out).
    const Result<platform::ProcessTimes> times = record.hProcess->GetTimes();
    if (!times)
        return std::nullopt;
    if (record.hProcess->HasEnded()) {
        // Seen here before the exit watch told of it.
        m_table.EndRow(row, times->exit);
        if (!m_table.Has(row, StoredRow::kUnnamed))
            m_lines.push_back({row, LineKind::Finished});
        return std::nullopt;
    }
    return *times;
}

void CProcessMonitor::SampleShownRows()
{
    const std::uint64_t visible = m_visible.load();
    const int count = m_table.GetRowCount();
    const int first = std::max(0, static_cast<std::int32_t>(visible >> 32));
    const int last = std::min(count - 1, static_cast<std::int32_t>(visible & 0xFFFFFFFFu));
    if (last < first)
        return;

    // A row not sampled in the previous pass (new, or just come into view) is sampled first,
    // with one short pause for all of them, so that its load covers this pass only.
    if (SampleUnsampledRows(first, last))
        std::this_thread::sleep_for(kFirstSamplePause);
    for (int row = first; row <= last; ++row) {
        if (m_bStop)
            return;
        ProcessRecord* record = m_table.GetRecord(row);
        if (record && record->samplePass + 1 == m_pass)
            MeasureLoad(row, *record);
    }
}

bool CProcessMonitor::SampleUnsampledRows(int first, int last)
{
    bool sampled = false;
    for (int row = first; row <= last; ++row) {
        ProcessRecord* record = m_table.GetRecord(row);
        if (!record || record->samplePass + 1 == m_pass)
            continue;
        const std::optional<platform::ProcessTimes> times = SampleTimes(row, *record);
        if (!times)
            continue;
        record->kernelTime = times->kernel;
        record->userTime = times->user;
        record->sampleTime = MonotonicNow();
        record->samplePass = m_pass - 1;
        sampled = true;
    }
    return sampled;
}

void CProcessMonitor::MeasureLoad(int row, ProcessRecord& record)
{
    const std::optional<platform::ProcessTimes> times = SampleTimes(row, record);
    if (!times)
        return;
    const std::uint64_t now = MonotonicNow();
    record.samplePass = m_pass;
    const std::int64_t busy = static_cast<std::int64_t>(times->kernel - record.kernelTime)
        + static_cast<std::int64_t>(times->user - record.userTime);
    const std::optional<std::int32_t> load =
        LoadPercent(busy, record.sampleTime, now, platform::ProcessorCount());
    if (!load)
        return;
    record.kernelTime = times->kernel;
    record.userTime = times->user;
    record.sampleTime = now;
    m_table.SetLoad(row, *load);
}

void CProcessMonitor::WriteLines()
{
    if (m_lines.empty())
        return;
    // In row order, a row's start before its finish, each once: as a walk over the rows
    // would write them.
    std::sort(m_lines.begin(), m_lines.end(), [](const Line& a, const Line& b) {
        return a.row != b.row ? a.row < b.row : a.kind < b.kind;
    });
    m_lines.erase(std::unique(m_lines.begin(), m_lines.end(),
                              [](const Line& a, const Line& b) {
                                  return a.row == b.row && a.kind == b.kind;
                              }),
                  m_lines.end());
    if (m_settings.eventLogOn == 0 || m_bLogFinished)
        return;
    const RowStore& rows = m_table.Rows();
    for (const Line& line : m_lines) {
        const std::string name(rows.Name(line.row));
        // A line the full queue drops is counted, and the count told, by the writer.
        if (line.kind == LineKind::Started)
            (void)m_logWriter.Write(BuildStartedLine(name, rows.CellText(line.row, ColStart)));
        else
            (void)m_logWriter.Write(BuildFinishedLine(name, rows.CellText(line.row, ColFinish)));
    }
}

void CProcessMonitor::PrepareClose()
{
    if (!m_bThreadEnded) {
        {
            // After the lines a pass queued, and before none: a pass queues under m_lock.
            std::lock_guard lock(m_lock);
            if (m_settings.eventLogOn != 0 && !m_bLogFinished) {
                m_logWriter.WriteBanner(BuildFinishBanner());
                m_logWriter.Close();
            }
            m_bLogFinished = true;
        }
        NoticeFileFailure(NoticeKind::SettingsSave, IDS_ERR_SETTINGS_SAVE, m_settingsFile.m_path,
                          SaveSettings(GetSettings(), m_settingsFile).error());
        {
            std::lock_guard pause(m_pauseLock);
            m_bStop = true;
        }
        m_pauseWake.notify_all();
        m_service->Interrupt();
        return;
    }
    if (m_hThread.joinable())
        m_hThread.join();
    FinishLog();
    std::lock_guard lock(m_lock);
    m_table.FreeRecords();
    m_disabledList.RemoveAll();
}

SettingsRecord CProcessMonitor::GetSettings() const
{
    std::lock_guard lock(m_lock);
    return m_settings;
}

void CProcessMonitor::SetSettings(const SettingsRecord& settings)
{
    std::lock_guard lock(m_lock);
    const std::int32_t eventLogOn = m_settings.eventLogOn;
    m_settings = settings;
    m_settings.eventLogOn = eventLogOn;
}

Result<> CProcessMonitor::RunWithLogClosed(const std::function<void(const std::string& path)>& operation)
{
    // Not under m_lock: the passes go on queueing their lines while the file is closed.
    return m_logWriter.RunClosed(operation, kLogWait);
}

void CProcessMonitor::SetVisibleRows(int first, int last)
{
    m_visible.store(PackRange(first, last));
}

Result<> CProcessMonitor::StartEventLog()
{
    // A log that cannot be opened is not switched on: the caller tells the user why. The wait
    // is for the writer alone, never under m_lock.
    if (const Result<> opened = m_logWriter.OpenAndWait(kLogWait); !opened)
        return opened;
    std::lock_guard lock(m_lock);
    m_settings.eventLogOn = 1;
    return {};
}

void CProcessMonitor::StopEventLog()
{
    std::lock_guard lock(m_lock);
    m_logWriter.Close();
    m_settings.eventLogOn = 0;
}

void CProcessMonitor::KillSelected(int row)
{
    std::error_code privilege;
    {
        std::lock_guard lock(m_lock);
        if (row < 0 || row >= m_table.GetRowCount())
            return;
        // While the service feeds the passes, its rows are killed there (and by it, where it may).
        if (ProcessRecord* record = m_table.GetRecord(row); !m_service->Kill(row) && record)
            KillChecked(record->hProcess.get());
        privilege = std::exchange(m_privilegeFailure, {});
    }
    TellPrivilegeFailure(privilege);
}

Result<> CProcessMonitor::DisableSelected(int row)
{
    // The file is written without m_lock, so that a slow or frozen disk never holds up the
    // passes; the name is held in memory meanwhile, so that a new start is killed at once.
    std::string name;
    std::error_code privilege;
    {
        std::lock_guard lock(m_lock);
        if (row < 0 || row >= m_table.GetRowCount())
            return {};
        name = m_table.Name(row);
        m_disabledList.Hold(name);
        // While the service feeds the passes, its rows are killed there (and by it, where it may).
        if (ProcessRecord* record = m_table.GetRecord(row); !m_service->Kill(row) && record)
            KillChecked(record->hProcess.get());
        privilege = std::exchange(m_privilegeFailure, {});
    }
    TellPrivilegeFailure(privilege);
    CDisabledList::FileChange written = m_disabledList.AddOnDisk(name);
    std::lock_guard lock(m_lock);
    return m_disabledList.Adopt(std::move(written));
}

void CProcessMonitor::KillChecked(platform::ProcessHandle* handle)
{
    ++m_kills;
    if (const Result<> killed = KillProcess(handle); !killed && !m_privilegeFailure)
        m_privilegeFailure = killed.error();
}

void CProcessMonitor::TellPrivilegeFailure(std::error_code failure)
{
    if (!failure)
        return;
    const bool kept = failure == platform::PrivilegeError::StillRaised;
    Notice(NoticeKind::Privilege, LoadString(kept ? IDS_MSG_PRIVILEGE_KEPT : IDS_MSG_PRIVILEGE_GIVEN_UP));
    if (kept)
        PrepareClose();
}

std::vector<std::string> CProcessMonitor::DisabledEntries()
{
    std::vector<std::string> entries;
    std::error_code failure;
    {
        std::lock_guard lock(m_lock);
        failure = m_disabledList.Refresh().error(); // another copy may have changed the file
        entries.reserve(m_disabledList.GetSize());
        for (std::size_t i = 0; i < m_disabledList.GetSize(); ++i)
            entries.push_back(m_disabledList.GetAt(i));
    }
    NoticeFileFailure(NoticeKind::ListRead, IDS_ERR_LIST_READ, m_disabledList.m_path, failure);
    return entries;
}

Result<> CProcessMonitor::RemoveDisabledAt(std::size_t index, const std::string& name)
{
    // As for DisableSelected: the file's I/O without m_lock.
    CDisabledList::FileChange written = m_disabledList.RemoveOnDisk(index, name);
    std::lock_guard lock(m_lock);
    return m_disabledList.Adopt(std::move(written));
}

std::string CProcessMonitor::DisabledListPath() const
{
    return m_disabledList.m_path;
}

std::string CProcessMonitor::EventLogPath() const
{
    return m_logWriter.Path();
}

std::string CProcessMonitor::GetProcessBaseName(platform::ProcessHandle* hProcess)
{
    return hProcess ? hProcess->BaseName() : std::string();
}

std::string CProcessMonitor::GetProcessFilePath(platform::ProcessHandle* hProcess)
{
    return hProcess ? hProcess->FilePath() : std::string();
}

TableChanges CProcessMonitor::TakeChanges()
{
    std::lock_guard lock(m_lock);
    return m_table.TakeChanges();
}
