#include "CSignalBridge.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
// The pipe's write end, read by the handler; -1 while no bridge is installed.
volatile std::sig_atomic_t g_writeFd = -1;
int g_fds[2] = {-1, -1};

} // namespace

void CSignalBridge::Handler(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_writeFd;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds enough requests; losing this one changes nothing.
        [[maybe_unused]] ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

CSignalBridge::CSignalBridge(QObject* parent)
    : QObject(parent)
{
    if (g_fds[0] >= 0) {
        m_failure = std::make_error_code(std::errc::device_or_resource_busy); // another bridge has them
        return;
    }
    if (pipe2(g_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_failure = LastError();
        g_fds[0] = g_fds[1] = -1;
        return;
    }
    g_writeFd = g_fds[1];
    m_notifier = new QSocketNotifier(g_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CSignalBridge::OnReadable);

    struct sigaction action = {};
    action.sa_handler = &CSignalBridge::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        m_bHandled[i] = sigaction(kSignals[i], &action, &m_previous[i]) == 0;
        if (!m_bHandled[i] && !m_failure)
            m_failure = LastError();
    }
}

CSignalBridge::~CSignalBridge()
{
    if (!m_notifier)
        return;
    for (int i = 0; i < 3; ++i) {
        if (m_bHandled[i])
            sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    g_writeFd = -1;
    delete m_notifier;
    m_notifier = nullptr;
    close(g_fds[0]);
    close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void CSignalBridge::OnReadable()
{
    // Requests that arrived together are one request.
    unsigned char bytes[64];
    int last = 0;
    for (;;) {
        const ssize_t count = read(g_fds[0], bytes, sizeof bytes);
        if (count <= 0)
            break;
        last = bytes[count - 1];
    }
    if (last != 0)
        emit closeRequested(last);
}
