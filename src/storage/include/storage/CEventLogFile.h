#pragma once
// Logs.log: appended while logging is on, held with an exclusive flock so that a second
// instance cannot open it. Lines end with CR LF.

#include "platform/Result.h"

#include <ctime>
#include <functional>
#include <string>
#include <system_error>

class CEventLogFile {
public:
    std::string m_path; // full path of Logs.log; empty: Open does nothing

    CEventLogFile() = default;
    ~CEventLogFile();
    CEventLogFile(const CEventLogFile&) = delete;
    CEventLogFile& operator=(const CEventLogFile&) = delete;

    // Opens m_path for appending (created when missing) with flock(LOCK_EX | LOCK_NB); only a
    // regular file, and through a symbolic link only under the rule of FileIo.h. When the file
    // cannot be opened or is locked by another holder, stays closed and fails with the reason
    // (also kept for the failures of Write). An object that is already open stays open; an
    // empty path opens nothing and is no failure.
    Result<> Open();
    // Appends `text` as one entry: it reaches the file whole or not at all (on a short write the
    // file is cut back to its length before the entry; where even that fails, the next entry
    // starts on a line of its own). Nothing for an empty text; a closed log whose last open
    // failed fails with that reason, a closed log otherwise writes nothing and succeeds.
    Result<> Write(const std::string& text);
    // Closes the log (nothing when it is closed); the descriptor is gone even when it fails.
    Result<> Close();
    bool IsOpen() const;
    // Runs `operation` on m_path with the log closed, and opens the log again afterwards if it
    // was open, also when the operation throws. Fails with the first failure of the close or
    // of the open again (kept for TakeFailure as well).
    Result<> RunClosed(const std::function<void(const std::string& path)>& operation);
    // The first failure of Open, Write or Close since the last call: each is kept here as well
    // as returned, for an owner that tells failures in one place.
    Result<> TakeFailure();

    // Fault injection for tests: the next close of any log fails with `error`, as only a
    // failing disk or a network filesystem makes it fail. Never used by the program.
    static void InjectCloseFaultForTesting(int error);

private:
    int m_fd = -1;
    std::error_code m_openError;   // why the last Open failed
    std::error_code m_failure;     // not yet taken
    bool m_bLineBroken = false;    // a cut-short entry could not be taken back
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
