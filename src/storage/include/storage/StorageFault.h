#pragma once
// Reasons of the program's own files that have no system error number. The reasons that any
// file may give (a FIFO in its place, another user's link) are FileFault's, of FileIo.h.

#include <system_error>

enum class StorageFault {
    InUse = 1,       // locked by another running copy of the program
    NameNotStorable, // a name the disabled list's format cannot hold ("|" or a zero byte)
    LogBusy,         // the log's writer is still held by the disk: earlier entries wait
};
const std::error_category& StorageFaultCategory();
std::error_code make_error_code(StorageFault fault);
template <>
struct std::is_error_code_enum<StorageFault> : std::true_type {};
