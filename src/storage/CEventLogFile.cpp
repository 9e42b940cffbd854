#include "storage/CEventLogFile.h"

#include "storage/StringTable.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CEventLogFile::~CEventLogFile()
{
    Close();
}

void CEventLogFile::Open()
{
    if (m_path.empty() || m_fd >= 0)
        return;
    // O_APPEND keeps every write at the current end, also after the event log dialog has
    // truncated or rewritten the file through another descriptor.
    // O_NONBLOCK only for the open itself: a FIFO without a reader in the log's place fails at
    // once instead of hanging the window's thread.
    int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                    0644);
    if (fd < 0)
        return;
    int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // The exclusive hold: a second instance of the program finds the log taken and logs
    // nothing, as it would on a file opened without sharing.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

void CEventLogFile::Write(const std::string& text)
{
    if (text.empty() || m_fd < 0)
        return;
    // Each entry goes out in one call; only a short write (a full disk) is continued, so an
    // entry is never left half written when the rest can still be placed.
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(m_fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

void CEventLogFile::Close()
{
    if (m_fd < 0)
        return;
    ::close(m_fd); // releases the flock as well
    m_fd = -1;
}

bool CEventLogFile::IsOpen() const
{
    return m_fd >= 0;
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
