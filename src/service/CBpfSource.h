#pragma once
// Process events from eBPF tracepoints (sched_process_fork, _exec, _exit) through one ring
// buffer: every process named by the kernel itself, executable path included, whatever its
// life's length. Needs BTF and CAP_BPF with CAP_PERFMON (or root).

#include "CEventSource.h"
#include "KernelClock.h"

#include <cstddef>
#include <memory>
#include <string>

struct orvaned_bpf;
struct ring_buffer;

namespace service {

class CBpfSource : public CEventSource {
public:
    // Loads and attaches the programs with a ring buffer of `bufferBytes` (rounded up to a
    // power of two of at least a page). Fails with the kernel's or libbpf's reason; `detail`
    // then says what failed, for the one line that tells why the service falls back.
    static Result<std::unique_ptr<CBpfSource>> Open(std::size_t bufferBytes, std::string& detail);
    ~CBpfSource() override;

    watch::EventSource Kind() const override { return watch::EventSource::Bpf; }
    int Fd() const override;
    Result<bool> Drain(const Sink& sink) override;
    void SetUrgentExecs(bool urgent) override;

private:
    CBpfSource() = default;
    static int OnRecord(void* context, void* data, std::size_t size);

    orvaned_bpf* m_skeleton = nullptr;
    ring_buffer* m_ring = nullptr;
    std::uint64_t m_lostSeen = 0;
    const Sink* m_sink = nullptr; // during Drain
    KernelClock* m_clock = nullptr;
};

} // namespace service
