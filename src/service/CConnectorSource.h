#pragma once
// Process events from the kernel's process connector (netlink, CN_IDX_PROC): identifiers of
// every fork, exec and exit; names, paths and credentials are read from /proc when the event
// arrives, so a process that has already gone by then keeps only what its parent or the
// event tells (the window's "unknown" where nothing does). Needs CAP_NET_ADMIN.

#include "CEventSource.h"

#include <cstddef>
#include <memory>

namespace service {

class CConnectorSource : public CEventSource {
public:
    // Subscribes with a receive buffer of `bufferBytes` (forced past the system's maximum
    // where the service may). Asks the kernel for forks, execs and exits only where it can
    // filter (Linux 6.6 and later). Fails with the kernel's reason (EPERM without
    // CAP_NET_ADMIN).
    static Result<std::unique_ptr<CConnectorSource>> Open(std::size_t bufferBytes);
    ~CConnectorSource() override;

    watch::EventSource Kind() const override { return watch::EventSource::Connector; }
    int Fd() const override { return m_fd; }
    Result<bool> Drain(const Sink& sink) override;

private:
    CConnectorSource() = default;
    int m_fd = -1;
    bool m_lostPending = false; // a loss was told, the queue has not been emptied since
};

} // namespace service
