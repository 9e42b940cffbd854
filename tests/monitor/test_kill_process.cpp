// KillProcess against real processes, including one of another user that only CAP_KILL may
// signal.

#include "KillProcess.h"
#include "linux/Capabilities.h"

#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <linux/capability.h>
#include <thread>

using platform::ProcessHandle;
namespace caps = platform::caps;

namespace {

const std::string kSleep = std::filesystem::canonical("/bin/sleep").string();
constexpr std::uint32_t kNobody = 65534;

bool KilledBySigkill(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

TEST(KillProcess, KillsThroughTheHandle)
{
    ChildProcess child;
    ASSERT_TRUE(child.Start({kSleep, "1000"}));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    EXPECT_FALSE(KillProcess(handle.get()).error());
    ASSERT_TRUE(child.WaitEnded(5000));
    EXPECT_TRUE(KilledBySigkill(child.Wait()));
}

TEST(KillProcess, NullOrEndedHandleIsLeftAlone)
{
    EXPECT_FALSE(KillProcess(nullptr).error());

    ChildProcess child;
    ASSERT_TRUE(child.Start({kSleep, "1000"}));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    child.Stop();
    ASSERT_TRUE(handle->GetTimes());
    ASSERT_TRUE(handle->HasEnded());
    EXPECT_FALSE(KillProcess(handle.get()).error()); // nothing to do, nothing reported
}

TEST(KillProcess, ReapedButUnnoticedProcessIsNotRetried)
{
    ChildProcess child;
    ASSERT_TRUE(child.Start({kSleep, "1000"}));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    child.Stop(); // the handle has not read its times since
    EXPECT_EQ(handle->Kill().error(), std::errc::no_such_process);
    EXPECT_FALSE(KillProcess(handle.get()).error());
}

// A process of another user, signalled from a helper whose CAP_KILL is arranged per case.
struct OtherUserCase {
    const char* label;
    bool permitted; // CAP_KILL left in the helper's permitted set (never in its effective set)
    bool killed;
};

std::ostream& operator<<(std::ostream& out, const OtherUserCase& c) { return out << c.label; }

class KillOtherUser : public testing::TestWithParam<OtherUserCase> {};

TEST_P(KillOtherUser, RetriesWithCapKillOnlyWhenPermitted)
{
    const OtherUserCase& c = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";
    const Result<caps::CapabilitySets> own = caps::GetCapabilities();
    ASSERT_TRUE(own);
    if (!(own->permitted & caps::Bit(CAP_KILL)))
        GTEST_SKIP() << "CAP_KILL is not in this process's permitted set";

    ChildProcess target;
    ASSERT_TRUE(target.Start({kSleep, "1000"}, [] {
        return setresgid(kNobody, kNobody, kNobody) == 0 &&
               setresuid(kNobody, kNobody, kNobody) == 0;
    })) << "cannot switch a child to uid " << kNobody;
    const auto pid = static_cast<std::uint32_t>(target.Pid());

    // Exit codes: 0 fine, 1 the effective set differs afterwards, 3 a privilege failure
    // reported, 10+ set-up failures.
    const int helper = ChildProcess::RunInHelper([pid, c] {
        Result<caps::CapabilitySets> sets = caps::GetCapabilities();
        if (!sets)
            return 10;
        sets->effective &= ~caps::Bit(CAP_KILL);
        if (!c.permitted)
            sets->permitted &= ~caps::Bit(CAP_KILL);
        if (!caps::SetCapabilities(*sets))
            return 11;
        auto handle = ProcessHandle::Open(pid);
        if (!handle)
            return 12;
        const Result<caps::CapabilitySets> before = caps::GetCapabilities();
        if (KillProcess(handle.get()).error())
            return 3;
        const Result<caps::CapabilitySets> after = caps::GetCapabilities();
        if (!before || !after)
            return 13;
        return before->effective == after->effective && before->permitted == after->permitted ? 0 : 1;
    });
    ASSERT_EQ(helper, 0);

    if (c.killed) {
        ASSERT_TRUE(target.WaitEnded(5000));
        EXPECT_TRUE(KilledBySigkill(target.Wait()));
    } else {
        EXPECT_FALSE(target.WaitEnded(200));
    }
}

INSTANTIATE_TEST_SUITE_P(
    CapKill, KillOtherUser,
    testing::Values(OtherUserCase{"NotPermitted", false, false},
                    OtherUserCase{"PermittedNotEffective", true, true}),
    [](const testing::TestParamInfo<OtherUserCase>& c) { return std::string(c.param.label); });

// The privileged retry when CAP_KILL cannot be dropped again afterwards, the capset calls
// failed on purpose through the fault-injection hook: call 1 raises, call 2 restores, call 3
// gives up every capability of the thread.
struct RestoreCase {
    const char* label;
    caps::CapsetFault fault;
    platform::PrivilegeError error;
    bool capKillLeft; // CAP_KILL still effective in the thread afterwards
};

std::ostream& operator<<(std::ostream& out, const RestoreCase& c) { return out << c.label; }

class RestoreFails : public testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreFails, IsReportedAndNoCapabilityIsRaisedAgain)
{
    const RestoreCase& c = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";
    const Result<caps::CapabilitySets> own = caps::GetCapabilities();
    ASSERT_TRUE(own);
    if (!(own->permitted & caps::Bit(CAP_KILL)))
        GTEST_SKIP() << "CAP_KILL is not in this process's permitted set";
    ChildProcess first, second;
    auto nobody = [] {
        return setresgid(kNobody, kNobody, kNobody) == 0 && setresuid(kNobody, kNobody, kNobody) == 0;
    };
    ASSERT_TRUE(first.Start({kSleep, "1000"}, nobody));
    ASSERT_TRUE(second.Start({kSleep, "1000"}, nobody));
    const auto firstPid = static_cast<std::uint32_t>(first.Pid());
    const auto secondPid = static_cast<std::uint32_t>(second.Pid());

