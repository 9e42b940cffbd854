// The process services against real processes: children started here, watched and ended.

#include "linux/Capabilities.h"
#include "linux/KernelThreadRegistry.h"
#include "platform/ProcessServices.h"
#include "platform/ProcStat.h"

#include "ChildProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <sstream>
#include <sys/resource.h>
#include <thread>

using platform::ProcessHandle;
using platform::ProcessTimes;

namespace {

const std::string kSleep = std::filesystem::canonical("/bin/sleep").string();
constexpr std::uint32_t kNobody = 65534;

bool Enumerated(std::uint32_t pid)
{
    const Result<std::vector<std::uint32_t>> pids = platform::EnumProcesses();
    EXPECT_TRUE(pids);
    return pids && std::find(pids->begin(), pids->end(), pid) != pids->end();
}

std::optional<platform::procfs::ProcStat> StatOf(std::uint32_t pid, std::string& text)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    if (!file)
        return std::nullopt;
    std::stringstream content;
    content << file.rdbuf();
    text = content.str();
    return platform::procfs::ParseProcStat(text);
}

// The start of a process as `ps -o lstart=` prints it, broken down.
bool PsStartTime(pid_t pid, tm& out)
{
    std::string command = "LC_ALL=C ps -o lstart= -p " + std::to_string(pid);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    char line[128] = {};
    bool read = fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    out = tm{};
    return read && strptime(line, " %a %b %d %H:%M:%S %Y", &out) != nullptr;
}

bool StartSleep(ChildProcess& child, const std::function<bool()>& inChild = {})
{
    return child.Start({kSleep, "1000"}, inChild);
}

bool BecomeNobody() { return setresgid(kNobody, kNobody, kNobody) == 0 && setresuid(kNobody, kNobody, kNobody) == 0; }

TEST(ProcessServices, SleepIsEnumeratedAndReadThroughItsHandle)
{
    ChildProcess child;
    ASSERT_TRUE(StartSleep(child));
    const auto pid = static_cast<std::uint32_t>(child.Pid());
    EXPECT_TRUE(Enumerated(pid));
    EXPECT_TRUE(Enumerated(static_cast<std::uint32_t>(getpid())));

    auto handle = ProcessHandle::Open(pid);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->Pid(), pid);
    EXPECT_EQ(handle->BaseName(), "sleep");
    EXPECT_EQ(handle->FilePath(), kSleep);
    EXPECT_EQ(handle->DescriptorCount(), 4);

    const Result<ProcessTimes> times = handle->GetTimes();
    ASSERT_TRUE(times);
    EXPECT_EQ(times->exit, 0u);
    EXPECT_FALSE(handle->HasEnded());

    // The creation time shows the same second as ps, which reads the same kernel fields its
    // own way.
    tm ps{};
    ASSERT_TRUE(PsStartTime(child.Pid(), ps));
    const Result<platform::LocalTime> local = platform::FileTimeToLocal(times->creation);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->year, static_cast<unsigned>(ps.tm_year + 1900));
    EXPECT_EQ(local->month, static_cast<unsigned>(ps.tm_mon + 1));
    EXPECT_EQ(local->day, static_cast<unsigned>(ps.tm_mday));
    EXPECT_EQ(local->hour, static_cast<unsigned>(ps.tm_hour));
    EXPECT_EQ(local->minute, static_cast<unsigned>(ps.tm_min));
    EXPECT_EQ(local->second, static_cast<unsigned>(ps.tm_sec));
    // and lies between the boot and now
    EXPECT_LE(times->creation, platform::GetSystemTimeAsFileTime());
}

TEST(ProcessServices, TimesStayReadableAfterTheProcessIsReaped)
{
    ChildProcess child;
    ASSERT_TRUE(StartSleep(child));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    const Result<ProcessTimes> live = handle->GetTimes();
    ASSERT_TRUE(live);

    const platform::FileTime beforeKill = platform::GetSystemTimeAsFileTime();
    EXPECT_TRUE(handle->Kill());
    ASSERT_TRUE(child.WaitEnded(5000));
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    const Result<ProcessTimes> ended = handle->GetTimes();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(handle->HasEnded());
    EXPECT_EQ(handle->DescriptorCount(), 0);
    EXPECT_GE(ended->exit, beforeKill);
    EXPECT_EQ(ended->creation, live->creation);
    EXPECT_GE(ended->user + ended->kernel, live->user + live->kernel);

    const Result<ProcessTimes> later = handle->GetTimes();
    ASSERT_TRUE(later);
    EXPECT_EQ(later->exit, ended->exit);
    EXPECT_EQ(later->creation, ended->creation);
    EXPECT_EQ(handle->Kill().error(), std::errc::no_such_process);
    EXPECT_EQ(handle->BaseName(), "");
}

