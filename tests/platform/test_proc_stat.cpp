#include "platform/ProcessServices.h"
#include "platform/ProcStat.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

using platform::procfs::ParseProcStat;

namespace {

// Fields (3) to (22) and a few after them, as the kernel writes them for a sleeping process:
// state S, ppid 1, flags 4194304, utime 7, stime 3, starttime 33922; field (8) is -1.
constexpr const char* kTail =
    " S 1 42 42 0 -1 4194304 130 0 0 0 7 3 0 0 20 0 1 0 33922 2990080 426"
    " 18446744073709551615 1 1 0 0 0 0 0 4096 1256 0 0 0 17 1 0 0 0 0 0\n";

struct StatCase {
    const char* label;
    std::string text;
    std::optional<std::string> comm; // nothing: the line must be refused
};

std::ostream& operator<<(std::ostream& out, const StatCase& c) { return out << c.label; }

class ParseProcStatTest : public testing::TestWithParam<StatCase> {};

TEST_P(ParseProcStatTest, ReadsFromTheLastParenthesis)
{
    const StatCase& c = GetParam();
    auto stat = ParseProcStat(c.text);
    if (!c.comm) {
        EXPECT_FALSE(stat.has_value());
        return;
    }
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(stat->comm, *c.comm);
    EXPECT_EQ(stat->state, 'S');
    EXPECT_EQ(stat->ppid, 1);
    EXPECT_EQ(stat->flags, 4194304u);
    EXPECT_EQ(stat->utime, 7u);
    EXPECT_EQ(stat->stime, 3u);
    EXPECT_EQ(stat->starttime, 33922u);
}

std::string Line(const std::string& head) { return head + kTail; }

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ParseProcStatTest,
    testing::Values(
        StatCase{"plain", Line("42 (sleep)"), "sleep"},
        StatCase{"parentheses in the name", Line("42 (a) b) (c)"), "a) b) (c"},
        StatCase{"blanks in the name", Line("42 (Web Content)"), "Web Content"},
        StatCase{"name that imitates fields", Line("42 (x) S 9 9 9 9)"), "x) S 9 9 9 9"},
        StatCase{"empty name", Line("42 ()"), ""},
        StatCase{"newline in the name", Line("42 (a\nb)"), "a\nb"},
        StatCase{"pipe and tab in the name", Line("42 (a|b\tc)"), "a|b\tc"},
        StatCase{"no newline at the end", std::string("42 (a)") + " S 1 42 42 0 -1 4194304 130"
                 " 0 0 0 7 3 0 0 20 0 1 0 33922 2990080", "a"},
        StatCase{"truncated after field 10", "42 (a) S 1 42 42 0 -1 4194304 130", std::nullopt},
        StatCase{"cut inside field 22",
                 "42 (a) S 1 42 42 0 -1 4194304 130 0 0 0 7 3 0 0 20 0 1 0 339", std::nullopt},
        StatCase{"empty", "", std::nullopt},
        StatCase{"garbage", "hello world", std::nullopt},
        StatCase{"no closing parenthesis", "42 (sleep S 1 2 3", std::nullopt},
        StatCase{"no pid", Line("(sleep)"), std::nullopt},
        StatCase{"pid not a number", Line("4x2 (sleep)"), std::nullopt},
        StatCase{"field not a number",
                 "42 (a) S 1 42 42 0 -1 4194304 130 0 0 0 7x 3 0 0 20 0 1 0 33922 1 ",
                 std::nullopt},
        StatCase{"two blanks between fields",
                 "42 (a) S  1 42 42 0 -1 4194304 130 0 0 0 7 3 0 0 20 0 1 0 33922 1 ",
                 std::nullopt},
        StatCase{"state of two letters",
                 "42 (a) SS 1 42 42 0 -1 4194304 130 0 0 0 7 3 0 0 20 0 1 0 33922 1 ",
                 std::nullopt}),
    [](const testing::TestParamInfo<StatCase>& p) {
        std::string name;
        for (const char* c = p.param.label; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST(ParseProcStat, ReadsThisProcess)
{
    std::ifstream file("/proc/self/stat");
    std::stringstream text;
    text << file.rdbuf();
    auto stat = ParseProcStat(text.str());
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(stat->pid, static_cast<std::uint32_t>(getpid()));
    EXPECT_EQ(stat->ppid, getppid());
    EXPECT_EQ(stat->state, 'R');
    EXPECT_GT(stat->starttime, 0u);
    EXPECT_EQ(stat->flags & platform::procfs::kPfKthread, 0u);
}

} // namespace

// The mark of /proc/loadavg: the task count after the slash, the last identifier after it.
TEST(ParseTaskMark, ReadsTasksAndLastIdentifier)
{
    struct Case {
        const char* text;
        std::optional<platform::TaskMark> mark;
    };
    const Case cases[] = {
        {"0.00 0.01 0.05 1/234 5678\n", platform::TaskMark{5678, 234}},
        {"12.50 9.03 4.00 17/4194304 4194303", platform::TaskMark{4194303, 4194304}},
        {"0.00 0.01 0.05 1/234\n", std::nullopt},
        {"0.00 0.01 0.05 1234 5678\n", std::nullopt},
        {"0.00 0.01 0.05 1/x 5678\n", std::nullopt},
        {"0.00 0.01 0.05 1/234 99999999999\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ParseTaskMark(c.text), c.mark) << c.text;

    std::ifstream file("/proc/loadavg");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_TRUE(platform::ParseTaskMark(text.str())) << text.str();
}
