#pragma once
// The event log dialog's three operations on Logs.log. Each opens the file with an exclusive,
// non-blocking flock, the lock the running log holds, so none of them touches a log that
// another instance of the program is writing; each fails silently then, like any other
// failure. The caller closes its own log around them.

#include <optional>
#include <string>
#include <string_view>

// The whole content of the file; nothing when it is missing, locked or unreadable.
std::optional<std::string> ReadLogFile(const std::string& path);

// Empties the file, creating it when missing. False when it could not be done.
bool TruncateLogFile(const std::string& path);

// Replaces the file's content with `bytes`: written to a new file in the same directory,
// flushed to disk and renamed over the old one, which keeps its permissions. On any failure
// the old file stays whole and nothing is left behind. A symbolic link is followed, so the
// file it names is replaced and the link stays.
bool ReplaceLogFile(const std::string& path, std::string_view bytes);
