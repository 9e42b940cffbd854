#pragma once
// The event log dialog's three operations on Logs.log. Each opens the file with an exclusive,
// non-blocking flock, the lock the running log holds, so none of them touches a log that
// another instance of the program is writing. Only a regular file is read or written, and
// writes follow symbolic links only under the rule of platform/FileIo.h. Each fails with the
// reason. The caller closes its own log around them.

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

// What the dialog last read or wrote: which file, how long, and a digest of its bytes, so that
// a later Save can tell whether the file has only grown since.
struct LogSnapshot {
    bool valid = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::uint64_t digest = 0; // LogDigest of the bytes
};

// The largest piece ReadLogFile hands on at a time: the calls per piece cost nothing next to
// the copying, and the one buffer it needs stays small (a quarter or four times the size
// read a large log no faster).
constexpr std::size_t kLogPieceSize = 1024 * 1024;

// Runs `step`, and gives a lack of memory on the way as the failure ENOMEM: a log too large to
// hold fails like one that cannot be read.
template <class Step>
Result<> MemoryFailureAsError(Step step)
{
    try {
        step();
    } catch (const std::bad_alloc&) {
        return std::errc::not_enough_memory;
    } catch (const std::length_error&) {
        return std::errc::not_enough_memory;
    }
    return {};
}

// What takes the bytes of a log as ReadLogFile reads them.
class LogSink {
public:
    // Called once before any bytes, with the file's size as it was opened: room to make ready.
    virtual Result<> Expect(std::uint64_t size) = 0;
    // The file's next bytes, at most kLogPieceSize of them, never empty. A failure ends the
    // reading, and ReadLogFile fails with it.
    virtual Result<> Take(std::string_view piece) = 0;

protected:
    ~LogSink() = default;
};

// The whole content of the file, from its start, handed to `sink` in pieces, in order; the
// value describes all of it. A missing file gives ENOENT. On failure the sink may have had a
// part of the file only, which it must not take for the whole.
Result<LogSnapshot> ReadLogFile(const std::string& path, LogSink& sink);
// The same in one piece.
struct LogContent {
    std::string bytes;
    LogSnapshot snapshot;
};
Result<LogContent> ReadLogFile(const std::string& path);

// Empties the file, creating it when missing; the value describes the empty file.
Result<LogSnapshot> TruncateLogFile(const std::string& path);

// Replaces the file's content with `bytes`: written to a new file in the same directory,
// flushed to disk and put in the old one's place, which keeps its permissions. When the file
// is still the one `snapshot` describes and has only grown since (the running log appended
// entries), the bytes it gained follow `bytes`, on a line of their own. Returns what was
// written after `bytes` (that line break and those entries; empty when nothing followed), so
// that the caller can hold what the file holds. On any failure the old file stays whole and
// nothing is left behind. On success `snapshot` describes the new file, `bytes` and what
// followed them.
Result<std::string> ReplaceLogFile(const std::string& path, std::string_view bytes, LogSnapshot& snapshot);