TEST(ProcessServices, ZombieCountsAsEnded)
{
    ChildProcess child;
    ASSERT_TRUE(StartSleep(child));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    child.Kill();
    ASSERT_TRUE(child.WaitEnded(5000)); // not reaped: a zombie now

    const Result<ProcessTimes> times = handle->GetTimes();
    ASSERT_TRUE(times);
    EXPECT_TRUE(handle->HasEnded());
    EXPECT_NE(times->exit, 0u);
    EXPECT_EQ(handle->DescriptorCount(), 0);
    // Not collected yet, it is still listed, but it is no process to open any more: a new
    // handle would bring it back as a new process.
    EXPECT_EQ(ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid())), nullptr);
}

// A process whose first thread has exited shows as a zombie in its stat file while its
// other threads run on: it has not ended.
TEST(ProcessServices, ExitedLeaderWithLiveThreadsIsStillRunning)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::thread([] {
            for (;;)
                pause();
        }).detach();
        syscall(SYS_exit, 0); // ends this thread only
        _exit(1);
    }
    auto reap = [pid] {
        kill(pid, SIGKILL);
        int status;
        waitpid(pid, &status, 0);
    };
    std::string text;
    bool zombieLeader = false;
    for (int i = 0; i < 500 && !zombieLeader; ++i) {
        auto stat = StatOf(static_cast<std::uint32_t>(pid), text);
        zombieLeader = stat && stat->state == 'Z';
        if (!zombieLeader)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!zombieLeader) {
        reap();
        FAIL() << "the first thread did not exit";
    }

    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(pid));
    const bool opened = handle != nullptr;
    Result<ProcessTimes> times = std::errc::no_such_process;
    if (opened)
        times = handle->GetTimes();
    const bool endedTooSoon = opened && handle->HasEnded();

    kill(pid, SIGKILL); // our own unreaped child: the pid is still its own
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(times);
    EXPECT_FALSE(endedTooSoon);
    EXPECT_EQ(times->exit, 0u);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const Result<ProcessTimes> afterKill = handle->GetTimes();
    ASSERT_TRUE(afterKill);
    EXPECT_TRUE(handle->HasEnded());
    EXPECT_NE(afterKill->exit, 0u);
}

// The listing the passes keep: whether it reads /proc again or keeps its list, a process is in
// it from the first update after its start and leaves it once collected.
TEST(ProcessServices, ListingFollowsProcessesThatStartAndEnd)
{
    platform::ProcessListing listing;
    auto listed = [&](std::uint32_t pid) {
        EXPECT_TRUE(listing.Update());
        return std::find(listing.Pids().begin(), listing.Pids().end(), pid) != listing.Pids().end();
    };
    EXPECT_TRUE(listed(static_cast<std::uint32_t>(getpid())));
    for (int round = 0; round < 20; ++round) {
        ChildProcess child;
        ASSERT_TRUE(StartSleep(child));
        const auto pid = static_cast<std::uint32_t>(child.Pid());
        EXPECT_TRUE(listed(pid)) << round;
        EXPECT_TRUE(listed(pid)) << round;
        child.Stop();
        EXPECT_FALSE(listed(pid)) << round;
    }
    EXPECT_GE(listing.Listings(), 40u);
}

TEST(ProcessServices, GoneProcessesCannotBeOpened)
{
    EXPECT_EQ(ProcessHandle::Open(0), nullptr);
    EXPECT_EQ(ProcessHandle::Open(0xFFFFFFF0u), nullptr);

    ChildProcess child;
    ASSERT_TRUE(StartSleep(child));
    const auto pid = static_cast<std::uint32_t>(child.Pid());
    child.Stop();
    EXPECT_EQ(ProcessHandle::Open(pid), nullptr);
}

