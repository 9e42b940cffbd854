// KillProcess against real processes, including one of another user that only CAP_KILL may
// signal.

#include "monitor/KillProcess.h"
#include "platform/linux/Capabilities.h"

#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <linux/capability.h>

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
    KillProcess(handle.get(), true);
    ASSERT_TRUE(child.WaitEnded(5000));
    EXPECT_TRUE(KilledBySigkill(child.Wait()));
}

TEST(KillProcess, NullOrEndedHandleIsLeftAlone)
{
    KillProcess(nullptr, true);

    ChildProcess child;
    ASSERT_TRUE(child.Start({kSleep, "1000"}));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    child.Stop();
    platform::ProcessTimes times;
    ASSERT_TRUE(handle->GetTimes(times));
    ASSERT_TRUE(handle->HasEnded());
    KillProcess(handle.get(), true); // nothing to do, nothing reported
    KillProcess(handle.get(), false);

    // An ended handle whose process the program never saw end: still nothing.
    auto ended = ProcessHandle::Ended(static_cast<std::uint32_t>(getpid()), times);
    KillProcess(ended.get(), true);
    SUCCEED(); // this process is still here
}

TEST(KillProcess, ReapedButUnnoticedProcessIsNotRetried)
{
    ChildProcess child;
    ASSERT_TRUE(child.Start({kSleep, "1000"}));
    auto handle = ProcessHandle::Open(static_cast<std::uint32_t>(child.Pid()));
    ASSERT_NE(handle, nullptr);
    child.Stop(); // the handle has not read its times since
    EXPECT_FALSE(handle->Kill());
    KillProcess(handle.get(), true);
}

// A process of another user, signalled from a helper whose CAP_KILL is arranged per case.
struct OtherUserCase {
    const char* label;
    bool permitted; // CAP_KILL left in the helper's permitted set (never in its effective set)
    bool bNT;
    bool killed;
};

std::ostream& operator<<(std::ostream& out, const OtherUserCase& c) { return out << c.label; }

class KillOtherUser : public testing::TestWithParam<OtherUserCase> {};

TEST_P(KillOtherUser, RetriesWithCapKillOnlyWhenPermitted)
{
    const OtherUserCase& c = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";
    caps::CapabilitySets own;
    ASSERT_TRUE(caps::GetCapabilities(own));
    if (!(own.permitted & caps::Bit(CAP_KILL)))
        GTEST_SKIP() << "CAP_KILL is not in this process's permitted set";

    ChildProcess target;
    ASSERT_TRUE(target.Start({kSleep, "1000"}, [] {
        return setresgid(kNobody, kNobody, kNobody) == 0 &&
               setresuid(kNobody, kNobody, kNobody) == 0;
    })) << "cannot switch a child to uid " << kNobody;
    const auto pid = static_cast<std::uint32_t>(target.Pid());

    // Exit codes: 0 fine, 1 the effective set differs afterwards, 2 the first attempt was
    // not refused, 10+ set-up failures.
    const int helper = ChildProcess::RunInHelper([pid, c] {
        caps::CapabilitySets sets;
        if (!caps::GetCapabilities(sets))
            return 10;
        sets.effective &= ~caps::Bit(CAP_KILL);
        if (!c.permitted)
            sets.permitted &= ~caps::Bit(CAP_KILL);
        if (!caps::SetCapabilities(sets))
            return 11;
        auto handle = ProcessHandle::Open(pid);
        if (!handle)
            return 12;
        if (handle->Kill(false))
            return 2;
        caps::CapabilitySets before, after;
        caps::GetCapabilities(before);
        KillProcess(handle.get(), c.bNT);
        caps::GetCapabilities(after);
        return before.effective == after.effective && before.permitted == after.permitted ? 0 : 1;
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
    testing::Values(OtherUserCase{"NotPermitted", false, true, false},
                    OtherUserCase{"PermittedNotEffective", true, true, true},
                    OtherUserCase{"PermittedButNotNT", true, false, false}),
    [](const testing::TestParamInfo<OtherUserCase>& c) { return std::string(c.param.label); });

} // namespace
