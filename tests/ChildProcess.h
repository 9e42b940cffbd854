#pragma once
// A real child process for every test: forked, optionally adjusted in the child (setresuid, ...),
// then exec'd. Spawn returns only once the exec has happened, so /proc shows the new program.
// The destructor kills and reaps the child if the test has not, by its pid: it is our own
// unreaped child, so the pid cannot have been reused.

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }
    ChildProcess& operator=(ChildProcess&& other) noexcept
    {
        std::swap(m_pid, other.m_pid);
        return *this;
    }
    ~ChildProcess() { Stop(); }

    // Starts `argv` (argv[0] is the program's path). `inChild` runs in the child before the
    // exec; if it returns false the child exits with code 97 instead. Returns false when the
    // program could not be started.
    bool Start(const std::vector<std::string>& argv, const std::function<bool()>& inChild = {})
    {
        int sync[2];
        if (pipe2(sync, O_CLOEXEC) != 0)
            return false;
        pid_t pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            close(sync[0]);
            if (inChild && !inChild())
                _exit(97);
            std::vector<char*> args;
            for (const auto& arg : argv)
                args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            int error = errno;
            (void)!write(sync[1], &error, sizeof error);
            _exit(127);
        }
        close(sync[1]);
        int error = 0;
        ssize_t n;
        do {
            n = read(sync[0], &error, sizeof error);
        } while (n < 0 && errno == EINTR);
        close(sync[0]);
        m_pid = pid;
        if (n > 0) { // exec failed
            Wait();
            return false;
        }
        return true;
    }

    // Forks a helper that runs `body` and exits with its result; returns that exit code,
    // or -1 when the helper did not exit normally.
    static int RunInHelper(const std::function<int()>& body)
    {
        pid_t pid = fork();
        if (pid < 0)
            return -1;
        if (pid == 0)
            _exit(body());
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t Pid() const { return m_pid; }
    bool Running() const { return m_pid > 0; }

    void Kill()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
    }

    // Reaps the child; returns its wait status.
    int Wait()
    {
        int status = 0;
        if (m_pid <= 0)
            return status;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return status;
    }

    // Reaps the child if it has ended, without waiting; true then, with its wait status.
    bool TryReap(int& status)
    {
        if (m_pid <= 0 || waitpid(m_pid, &status, WNOHANG) != m_pid)
            return false;
        m_pid = -1;
        return true;
    }

    // Waits up to `ms` for the child to end, without reaping it. True when it has ended.
    bool WaitEnded(int ms) const
    {
        if (m_pid <= 0)
            return true;
        siginfo_t info{};
        for (int waited = 0;; waited += 10) {
            info.si_pid = 0;
            if (waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == m_pid)
                return true;
            if (waited >= ms)
                return false;
            usleep(10 * 1000);
        }
    }

    void Stop()
    {
        if (m_pid > 0) {
            Kill();
            Wait();
        }
    }

private:
    pid_t m_pid = -1;
};
