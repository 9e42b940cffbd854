#include "dialogs/LogFileAccess.h"

#include "storage/FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Owns one descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// O_NONBLOCK so that a FIFO or a device in the log's place cannot hang the dialog; it changes
// nothing for the regular files that the callers then insist on.
int OpenRetry(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// No sharing: the file is refused while anyone else holds it (another instance's log).
bool LockExclusive(int fd)
{
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

} // namespace

std::optional<std::string> ReadLogFile(const std::string& path)
{
    Fd fd(OpenRetry(path.c_str(), O_RDONLY));
    if (!fd.Valid() || !LockExclusive(fd.Get()))
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;

    std::string content;
    // One byte more than the file holds, so that reaching its end needs no second buffer.
    content.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == content.size())
            content.resize(content.size() + 65536); // the file grew since fstat
        const ssize_t n = ::read(fd.Get(), content.data() + filled, content.size() - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    content.resize(filled);
    return content;
}

bool TruncateLogFile(const std::string& path)
{
    // Not opened with O_TRUNC: the lock must be held before anything is cut.
    Fd fd(OpenRetry(path.c_str(), O_WRONLY | O_CREAT, 0666));
    if (!fd.Valid() || !LockExclusive(fd.Get()))
        return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ::ftruncate(fd.Get(), 0) == 0;
}

bool ReplaceLogFile(const std::string& path, std::string_view bytes)
{
    if (path.empty())
        return false;
    // The old file stays locked until the new one has taken its place: a log that another
    // instance is writing is left alone.
    Fd old(OpenRetry(path.c_str(), O_RDONLY));
    if (old.Valid()) {
        struct stat st {};
        if (!LockExclusive(old.Get()) || ::fstat(old.Get(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    return ReplaceFileAtomically(path, bytes);
}
