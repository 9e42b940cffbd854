#pragma once
// Where the service takes the kernel's process events from. One reader, on the service's one
// thread: Drain is called whenever Fd() turns readable.

#include "KernelEvent.h"
#include "platform/Result.h"

#include <functional>

namespace service {

class CEventSource {
public:
    virtual ~CEventSource() = default;

    virtual watch::EventSource Kind() const = 0;
    // Readable when events wait.
    virtual int Fd() const = 0;

    // Hands every event waiting to `sink`, in the kernel's order. Returns true when events
    // were lost since the last call (a full buffer): the caller must read /proc again. Fails
    // only when the source itself is broken.
    using Sink = std::function<void(const KernelEvent&)>;
    virtual Result<bool> Drain(const Sink& sink) = 0;

    // Whether an exec must reach the service at once (programs are disabled) or may wait
    // for the next batch, like forks and exits. A source that cannot batch ignores it.
    virtual void SetUrgentExecs(bool) {}
};

} // namespace service
