// Any bytes in BlackList.log give a list that saves back to a file that loads as the same
// list, whose entries never hold "|" or a zero byte, and whose lookups normalise the probe.

#include "platform/FileIo.h"
#include "storage/CDisabledList.h"
#include "storage/StorageFault.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = ParseDisabledList(bytes);

    std::size_t taken = 0;
    for (const std::string& entry : entries) {
        if (entry.find('|') != std::string::npos || entry.find('\0') != std::string::npos)
            std::abort();
        taken += entry.size() + 1;
    }
    if (taken > size)
        std::abort();

    const std::string saved = SerializeDisabledList(entries);
    if (bytes.substr(0, saved.size()) != saved || ParseDisabledList(saved) != entries)
        std::abort();

    // The input as a name: what Add stores is what Contains finds, through any capitals. The
    // list lives in a folder of its own in memory (tmpfs), emptied before every input.
    static const std::string path = [] {
        static const std::string dir = "/dev/shm/orvane-fuzz-" + std::to_string(::getpid());
        ::mkdir(dir.c_str(), 0700);
        std::atexit([] {
            ::unlink((dir + "/BlackList.log").c_str());
            ::rmdir(dir.c_str());
        });
        return dir + "/BlackList.log";
    }();
    ::unlink(path.c_str());
    CDisabledList list;
    list.m_path = path;
    const Result<> added = list.Add(std::string(bytes));
    const std::string normal = NormalizeDisabledName(bytes);
    const bool storable = !normal.empty() && normal.find('|') == std::string::npos &&
                          normal.find('\0') == std::string::npos;
    // Stored, nothing to store, or refused for the name's sake: never a failure of the file.
    if (added ? false : (storable || normal.empty() || added.error() != StorageFault::NameNotStorable))
        std::abort();
    if (list.GetSize() != (storable ? 1u : 0u))
        std::abort();
    if (storable) {
        std::string upper(bytes);
        for (char& c : upper)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (!list.Contains(upper) || NormalizeDisabledName(normal) != normal)
            std::abort();
    }
    return 0;
}
