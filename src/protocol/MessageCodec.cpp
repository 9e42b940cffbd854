#include "protocol/MessageCodec.h"

#include <cstring>
#include <type_traits>

namespace watch {
namespace {

class ProtocolErrorCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "orvane-watch"; }
    std::string message(int value) const override
    {
        switch (static_cast<ProtocolFault>(value)) {
        case ProtocolFault::Malformed:
            return "malformed message";
        case ProtocolFault::Oversized:
            return "message too long";
        case ProtocolFault::UnknownMessage:
            return "unknown message type";
        case ProtocolFault::Closed:
            return "connection closed";
        case ProtocolFault::VersionUnsupported:
            return "protocol version not supported";
        case ProtocolFault::Refused:
            return "refused by the service";
        case ProtocolFault::Unexpected:
            return "unexpected message";
        }
        return "unknown protocol fault";
    }
};

class Writer {
public:
    explicit Writer(std::string& out) : m_out(out) {}
    template <class T>
    void Int(T value)
    {
        using U = std::make_unsigned_t<T>;
        auto bits = static_cast<U>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i)
            m_out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    }
    void Text(const std::string& text, std::size_t limit)
    {
        const std::size_t size = std::min(text.size(), limit);
        Int(static_cast<std::uint16_t>(size));
        m_out.append(text, 0, size);
    }
    void Info(const ProcessInfo& info)
    {
        Int(info.pid);
        Int(info.ppid);
        Int(info.uid);
        Int(info.startTicks);
        Int(info.time);
        Text(info.name, kMaxName);
        Text(info.path, kMaxPath);
    }

private:
    std::string& m_out;
};

class Reader {
public:
    explicit Reader(std::string_view body) : m_rest(body) {}
    bool Failed() const { return m_failed; }
    bool AtEnd() const { return m_rest.empty(); }

    template <class T>
    T Int()
    {
        using U = std::make_unsigned_t<T>;
        if (m_rest.size() < sizeof(T)) {
            m_failed = true;
            m_rest = {};
            return T{};
        }
        U bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bits |= static_cast<U>(static_cast<unsigned char>(m_rest[i])) << (8 * i);
        m_rest.remove_prefix(sizeof(T));
        return static_cast<T>(bits);
    }
    std::string Text(std::size_t limit)
    {
        const std::size_t size = Int<std::uint16_t>();
        if (m_failed || size > limit || size > m_rest.size()) {
            m_failed = true;
            m_rest = {};
            return {};
        }
        std::string text(m_rest.substr(0, size));
        m_rest.remove_prefix(size);
        return text;
    }
    ProcessInfo Info()
    {
        ProcessInfo info;
        info.pid = Int<std::uint32_t>();
        info.ppid = Int<std::uint32_t>();
        info.uid = Int<std::uint32_t>();
        info.startTicks = Int<std::uint64_t>();
        info.time = Int<std::uint64_t>();
        info.name = Text(kMaxName);
        info.path = Text(kMaxPath);
        return info;
    }

private:
    std::string_view m_rest;
    bool m_failed = false;
};

void EncodeFields(Writer& w, const Hello& m) { w.Int(m.version); }
void EncodeFields(Writer& w, const Welcome& m)
{
    w.Int(m.version);
    w.Int(static_cast<std::uint8_t>(m.source));
    w.Int(m.flags);
    w.Int(m.bootTime);
    w.Int(m.ticksPerSecond);
}
void EncodeFields(Writer&, const SnapshotBegin&) {}
void EncodeFields(Writer& w, const Process& m) { w.Info(m.info); }
void EncodeFields(Writer& w, const SnapshotEnd& m) { w.Int(m.time); }
void EncodeFields(Writer& w, const Started& m) { w.Info(m.info); }
void EncodeFields(Writer& w, const Exec& m) { w.Info(m.info); }
void EncodeFields(Writer& w, const Exited& m)
{
    w.Int(m.pid);
    w.Int(m.startTicks);
    w.Int(m.time);
}
void EncodeFields(Writer& w, const Resync& m) { w.Int(static_cast<std::uint8_t>(m.reason)); }
void EncodeFields(Writer& w, const KillRequest& m)
{
    w.Int(m.pid);
    w.Int(m.startTicks);
}
void EncodeFields(Writer& w, const KillResult& m)
{
    w.Int(m.pid);
    w.Int(m.startTicks);
    w.Int(m.error);
}
void EncodeFields(Writer& w, const Goodbye& m)
{
    w.Int(static_cast<std::uint8_t>(m.reason));
    w.Text(m.text, kMaxText);
}

