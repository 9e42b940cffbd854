// Any bytes from a peer, cut anywhere: the decoder hands out whole messages or fails for good,
// never holds more than a frame beyond what it was given, and every message it hands out is
// written back to the same bytes; the client's table takes any sequence of them.

#include "protocol/CFrameDecoder.h"
#include "protocol/CWatchTable.h"
#include "protocol/MessageCodec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses how the stream is cut.
    const std::size_t piece = data[0] % 64 + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    watch::CFrameDecoder decoder(512);
    watch::CWatchTable table;
    std::vector<watch::CWatchTable::Change> changes;
    bool failed = false;
    for (std::size_t at = 0; at < stream.size() && !failed; at += piece) {
        decoder.Feed(stream.substr(at, piece));
        for (;;) {
            auto next = decoder.Next();
            if (!next) {
                failed = true;
                if (decoder.Next())
                    std::abort(); // a failure is for good
                break;
            }
            if (!*next)
                break;
            std::string frame;
            watch::Encode(**next, frame);
            auto again = watch::DecodeBody(std::string_view(frame).substr(4));
            if (!again || *again != **next)
                std::abort();
            table.Apply(**next, changes);
        }
        if (decoder.Pending() > 512 + 4 + piece)
            std::abort();
    }
    for (const auto& [pid, info] : table.Live())
        if (pid != info.pid)
            std::abort();
    return 0;
}
