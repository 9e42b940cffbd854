#pragma once
// What the service's benchmarks share: orvaned started from the build tree as its unit runs it
// (Nice=-10), a client that waits for the first snapshot, CPU and memory figures from /proc.

#include "protocol/CWatchClient.h"
#include "protocol/CWatchTable.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

inline std::string BesideSelf(const std::string& relative)
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    return path.substr(0, path.rfind('/') + 1) + relative;
}

inline std::string MakeTempFolder()
{
    char path[] = "/tmp/orvane-bench-XXXXXX";
    std::string folder = mkdtemp(path);
    chmod(folder.c_str(), 0755);
    return folder;
}

// The account the workload runs as: orvane-test where it exists, else nobody.
inline uid_t WorkloadUser(gid_t& gid)
{
    const passwd* account = getpwnam("orvane-test");
    if (!account)
        account = getpwnam("nobody");
    gid = account ? account->pw_gid : 65534;
    return account ? account->pw_uid : 65534;
}

class Service {
public:
    // Starts orvaned on a socket in `folder` with the given source and list.
    Service(const std::string& folder, const std::string& source, const std::string& list)
        : m_socket(folder + "/orvaned.sock")
    {
        const std::string program = BesideSelf("../../src/service/orvaned");
        const std::string log = folder + "/orvaned-" + source + ".log";
        m_pid = fork();
        if (m_pid == 0) {
            setpriority(PRIO_PROCESS, 0, -10);
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            dup2(fd, 2);
            execl(program.c_str(), "orvaned", "--socket", m_socket.c_str(), "--disabled-list", list.c_str(),
                  "--source", source.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Service()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t Pid() const { return m_pid; }
    const std::string& Socket() const { return m_socket; }

    // A client once the first snapshot has arrived; null when the service did not come up.
    std::unique_ptr<watch::CWatchClient> Connect(std::size_t* processes = nullptr) const
    {
        for (int tries = 0; tries < 100; ++tries) {
            auto client = watch::CWatchClient::Connect(m_socket);
            if (!client) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            watch::CWatchTable table;
            std::vector<watch::CWatchTable::Change> changes;
            for (int waits = 0; waits < 200 && !table.Synchronised(); ++waits) {
                std::vector<watch::Message> messages;
                if (!(*client)->Receive(messages, 100))
                    return nullptr;
                for (const auto& message : messages)
                    table.Apply(message, changes);
            }
            if (processes)
                *processes = table.Live().size();
            return table.Synchronised() ? std::move(*client) : nullptr;
        }
        return nullptr;
    }

private:
    std::string m_socket;
    pid_t m_pid = -1;
};

// Time a process has spent on a processor, in seconds: the scheduler's nanoseconds
// (/proc/<pid>/schedstat) where the kernel keeps them, else utime + stime in clock ticks.
inline double CpuSeconds(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/schedstat", pid);
    if (FILE* file = std::fopen(path, "r")) {
        unsigned long long ns = 0;
        const bool read = std::fscanf(file, "%llu", &ns) == 1;
        std::fclose(file);
        if (read)
            return static_cast<double>(ns) / 1e9;
    }
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE* file = std::fopen(path, "r");
    if (!file)
        return 0;
    char text[1024] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    const char* rest = std::strrchr(text, ')');
    if (!n || !rest)
        return 0;
    unsigned long long utime = 0, stime = 0;
    std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime);
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// VmRSS of a process, in KiB.
inline long RssKiB(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    FILE* file = std::fopen(path, "r");
    if (!file)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, file))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    std::fclose(file);
    return kib;
}

inline double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace bench
