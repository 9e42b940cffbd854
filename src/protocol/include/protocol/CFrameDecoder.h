#pragma once
// Takes the bytes of a stream apart into messages, however the stream cuts them: bytes go in
// as they come, whole messages come out. It never holds more than one frame beyond what it
// was last given, and it refuses a frame as soon as its length is read when that length is
// over the limit, before any of its body arrives.

#include "protocol/MessageCodec.h"

#include <optional>
#include <string>
#include <string_view>

namespace watch {

class CFrameDecoder {
public:
    explicit CFrameDecoder(std::size_t maxBody = kMaxFrameBody) : m_maxBody(maxBody) {}

    // Adds bytes received. Call Next until it gives nothing before feeding more, so that the
    // held bytes stay within one frame and what one feed brought.
    void Feed(std::string_view bytes)
    {
        if (!m_failure)
            m_buffer.append(bytes);
    }

    // The next whole message; nothing when more bytes are needed. A malformed or oversized
    // frame fails, and so does every later call (a stream cannot be resynchronised after a
    // bad frame: the connection is to be closed).
    Result<std::optional<Message>> Next();

    // Bytes held that do not yet make a whole frame.
    std::size_t Pending() const { return m_buffer.size() - m_start; }

private:
    std::size_t m_maxBody;
    std::string m_buffer;
    std::size_t m_start = 0; // where the next frame begins in m_buffer
    std::error_code m_failure;
};

} // namespace watch
