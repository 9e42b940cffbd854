#include "dialogs/LogFileAccess.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
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
    void Assign(int fd)
    {
        Reset();
        m_fd = fd;
    }
    void Reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes and reports whether the close succeeded (a delayed write error shows here).
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
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

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a symbolic link names, so that replacing it keeps the link.
std::string ResolveLink(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
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
    content.resize(static_cast<std::size_t>(st.st_size));
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
    const std::string target = ResolveLink(path);

    // The old file stays locked until the new one has taken its place.
    Fd old(OpenRetry(target.c_str(), O_RDONLY));
    struct stat oldStat {};
    if (old.Valid()) {
        if (!LockExclusive(old.Get()) || ::fstat(old.Get(), &oldStat) != 0 || !S_ISREG(oldStat.st_mode))
            return false;
    } else if (errno != ENOENT) {
        return false;
    }

    static std::atomic<unsigned> counter{0};
    std::string temp;
    Fd out;
    for (int attempt = 0; attempt < 100 && !out.Valid(); ++attempt) {
        temp = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
        const int fd = OpenRetry(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
        out.Assign(fd);
    }
    if (!out.Valid())
        return false;

    bool ok = true;
    if (old.Valid())
        ok = ::fchmod(out.Get(), oldStat.st_mode & 07777) == 0;
    ok = ok && WriteAll(out.Get(), bytes) && ::fsync(out.Get()) == 0;
    ok = out.Close() && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }

    // The rename itself reaches the disk with the directory.
    Fd dir(OpenRetry(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY));
    if (dir.Valid())
        ::fsync(dir.Get());
    return true;
}
