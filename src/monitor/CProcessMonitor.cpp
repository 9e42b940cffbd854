#include "monitor/CProcessMonitor.h"

#include "monitor/KillProcess.h"
#include "storage/FileIo.h"
#include "storage/ProgramDirectory.h"
#include "storage/StringTable.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

namespace {

constexpr auto kPause = std::chrono::milliseconds(500);
constexpr auto kFirstSamplePause = std::chrono::milliseconds(1);
constexpr const char* kUnknown = "unknown";
constexpr const char* kSystem = "System";
constexpr const char* kNoTime = " "; // an empty date and an empty time joined by one blank

// "%d %": the low 32 bits of the load as a signed number, a blank and a percent sign.
std::string LoadText(std::int64_t load)
{
    char buffer[16];
    auto end = std::to_chars(buffer, buffer + 12, static_cast<std::int32_t>(load)).ptr; // 11 at most
    *end++ = ' ';
    *end++ = '%';
    return std::string(buffer, end);
}

} // namespace

CProcessMonitor::CProcessMonitor(const std::string& programDirectory)
    : m_programDirectory(programDirectory)
{
    m_disabledList.m_path = ProgramFilePath(programDirectory, kDisabledListFile);
    m_disabledList.Load();
    m_settingsFile.m_path = ProgramFilePath(programDirectory, kSettingsFile);
    m_eventLog.m_path = ProgramFilePath(programDirectory, kEventLogFile);
    LoadSettings(m_settings, m_settingsFile);
    if (m_settings.eventLogOn != 0) {
        m_eventLog.Open();
        m_settings.eventLogOn = 1;
        m_eventLog.Write(BuildStartBanner());
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
        m_hThread.join();
    }
}

void CProcessMonitor::Start(ChangesCallback onChanges, EndedCallback onEnded)
{
    if (m_hThread.joinable())
        return;
    m_bNT = true; // Linux has the privilege model that the kill retry needs
    m_onChanges = std::move(onChanges);
    m_onEnded = std::move(onEnded);
    m_bStop = false;
    m_hThread = std::thread(&CProcessMonitor::MonitorThreadProc, this);
}

void CProcessMonitor::SetNoticeCallback(NoticeCallback onNotice)
{
    m_onNotice = std::move(onNotice);
}

void CProcessMonitor::Notice(NoticeKind kind, const std::string& text)
{
    const unsigned bit = 1u << static_cast<unsigned>(kind);
    if (m_noticesTold.fetch_or(bit) & bit)
        return;
    std::fprintf(stderr, "orvane: %s\n", text.c_str());
    if (m_onNotice)
        m_onNotice(text);
}

void CProcessMonitor::MonitorThreadProc()
{
    m_bThreadEnded = false;
    while (!m_bStop) {
        ScanProcesses();
        std::unique_lock pause(m_pauseLock);
        m_pauseWake.wait_for(pause, kPause, [this] { return m_bStop.load(); });
    }
    m_bThreadEnded = true;
    // Posts, never waits: the window's thread may be waiting for m_lock right now.
    if (m_onEnded)
        m_onEnded();
}

void CProcessMonitor::ScanProcesses()
{
    if (!platform::EnumProcesses(m_pids))
        return;
    TableChanges changes;
    std::error_code logFailure;
    {
        std::lock_guard lock(m_lock);
        // Another copy of the program may have changed the list on disk.
        m_disabledList.Refresh();
        for (std::uint32_t pid : m_pids) {
            if (m_bStop)
                break;
            TrackProcess(pid);
        }
        if (!m_bStop)
            RefreshRows();
        if (m_onChanges)
            changes = m_table.TakeChanges();
        logFailure = m_eventLog.TakeFailure();
    }
    if (logFailure)
        Notice(NoticeKind::LogWrite, LoadString(IDS_ERR_LOG_WRITE) + " " +
                                         DescribeFileError(m_eventLog.m_path, logFailure));
    if (m_onChanges && !changes.Empty())
        m_onChanges(std::move(changes));
    if (platform::DescriptorsRanShort())
        NoticeDescriptorsShort();
}

