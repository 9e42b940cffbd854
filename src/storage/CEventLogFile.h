#pragma once
// Logs.log: appended while logging is on, held with an exclusive flock so that a second
// instance cannot open it. Lines end with CR LF.

#include <ctime>
#include <string>

class CEventLogFile {
public:
    std::string m_path; // full path of Logs.log; empty: Open does nothing

    CEventLogFile() = default;
    ~CEventLogFile();
    CEventLogFile(const CEventLogFile&) = delete;
    CEventLogFile& operator=(const CEventLogFile&) = delete;

    // Opens m_path for appending (created when missing) with flock(LOCK_EX | LOCK_NB); when
    // the file cannot be opened or is locked by another holder, stays closed. An object
    // that is already open stays open on its file.
    void Open();
    // Writes all bytes of `text` at the end in one write call; nothing when empty or closed.
    void Write(const std::string& text);
    void Close();
    bool IsOpen() const;

private:
    int m_fd = -1;
};

// "\r\n" + 141 "Orvane started" + " " + T + "\r\n\r\n", T the current local time as
// strftime "%A, %B %d, %Y in %H hours %M min." in the C locale (empty when it fails).
std::string BuildStartBanner();
// "\r\n" + 142 "Orvane finished" + " " + T + "\r\n".
std::string BuildFinishBanner();
// The banner time text T for the current time, in the C locale whatever the user's locale.
std::string BannerTimeText();
// T for a broken-down local time: "Monday, December 06, 2021 in 09 hours 05 min.".
std::string FormatBannerTime(const std::tm& local);
// "Started process" + " \t\t" + name + " \t\t" + when + "\r\n".
std::string BuildStartedLine(const std::string& name, const std::string& when);
// "Finished process" + " \t" + name + " \t\t" + when + "\r\n".
std::string BuildFinishedLine(const std::string& name, const std::string& when);