    // Exit codes: 0 fine, 1 no error or another, 2 the calling thread's capability sets are
    // not as expected afterwards, 3 another thread's kill failed to drop a capability (it must
    // not raise one), 4 that thread kept capabilities, 10+ set-up failures.
    const int helper = ChildProcess::RunInHelper([&] {
        Result<caps::CapabilitySets> sets = caps::GetCapabilities();
        if (!sets)
            return 10;
        sets->effective &= ~caps::Bit(CAP_KILL);
        if (!caps::SetCapabilities(*sets))
            return 11;
        auto handle = ProcessHandle::Open(firstPid);
        auto later = ProcessHandle::Open(secondPid);
        if (!handle || !later)
            return 12;
        // A thread made before the failure, with CAP_KILL in its permitted set as the program's
        // other thread has it, kills afterwards.
        std::latch failed(1);
        int otherThread = 0;
        std::thread other([&] {
            failed.wait();
            const Result<> again = KillProcess(later.get());
            const caps::CapabilitySets mine = caps::GetCapabilities().value_or({});
            otherThread = again.error() ? 3 : (mine.permitted | mine.effective) != 0 ? 4 : 0;
        });
        caps::SetCapsetFaultForTesting(c.fault);
        const Result<> killed = KillProcess(handle.get());
        caps::SetCapsetFaultForTesting(nullptr);
        const caps::CapabilitySets after = caps::GetCapabilities().value_or({});
        failed.count_down();
        other.join();
        if (killed.error() != c.error)
            return 1;
        const bool capKill = after.effective & caps::Bit(CAP_KILL);
        if (capKill != c.capKillLeft || (!c.capKillLeft && (after.permitted | after.effective) != 0))
            return 2;
        return otherThread;
    });
    ASSERT_EQ(helper, 0);
    ASSERT_TRUE(first.WaitEnded(5000)) << "the privileged attempt itself went through";
    EXPECT_TRUE(KilledBySigkill(first.Wait()));
    EXPECT_FALSE(second.WaitEnded(200));
}

INSTANTIATE_TEST_SUITE_P(
    CapKill, RestoreFails,
    testing::Values(RestoreCase{"EverythingGivenUp", [](unsigned call) { return call == 2 ? EPERM : 0; },
                                platform::PrivilegeError::GivenUp, false},
                    RestoreCase{"NothingDropped", [](unsigned call) { return call >= 2 ? EPERM : 0; },
                                platform::PrivilegeError::StillRaised, true}),
    [](const testing::TestParamInfo<RestoreCase>& c) { return std::string(c.param.label); });

} // namespace
