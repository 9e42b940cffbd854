#include "CBpfSource.h"

#include "bpf/WatchEvent.h"
#include "orvaned.skel.h"

#include <bpf/libbpf.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace service {
namespace {

// libbpf writes the verifier's whole log on a failed load. The service tells one line: the
// last thing libbpf said before giving up.
std::string g_lastLibbpfLine;

int KeepLastLine(enum libbpf_print_level level, const char* format, va_list args)
{
    if (level == LIBBPF_DEBUG)
        return 0;
    char line[512];
    const int n = std::vsnprintf(line, sizeof line, format, args);
    if (n > 0) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        if (text.rfind("libbpf: ", 0) == 0)
            text.erase(0, 8);
        if (!text.empty())
            g_lastLibbpfLine = text;
    }
    return 0;
}

std::size_t RingSize(std::size_t bytes)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::size_t size = page > 0 ? page : 4096;
    while (size < bytes && size < (std::size_t{1} << 30))
        size <<= 1;
    return size;
}

std::error_code FromLibbpf(int result)
{
    const int error = result < 0 ? -result : (errno ? errno : EINVAL);
    return {error, std::generic_category()};
}

} // namespace

Result<std::unique_ptr<CBpfSource>> CBpfSource::Open(std::size_t bufferBytes, std::string& detail)
{
    libbpf_set_print(KeepLastLine);
    g_lastLibbpfLine.clear();
    std::unique_ptr<CBpfSource> source(new CBpfSource());
    auto fail = [&](const char* step, std::error_code error) -> Result<std::unique_ptr<CBpfSource>> {
        detail = step;
        if (!g_lastLibbpfLine.empty())
            detail += " (" + g_lastLibbpfLine + ")";
        return error;
    };

    errno = 0;
    source->m_skeleton = orvaned_bpf::open();
    if (!source->m_skeleton)
        return fail("opening the BPF object", FromLibbpf(-errno));
    if (int result = bpf_map__set_max_entries(source->m_skeleton->maps.events,
                                              static_cast<__u32>(RingSize(bufferBytes)));
        result < 0)
        return fail("sizing the ring buffer", FromLibbpf(result));
    if (int result = orvaned_bpf::load(source->m_skeleton); result < 0)
        return fail("loading the BPF programs", FromLibbpf(result));
    if (int result = orvaned_bpf::attach(source->m_skeleton); result < 0)
        return fail("attaching the tracepoints", FromLibbpf(result));
    errno = 0;
    source->m_ring = ring_buffer__new(bpf_map__fd(source->m_skeleton->maps.events), &CBpfSource::OnRecord,
                                      source.get(), nullptr);
    if (!source->m_ring)
        return fail("mapping the ring buffer", FromLibbpf(-errno));
    return source;
}

CBpfSource::~CBpfSource()
{
    if (m_ring)
        ring_buffer__free(m_ring);
    if (m_skeleton)
        orvaned_bpf::destroy(m_skeleton);
}

int CBpfSource::Fd() const
{
    return ring_buffer__epoll_fd(m_ring);
}

int CBpfSource::OnRecord(void* context, void* data, std::size_t size)
{
    auto* self = static_cast<CBpfSource*>(context);
    const auto* record = static_cast<const orvane_event*>(data);
    if (size < sizeof(orvane_event) || size < sizeof(orvane_event) + record->path_len)
        return 0;
    KernelEvent event;
    switch (record->kind) {
    case ORVANE_EVENT_FORK:
        event.kind = KernelEvent::Kind::Fork;
        break;
    case ORVANE_EVENT_EXEC:
        event.kind = KernelEvent::Kind::Exec;
        break;
    case ORVANE_EVENT_EXIT:
        event.kind = KernelEvent::Kind::Exit;
        break;
    default:
        return 0;
    }
    event.pid = record->pid;
    event.ppid = record->ppid;
    event.uid = record->uid;
    event.euid = record->euid;
    event.startTicks = BootNsToTicks(record->start_ns);
    event.time = self->m_clock->FromBootNs(record->time_ns);
    event.comm.assign(record->comm, strnlen(record->comm, sizeof record->comm));
    event.path.assign(static_cast<const char*>(data) + sizeof(orvane_event), record->path_len);
    (*self->m_sink)(event);
    return 0;
}

void CBpfSource::SetUrgentExecs(bool urgent)
{
    __atomic_store_n(&m_skeleton->bss->wake_on_exec, urgent ? 1u : 0u, __ATOMIC_RELAXED);
}

Result<bool> CBpfSource::Drain(const Sink& sink)
{
    KernelClock clock = KernelClock::Now();
    m_sink = &sink;
    m_clock = &clock;
    const int result = ring_buffer__consume(m_ring);
    m_sink = nullptr;
    m_clock = nullptr;
    if (result < 0 && result != -EINTR)
        return FromLibbpf(result);
    const std::uint64_t lost = __atomic_load_n(&m_skeleton->bss->lost, __ATOMIC_RELAXED);
    const bool lostSome = lost != m_lostSeen;
    m_lostSeen = lost;
    return lostSome;
}

} // namespace service
