#pragma once
// The opens of files in chosen directories, as the kernel tells them (inotify, IN_OPEN). The
// exec of a program opens its file, so a watched directory tells of every program started
// from it, by any user, as it starts. One descriptor to poll; what is queued is read without
// blocking into the object's own buffer and handed out name by name, nothing allocated.

#include "platform/FileDescriptor.h"
#include "platform/Result.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class DirectoryWatch {
public:
    // A watch of no directory yet; fails when the user's inotify instances are used up.
    static Result<std::unique_ptr<DirectoryWatch>> Open();

    int Fd() const { return m_fd.Get(); }
    // Watches `directory` as well (a directory watched already is no failure). ENOSPC when
    // the user's watches are used up (max_user_watches).
    Result<> Add(const std::string& directory);
    // Reads what is queued now; false when nothing was. Next then gives the names one by one.
    Result<bool> Read();
    // The name of the next file opened, from what Read took; false when there is none left.
    // An open of a directory itself has no name and is passed over.
    bool Next(std::string_view& name);
    // The last Read filled the buffer nearly full: more may be queued.
    bool MayHaveMore() const { return m_length + kLargestEvent > sizeof m_buffer; }
    // The names Next has given so far include the kernel's word that its queue ran over:
    // opens were lost, their names unknown.
    bool Overflowed() const { return m_overflowed; }

private:
    explicit DirectoryWatch(int fd) : m_fd(fd) {}
    static constexpr std::size_t kLargestEvent = 16 + 256; // the event and the longest name

    FileDescriptor m_fd;
    bool m_overflowed = false;
    std::size_t m_length = 0;
    std::size_t m_at = 0;
    // Room for many events at once (each is 16 bytes and a name of at most 256).
    alignas(8) char m_buffer[16384];
};

} // namespace platform
