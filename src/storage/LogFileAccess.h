#pragma once
// The event log dialog's three operations on Logs.log. Each opens the file with an exclusive,
// non-blocking flock, the lock the running log holds, so none of them touches a log that
// another instance of the program is writing. Only a regular file is read or written, and
// writes follow symbolic links only under the rule of storage/FileIo.h. Each returns why it
// failed (an empty error_code on success). The caller closes its own log around them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

// What the dialog last read or wrote: which file, how long, and a digest of its bytes, so that
// a later Save can tell whether the file has only grown since.
struct LogSnapshot {
    bool valid = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::size_t digest = 0;
};

// The whole content of the file into `bytes`; `snapshot` describes it. A missing file gives
// ENOENT.
std::error_code ReadLogFile(const std::string& path, std::string& bytes, LogSnapshot& snapshot);

// Empties the file, creating it when missing; `snapshot` then describes the empty file.
std::error_code TruncateLogFile(const std::string& path, LogSnapshot& snapshot);

// Replaces the file's content with `bytes`: written to a new file in the same directory,
// flushed to disk and put in the old one's place, which keeps its permissions. When the file
// is still the one `snapshot` describes and has only grown since (the running log appended
// entries), the bytes it gained follow `bytes`, on a line of their own. On any failure the old
// file stays whole and nothing is left behind. On success `snapshot` describes the new file.
std::error_code ReplaceLogFile(const std::string& path, std::string_view bytes, LogSnapshot& snapshot);
