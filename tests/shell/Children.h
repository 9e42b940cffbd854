#pragma once
// Child processes of a widget test, killed and reaped by pid at the end whatever happened.

#include <QDir>
#include <QFile>
#include <QString>

#include <map>
#include <string>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class Children {
public:
    Children() = default;
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;
    ~Children()
    {
        for (pid_t pid : m_pids) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Runs `program 60` (a sleep of a minute, whatever the program is called).
    pid_t Start(const std::string& program)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(program.c_str(), program.c_str(), "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid > 0)
            m_pids.push_back(pid);
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
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) != pid)
                return false;
            std::erase(m_pids, pid);
            done = m_reaped.emplace(pid, WIFSIGNALED(status) ? WTERMSIG(status) : 0).first;
        }
        if (signal)
            *signal = done->second;
        return true;
    }

private:
    std::vector<pid_t> m_pids;
    std::map<pid_t, int> m_reaped;
};
