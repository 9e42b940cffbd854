// The rules every write of the three files follows, tried with hostile or unlucky files:
// symbolic links of other users, FIFOs, a full disk, kills during a save and two copies of the
// program changing the disabled list in one folder.

#include "platform/FileIo.h"
#include "storage/CDataFile.h"
#include "storage/CDisabledList.h"
#include "storage/CEventLogFile.h"
#include "storage/LogFileAccess.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

using namespace std::string_literals;
using storage_test::ReadBytes;
using storage_test::TempDir;
using storage_test::WriteBytes;

namespace {

uid_t NobodyUid()
{
    const passwd* entry = ::getpwnam("nobody");
    return entry != nullptr ? entry->pw_uid : 65534;
}

// The three writers of the program, each writing "new" content to `path`.
bool WriteSettings(const std::string& path)
{
    CDataFile file;
    file.m_path = path;
    return SaveSettings(SettingsRecord{}, file).has_value();
}
bool WriteList(const std::string& path)
{
    CDisabledList list;
    list.m_path = path;
    return list.Add("new").has_value();
}
bool WriteLog(const std::string& path)
{
    CEventLogFile log;
    log.m_path = path;
    return log.Open() && log.Write("new\r\n");
}

struct LinkCase {
    const char* label;
    bool linkMine;
    bool targetMine;
};

class ForeignLinks : public ::testing::TestWithParam<LinkCase> {};

} // namespace

// A link is written through only when the link and its target are both the user's; otherwise
// the target keeps its bytes and the link stays where it pointed.
TEST_P(ForeignLinks, WrittenThroughOnlyWhenBothAreTheUsers)
{
    const LinkCase& c = GetParam();
    if ((!c.linkMine || !c.targetMine) && ::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file or a link to another user (chown)";
    for (bool (*write)(const std::string&) : {WriteSettings, WriteList, WriteLog}) {
        TempDir dir;
        const std::string target = dir.File("target");
        const std::string link = dir.File("link");
        WriteBytes(target, "precious");
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        if (!c.targetMine) {
            ASSERT_EQ(::chown(target.c_str(), NobodyUid(), NobodyUid()), 0);
        }
        if (!c.linkMine) {
            ASSERT_EQ(::lchown(link.c_str(), NobodyUid(), NobodyUid()), 0);
        }

        const bool followed = c.linkMine && c.targetMine;
        EXPECT_EQ(write(link), followed);
        EXPECT_EQ(ReadBytes(target) != "precious", followed);
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link), target);
    }
}

INSTANTIATE_TEST_SUITE_P(Owners, ForeignLinks,
                         ::testing::Values(LinkCase{"OwnLinkOwnFile", true, true},
                                           LinkCase{"OwnLinkOthersFile", true, false},
                                           LinkCase{"OthersLinkOwnFile", false, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.label); });

namespace {

// The three readers of the program; each tells whether it took the bytes of `path` (a file
// holding one valid settings record, which is also a one-entry list and a log).
std::error_code ReadSettings(const std::string& path, bool& taken)
{
    CDataFile file;
    file.m_path = path;
    SettingsRecord settings;
    const Result<> loaded = LoadSettings(settings, file);
    taken = settings.eventLogOn != 0;
    return loaded.error();
}
std::error_code ReadList(const std::string& path, bool& taken)
{
    CDisabledList list;
    list.m_path = path;
    const Result<> loaded = list.Load();
    taken = list.GetSize() != 0;
    return loaded.error();
}
std::error_code ReadLog(const std::string& path, bool& taken)
{
    const Result<LogContent> content = ReadLogFile(path);
    taken = content && !content->bytes.empty();
    return content.error();
}

} // namespace

// Reading follows the same rule: another user's link (or a link to another user's file) is
// not read, and the reader says so, so that nobody else's link decides root's settings, list
// or log text.
TEST_P(ForeignLinks, ReadThroughOnlyWhenBothAreTheUsers)
{
    const LinkCase& c = GetParam();
    if ((!c.linkMine || !c.targetMine) && ::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file or a link to another user (chown)";
    for (std::error_code (*read)(const std::string&, bool&) : {ReadSettings, ReadList, ReadLog}) {
        TempDir dir;
        const std::string target = dir.File("target");
        const std::string link = dir.File("link");
        WriteBytes(target, "\x01\x01\x01\x01" + std::string(27, 'x') + "|");
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        if (!c.targetMine) {
            ASSERT_EQ(::chown(target.c_str(), NobodyUid(), NobodyUid()), 0);
        }
        if (!c.linkMine) {
            ASSERT_EQ(::lchown(link.c_str(), NobodyUid(), NobodyUid()), 0);
        }

        const bool followed = c.linkMine && c.targetMine;
        bool taken = false;
        const std::error_code error = read(link, taken);
        EXPECT_EQ(taken, followed);
        EXPECT_EQ(error, followed ? std::error_code() : make_error_code(FileFault::ForeignLink));
    }
}

TEST(FileRules, LogIsOpenedOnlyWhenItIsARegularFile)
{
    TempDir dir;
    const std::string fifo = dir.File("Logs.log");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A reader that never reads: writing would block once the pipe is full.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const std::string& path : {fifo, dir.Path()}) {
        CEventLogFile log;
        log.m_path = path;
        EXPECT_EQ(log.Open().error(), FileFault::NotRegularFile) << path;
        EXPECT_FALSE(log.IsOpen());
        EXPECT_EQ(log.Write("entry\r\n").error(), FileFault::NotRegularFile);
    }
    ::close(reader);
}

