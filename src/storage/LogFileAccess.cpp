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
std::error_code LockExclusive(int fd)
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

// What the file at `fd` gained after the bytes `snapshot` describes, into `gained`. False
// when it is another file, when those bytes changed, when it did not grow, or when it cannot
// be read. The bytes that were read are only compared by their digest, a piece at a time,
// so that a large log is not read into memory whole for it.
bool GainedSince(int fd, const LogSnapshot& snapshot, std::string& gained)
{
    struct stat st {};
    if (!snapshot.valid || ::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != snapshot.device ||
        static_cast<std::uint64_t>(st.st_ino) != snapshot.inode ||
        static_cast<std::uint64_t>(st.st_size) <= snapshot.size)
        return false;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kLogPieceSize]);
    if (!buffer)
        return false;
    LogDigest digest;
    std::uint64_t offset = 0;
    while (offset < snapshot.size) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kLogPieceSize, snapshot.size - offset));
        const Result<std::size_t> filled = ReadAt(fd, offset, buffer.get(), want);
        if (!filled || *filled < want)
            return false;
        digest.Add(std::string_view(buffer.get(), *filled));
        offset += *filled;
    }
    if (digest.Value() != snapshot.digest)
        return false;
    try {
        for (;;) {
            const Result<std::size_t> filled = ReadAt(fd, offset, buffer.get(), kLogPieceSize);
            if (!filled)
                return false;
            gained.append(buffer.get(), *filled);
            offset += *filled;
            if (*filled < kLogPieceSize)
                break;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return !gained.empty();
}

} // namespace

std::error_code ReadLogFile(const std::string& path, LogSink& sink, LogSnapshot& snapshot)
{
    const Result<FileDescriptor> opened = OpenForReading(path);
    if (!opened)
        return opened.error();
    const FileDescriptor& fd = *opened;
    if (std::error_code error = LockExclusive(fd.Get()))
        return error;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return LastError();
    ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // One buffer, used again for every piece: the whole file is never held here, and the
    // sink gets each piece while it is still in the cache.
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kLogPieceSize]);
    if (!buffer)
        return std::make_error_code(std::errc::not_enough_memory);
    if (std::error_code error = sink.Expect(static_cast<std::uint64_t>(st.st_size)))
        return error;
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
        if (std::error_code error = sink.Take(piece))
            return error;
        if (*filled < kLogPieceSize)
            break;
    }
    snapshot = {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), size,
                digest.Value()};
    return {};
}

std::error_code ReadLogFile(const std::string& path, std::string& bytes, LogSnapshot& snapshot)
{
    class Collect final : public LogSink {
    public:
        std::string bytes;
        std::error_code Expect(std::uint64_t size) override
        {
            return MemoryFailureAsError([&] { bytes.reserve(static_cast<std::size_t>(size)); });
        }
        std::error_code Take(std::string_view piece) override
        {
            return MemoryFailureAsError([&] { bytes.append(piece); });
        }
    } collect;
    if (std::error_code error = ReadLogFile(path, collect, snapshot))
        return error;
    bytes = std::move(collect.bytes);
    return {};
}

std::error_code TruncateLogFile(const std::string& path, LogSnapshot& snapshot)
{
    // Not opened with O_TRUNC: the lock must be held before anything is cut.
    const Result<FileDescriptor> opened = OpenForWriting(path, O_WRONLY | O_CREAT);
    if (!opened)
        return opened.error();
    const FileDescriptor& fd = *opened;
    if (std::error_code error = LockExclusive(fd.Get()))
        return error;
    if (::ftruncate(fd.Get(), 0) != 0)
        return LastError();
    snapshot = Describe(fd.Get(), {});
    return {};
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
        if ((error = LockExclusive(old.Get())))
            return error;
        // The entries the running log appended since the dialog read the file are kept after
        // the box's text, as long as the file only grew meanwhile.
        std::string gained;
        if (GainedSince(old.Get(), snapshot, gained)) {
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
