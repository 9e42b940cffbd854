#pragma once
// A 64-bit digest of a log's bytes that is taken piece by piece as they are read: the same
// bytes give the same value however they are cut. It tells the file the event log dialog read
// from one that changed since (storage/LogFileAccess.h). It lives in memory only and is no
// defence against bytes made to collide on purpose.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

class LogDigest {
public:
    LogDigest();

    // The digest of `bytes` in one piece.
    static std::uint64_t Of(std::string_view bytes);

    void Add(std::string_view bytes);
    // The digest of everything added so far; more can still be added afterwards.
    std::uint64_t Value() const;

private:
    // Four independent lanes take 32 bytes a step, so that a log of 100 MB costs milliseconds.
    std::array<std::uint64_t, 4> m_lanes;
    std::array<unsigned char, 32> m_partial {}; // the bytes of a step still incomplete
    std::size_t m_partialSize = 0;
    std::uint64_t m_length = 0;

    void Step(const unsigned char* bytes);
};
