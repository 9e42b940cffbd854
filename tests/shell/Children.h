#pragma once
// Child processes of a widget test, killed and reaped by pid at the end whatever happened.

#include "ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <map>
#include <string>

class Children {
public:
    // Runs `program 60` (a sleep of a minute, whatever the program is called); -1 when it
    // could not be started.
    pid_t Start(const std::string& program)
    {
        ChildProcess child;
        if (!child.Start({program, "60"}))
            return -1;
        const pid_t pid = child.Pid();
        m_running.emplace(pid, std::move(child));
        return pid;
    }

    // Starts a copy of `sleep` named `name` in `dir`.
    pid_t StartSleep(const QString& dir, const QString& name)
    {
        const QString program = QDir(dir).filePath(name);
        if (!QFile::exists(program) && !QFile::copy(QStringLiteral("/bin/sleep"), program))
            return -1;
        QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
        return Start(program.toStdString());
    }

    // True once the child has ended and was reaped; `signal` is what ended it (0: exited).
    // Asking again gives the same answer (the QTRY macros evaluate their condition again).
    bool Reaped(pid_t pid, int* signal = nullptr)
    {
        auto done = m_reaped.find(pid);
        if (done == m_reaped.end()) {
            auto running = m_running.find(pid);
            int status = 0;
            if (running == m_running.end() || !running->second.TryReap(status))
                return false;
            m_running.erase(running);
            done = m_reaped.emplace(pid, WIFSIGNALED(status) ? WTERMSIG(status) : 0).first;
        }
        if (signal)
            *signal = done->second;
        return true;
    }

private:
    std::map<pid_t, ChildProcess> m_running; // killed and reaped when the test ends
    std::map<pid_t, int> m_reaped;
};
