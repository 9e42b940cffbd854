// Any bytes in Settings.dat: only exactly 32 bytes make a record, and that record writes back
// as the same 32 bytes.

#include "storage/CDataFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<SettingsRecord> record = ParseSettings(bytes);
    if (record.has_value() != (size == SettingsRecord::kSize))
        std::abort();
    if (record) {
        unsigned char back[SettingsRecord::kSize];
        record->ToBytes(back);
        if (std::memcmp(back, data, sizeof back) != 0)
            std::abort();
    }
    return 0;
}
