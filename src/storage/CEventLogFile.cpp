#include "storage/CEventLogFile.h"

#include "platform/FileIo.h"
#include "storage/StorageFault.h"
#include "storage/StringTable.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::atomic<int> g_closeFault{0}; // InjectCloseFaultForTesting

} // namespace

CEventLogFile::~CEventLogFile()
{
    (void)Close(); // kept for TakeFailure, which nobody asks of a log that goes
}

Result<> CEventLogFile::Open()
{
    if (m_path.empty() || m_fd >= 0)
        return {};
    // O_APPEND keeps every write at the current end, also after the event log dialog has
    // truncated or rewritten the file through another descriptor. Only a regular file: a FIFO
    // in the log's place would hold the monitor in its writes (and a reader that goes away
    // would end the program).
    Result<FileDescriptor> opened = OpenForWriting(m_path, O_WRONLY | O_CREAT | O_APPEND);
    std::error_code error = opened.error();
    // The exclusive hold: a second instance of the program finds the log taken and logs
    // nothing, as it would on a file opened without sharing.
    if (!error && ::flock(opened->Get(), LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? std::error_code(StorageFault::InUse) : LastError();
    m_openError = error;
    if (error) {
        if (!m_failure)
            m_failure = error;
        return error;
    }
    m_fd = opened->Release();
    return {};
}

Result<> CEventLogFile::Write(const std::string& text)
{
    if (text.empty())
        return {};
    std::error_code error;
    if (m_fd < 0) {
        error = m_openError;
    } else {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) {
            error = LastError();
        } else {
            const std::string entry = m_bLineBroken ? "\r\n" + text : text;
            // One call for the entry; a short write (a full disk) is continued, and when the
            // rest cannot be placed the part that went out is taken back.
            std::size_t done = 0;
            while (done < entry.size()) {
                const ssize_t n = ::write(m_fd, entry.data() + done, entry.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    error = std::error_code(n < 0 ? errno : ENOSPC, std::generic_category());
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            if (!error)
                m_bLineBroken = false;
            else if (done > 0 && ::ftruncate(m_fd, st.st_size) != 0)
                m_bLineBroken = true;
        }
    }
    if (error && !m_failure)
        m_failure = error;
    return error;
}

Result<> CEventLogFile::Close()
{
    if (m_fd < 0)
        return {};
    // Releases the flock as well. A network filesystem may say only here that entries written
    // before did not reach the disk; the descriptor is gone either way (EINTR included).
    int error = ::close(m_fd) == 0 || errno == EINTR ? 0 : errno;
    if (const int injected = g_closeFault.exchange(0))
        error = injected;
    m_fd = -1;
    if (error == 0)
        return {};
    const std::error_code failure(error, std::generic_category());
    if (!m_failure)
        m_failure = failure;
    return failure;
}

Result<> CEventLogFile::RunClosed(const std::function<void(const std::string& path)>& operation)
{
    const bool wasOpen = IsOpen();
    const Result<> closed = Close();
    // Opened again also when the operation throws; that failure is kept for TakeFailure.
    struct Reopen {
        CEventLogFile* log; // null once opened again
        ~Reopen()
        {
            if (log != nullptr)
                (void)log->Open();
        }
    } reopen{wasOpen ? this : nullptr};
    operation(m_path);
    reopen.log = nullptr;
    const Result<> reopened = wasOpen ? Open() : Result<>();
    return closed ? reopened : closed;
}

void CEventLogFile::InjectCloseFaultForTesting(int error)
{
    g_closeFault = error;
}

bool CEventLogFile::IsOpen() const
{
    return m_fd >= 0;
}

Result<> CEventLogFile::TakeFailure()
{
    return std::exchange(m_failure, std::error_code());
}

std::string FormatBannerTime(const std::tm& local)
{
    // The C locale's names, spelled out here so that neither LC_TIME nor another thread's
    // setlocale() can change the banner.
    static const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                            "Thursday", "Friday", "Saturday"};
    static const char* const kMonths[] = {"January", "February", "March",     "April",
                                          "May",     "June",     "July",      "August",
                                          "September", "October", "November", "December"};
    const char* weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? kWeekdays[local.tm_wday] : "?";
    const char* month = local.tm_mon >= 0 && local.tm_mon < 12 ? kMonths[local.tm_mon] : "?";
    char text[128];
    int n = std::snprintf(text, sizeof text, "%s, %s %02d, %lld in %02d hours %02d min.", weekday,
                          month, local.tm_mday, static_cast<long long>(local.tm_year) + 1900,
                          local.tm_hour, local.tm_min);
    if (n < 0)
        return {};
    return text;
}

std::string BannerTimeText()
{
    std::time_t now = std::time(nullptr);
    std::tm local {};
    if (now == static_cast<std::time_t>(-1) || ::localtime_r(&now, &local) == nullptr)
        return {};
    return FormatBannerTime(local);
}

std::string BuildStartBanner()
{
    return "\r\n" + LoadString(IDS_LOG_STARTED) + " " + BannerTimeText() + "\r\n\r\n";
}

std::string BuildFinishBanner()
{
    return "\r\n" + LoadString(IDS_LOG_FINISHED) + " " + BannerTimeText() + "\r\n";
}

std::string BuildStartedLine(const std::string& name, const std::string& when)
{
    return LoadString(IDS_STARTED_PROCESS) + " \t\t" + name + " \t\t" + when + "\r\n";
}

std::string BuildFinishedLine(const std::string& name, const std::string& when)
{
    return LoadString(IDS_FINISHED_PROCESS) + " \t" + name + " \t\t" + when + "\r\n";
}
