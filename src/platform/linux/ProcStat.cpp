#include "platform/ProcStat.h"

#include <charconv>

namespace platform::procfs {
namespace {

// Walks the blank-separated fields that follow the command name.
class FieldCursor {
public:
    explicit FieldCursor(std::string_view rest) : m_rest(rest) {}

    // The next field, or empty when there is none. `terminated` tells whether a separator
    // follows it (false when the text ends inside it).
    std::string_view Next(bool& terminated)
    {
        if (m_rest.empty() || m_rest.front() != ' ')
            return {};
        m_rest.remove_prefix(1);
        std::size_t end = m_rest.find_first_of(" \n");
        terminated = end != std::string_view::npos;
        std::string_view field = m_rest.substr(0, terminated ? end : m_rest.size());
        m_rest.remove_prefix(field.size());
        return field;
    }

private:
    std::string_view m_rest;
};

template <typename T>
bool ParseNumber(std::string_view field, T& out)
{
    if (field.empty())
        return false;
    auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
    return ec == std::errc() && ptr == field.data() + field.size();
}

} // namespace

std::optional<ProcStat> ParseProcStat(std::string_view text)
{
    ProcStat stat;

    std::size_t close = text.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::size_t open = text.find(" (");
    if (open == std::string_view::npos || open + 2 > close)
        return std::nullopt;
    if (!ParseNumber(text.substr(0, open), stat.pid)) // (1) pid
        return std::nullopt;
    stat.comm = text.substr(open + 2, close - (open + 2)); // (2) comm

    FieldCursor cursor(text.substr(close + 1));
    for (int number = 3; number <= 22; ++number) {
        bool terminated = false;
        std::string_view field = cursor.Next(terminated);
        if (field.empty())
            return std::nullopt;
        bool ok = true;
        switch (number) {
        case 3: // (3) state
            ok = field.size() == 1;
            stat.state = field.front();
            break;
        case 4: // (4) ppid
            ok = ParseNumber(field, stat.ppid);
            break;
        case 9: // (9) flags
            ok = ParseNumber(field, stat.flags);
            break;
        case 14: // (14) utime
            ok = ParseNumber(field, stat.utime);
            break;
        case 15: // (15) stime
            ok = ParseNumber(field, stat.stime);
            break;
        case 22: // (22) starttime; a read cut inside it would yield a wrong identity
            ok = terminated && ParseNumber(field, stat.starttime);
            break;
        default: { // the fields in between are signed numbers
            std::int64_t ignored = 0;
            ok = ParseNumber(field, ignored);
            if (!ok) {
                std::uint64_t big = 0; // (8)-(21) include unsigned 64-bit counters
                ok = ParseNumber(field, big);
            }
            break;
        }
        }
        if (!ok)
            return std::nullopt;
    }
    return stat;
}

} // namespace platform::procfs
