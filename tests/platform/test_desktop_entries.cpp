// Icon names from desktop entries written to a temporary directory.

#include "linux/DesktopEntryIndex.h"
#include "platform/ProcessServices.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

using platform::DesktopEntryIndex;
namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, const std::string& text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void WriteProgram(const std::string& path)
{
    WriteFile(path, "#!/bin/sh\n");
    fs::permissions(path, fs::perms::owner_all);
}

std::string Entry(const std::string& body) { return "[Desktop Entry]\nType=Application\n" + body; }

class DesktopEntries : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir.Path().empty());
        bin = dir / "bin";
        user = dir / "user/applications";
        system = dir / "system/applications";
        for (const char* name : {"tool", "bare", "tried", "env-run", "with blank", "real", "both",
                                 "hidden", "link-type", "action"})
            WriteProgram(bin + "/" + name);
        fs::create_symlink(bin + "/real", bin + "/alias");
    }

    DesktopEntryIndex Index() const { return DesktopEntryIndex({user, system}, {bin}); }

    TempDir dir;
    std::string bin, user, system;
};

TEST_F(DesktopEntries, FindsTheEntryThatStartsTheExecutable)
{
    WriteFile(user + "/tool.desktop", Entry("Icon=tool-icon\nExec=" + bin + "/tool --new %U\n"));
    WriteFile(system + "/bare.desktop", Entry("Exec = bare %f\nIcon = bare-icon\n"));
    WriteFile(system + "/tried.desktop", Entry("TryExec=tried\nExec=launcher tried\nIcon=tried-icon\n"));
    WriteFile(system + "/env.desktop", Entry("Exec=env LANG=C A=1 env-run --x\nIcon=env-icon\n"));
    WriteFile(system + "/blank.desktop",
              Entry("Exec=\"" + bin + "/with blank\" %u\nIcon=/icons/blank\\s1.png\n"));
    WriteFile(system + "/alias.desktop", Entry("Exec=alias\nIcon=real-icon\n"));
    WriteFile(system + "/sub/nested.desktop", Entry("Exec=both\nIcon=nested-icon\n"));

    DesktopEntryIndex index = Index();
    EXPECT_EQ(index.Find(bin + "/tool"), "tool-icon");
    EXPECT_EQ(index.Find(bin + "/bare"), "bare-icon");
    EXPECT_EQ(index.Find(bin + "/tried"), "tried-icon");
    EXPECT_EQ(index.Find(bin + "/env-run"), "env-icon");
    EXPECT_EQ(index.Find(bin + "/with blank"), "/icons/blank 1.png");
    EXPECT_EQ(index.Find(bin + "/real"), "real-icon"); // as /proc shows it: links resolved
    EXPECT_EQ(index.Find(bin + "/both"), "nested-icon");
    EXPECT_EQ(index.Find(bin + "/nothing"), "");
    EXPECT_EQ(index.Find(""), "");
}

TEST_F(DesktopEntries, EarlierDirectoriesTakePrecedence)
{
    WriteFile(user + "/same.desktop", Entry("Exec=tool\nIcon=user-icon\n"));
    WriteFile(system + "/same.desktop", Entry("Exec=tool\nIcon=system-icon\n"));
    WriteFile(user + "/hidden.desktop", "[Desktop Entry]\nHidden=true\n");
    WriteFile(system + "/hidden.desktop", Entry("Exec=hidden\nIcon=hidden-icon\n"));
    WriteFile(system + "/other.desktop", Entry("Exec=tool\nIcon=later-icon\n"));

    DesktopEntryIndex index = Index();
    EXPECT_EQ(index.Find(bin + "/tool"), "user-icon");
    EXPECT_EQ(index.Find(bin + "/hidden"), "");
}

TEST_F(DesktopEntries, OnlyTheMainGroupOfApplicationsCounts)
{
    WriteFile(system + "/link.desktop",
              "[Desktop Entry]\nType=Link\nExec=link-type\nIcon=link-icon\n");
    WriteFile(system + "/action.desktop",
              Entry("Icon=main-icon\nExec=tool\n[Desktop Action new]\nExec=action\nIcon=x\n"));
    WriteFile(system + "/broken.desktop", std::string("\0\xff[Desktop Entry\nExec", 20));
    WriteFile(system + "/noicon.desktop", Entry("Exec=bare\n"));
    WriteFile(system + "/notes.txt", Entry("Exec=both\nIcon=txt-icon\n"));

    DesktopEntryIndex index = Index();
    EXPECT_EQ(index.Find(bin + "/link-type"), "");
    EXPECT_EQ(index.Find(bin + "/action"), "");
    EXPECT_EQ(index.Find(bin + "/tool"), "main-icon");
    EXPECT_EQ(index.Find(bin + "/bare"), "");
    EXPECT_EQ(index.Find(bin + "/both"), "");
}

TEST(DesktopEntryExec, FirstWordUnquoted)
{
    EXPECT_EQ(DesktopEntryIndex::ExecProgram("foo --bar %U"), "foo");
    EXPECT_EQ(DesktopEntryIndex::ExecProgram("  \"/opt/my app/run\" %f"), "/opt/my app/run");
    EXPECT_EQ(DesktopEntryIndex::ExecProgram("\"/opt/a\\\"b\""), "/opt/a\"b");
    EXPECT_EQ(DesktopEntryIndex::ExecProgram("env A=1 B=2 prog"), "prog");
    EXPECT_EQ(DesktopEntryIndex::ExecProgram("/usr/bin/env A=1"), "");
    EXPECT_EQ(DesktopEntryIndex::ExecProgram(""), "");
}

// The process-wide lookup reads the directories named by the environment, once, and answers
// from several threads at once.
TEST_F(DesktopEntries, FindIconNameUsesTheXdgDirectories)
{
    WriteFile(dir / "home/applications/tool.desktop", Entry("Exec=tool\nIcon=home-icon\n"));
    WriteFile(system + "/bare.desktop", Entry("Exec=bare\nIcon=bare-icon\n"));
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    setenv("XDG_DATA_HOME", (dir / "home").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir / "system").c_str(), 1);
    setenv("PATH", bin.c_str(), 1);
    platform::FindIconName(bin + "/tool"); // reads the entries now, with this environment
    setenv("PATH", path.c_str(), 1);

    std::vector<std::thread> threads;
    std::vector<std::string> found(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] { found[i] = platform::FindIconName(bin + (i % 2 ? "/tool" : "/bare")); });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(found[i], i % 2 ? "home-icon" : "bare-icon");
    EXPECT_EQ(platform::FindIconName(bin + "/real"), "");
    EXPECT_EQ(platform::FindIconName(""), "");
}

} // namespace
