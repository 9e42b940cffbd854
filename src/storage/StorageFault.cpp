#include "storage/StorageFault.h"

#include "storage/StringTable.h"

#include <string>

namespace {

class StorageFaultCategoryImpl : public std::error_category {
public:
    const char* name() const noexcept override { return "orvane-storage"; }
    std::string message(int value) const override
    {
        switch (static_cast<StorageFault>(value)) {
        case StorageFault::InUse:
            return "in use by another running copy of the program";
        case StorageFault::NameNotStorable:
            return LoadString(IDS_ERR_NAME_NOT_STORABLE);
        case StorageFault::LogBusy:
            return LoadString(IDS_ERR_LOG_BUSY);
        }
        return "unknown storage fault";
    }
};

} // namespace

const std::error_category& StorageFaultCategory()
{
    static const StorageFaultCategoryImpl category;
    return category;
}

std::error_code make_error_code(StorageFault fault)
{
    return std::error_code(static_cast<int>(fault), StorageFaultCategory());
}
