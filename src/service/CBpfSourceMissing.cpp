// The eBPF source of a build without clang, bpftool or libbpf: never available, so the
// service takes the process connector.

#include "CBpfSource.h"

namespace service {

Result<std::unique_ptr<CBpfSource>> CBpfSource::Open(std::size_t, std::string& detail)
{
    detail = "this orvaned was built without eBPF";
    return std::errc::not_supported;
}

CBpfSource::~CBpfSource() = default;

int CBpfSource::Fd() const
{
    return -1;
}

Result<bool> CBpfSource::Drain(const Sink&)
{
    return std::errc::not_supported;
}

void CBpfSource::SetUrgentExecs(bool) {}

int CBpfSource::OnRecord(void*, void*, std::size_t)
{
    return 0;
}

} // namespace service
