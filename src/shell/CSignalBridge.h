#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the window's thread, so that a request
// to end the program from outside runs the same close procedure as the close box (the finish
// banner and Settings.dat are written, the monitor thread ends first).
//
// The handler only writes the signal's number into a pipe (a self-pipe); a QSocketNotifier
// reads it on the window's thread. One bridge at a time; its destructor puts the previous
// handlers back.

#include "platform/Result.h"

#include <QObject>

#include <csignal>
#include <system_error>

class QSocketNotifier;

class CSignalBridge : public QObject {
    Q_OBJECT
public:
    explicit CSignalBridge(QObject* parent = nullptr);
    ~CSignalBridge() override;

    // Whether the pipe and the three handlers are in place.
    bool IsInstalled() const { return m_notifier != nullptr && !m_failure; }
    // Why they are not (no descriptor left for the pipe, a handler refused, another bridge
    // holding the signals), for the start-up to tell.
    Result<> Installation() const { return m_failure; }

signals:
    void closeRequested(int signalNumber);

private:
    static void Handler(int signalNumber);
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_previous[3] = {};
    bool m_bHandled[3] = {}; // the handler is ours: the destructor puts the previous one back
    std::error_code m_failure;
};
