#include "storage/LogFileAccess.h"

#include "LogDigest.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIo.h"
#include "storage/StorageFault.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// No sharing: the file is refused while anyone else holds it (another instance's log).
Result<> LockExclusive(int fd)
{
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return {};
    return errno == EWOULDBLOCK ? std::error_code(StorageFault::InUse) : LastError();
}

LogSnapshot Describe(int fd, std::string_view bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return {};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            bytes.size(), LogDigest::Of(bytes)};
}

// What the file at `fd` gained after the bytes `snapshot` describes: nothing when it is
// another file, when those bytes changed or when it did not grow. The bytes that were read are
// only compared by their digest, a piece at a time, so that a large log is not read into memory
// whole for it.
Result<std::string> GainedSince(int fd, const LogSnapshot& snapshot)
{
    struct stat st {};
    if (!snapshot.valid)
        return std::string();
    if (::fstat(fd, &st) != 0)
        return LastError();
    if (static_cast<std::uint64_t>(st.st_dev) != snapshot.device ||
        static_cast<std::uint64_t>(st.st_ino) != snapshot.inode ||
        static_cast<std::uint64_t>(st.st_size) <= snapshot.size)
        return std::string();
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kLogPieceSize]);
    if (!buffer)
        return std::errc::not_enough_memory;
    LogDigest digest;
    std::uint64_t offset = 0;
    while (offset < snapshot.size) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kLogPieceSize, snapshot.size - offset));
        const Result<std::size_t> filled = ReadAt(fd, offset, buffer.get(), want);
        if (!filled)
            return filled.error();
        if (*filled < want) // cut meanwhile
            return std::string();
        digest.Add(std::string_view(buffer.get(), *filled));
        offset += *filled;
    }
    if (digest.Value() != snapshot.digest)
        return std::string();
    std::string gained;
    try {
        for (;;) {
            const Result<std::size_t> filled = ReadAt(fd, offset, buffer.get(), kLogPieceSize);
            if (!filled)
                return filled.error();
            gained.append(buffer.get(), *filled);
            offset += *filled;
            if (*filled < kLogPieceSize)
                break;
        }
    } catch (const std::bad_alloc&) {
        return std::errc::not_enough_memory;
    }
    return gained;
}

} // namespace

Result<LogSnapshot> ReadLogFile(const std::string& path, LogSink& sink)
{
    const Result<FileDescriptor> opened = OpenForReading(path);
    if (!opened)
        return opened.error();
    const FileDescriptor& fd = *opened;
    if (const Result<> locked = LockExclusive(fd.Get()); !locked)
        return locked.error();
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return LastError();
    ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // One buffer, used again for every piece: the whole file is never held here, and the
    // sink gets each piece while it is still in the cache.
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kLogPieceSize]);
    if (!buffer)
        return std::errc::not_enough_memory;
    if (const Result<> ready = sink.Expect(static_cast<std::uint64_t>(st.st_size)); !ready)
        return ready.error();
    LogDigest digest;
    std::uint64_t size = 0;
    for (;;) {
        const Result<std::size_t> filled = ReadAt(fd.Get(), size, buffer.get(), kLogPieceSize);
        if (!filled)
            return filled.error();
        if (*filled == 0)
            break;
        const std::string_view piece(buffer.get(), *filled);
        digest.Add(piece);
        size += *filled;
        if (const Result<> taken = sink.Take(piece); !taken)
            return taken.error();
        if (*filled < kLogPieceSize)
            break;
    }
    return LogSnapshot{true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                       size, digest.Value()};
}

Result<LogContent> ReadLogFile(const std::string& path)
{
    class Collect final : public LogSink {
    public:
        std::string bytes;
        Result<> Expect(std::uint64_t size) override
        {
            return MemoryFailureAsError([&] { bytes.reserve(static_cast<std::size_t>(size)); });
        }
        Result<> Take(std::string_view piece) override
        {
            return MemoryFailureAsError([&] { bytes.append(piece); });
        }
    } collect;
    const Result<LogSnapshot> snapshot = ReadLogFile(path, collect);
    if (!snapshot)
        return snapshot.error();
    return LogContent{std::move(collect.bytes), *snapshot};
}

Result<LogSnapshot> TruncateLogFile(const std::string& path)
{
    // Not opened with O_TRUNC: the lock must be held before anything is cut.
    const Result<FileDescriptor> opened = OpenForWriting(path, O_WRONLY | O_CREAT);
    if (!opened)
        return opened.error();
    const FileDescriptor& fd = *opened;
    if (const Result<> locked = LockExclusive(fd.Get()); !locked)
        return locked.error();
    if (::ftruncate(fd.Get(), 0) != 0)
        return LastError();
    return Describe(fd.Get(), {});
}

Result<std::string> ReplaceLogFile(const std::string& path, std::string_view bytes, LogSnapshot& snapshot)
{
    // The old file stays locked until the new one has taken its place: a log that another
    // instance is writing is left alone.
    Result<FileDescriptor> opened = OpenForReading(path);
    std::error_code error = opened.error();
    if (error && error != std::errc::no_such_file_or_directory)
        return error;
    const FileDescriptor old = opened ? std::move(*opened) : FileDescriptor();
    // The box's text is written as it is, without a copy, unless something follows it.
    std::string_view content = bytes;
    std::string joined;
    std::size_t followed = 0; // where what follows the box's text begins in `joined`
    if (old.Get() >= 0) {
        if (const Result<> locked = LockExclusive(old.Get()); !locked)
            return locked.error();
        // The entries the running log appended since the dialog read the file are kept after
        // the box's text, as long as the file only grew meanwhile. A file that cannot be read
        // again is taken for one that did not grow: the box's text is saved all the same.
        const std::string gained = GainedSince(old.Get(), snapshot).value_or(std::string());
        if (!gained.empty()) {
            try {
                joined.reserve(bytes.size() + 2 + gained.size());
                joined.assign(bytes);
                followed = joined.size();
                if (!joined.empty() && joined.back() != '\n')
                    joined += "\r\n";
                joined += gained;
            } catch (const std::bad_alloc&) {
                return std::errc::not_enough_memory;
            }
            content = joined;
        }
    }
    if (const Result<> replaced = ReplaceFile(path, content); !replaced)
        return replaced.error();
    const Result<FileDescriptor> written = OpenForReading(path);
    snapshot = written ? Describe(written->Get(), content) : LogSnapshot{};
    if (joined.empty())
        return std::string();
    joined.erase(0, followed);
    return joined;
}
