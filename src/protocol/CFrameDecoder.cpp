#include "protocol/CFrameDecoder.h"

namespace watch {

Result<std::optional<Message>> CFrameDecoder::Next()
{
    if (m_failure)
        return m_failure;
    const std::string_view held = std::string_view(m_buffer).substr(m_start);
    std::optional<Message> message;
    if (held.size() >= 4) {
        std::uint32_t length = 0;
        for (std::size_t i = 0; i < 4; ++i)
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(held[i])) << (8 * i);
        if (length > m_maxBody) {
            m_failure = ProtocolFault::Oversized;
        } else if (held.size() - 4 >= length) {
            Result<Message> decoded = DecodeBody(held.substr(4, length));
            if (!decoded)
                m_failure = decoded.error();
            else
                message = std::move(*decoded);
            m_start += 4 + length;
        }
    }
    if (m_failure) {
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        m_start = 0;
        return m_failure;
    }
    // Drop what was taken once nothing of a frame is left, or once it is most of the buffer.
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    } else if (m_start > 4096 && m_start * 2 > m_buffer.size()) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
    return message;
}

} // namespace watch