TEST(ProcessServices, ProcessorTimesAreIn100NanosecondUnits)
{
    ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "while :; do :; done"}));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const Result<ProcessTimes> times = handle->GetTimes();
    ASSERT_TRUE(times);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const auto elapsed100ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100;
    // Busy on one processor: some of the wall time, never more than all of it (plus a tick).
    EXPECT_GT(times->user + times->kernel, 0u);
    EXPECT_LE(times->user + times->kernel, static_cast<std::uint64_t>(elapsed100ns) + 200'000u);
}

TEST(ProcessServices, ControlBytesInTheNameReadAsQuestionMarks)
{
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string name = "a\tb\nc)|d";
    const std::string copy = dir / name;
    std::filesystem::copy_file(kSleep, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);

    ChildProcess child;
    ASSERT_TRUE(child.Start({copy, "1000"}));
    const auto pid = static_cast<std::uint32_t>(child.Pid());
    EXPECT_TRUE(Enumerated(pid));
    auto handle = ProcessHandle::Open(pid);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->BaseName(), "a?b?c)|d");
    EXPECT_EQ(handle->FilePath(), dir / "a?b?c)|d");
    const Result<ProcessTimes> times = handle->GetTimes();
    ASSERT_TRUE(times); // the stat line parses despite the name
    EXPECT_NE(times->creation, 0u);
    EXPECT_EQ(times->exit, 0u);
}

TEST(ProcessServices, DeletedExecutableKeepsItsName)
{
    TempDir dir;
    const std::string copy = dir / "sleep copy";
    std::filesystem::copy_file(kSleep, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    ChildProcess child;
    ASSERT_TRUE(child.Start({copy, "1000"}));
    std::filesystem::remove(copy);

    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->BaseName(), "sleep copy");
    EXPECT_EQ(handle->FilePath(), copy);
}

// Another user's executable link is closed to a process without CAP_SYS_PTRACE: the name
// comes from the kernel's command name and the path stays empty.
TEST(ProcessServices, UnreadableExecutableFallsBackToTheCommandName)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";
    ChildProcess child;
    ASSERT_TRUE(StartSleep(child, BecomeNobody)) << "cannot switch a child to uid " << kNobody;
    const auto pid = static_cast<std::uint32_t>(child.Pid());

    const int result = ChildProcess::RunInHelper([pid] {
        Result<platform::caps::CapabilitySets> sets = platform::caps::GetCapabilities();
        if (!sets)
            return 10;
        sets->effective &= ~platform::caps::Bit(CAP_SYS_PTRACE);
        if (!platform::caps::SetCapabilities(*sets))
            return 11;
        auto handle = ProcessHandle::Open(pid);
        if (!handle)
            return 12;
        if (handle->BaseName() != "sleep")
            return 13;
        if (!handle->FilePath().empty())
            return 14;
        return 0;
    });
    EXPECT_EQ(result, 0);
}

// Kernel threads are folded into kthreadd: not listed once met, and counted in its times.
TEST(ProcessServices, KernelThreadsAreFoldedIntoKthreadd)
{
    std::string text;
    auto kthreadd = StatOf(2, text);
    if (!kthreadd || !(kthreadd->flags & platform::procfs::kPfKthread))
        GTEST_SKIP() << "no kernel threads visible (pid namespace)";

    const Result<std::vector<std::uint32_t>> pids = platform::EnumProcesses();
    ASSERT_TRUE(pids);
    platform::ProcessListing listing;
    ASSERT_TRUE(listing.Update());
    std::uint32_t thread = 0;
    std::uint64_t threadTicks = 0;
    for (auto pid : *pids) {
        auto stat = StatOf(pid, text);
        if (pid != 2 && stat && (stat->flags & platform::procfs::kPfKthread)) {
            thread = pid;
            threadTicks = stat->utime + stat->stime;
            break;
        }
    }
    if (thread == 0)
        GTEST_SKIP() << "no kernel thread besides kthreadd";

    EXPECT_EQ(ProcessHandle::Open(thread), nullptr);
    EXPECT_FALSE(Enumerated(thread));
    ASSERT_TRUE(listing.Update()); // a list kept since leaves it out as well
    EXPECT_EQ(std::count(listing.Pids().begin(), listing.Pids().end(), thread), 0);
    EXPECT_TRUE(Enumerated(2));

    auto handle = ProcessHandle::Open(2);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->BaseName(), "unknown");
    EXPECT_EQ(handle->FilePath(), "");
    const Result<ProcessTimes> times = handle->GetTimes();
    ASSERT_TRUE(times);
    EXPECT_EQ(times->exit, 0u);
    EXPECT_NE(times->creation, 0u);
    EXPECT_GE(times->user + times->kernel, threadTicks * 10'000'000 / sysconf(_SC_CLK_TCK));
    EXPECT_EQ(handle->DescriptorCount(), 2);

    const Result<ProcessTimes> again = handle->GetTimes();
    ASSERT_TRUE(again);
    EXPECT_GE(again->user + again->kernel, times->user + times->kernel); // never goes back
}

