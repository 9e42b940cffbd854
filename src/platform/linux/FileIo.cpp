#include "platform/FileIo.h"

#include "platform/FileDescriptor.h"
#include "platform/Result.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <new>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileFaultCategoryImpl : public std::error_category {
public:
    const char* name() const noexcept override { return "orvane-file"; }
    std::string message(int value) const override
    {
        switch (static_cast<FileFault>(value)) {
        case FileFault::NotRegularFile:
            return "not a regular file";
        case FileFault::ForeignLink:
            return "a symbolic link that is not yours, or that leads to another user's file";
        }
        return "unknown file fault";
    }
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

std::string DirectoryOf(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
         : slash == 0                 ? std::string("/")
                                      : path.substr(0, slash);
}

int OpenRetry(const char* path, int flags, mode_t mode)
{
    int fd;
    do
        fd = ::open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the already resolved `target` (no link may stand there by now: O_NOFOLLOW) without
// blocking and keeps it only when it is a regular file; `followed` says whether `target` is the
// end of a link, whose owner is checked again on the open file.
Result<FileDescriptor> OpenRegular(const std::string& target, int flags, bool followed)
{
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return FileFault::NotRegularFile; // refused before a FIFO could be opened at all
    FileDescriptor file(OpenRetry(target.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0666));
    if (file.Get() < 0)
        return errno == ELOOP ? std::error_code(FileFault::ForeignLink) : LastError();
    if (::fstat(file.Get(), &st) != 0)
        return LastError();
    if (!S_ISREG(st.st_mode))
        return FileFault::NotRegularFile;
    if (followed && st.st_uid != ::geteuid())
        return FileFault::ForeignLink;
    const int status = ::fcntl(file.Get(), F_GETFL);
    if (status == -1 || ::fcntl(file.Get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return LastError();
    return file;
}

// A name beside `target` that did not exist a moment ago, for the instant between linking the
// finished file and renaming it into place.
std::string TemporaryName(const std::string& target)
{
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    thread_local std::minstd_rand generator(static_cast<unsigned>(::getpid()) ^
                                            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&target)));
    std::string name = target + ".tmp-";
    for (int i = 0; i < 6; ++i)
        name += kDigits[generator() % 36];
    return name;
}

// The exclusive flock on a directory under which every writer names its temporary and renames
// it into place (or, without unnamed files, writes its named temporary). A temporary of ours
// found while holding it was left by a writer killed in between, and can go.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string& dir)
        : m_fd(OpenRetry(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0))
    {
        int rc = -1;
        if (m_fd >= 0) {
            do
                rc = ::flock(m_fd, LOCK_EX);
            while (rc != 0 && errno == EINTR);
        }
        m_bHeld = rc == 0;
    }
    ~DirectoryLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    int Fd() const { return m_fd; }
    bool Held() const { return m_bHeld; }

private:
    int m_fd;
    bool m_bHeld = false;
};

