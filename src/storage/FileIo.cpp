#include "storage/FileIo.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// RAII owner of a file descriptor; close errors are of no use here (reads) or are caught by
// fsync before the rename (writes).
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

bool WriteAllBytes(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// umask() can only be read by setting it, which races with other threads creating files;
// the kernel reports it in /proc/self/status instead.
mode_t CurrentUmask()
{
    mode_t mask = 022;
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr)
        return mask;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<mode_t>(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

// The file that a replacement must land on: the target of a symbolic link, so that a link
// the user made keeps pointing at the data.
std::string ResolveTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path; // a dangling link: replace the link itself
    return resolved;
}

void SyncDirectoryOf(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".")
                    : slash == 0                 ? std::string("/")
                                                 : path.substr(0, slash);
    FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0)
        ::fsync(fd.Get());
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    if (path.empty())
        return false;
    // O_NONBLOCK: a FIFO put in the file's place must not hang the caller in open(); it is
    // then refused as not a regular file.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0)
        return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;

    std::string content;
    try {
        content.reserve(static_cast<std::size_t>(st.st_size));
        char chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (n == 0)
                break;
            content.append(chunk, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        return false; // a file too large to hold is treated as unreadable
    }
    bytes = std::move(content);
    return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes)
{
    if (path.empty())
        return false;
    const std::string target = ResolveTarget(path);

    mode_t mode = 0666 & ~CurrentUmask();
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0)
        mode = old.st_mode & 07777;

    std::string temp = target + ".tmp-XXXXXX";
    FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        return false;

    bool ok = WriteAllBytes(fd.Get(), bytes) && ::fchmod(fd.Get(), mode) == 0 &&
              ::fsync(fd.Get()) == 0;
    int raw = fd.Release();
    if (::close(raw) != 0)
        ok = false;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
        SyncDirectoryOf(target);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}