void CProcessMonitor::NoticeDescriptorsShort()
{
    const unsigned bit = 1u << static_cast<unsigned>(NoticeKind::DescriptorsShort);
    if (m_noticesTold.load() & bit)
        return;
    std::string text = LoadString(IDS_MSG_DESCRIPTORS_SHORT);
    if (auto at = text.find("%1"); at != std::string::npos)
        text.replace(at, 2, std::to_string(platform::FileLimit()));
    Notice(NoticeKind::DescriptorsShort, text);
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

void CProcessMonitor::Reactivate(int row)
{
    auto at = std::lower_bound(m_activeRows.begin(), m_activeRows.end(), row);
    if (at == m_activeRows.end() || *at != row)
        m_activeRows.insert(at, row);
}

void CProcessMonitor::TrackProcess(std::uint32_t pid)
{
    m_table.RowsToVisit(pid, m_visit);
    // A live row with its own name ends the scan with no more than a look at the command name,
    // so the process is opened only when a row's name must be read again or no live row exists.
    if (m_visit.size() == 1 && m_table.FindLiveRow(pid) == m_visit[0]) {
        const std::string& name = m_table.GetCellText(m_visit[0], ColName);
        if (name != kUnknown && name != kSystem) {
            FollowExec(m_visit[0]);
            return;
        }
    }

    std::unique_ptr<platform::ProcessHandle> handle = platform::ProcessHandle::Open(pid);
    if (!handle)
        return;

    for (int row : m_visit) {
        if (m_bStop)
            return;
        const std::string& current = m_table.GetCellText(row, ColName);
        const bool named = current != kUnknown && current != kSystem;
        if (!named) {
            std::string name, path;
            ReadNameAndPath(handle.get(), name, path);
            if (m_disabledList.Contains(name)) {
                KillProcess(handle.get(), m_bNT);
                return;
            }
            if (name == kUnknown)
                name = kSystem;
            int image = ImageFor(path);
            if (image != 0)
                m_table.SetImageAndName(row, image, std::move(name));
            else
                m_table.SetCellText(row, ColName, std::move(name));
            m_table.SetCellText(row, ColFile, std::move(path));
            Reactivate(row);
        }
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

void CProcessMonitor::FollowExec(int row)
{
    // The command name is read every pass; the executable only when that name changed.
    ProcessRecord* record = m_table.GetRecord(row);
    if (!record || !record->hProcess || !record->hProcess->CommandNameChanged())
        return;
    std::string name, path;
    ReadNameAndPath(record->hProcess.get(), name, path);
    // The same executable under a new name is a rename (prctl), not a new program. Where the
    // executable could be read neither before nor now, nothing tells the two apart: the row
    // stays.
    if (path == m_table.GetCellText(row, ColFile))
        return;
    platform::ProcessTimes times;
    if (!record->hProcess->GetTimes(times) || times.exit != 0)
        return; // ended meanwhile: the row's refresh finishes it

    // The row's program ended when the change was seen; its handle passes to the new program
    // and the row keeps the final times. Its refresh then finds the finish written.
    const platform::FileTime seen = platform::GetSystemTimeAsFileTime();
    times.exit = seen;
    std::unique_ptr<platform::ProcessHandle> handle = std::move(record->hProcess);
    record->hProcess = platform::ProcessHandle::Ended(handle->Pid(), times);
    std::string finish = FormatFileDateTime(seen);
    const std::string& oldName = m_table.GetCellText(row, ColName);
    if (m_settings.eventLogOn != 0 && oldName != kUnknown)
        m_eventLog.Write(BuildFinishedLine(oldName, finish));
    m_table.SetCellText(row, ColFinish, std::move(finish));

    handle->BeganProgram(seen);
    MeetProgram(std::move(handle), std::move(name), std::move(path));
}

void CProcessMonitor::MeetProgram(std::unique_ptr<platform::ProcessHandle> handle, std::string name,
                                  std::string path)
{
    if (name == kOwnName)
        return;
    if (m_disabledList.Contains(name)) {
        KillProcess(handle.get(), m_bNT);
        return;
    }
    const std::uint32_t pid = handle->Pid();
    std::string pidText = std::to_string(pid);
    auto record = std::make_unique<ProcessRecord>();
    record->pid = pid;
    record->hProcess = std::move(handle);
    if (m_bStop)
        return;
    int row = m_table.AppendRow(ImageFor(path), pidText);
    m_table.SetCellText(row, ColName, std::move(name));
    m_table.SetCellText(row, ColPid, std::move(pidText));
    m_table.SetRecord(row, std::move(record));
    m_table.SetCellText(row, ColFile, std::move(path));
    m_activeRows.push_back(row);
}

void CProcessMonitor::RefreshRows()
{
    long offset = platform::CurrentUtcOffset();
    m_offsetChanged = offset != m_utcOffset;
    if (m_offsetChanged) {
        // Every time text changes with the offset: every row is refreshed once more.
        m_utcOffset = offset;
        m_activeRows.clear();
        for (int row = 0, count = m_table.GetRowCount(); row < count; ++row)
            m_activeRows.push_back(row);
    }

    // The first sample of every new row is taken first, with one short pause for all of them,
    // instead of one pause per new row: a first pass over a thousand processes would otherwise
    // hold the lock for a second.
    bool sampled = false;
    for (int row : m_activeRows) {
        ProcessRecord* record = m_table.GetRecord(row);
        if (!record || !record->hProcess || record->sampleTime != 0)
            continue;
        platform::ProcessTimes times;
        if (!record->hProcess->GetTimes(times))
            continue;
        record->kernelTime = times.kernel;
        record->userTime = times.user;
        record->sampleTime = platform::GetSystemTimeAsFileTime();
        sampled = true;
    }
    if (sampled)
        std::this_thread::sleep_for(kFirstSamplePause);

    bool stopped = false;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_activeRows.size(); ++i) {
        int row = m_activeRows[i];
        if (!stopped)
            RefreshRow(row, stopped);
        // A row stays active until its process has ended and its texts have settled.
        ProcessRecord* record = m_table.GetRecord(row);
        bool settled = !stopped && record && record->hProcess && record->hProcess->HasEnded()
            && m_table.GetCellText(row, ColCpu) == "0 %"
            && !IsBlankText(m_table.GetCellText(row, ColFinish));
        bool noRecord = !record || !record->hProcess;
        if (!settled && !noRecord)
            m_activeRows[kept++] = row;
    }
    m_activeRows.resize(kept);
}

void CProcessMonitor::RefreshRow(int row, bool& stopped)
{
    if (m_bStop) {
        stopped = true;
        return;
    }
    ProcessRecord* record = m_table.GetRecord(row);
    if (!record || !record->hProcess)
        return;
    platform::ProcessTimes times;
    if (!record->hProcess->GetTimes(times))
        return;
    platform::FileTime now = platform::GetSystemTimeAsFileTime();

    // The interval is taken modulo 2^32 of 100 ns (about 429 s), far longer than a pass.
    std::uint32_t interval = static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(record->sampleTime);
    if (interval != 0) {
        std::int64_t busy = static_cast<std::int64_t>(times.kernel - record->kernelTime)
            + static_cast<std::int64_t>(times.user - record->userTime);
        std::int64_t load = busy * 100 / static_cast<std::int64_t>(interval);
        record->kernelTime = times.kernel;
        record->userTime = times.user;
        record->sampleTime = now;
        std::string text = LoadText(load);
        if (m_bStop) {
            stopped = true;
            return;
        }
        if (m_table.GetCellText(row, ColCpu) != text)
            m_table.SetCellText(row, ColCpu, std::move(text));
    }

    // A creation time never changes; its text changes only with the offset from UTC. A start
    // cell already written therefore holds what formatting would give again.
    if (m_table.GetCellText(row, ColStart).empty() || m_offsetChanged) {
        std::string start = times.creation != 0 ? FormatFileDateTime(times.creation) : kNoTime;
        if (m_bStop) {
            stopped = true;
            return;
        }
        if (start != m_table.GetCellText(row, ColStart) && m_table.GetCellText(row, ColName) != kUnknown) {
            if (m_settings.eventLogOn != 0)
                m_eventLog.Write(BuildStartedLine(m_table.GetCellText(row, ColName), start));
            m_table.SetCellText(row, ColStart, std::move(start));
        }
    } else if (m_bStop) {
        stopped = true;
        return;
    }

    std::string finish = times.exit != 0 ? FormatFileDateTime(times.exit) : kNoTime;
    if (m_bStop) {
        stopped = true;
        return;
    }
    if (finish != m_table.GetCellText(row, ColFinish) && !IsBlankText(finish)) {
        m_table.SetCellText(row, ColFinish, finish);
        if (m_settings.eventLogOn != 0 && m_table.GetCellText(row, ColName) != kUnknown)
            m_eventLog.Write(BuildFinishedLine(m_table.GetCellText(row, ColName), finish));
    }
}

void CProcessMonitor::PrepareClose()
{
    if (!m_bThreadEnded) {
        std::error_code logFailure;
        {
            // A pass may be writing process lines right now.
            std::lock_guard lock(m_lock);
            if (m_settings.eventLogOn != 0) {
                if (m_eventLog.IsOpen())
                    m_eventLog.Write(BuildFinishBanner());
                m_eventLog.Close();
            }
            logFailure = m_eventLog.TakeFailure();
        }
        if (logFailure)
            Notice(NoticeKind::LogWrite, LoadString(IDS_ERR_LOG_WRITE) + " " +
                                             DescribeFileError(m_eventLog.m_path, logFailure));
        std::error_code saveFailure;
        if (!SaveSettings(m_settings, m_settingsFile, &saveFailure) && saveFailure)
            Notice(NoticeKind::SettingsSave, LoadString(IDS_ERR_SETTINGS_SAVE) + " " +
                                                 DescribeFileError(m_settingsFile.m_path, saveFailure));
        {
            std::lock_guard pause(m_pauseLock);
            m_bStop = true;
        }
        m_pauseWake.notify_all();
        return;
    }
    if (m_hThread.joinable())
        m_hThread.join();
    std::lock_guard lock(m_lock);
    m_table.FreeRecords();
    m_activeRows.clear();
    m_disabledList.RemoveAll();
}

std::error_code CProcessMonitor::StartEventLog()
{
    std::lock_guard lock(m_lock);
    // A log that cannot be opened is not switched on: the caller tells the user why.
    const std::error_code error = m_eventLog.Open();
    if (error) {
        m_eventLog.TakeFailure();
        return error;
    }
    m_settings.eventLogOn = 1;
    return {};
}

void CProcessMonitor::StopEventLog()
{
    std::lock_guard lock(m_lock);
    m_eventLog.Close();
    m_settings.eventLogOn = 0;
}

void CProcessMonitor::KillSelected(int row)
{
    std::lock_guard lock(m_lock);
    if (row < 0 || row >= m_table.GetRowCount())
        return;
    if (ProcessRecord* record = m_table.GetRecord(row))
        KillProcess(record->hProcess.get(), m_bNT);
}

std::error_code CProcessMonitor::DisableSelected(int row)
{
    std::lock_guard lock(m_lock);
    if (row < 0 || row >= m_table.GetRowCount())
        return {};
    const std::error_code error = m_disabledList.Add(m_table.GetCellText(row, ColName));
    if (ProcessRecord* record = m_table.GetRecord(row))
        KillProcess(record->hProcess.get(), m_bNT);
    return error;
}

std::error_code CProcessMonitor::RemoveDisabledAt(std::size_t index)
{
    std::lock_guard lock(m_lock);
    return m_disabledList.Remove(index);
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
