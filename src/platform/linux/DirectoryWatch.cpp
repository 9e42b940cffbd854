#include "platform/DirectoryWatch.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

static_assert(alignof(inotify_event) <= 8);

Result<std::unique_ptr<DirectoryWatch>> DirectoryWatch::Open()
{
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return LastError();
    return std::unique_ptr<DirectoryWatch>(new DirectoryWatch(fd));
}

Result<> DirectoryWatch::Add(const std::string& directory)
{
    if (inotify_add_watch(m_fd.Get(), directory.c_str(), IN_OPEN | IN_ONLYDIR) < 0)
        return LastError();
    return {};
}

Result<bool> DirectoryWatch::Read()
{
    m_overflowed = false;
    m_at = m_length = 0;
    ssize_t n;
    do {
        n = read(m_fd.Get(), m_buffer, sizeof m_buffer);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN ? Result<bool>(false) : Result<bool>(LastError());
    m_length = static_cast<std::size_t>(n);
    return m_length != 0;
}

bool DirectoryWatch::Next(std::string_view& name)
{
    while (m_at + sizeof(inotify_event) <= m_length) {
        inotify_event event;
        std::memcpy(&event, m_buffer + m_at, sizeof event);
        const char* text = m_buffer + m_at + sizeof event;
        m_at += sizeof event + event.len;
        if (event.mask & IN_Q_OVERFLOW)
            m_overflowed = true;
        if (event.len == 0 || event.mask & IN_ISDIR)
            continue;
        // The kernel pads the name with zero bytes.
        name = std::string_view(text, strnlen(text, event.len));
        return true;
    }
    return false;
}

} // namespace platform