std::string CommOf(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(file, name);
    return name;
}

// Short of descriptors a handle keeps none and reads by path; it must serve in every way the
// handle with kept descriptors does: name, path, times, a new program, the kill, the zombie.
class HandleKinds : public ::testing::TestWithParam<rlim_t> {};

TEST_P(HandleKinds, ServeTheWholeLifeOfAProcess)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    if (GetParam() != 0)
        lowered.rlim_cur = std::min(GetParam(), saved.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    struct Restore {
        rlimit limit;
        ~Restore() { setrlimit(RLIMIT_NOFILE, &limit); }
    } restore{saved};

    int go[2];
    ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
    ChildProcess child; // a shell that waits for a line, then becomes sleep
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "read x; exec " + kSleep + " 1000"},
                            [&] { return dup2(go[0], 0) == 0; }));
    close(go[0]);
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->DescriptorCount(), GetParam() == 0 ? 4 : 0);
    if (GetParam() != 0) {
        EXPECT_TRUE(platform::DescriptorsRanShort());
    }
    const std::string shell = std::filesystem::canonical("/bin/sh").string();
    EXPECT_EQ(handle->FilePath(), shell);
    EXPECT_EQ(handle->ExecutableDiffers(shell).value_or(true), false);
    EXPECT_FALSE(handle->CommandNameChanged());
    Result<ProcessTimes> times = handle->GetTimes();
    ASSERT_TRUE(times);
    EXPECT_EQ(times->exit, 0u);

    ASSERT_EQ(write(go[1], "\n", 1), 1);
    close(go[1]);
    for (int i = 0; i < 500 && CommOf(child.Pid()) != "sleep"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(handle->CommandNameChanged());
    EXPECT_FALSE(handle->CommandNameChanged()); // told once
    EXPECT_EQ(handle->BaseName(), "sleep");
    EXPECT_EQ(handle->ExecutableDiffers(shell).value_or(false), true);
    EXPECT_EQ(handle->ExecutableDiffers(kSleep).value_or(true), false);
    const platform::FileTime seen = platform::GetSystemTimeAsFileTime();
    handle->BeganProgram(seen);
    times = handle->GetTimes();
    ASSERT_TRUE(times);
    EXPECT_EQ(times->creation, seen);

    EXPECT_TRUE(handle->Kill());
    ASSERT_TRUE(child.WaitEnded(5000)); // a zombie until reaped below
    times = handle->GetTimes();
    ASSERT_TRUE(times);
    EXPECT_TRUE(handle->HasEnded());
    EXPECT_NE(times->exit, 0u);
    EXPECT_EQ(handle->DescriptorCount(), 0);
    EXPECT_EQ(handle->Kill().error(), std::errc::no_such_process);
    EXPECT_FALSE(handle->ExecutableDiffers(kSleep).has_value());
    const int status = child.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

// 0: the limit as it is; 64: all of it left to the rest of the program.
INSTANTIATE_TEST_SUITE_P(KeptAndByPath, HandleKinds, ::testing::Values(rlim_t{0}, rlim_t{64}));

TEST(ProcessServices, SystemTimeAndFileLimit)
{
    const auto now = static_cast<std::int64_t>(platform::GetSystemTimeAsFileTime());
    const auto expected = static_cast<std::int64_t>(platform::kUnixEpochAsFileTime) +
                          static_cast<std::int64_t>(time(nullptr)) * 10'000'000;
    EXPECT_LT(std::llabs(now - expected), 20'000'000);

    ASSERT_TRUE(platform::RaiseFileLimit());
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY) {
        EXPECT_EQ(limit.rlim_cur, limit.rlim_max);
    }
}

} // namespace