Result<Message> DecodeFields(MessageType type, Reader& r)
{
    switch (type) {
    case MessageType::Hello:
        return Message(Hello{r.Int<std::uint16_t>()});
    case MessageType::Welcome: {
        Welcome m;
        m.version = r.Int<std::uint16_t>();
        const auto source = r.Int<std::uint8_t>();
        if (source != static_cast<std::uint8_t>(EventSource::Bpf) &&
            source != static_cast<std::uint8_t>(EventSource::Connector))
            return ProtocolFault::Malformed;
        m.source = static_cast<EventSource>(source);
        m.flags = r.Int<std::uint8_t>();
        m.bootTime = r.Int<std::uint64_t>();
        m.ticksPerSecond = r.Int<std::uint32_t>();
        return Message(m);
    }
    case MessageType::SnapshotBegin:
        return Message(SnapshotBegin{});
    case MessageType::Process:
        return Message(Process{r.Info()});
    case MessageType::SnapshotEnd:
        return Message(SnapshotEnd{r.Int<std::uint64_t>()});
    case MessageType::Started:
        return Message(Started{r.Info()});
    case MessageType::Exec:
        return Message(Exec{r.Info()});
    case MessageType::Exited: {
        Exited m;
        m.pid = r.Int<std::uint32_t>();
        m.startTicks = r.Int<std::uint64_t>();
        m.time = r.Int<std::uint64_t>();
        return Message(m);
    }
    case MessageType::Resync: {
        const auto reason = r.Int<std::uint8_t>();
        if (reason != static_cast<std::uint8_t>(ResyncReason::FellBehind) &&
            reason != static_cast<std::uint8_t>(ResyncReason::EventsLost))
            return ProtocolFault::Malformed;
        return Message(Resync{static_cast<ResyncReason>(reason)});
    }
    case MessageType::KillRequest: {
        KillRequest m;
        m.pid = r.Int<std::uint32_t>();
        m.startTicks = r.Int<std::uint64_t>();
        return Message(m);
    }
    case MessageType::KillResult: {
        KillResult m;
        m.pid = r.Int<std::uint32_t>();
        m.startTicks = r.Int<std::uint64_t>();
        m.error = r.Int<std::int32_t>();
        return Message(m);
    }
    case MessageType::Goodbye: {
        Goodbye m;
        const auto reason = r.Int<std::uint8_t>();
        if (reason < static_cast<std::uint8_t>(GoodbyeReason::VersionUnsupported) ||
            reason > static_cast<std::uint8_t>(GoodbyeReason::ShuttingDown))
            return ProtocolFault::Malformed;
        m.reason = static_cast<GoodbyeReason>(reason);
        m.text = r.Text(kMaxText);
        return Message(m);
    }
    }
    return ProtocolFault::UnknownMessage;
}

} // namespace

const std::error_category& ProtocolCategory()
{
    static const ProtocolErrorCategory category;
    return category;
}

std::error_code make_error_code(ProtocolFault fault)
{
    return {static_cast<int>(fault), ProtocolCategory()};
}

void Encode(const Message& message, std::string& out)
{
    const std::size_t start = out.size();
    out.append(4, '\0');
    out.push_back(static_cast<char>(TypeOf(message)));
    Writer writer(out);
    std::visit([&](const auto& m) { EncodeFields(writer, m); }, message);
    const auto length = static_cast<std::uint32_t>(out.size() - start - 4);
    for (std::size_t i = 0; i < 4; ++i)
        out[start + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
}

Result<Message> DecodeBody(std::string_view body)
{
    if (body.size() > kMaxFrameBody)
        return ProtocolFault::Oversized;
    if (body.empty())
        return ProtocolFault::Malformed;
    const auto type = static_cast<std::uint8_t>(body.front());
    if (type < static_cast<std::uint8_t>(MessageType::Hello) ||
        type > static_cast<std::uint8_t>(MessageType::Goodbye))
        return ProtocolFault::UnknownMessage;
    Reader reader(body.substr(1));
    Result<Message> message = DecodeFields(static_cast<MessageType>(type), reader);
    if (message && (reader.Failed() || !reader.AtEnd()))
        return ProtocolFault::Malformed;
    return message;
}

} // namespace watch
