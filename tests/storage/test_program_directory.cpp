#include "storage/ProgramDirectory.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using storage_test::ScopedEnv;
using storage_test::TempDir;
using storage_test::WriteBytes;

namespace {

struct CutCase {
    const char* argv0;
    std::optional<std::string> directory;
};

class ProgramPathCut : public ::testing::TestWithParam<CutCase> {};

// An installed layout under `root`: <root>/bin and <root>/share/orvane/OrvaneHelp.html.
std::string MakeInstalledLayout(const std::string& root)
{
    std::filesystem::create_directories(root + "/bin");
    std::filesystem::create_directories(root + "/share/orvane");
    WriteBytes(root + "/share/orvane/OrvaneHelp.html", "<html></html>");
    return root + "/bin";
}

} // namespace

TEST_P(ProgramPathCut, CutsAtTheLastSlash)
{
    EXPECT_EQ(DirectoryOfProgramPath(GetParam().argv0), GetParam().directory);
}

INSTANTIATE_TEST_SUITE_P(Paths, ProgramPathCut,
                         ::testing::Values(CutCase{"/opt/x/orvane", "/opt/x"},
                                           CutCase{"/orvane", ""},
                                           CutCase{"./orvane", "."},
                                           CutCase{"a b/(c)/orvane", "a b/(c)"},
                                           CutCase{"orvane", std::nullopt},
                                           CutCase{"", std::nullopt}),
                         [](const auto& c) { return "Case" + std::to_string(c.index); });

TEST(ProgramDirectory, FilesOfTheRootDirectory)
{
    EXPECT_EQ(ProgramFilePath("", kEventLogFile), "/Logs.log");
    EXPECT_EQ(ProgramFilePath("/opt/x", kDisabledListFile), "/opt/x/BlackList.log");
    EXPECT_EQ(ProgramFilePath("/opt/x", kSettingsFile), "/opt/x/Settings.dat");
}

TEST(ProgramDirectory, WritableCopyKeepsItsFilesBesideItself)
{
    TempDir dir;
    TempDir data;
    ScopedEnv xdg("XDG_DATA_HOME", data.Path().c_str());

    EXPECT_EQ(FindProgramDirectory(dir.Path() + "/orvane"), dir.Path());
    EXPECT_EQ(FindProgramDirectory("orvane", dir.Path()), dir.Path()) << "started through PATH";
    EXPECT_FALSE(std::filesystem::exists(data.File("orvane")));
}

TEST(ProgramDirectory, StartedThroughPathUsesTheRunningExecutable)
{
    EXPECT_EQ(ExecutableDirectory(), std::filesystem::canonical(TEST_BINARY_DIR).string());
    TempDir data;
    ScopedEnv xdg("XDG_DATA_HOME", data.Path().c_str());
    // A build tree the tests may not write to (the run as another user) counts as installed.
    const bool writable = access(ExecutableDirectory().c_str(), W_OK) == 0;
    EXPECT_EQ(FindProgramDirectory("test_storage"), writable ? ExecutableDirectory() : data.File("orvane"));
}

TEST(ProgramDirectory, InstalledCopyUsesTheUserDataDirectory)
{
    TempDir prefix;
    TempDir data;
    const std::string bin = MakeInstalledLayout(prefix.Path());

    {
        ScopedEnv xdg("XDG_DATA_HOME", (data.Path() + "/deep/er/").c_str());
        EXPECT_EQ(FindProgramDirectory(bin + "/orvane"), data.Path() + "/deep/er/orvane");
        EXPECT_TRUE(std::filesystem::is_directory(data.Path() + "/deep/er/orvane"));
        EXPECT_EQ(FindProgramDirectory("orvane", bin), data.Path() + "/deep/er/orvane");
    }
    {
        // Without XDG_DATA_HOME (or with a relative one, which does not count) the default
        // under the home directory.
        ScopedEnv xdg("XDG_DATA_HOME", "relative/dir");
        ScopedEnv home("HOME", data.Path().c_str());
        EXPECT_EQ(FindProgramDirectory(bin + "/orvane"), data.Path() + "/.local/share/orvane");
        EXPECT_TRUE(std::filesystem::is_directory(data.Path() + "/.local/share/orvane"));
    }
}

TEST(ProgramDirectory, UnwritableDirectoryUsesTheUserDataDirectory)
{
    TempDir dir;
    TempDir data;
    const std::string locked = dir.File("locked");
    std::filesystem::create_directory(locked);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(data.Path().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ScopedEnv xdg("XDG_DATA_HOME", data.Path().c_str());

    if (::geteuid() != 0) {
        EXPECT_EQ(FindProgramDirectory(locked + "/orvane"), data.File("orvane"));
        return;
    }
    // Permissions do not bind root: ask as an unprivileged user in a child process.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        const std::string found = FindProgramDirectory(locked + "/orvane");
        ssize_t ignored = ::write(fds[1], found.data(), found.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string found;
    char chunk[512];
    for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;)
        found.append(chunk, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "cannot drop to an unprivileged user to test permissions";
    EXPECT_EQ(found, data.File("orvane"));
    EXPECT_TRUE(std::filesystem::is_directory(data.File("orvane")));
}

// Messages name the files by their full path, whatever path the program was started by.
TEST(ProgramDirectory, RelativeStartGivesAnAbsoluteDirectory)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("sub"));
    const std::string real = std::filesystem::canonical(dir.Path()).string();
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const std::pair<const char*, std::string> cases[] = {
        {"./orvane", real},
        {"orvane-dir/../sub/orvane", real + "/sub"},
        {"sub/orvane", real + "/sub"},
        {"sub//./orvane", real + "/sub"},
    };
    std::filesystem::create_directory(dir.File("orvane-dir"));
    for (const auto& [argv0, expected] : cases)
        EXPECT_EQ(FindProgramDirectory(argv0), expected) << argv0;
    std::filesystem::current_path(saved);
}

// The user's data directory that cannot be created is still where the files are looked for,
// and the reason comes with it for the start-up to tell.
TEST(ProgramDirectory, DataDirectoryThatCannotBeCreatedSaysWhy)
{
    TempDir prefix;
    TempDir data;
    const std::string bin = MakeInstalledLayout(prefix.Path());
    WriteBytes(data.File("file"), "");
    {
        ScopedEnv xdg("XDG_DATA_HOME", data.File("file").c_str());
        const DirectoryChoice choice = ChooseProgramDirectory(bin + "/orvane");
        EXPECT_EQ(choice.path, data.File("file") + "/orvane");
        EXPECT_EQ(choice.notCreated, std::errc::not_a_directory);
    }
    ScopedEnv xdg("XDG_DATA_HOME", data.Path().c_str());
    EXPECT_EQ(ChooseProgramDirectory(bin + "/orvane").notCreated, std::error_code());
}
