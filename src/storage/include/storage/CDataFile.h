#pragma once
// Settings.dat: exactly 32 bytes, eight little-endian signed 32-bit integers.

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct SettingsRecord {
    std::int32_t eventLogOn = 0;      // 0 off, non-zero on
    std::int32_t randomWord = 0;      // no meaning; 0 to 32767 from rand() after every load that read a byte
    std::int32_t windowLeft = 0;
    std::int32_t windowTop = 0;
    std::int32_t windowRight = 0;     // exclusive
    std::int32_t windowBottom = 0;    // exclusive
    std::int32_t maximized = 0;
    std::int32_t minimizeAtStart = 0;

    static constexpr std::size_t kSize = 32;
    void ToBytes(unsigned char (&bytes)[kSize]) const;          // little-endian, field order
    void FromBytes(const unsigned char (&bytes)[kSize]);
};

class CDataFile {
public:
    std::string m_path; // full path of Settings.dat; empty: nothing is read or written

    // The file's first kSize + 1 bytes at most (enough to tell a record from any other file),
    // read under the link rule of FileIo.h; ENOENT for an empty path or a missing file.
    Result<std::string> Read() const;
    // Writes `size` bytes to a temporary file beside m_path, flushes it and renames it over
    // the old file; a failure leaves the old file whole. Nothing is written for an empty path
    // (ENOENT), null data or size 0 (EINVAL).
    Result<> WriteAll(const void* data, std::size_t size) const;
};

// The record held by a Settings.dat content: only exactly 32 bytes are a record, whatever
// they hold; any other length gives nothing.
std::optional<SettingsRecord> ParseSettings(std::string_view bytes);

// Fills `settings` from `file`: fields other than randomWord to 0; exactly 32 bytes read are
// copied over the whole record; after any read of at least one byte randomWord = rand() % 32768.
// A file that exists but cannot be read gives the defaults too, and the reason is returned; a
// missing file or one of another size is no failure.
Result<> LoadSettings(SettingsRecord& settings, const CDataFile& file);
// Writes all 32 bytes of `settings` through `file`.
Result<> SaveSettings(const SettingsRecord& settings, const CDataFile& file);
