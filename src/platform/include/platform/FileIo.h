#pragma once
// Opening, reading and atomic whole-file replacement for the files of the program directory
// (the settings, the disabled list and the event log, in the storage layer) and of the watch
// service; ReadSystemFile reads the system's files (/proc, desktop entries).
//
// The rules every read and write of these files follows:
// - A symbolic link is read or written through only when every link on the way and the file it
//   ends at belong to the user running the program; any other link is a file that cannot be
//   opened (FileFault::ForeignLink), so that nobody else's link decides what root's copy of
//   the program reads or writes. The user's own links keep working.
// - Only regular files are read or written: the open never blocks (a FIFO or a device in a
//   file's place neither hangs the caller nor receives anything; FileFault::NotRegularFile).
// Failures are Result values: the system's reason (or one of the FileFault reasons), which
// callers show with the file's path.

#include "platform/FileDescriptor.h"
#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

// Reasons that have no system error number.
enum class FileFault {
    NotRegularFile = 1, // a directory, FIFO, socket or device stands where a file should be
    ForeignLink,        // a symbolic link that is not the user's, or that leads to another's file
};
const std::error_category& FileFaultCategory();
std::error_code make_error_code(FileFault fault);
template <>
struct std::is_error_code_enum<FileFault> : std::true_type {};

// The path a write to `path` lands on: `path` itself, or when it is a symbolic link, the end
// of its chain of links, provided the rule above allows it. A dangling link of the user's
// own names the file that a write would create.
Result<std::string> ResolveWritablePath(const std::string& path);

// Opens `path` for writing: `flags` holds O_WRONLY or O_RDWR and any of O_CREAT, O_APPEND (a
// file is created with 0666 less the umask). Only a regular file under the link rule; the
// descriptor is close-on-exec and its writes block.
Result<FileDescriptor> OpenForWriting(const std::string& path, int flags);
// Opens a regular file for reading under the link rule. A missing file gives ENOENT.
Result<FileDescriptor> OpenForReading(const std::string& path);

// The bytes of the regular file `path` from its start, at most `limit` of them, opened as
// OpenForReading does. A missing file gives ENOENT; a content that cannot be held in memory,
// ENOMEM.
Result<std::string> ReadWholeFile(const std::string& path,
                                  std::size_t limit = std::numeric_limits<std::size_t>::max());
// Fills `buffer` with the bytes of `fd` from `offset` on, as far as the file goes; the value
// is how many came (fewer than `size` only at the end of the file).
Result<std::size_t> ReadAt(int fd, std::uint64_t offset, char* buffer, std::size_t size);
// Every byte from the start of the open descriptor `fd`.
Result<std::string> ReadWholeDescriptor(int fd);
// The bytes of the regular file `path` from its start, at most `limit` of them (a limit tells a
// file of a fixed size from any other, whatever the file's real length). For the system's
// files (/proc, desktop entries): any symbolic link is followed; the program's own files are
// read with ReadWholeFile.
Result<std::string> ReadSystemFile(const std::string& path,
                                   std::size_t limit = std::numeric_limits<std::size_t>::max());

// Replaces `path` with exactly `bytes`: a new file in the same directory is written, flushed
// to the disk and put in the old one's place, so a reader sees either the old file or the new
// one, never a part. The new file is unnamed while it is written (O_TMPFILE) and gets a name
// only for the rename; where the filesystem lacks unnamed files, a named temporary stands in.
// Naming and renaming happen under an exclusive flock on the directory, under which a
// temporary left by a writer killed in between is removed, so none survives the next save. On
// any failure the old file stays byte for byte as it was, with one exception: when the folder
// cannot be flushed after the rename, the new file is in place but may not survive a crash,
// and that failure is returned too. A symbolic link is followed under the rule above, so the
// link stays and its target is replaced. The new file keeps the old file's permission bits, or
// gets 0666 less the umask when there was none.
Result<> ReplaceFile(const std::string& path, std::string_view bytes);

// Fault injection for tests: the next flush of a folder after a replacement fails with
// `error`, as only a failing disk or a network filesystem makes it fail. Never used by the
// program.
void InjectDirectorySyncFaultForTesting(int error);

// "<path>: <reason>", the form in which a failure on a file is shown.
std::string DescribeFileError(const std::string& path, std::error_code error);