// Failures that only a failing disk or a network filesystem gives (injected here): the flush of
// the folder after a replacement and the close of the log. Each reaches the caller that tells
// it, and a list whose file was replaced all the same follows the file.
TEST(FileRules, FolderFlushAndLogCloseFailuresReachTheirCallers)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    InjectDirectorySyncFaultForTesting(EIO);
    EXPECT_EQ(list.Add("new").error(), std::errc::io_error);
    EXPECT_TRUE(list.Refresh());
    EXPECT_TRUE(list.Contains("new"));

    CDataFile file;
    file.m_path = dir.File("Settings.dat");
    InjectDirectorySyncFaultForTesting(EIO);
    EXPECT_EQ(SaveSettings(SettingsRecord{}, file).error(), std::errc::io_error);

    CEventLogFile log;
    log.m_path = dir.File("Logs.log");
    ASSERT_TRUE(log.Open());
    CEventLogFile::InjectCloseFaultForTesting(EIO);
    EXPECT_EQ(log.Close().error(), std::errc::io_error);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.TakeFailure().error(), std::errc::io_error);
}

// A full disk, by a file-size limit in a child (any user) or a small tmpfs (root): every line
// of the log is a whole entry, also after space came back.
TEST(FileRules, FullDiskLeavesOnlyWholeEntries)
{
    const std::string line = BuildStartedLine("a-process-with-a-long-name", "12/06/2021 09:06:41");
    const auto fill = [&line](const std::string& path) {
        CEventLogFile log;
        log.m_path = path;
        if (!log.Open())
            return false;
        int failures = 0;
        for (int i = 0; i < 200 && failures < 3; ++i)
            failures += log.Write(line) ? 0 : 1;
        return failures > 0;
    };
    const auto expectWholeLines = [&line](const std::string& path) {
        const std::optional<std::string> bytes = ReadBytes(path);
        ASSERT_TRUE(bytes);
        ASSERT_FALSE(bytes->empty());
        for (std::size_t at = 0; at < bytes->size(); at += line.size())
            ASSERT_EQ(bytes->substr(at, line.size()), line) << "at byte " << at;
    };

    TempDir dir;
    const std::string limited = dir.File("Logs.log");
    EXPECT_TRUE(storage_test::RunWithFileSizeLimit(1000, [&] { return fill(limited); }));
    expectWholeLines(limited);
    EXPECT_TRUE(storage_test::RunWithFileSizeLimit(100000, [&] { return !fill(limited); }));
    expectWholeLines(limited);

    const std::string mountPoint = dir.File("tmpfs");
    std::filesystem::create_directory(mountPoint);
    if (::geteuid() != 0 || ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "the tmpfs trial needs root (mount); the file-size-limit trial ran";
    const std::string onTmpfs = mountPoint + "/Logs.log";
    const std::string filler = mountPoint + "/filler";
    WriteBytes(filler, std::string(60 * 1024, 'x'));
    EXPECT_TRUE(fill(onTmpfs));
    std::filesystem::remove(filler);
    CEventLogFile log;
    log.m_path = onTmpfs;
    EXPECT_TRUE(log.Open());
    EXPECT_TRUE(log.Write(line));
    EXPECT_TRUE(log.Close());
    expectWholeLines(onTmpfs);
    ::umount(mountPoint.c_str());
}

TEST(FileRules, KillDuringSaveLeavesNothingBehind)
{
    TempDir dir;
    const std::string path = dir.File("BlackList.log");
    const std::string big(8 << 20, 'n');
    std::minstd_rand random(12);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;)
                (void)ReplaceFile(path, big); // cut short by the kill
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 60));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        // Only a kill in the instant between naming and renaming can leave a name, and the
        // next save removes it.
        ASSERT_TRUE(ReplaceFile(path, "a|"));
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            EXPECT_EQ(entry.path().filename(), "BlackList.log") << "round " << round;
    }
}

TEST(FileRules, TwoCopiesKeepEachOthersEntries)
{
    TempDir dir;
    const std::string path = dir.File("BlackList.log");
    WriteBytes(path, "orig|");
    CDisabledList a, b; // two copies of the program, each loaded at its start
    a.m_path = b.m_path = path;
    ASSERT_TRUE(a.Load());
    ASSERT_TRUE(b.Load());
    EXPECT_TRUE(a.Add("avictim"));
    EXPECT_TRUE(b.Add("bvictim"));
    EXPECT_EQ(ReadBytes(path), "orig|avictim|bvictim|"s);
    EXPECT_TRUE(b.Contains("avictim")) << "memory follows the file";
    ASSERT_TRUE(a.Refresh());
    EXPECT_TRUE(a.Contains("bvictim"));
    EXPECT_TRUE(a.Remove(0));
    EXPECT_TRUE(b.Remove(2));
    EXPECT_EQ(ReadBytes(path), "avictim|"s);

    // Many changes at the same moment from two processes: none is lost.
    constexpr int kEach = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        if (children[c] == 0) {
            CDisabledList copy;
            copy.m_path = path;
            if (!copy.Load())
                ::_exit(1);
            bool ok = true;
            for (int i = 0; i < kEach; ++i)
                ok = copy.Add("c" + std::to_string(c) + "-" + std::to_string(i)).has_value() && ok;
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ASSERT_TRUE(a.Refresh());
    EXPECT_EQ(a.GetSize(), std::size_t{1 + 2 * kEach});
}
