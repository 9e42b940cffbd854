#include "storage/LogFileAccess.h"

#include "storage/FileDescriptor.h"
#include "storage/FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    return errno == EWOULDBLOCK ? std::error_code(FileFault::InUse)
                                : std::error_code(errno, std::generic_category());
}

std::size_t Digest(std::string_view bytes)
{
    return std::hash<std::string_view>{}(bytes);
}

LogSnapshot Describe(int fd, std::string_view bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return {};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            bytes.size(), Digest(bytes)};
}

} // namespace

std::error_code ReadLogFile(const std::string& path, std::string& bytes, LogSnapshot& snapshot)
{
    int raw = -1;
    if (std::error_code error = OpenForReading(path, raw))
        return error;
    FileDescriptor fd(raw);
    if (std::error_code error = LockExclusive(fd.Get()))
        return error;
    if (std::error_code error = ReadWholeDescriptor(fd.Get(), bytes))
        return error;
    snapshot = Describe(fd.Get(), bytes);
    return {};
}

std::error_code TruncateLogFile(const std::string& path, LogSnapshot& snapshot)
{
    // Not opened with O_TRUNC: the lock must be held before anything is cut.
    int raw = -1;
    if (std::error_code error = OpenForWriting(path, O_WRONLY | O_CREAT, raw))
        return error;
    FileDescriptor fd(raw);
    if (std::error_code error = LockExclusive(fd.Get()))
        return error;
    if (::ftruncate(fd.Get(), 0) != 0)
        return std::error_code(errno, std::generic_category());
    snapshot = Describe(fd.Get(), {});
    return {};
}

std::error_code ReplaceLogFile(const std::string& path, std::string_view bytes, LogSnapshot& snapshot)
{
    // The old file stays locked until the new one has taken its place: a log that another
    // instance is writing is left alone.
    int raw = -1;
    std::error_code error = OpenForReading(path, raw);
    if (error && error != std::errc::no_such_file_or_directory)
        return error;
    FileDescriptor old(raw);
    std::string content(bytes);
    if (old.Get() >= 0) {
        if ((error = LockExclusive(old.Get())))
            return error;
        // The entries the running log appended since the dialog read the file are kept after
        // the box's text, as long as the file only grew meanwhile.
        struct stat st {};
        std::string now;
        if (snapshot.valid && ::fstat(old.Get(), &st) == 0 &&
            static_cast<std::uint64_t>(st.st_dev) == snapshot.device &&
            static_cast<std::uint64_t>(st.st_ino) == snapshot.inode &&
            static_cast<std::uint64_t>(st.st_size) > snapshot.size &&
            !ReadWholeDescriptor(old.Get(), now) && now.size() > snapshot.size &&
            Digest(std::string_view(now).substr(0, snapshot.size)) == snapshot.digest) {
            if (!content.empty() && content.back() != '\n')
                content += "\r\n";
            content.append(now, snapshot.size, std::string::npos);
        }
    }
    if ((error = ReplaceFile(path, content)))
        return error;
    raw = -1;
    if (!OpenForReading(path, raw)) {
        FileDescriptor written(raw);
        snapshot = Describe(written.Get(), content);
    } else {
        snapshot = {};
    }
    return {};
}
