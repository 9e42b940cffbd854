#include "LogDigest.h"

#include <algorithm>
#include <bit>
#include <cstring>

// The round, lane merge and final mixing are those of xxHash64, whose constants are chosen to
// spread every input bit over the whole value.
namespace {

constexpr std::uint64_t kPrime1 = 0x9e3779b185ebca87ull;
constexpr std::uint64_t kPrime2 = 0xc2b2ae3d27d4eb4full;
constexpr std::uint64_t kPrime3 = 0x165667b19e3779f9ull;
constexpr std::uint64_t kPrime4 = 0x85ebca77c2b2ae63ull;
constexpr std::uint64_t kPrime5 = 0x27d4eb2f165667c5ull;

// In the machine's byte order: the value never leaves the process.
std::uint64_t Load(const unsigned char* bytes)
{
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t word)
{
    return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

} // namespace

LogDigest::LogDigest() : m_lanes {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1} {}

std::uint64_t LogDigest::Of(std::string_view bytes)
{
    LogDigest digest;
    digest.Add(bytes);
    return digest.Value();
}

void LogDigest::Step(const unsigned char* bytes)
{
    for (std::size_t i = 0; i < m_lanes.size(); ++i)
        m_lanes[i] = Round(m_lanes[i], Load(bytes + 8 * i));
}

void LogDigest::Add(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    m_length += n;
    if (m_partialSize > 0) {
        const std::size_t take = std::min(m_partial.size() - m_partialSize, n);
        std::memcpy(m_partial.data() + m_partialSize, p, take);
        m_partialSize += take;
        p += take;
        n -= take;
        if (m_partialSize < m_partial.size())
            return;
        Step(m_partial.data());
        m_partialSize = 0;
    }
    for (; n >= m_partial.size(); p += m_partial.size(), n -= m_partial.size())
        Step(p);
    if (n > 0)
        std::memcpy(m_partial.data(), p, n);
    m_partialSize = n;
}

std::uint64_t LogDigest::Value() const
{
    std::uint64_t h = std::rotl(m_lanes[0], 1) + std::rotl(m_lanes[1], 7) + std::rotl(m_lanes[2], 12) +
                      std::rotl(m_lanes[3], 18);
    for (const std::uint64_t lane : m_lanes)
        h = (h ^ Round(0, lane)) * kPrime1 + kPrime4;
    h += m_length;
    std::size_t i = 0;
    for (; i + 8 <= m_partialSize; i += 8)
        h = std::rotl(h ^ Round(0, Load(m_partial.data() + i)), 27) * kPrime1 + kPrime4;
    for (; i < m_partialSize; ++i)
        h = std::rotl(h ^ (m_partial[i] * kPrime5), 11) * kPrime1;
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    h ^= h >> 32;
    return h;
}
