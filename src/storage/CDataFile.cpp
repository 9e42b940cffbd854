#include "storage/CDataFile.h"

#include "platform/FileIo.h"

#include <cstdlib>
#include <cstring>

namespace {

void PutLittleEndian(unsigned char* out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

std::int32_t GetLittleEndian(const unsigned char* in)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

} // namespace

void SettingsRecord::ToBytes(unsigned char (&bytes)[kSize]) const
{
    const std::int32_t fields[] = {eventLogOn, randomWord, windowLeft, windowTop,
                                   windowRight, windowBottom, maximized, minimizeAtStart};
    for (std::size_t i = 0; i < 8; ++i)
        PutLittleEndian(bytes + 4 * i, fields[i]);
}

void SettingsRecord::FromBytes(const unsigned char (&bytes)[kSize])
{
    std::int32_t* fields[] = {&eventLogOn, &randomWord, &windowLeft, &windowTop,
                              &windowRight, &windowBottom, &maximized, &minimizeAtStart};
    for (std::size_t i = 0; i < 8; ++i)
        *fields[i] = GetLittleEndian(bytes + 4 * i);
}

Result<std::string> CDataFile::Read() const
{
    // One byte more than a record tells a record from any longer file, however long it is.
    return ReadWholeFile(m_path, SettingsRecord::kSize + 1);
}

Result<> CDataFile::WriteAll(const void* data, std::size_t size) const
{
    if (m_path.empty())
        return std::errc::no_such_file_or_directory;
    if (data == nullptr || size == 0)
        return std::errc::invalid_argument;
    return ReplaceFile(m_path, std::string_view(static_cast<const char*>(data), size));
}

std::optional<SettingsRecord> ParseSettings(std::string_view bytes)
{
    if (bytes.size() != SettingsRecord::kSize)
        return std::nullopt;
    unsigned char raw[SettingsRecord::kSize];
    std::memcpy(raw, bytes.data(), sizeof raw);
    SettingsRecord record;
    record.FromBytes(raw);
    return record;
}

Result<> LoadSettings(SettingsRecord& settings, const CDataFile& file)
{
    const std::int32_t keptRandomWord = settings.randomWord;
    settings = SettingsRecord{};
    settings.randomWord = keptRandomWord;

    const Result<std::string> bytes = file.Read();
    if (!bytes)
        return bytes.error() == std::errc::no_such_file_or_directory ? Result<>() : bytes.error();
    if (bytes->empty())
        return {};
    if (std::optional<SettingsRecord> record = ParseSettings(*bytes))
        settings = *record;
    // The word carries no meaning; it is refreshed after every load that found a file.
    // The generator is never seeded, so its sequence is the same in every run. The word takes
    // the 0 to 32767 that every C library's rand() gives.
    settings.randomWord = std::rand() % 32768;
    return {};
}

Result<> SaveSettings(const SettingsRecord& settings, const CDataFile& file)
{
    unsigned char bytes[SettingsRecord::kSize];
    settings.ToBytes(bytes);
    return file.WriteAll(bytes, sizeof bytes);
}