// Removes the user's temporaries of `target` ("<name>.tmp-" and six letters or digits) that a
// killed writer left behind; only under the directory lock, when no writer is between naming
// and renaming.
void RemoveStrayTemporaries(const DirectoryLock& lock, const std::string& target)
{
    if (!lock.Held())
        return;
    const int dupFd = ::fcntl(lock.Fd(), F_DUPFD_CLOEXEC, 0);
    if (dupFd < 0)
        return;
    DIR* dir = ::fdopendir(dupFd);
    if (dir == nullptr) {
        ::close(dupFd);
        return;
    }
    const std::string::size_type slash = target.rfind('/');
    const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp-";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix)
            continue;
        const std::string_view suffix = name.substr(prefix.size());
        if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
            continue;
        struct stat st {};
        if (::fstatat(lock.Fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            ::unlinkat(lock.Fd(), entry->d_name, 0);
    }
    ::closedir(dir);
}

// A new file in `dir`, the folder of `target`: unnamed where the filesystem has them (`temp`
// stays empty), otherwise a named temporary made under the directory lock (named in `temp`).
Result<FileDescriptor> CreateNewFile(const std::string& dir, const std::string& target, mode_t mode,
                                     std::string& temp, std::optional<DirectoryLock>& lock)
{
    temp.clear();
    const int unnamed = OpenRetry(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (unnamed >= 0)
        return FileDescriptor(unnamed);
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return LastError();
    lock.emplace(dir);
    RemoveStrayTemporaries(*lock, target);
    temp = target + ".tmp-XXXXXX";
    const int named = ::mkostemp(temp.data(), O_CLOEXEC);
    if (named < 0) {
        temp.clear();
        return LastError();
    }
    return FileDescriptor(named);
}

// The bytes and the mode of a new file, on disk.
Result<> FillFile(int fd, std::string_view bytes, mode_t mode)
{
    if (!WriteAllBytes(fd, bytes) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        return LastError();
    return {};
}

// Gives the unnamed file `fd` a temporary name beside `target` (in `temp`), under the directory
// lock: a kill between naming and renaming would leave the name behind, and the next writer
// of this directory removes it.
Result<> NameUnnamedFile(int fd, const std::string& dir, const std::string& target,
                         std::string& temp, std::optional<DirectoryLock>& lock)
{
    lock.emplace(dir);
    RemoveStrayTemporaries(*lock, target);
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = TemporaryName(target);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return {};
        error = LastError();
        temp.clear();
        if (error != std::errc::file_exists)
            break;
    }
    return error;
}

// Writes `bytes` into a new file beside `target` and gives it a name there, in `temp`, under
// the directory lock that `lock` then holds: an unnamed file that is named only once it is
// complete, or where the filesystem has no unnamed files, a named temporary from the start.
Result<> WriteNewFile(const std::string& target, std::string_view bytes, mode_t mode,
                             std::string& temp, std::optional<DirectoryLock>& lock)
{
    const std::string dir = DirectoryOf(target);
    Result<FileDescriptor> fd = CreateNewFile(dir, target, mode, temp, lock);
    if (!fd)
        return fd.error();
    const bool unnamed = temp.empty();
    std::error_code error = FillFile(fd->Get(), bytes, mode).error();
    if (!error && unnamed)
        error = NameUnnamedFile(fd->Get(), dir, target, temp, lock).error();
    if (::close(fd->Release()) != 0 && !error)
        error = LastError();
    if (error && !temp.empty()) {
        ::unlink(temp.c_str());
        temp.clear();
    }
    return error;
}

std::atomic<int> g_directorySyncFault{0}; // InjectDirectorySyncFaultForTesting

// Makes the rename in the folder of `path` durable. A folder that cannot be opened for reading
// (write and search permission only) cannot be flushed, and a filesystem without a flush for
// folders says EINVAL: neither is a failure of the replacement.
Result<> SyncDirectoryOf(const std::string& path)
{
    FileDescriptor fd(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0)
        return {};
    if (const int injected = g_directorySyncFault.exchange(0))
        return std::error_code(injected, std::generic_category());
    if (::fsync(fd.Get()) != 0 && errno != EINVAL)
        return LastError();
    return {};
}

} // namespace

const std::error_category& FileFaultCategory()
{
    static const FileFaultCategoryImpl category;
    return category;
}

std::error_code make_error_code(FileFault fault)
{
    return std::error_code(static_cast<int>(fault), FileFaultCategory());
}

Result<std::string> ResolveWritablePath(const std::string& path)
{
    if (path.empty())
        return std::errc::no_such_file_or_directory;
    const uid_t self = ::geteuid();
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return LastError();
            return current; // missing: a write creates it here
        }
        if (!S_ISLNK(st.st_mode)) {
            if (hop > 0 && st.st_uid != self)
                return FileFault::ForeignLink;
            return current;
        }
        if (st.st_uid != self)
            return FileFault::ForeignLink;
        std::string next(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), next.data(), next.size());
        if (n < 0)
            return LastError();
        if (static_cast<std::size_t>(n) >= next.size())
            return std::errc::filename_too_long;
        next.resize(static_cast<std::size_t>(n));
        if (next.empty())
            return std::errc::no_such_file_or_directory;
        current = next.front() == '/' ? next : DirectoryOf(current) + "/" + next;
    }
    return std::errc::too_many_symbolic_link_levels;
}

