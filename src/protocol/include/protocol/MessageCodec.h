#pragma once
// Turning messages into frames and frame bodies back into messages (the wire form is described
// in WatchMessages.h). Pure functions: no I/O, no state.

#include "platform/Result.h"
#include "protocol/WatchMessages.h"

#include <string>
#include <string_view>
#include <system_error>

namespace watch {

// Reasons of the protocol's own, beside the system's errno values.
enum class ProtocolFault {
    Malformed = 1,      // a frame whose fields do not fit its length or its type
    Oversized,          // a frame longer than kMaxFrameBody
    UnknownMessage,     // a type this version does not know
    Closed,             // the other side closed the connection
    VersionUnsupported, // the service does not speak this client's version
    Refused,            // the service said Goodbye (too many connections, shutting down, ...)
    Unexpected,         // a message out of its place in the conversation
};
const std::error_category& ProtocolCategory();
std::error_code make_error_code(ProtocolFault fault);

// Appends the frame of `message` to `out`. Texts longer than their limit are cut to it (a
// name or path that long cannot come from the kernel; a cut text still makes a valid frame).
void Encode(const Message& message, std::string& out);

// The message of one frame body (type byte and fields, without the length). Fails with
// Malformed, Oversized or UnknownMessage; never reads outside `body`.
Result<Message> DecodeBody(std::string_view body);

} // namespace watch

template <>
struct std::is_error_code_enum<watch::ProtocolFault> : std::true_type {};
