// What /proc shows of other users' processes, read from mountinfo lines.

#include "linux/ProcMount.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using platform::procfs::ParseProcMount;

namespace {

constexpr const char* kRoot = "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
constexpr const char* kPlainProc = "22 21 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n";

std::string ProcLine(const std::string& superOptions, const std::string& mountPoint = "/proc")
{
    return "66 22 0:40 / " + mountPoint + " rw,relatime shared:40 master:3 - proc proc " + superOptions + "\n";
}

struct MountCase {
    const char* label;
    std::string mountinfo;
    bool known;          // a proc is mounted at /proc
    bool hidesProcesses; // when known
    std::optional<std::uint32_t> gid;
};

std::ostream& operator<<(std::ostream& out, const MountCase& c) { return out << c.label; }

class ProcMountTest : public testing::TestWithParam<MountCase> {};

TEST_P(ProcMountTest, TellsWhetherOtherUsersProcessesAreHidden)
{
    const MountCase& c = GetParam();
    const auto options = ParseProcMount(c.mountinfo);
    ASSERT_EQ(options.has_value(), c.known);
    if (!options)
        return;
    EXPECT_EQ(options->hidesProcesses, c.hidesProcesses);
    EXPECT_EQ(options->gid, c.gid);
}

INSTANTIATE_TEST_SUITE_P(
    Mountinfo, ProcMountTest,
    testing::Values(
        MountCase{"Plain", std::string(kRoot) + kPlainProc, true, false, std::nullopt},
        MountCase{"Numbered", kRoot + ProcLine("rw,hidepid=2"), true, true, std::nullopt},
        MountCase{"Invisible", kRoot + ProcLine("rw,hidepid=invisible"), true, true, std::nullopt},
        MountCase{"NoAccess", kRoot + ProcLine("rw,hidepid=noaccess"), true, true, std::nullopt},
        MountCase{"Ptraceable", kRoot + ProcLine("rw,hidepid=ptraceable,subset=pid"), true, true, std::nullopt},
        MountCase{"Off", kRoot + ProcLine("rw,hidepid=off"), true, false, std::nullopt},
        MountCase{"Zero", kRoot + ProcLine("rw,hidepid=0"), true, false, std::nullopt},
        MountCase{"GroupExempt", kRoot + ProcLine("rw,gid=995,hidepid=invisible"), true, true, 995},
        MountCase{"BadGroup", kRoot + ProcLine("rw,hidepid=2,gid=x"), true, true, std::nullopt},
        MountCase{"LastMountOnTop", kRoot + std::string(kPlainProc) + ProcLine("rw,hidepid=2"), true, true, std::nullopt},
        MountCase{"PlainOnTop", kRoot + ProcLine("rw,hidepid=2") + kPlainProc, true, false, std::nullopt},
        MountCase{"ElsewhereOnly", kRoot + ProcLine("rw,hidepid=2", "/srv/jail/proc"), false, false, std::nullopt},
        MountCase{"BlankInMountPoint", kRoot + ProcLine("rw,hidepid=2", "/proc\\040x"), false, false, std::nullopt},
        MountCase{"OtherFilesystemAtProc", std::string(kRoot) + "70 22 0:50 / /proc rw - tmpfs tmpfs rw,hidepid=2\n",
                  false, false, std::nullopt},
        MountCase{"NoSeparator", std::string(kRoot) + "66 22 0:40 / /proc rw proc proc rw,hidepid=2\n", false,
                  false, std::nullopt},
        MountCase{"Empty", "", false, false, std::nullopt}),
    [](const testing::TestParamInfo<MountCase>& c) { return std::string(c.param.label); });

} // namespace