namespace {

Result<FileDescriptor> OpenUnderLinkRule(const std::string& path, int flags)
{
    const Result<std::string> target = ResolveWritablePath(path);
    if (!target)
        return target.error();
    return OpenRegular(*target, flags, *target != path);
}

} // namespace

Result<FileDescriptor> OpenForWriting(const std::string& path, int flags)
{
    return OpenUnderLinkRule(path, flags);
}

Result<FileDescriptor> OpenForReading(const std::string& path)
{
    return OpenUnderLinkRule(path, O_RDONLY);
}

namespace {

// Any regular file, through any link: for files that are not the program's own.
Result<FileDescriptor> OpenAnyRegular(const std::string& path)
{
    if (path.empty())
        return std::errc::no_such_file_or_directory;
    FileDescriptor file(OpenRetry(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
    if (file.Get() < 0)
        return LastError();
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0)
        return LastError();
    if (!S_ISREG(st.st_mode))
        return FileFault::NotRegularFile;
    return file;
}

} // namespace

Result<std::size_t> ReadAt(int fd, std::uint64_t offset, char* buffer, std::size_t size)
{
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t n = ::pread(fd, buffer + filled, size - filled, static_cast<off_t>(offset + filled));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastError();
        }
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    return filled;
}

namespace {

// At most `limit` bytes from the start of `fd`. The buffer is sized from fstat, one byte over,
// so that reaching the end of the file needs no second buffer; a file that grew since is read
// on in steps. The files of /proc tell no size: a page holds most of them.
Result<std::string> ReadFromStart(int fd, std::size_t limit)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return LastError();
    const std::size_t expected = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096;
    std::string content;
    try {
        content.resize(std::min(limit, expected));
        std::size_t filled = 0;
        for (;;) {
            if (filled == content.size()) {
                if (filled == limit)
                    break;
                content.resize(std::min<std::size_t>(limit, content.size() + 65536));
            }
            const std::size_t wanted = content.size() - filled;
            const Result<std::size_t> got = ReadAt(fd, filled, content.data() + filled, wanted);
            if (!got)
                return got.error();
            filled += *got;
            if (*got < wanted)
                break;
        }
        content.resize(filled);
    } catch (const std::bad_alloc&) {
        return std::errc::not_enough_memory;
    }
    return content;
}

} // namespace

Result<std::string> ReadWholeDescriptor(int fd)
{
    return ReadFromStart(fd, std::numeric_limits<std::size_t>::max());
}

Result<std::string> ReadWholeFile(const std::string& path, std::size_t limit)
{
    const Result<FileDescriptor> fd = OpenForReading(path);
    if (!fd)
        return fd.error();
    return ReadFromStart(fd->Get(), limit);
}

Result<std::string> ReadSystemFile(const std::string& path, std::size_t limit)
{
    const Result<FileDescriptor> fd = OpenAnyRegular(path);
    if (!fd)
        return fd.error();
    return ReadFromStart(fd->Get(), limit);
}

Result<> ReplaceFile(const std::string& path, std::string_view bytes)
{
    const Result<std::string> resolved = ResolveWritablePath(path);
    if (!resolved)
        return resolved.error();
    const std::string& target = *resolved;

    mode_t mode = 0666 & ~CurrentUmask();
    struct stat old {};
    if (::lstat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode))
            return FileFault::NotRegularFile;
        mode = old.st_mode & 07777;
    } else if (errno != ENOENT) {
        return LastError();
    }

    std::string temp;
    std::optional<DirectoryLock> lock;
    if (const Result<> written = WriteNewFile(target, bytes, mode, temp, lock); !written)
        return written;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const std::error_code error = LastError();
        ::unlink(temp.c_str());
        return error;
    }
    return SyncDirectoryOf(target);
}

void InjectDirectorySyncFaultForTesting(int error)
{
    g_directorySyncFault = error;
}

std::string DescribeFileError(const std::string& path, std::error_code error)
{
    return path + ": " + error.message();
}
