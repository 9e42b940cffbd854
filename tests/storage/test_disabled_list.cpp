#include "platform/FileIo.h"
#include "storage/CDisabledList.h"
#include "storage/StorageFault.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

using namespace std::string_literals;
using storage_test::EntryCount;
using storage_test::ReadBytes;
using storage_test::TempDir;
using storage_test::WriteBytes;

namespace {

std::vector<std::string> Entries(const CDisabledList& list)
{
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < list.GetSize(); ++i)
        entries.push_back(list.GetAt(i));
    return entries;
}

struct LoadCase {
    const char* label;
    std::string file;
    std::vector<std::string> entries;
};

class DisabledListLoad : public ::testing::TestWithParam<LoadCase> {};

} // namespace

TEST_P(DisabledListLoad, TakesThePiecesBeforeEachBar)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    WriteBytes(list.m_path, GetParam().file);
    ASSERT_TRUE(list.Load());
    EXPECT_EQ(Entries(list), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DisabledListLoad,
    ::testing::Values(
        LoadCase{"TwoNames", "notepad.exe|calc.exe|", {"notepad.exe", "calc.exe"}},
        LoadCase{"TailAfterLastBarIgnored", "a|b", {"a"}},
        LoadCase{"EmptyPieceKept", "a||b|", {"a", "", "b"}},
        LoadCase{"LineBreaksBelongToTheEntry", "a|\r\nb|", {"a", "\r\nb"}},
        LoadCase{"NoBarIsEmpty", "notepad.exe", {}},
        LoadCase{"ZeroByteEndsReading", "a|b\0c|d|"s, {"a"}},
        LoadCase{"ZeroByteFirst", "\0a|b|"s, {}},
        LoadCase{"ZeroByteAfterLastBar", "x|\0y|"s, {"x"}},
        LoadCase{"BlanksCapitalsAndHighBytesAsTheyStand", " NotePad.EXE |\xC3\x84pp|",
                 {" NotePad.EXE ", "\xC3\x84pp"}}),
    [](const auto& c) { return std::string(c.param.label); });

TEST(DisabledList, MissingOrEmptyFileLeavesTheEntries)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    ASSERT_TRUE(list.Add("keep.exe"));

    list.m_path = dir.File("missing.log");
    EXPECT_TRUE(list.Load()) << "a missing file is no failure";
    EXPECT_EQ(Entries(list), std::vector<std::string>{"keep.exe"});

    list.m_path = dir.File("empty.log");
    WriteBytes(list.m_path, "");
    EXPECT_TRUE(list.Load());
    EXPECT_EQ(Entries(list), std::vector<std::string>{"keep.exe"});

    // A directory or a FIFO in the file's place cannot be read as a list either (and the FIFO
    // must not hang the load): the reason is returned, the entries read before stay.
    list.m_path = dir.Path();
    EXPECT_EQ(list.Load().error(), FileFault::NotRegularFile);
    EXPECT_EQ(Entries(list), std::vector<std::string>{"keep.exe"});
    list.m_path = dir.File("fifo");
    ASSERT_EQ(::mkfifo(list.m_path.c_str(), 0600), 0);
    EXPECT_EQ(list.Load().error(), FileFault::NotRegularFile);
    EXPECT_EQ(Entries(list), std::vector<std::string>{"keep.exe"});
}

TEST(DisabledList, AddTrimsLowerCasesAndAppendsToTheFile)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    WriteBytes(list.m_path, "calc.exe|");
    ASSERT_TRUE(list.Load());

    ASSERT_TRUE(list.Add("  NotePad.EXE "));

    EXPECT_EQ(Entries(list), (std::vector<std::string>{"calc.exe", "notepad.exe"}));
    const std::string file = ReadBytes(list.m_path).value_or("");
    EXPECT_EQ(file, "calc.exe|notepad.exe|");
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(file.substr(file.size() - 12), "notepad.exe|");
    EXPECT_TRUE(list.Contains("NOTEPAD.exe"));
    EXPECT_TRUE(list.Contains("\tnotepad.exe\r\n"));
}

TEST(DisabledList, FirstAddCreatesTheFileAndDuplicatesAreKept)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    ASSERT_FALSE(ReadBytes(list.m_path));

    ASSERT_TRUE(list.Add("sleep"));
    ASSERT_TRUE(list.Add("SLEEP"));

    EXPECT_EQ(ReadBytes(list.m_path), "sleep|sleep|");
    EXPECT_EQ(list.GetSize(), 2u);
    EXPECT_EQ(EntryCount(dir.Path()), 1u) << "no temporary file may be left behind";
}

TEST(DisabledList, OnlyCLocaleBlanksAreTrimmedAndOnlyAsciiLetters)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");

    // 0x0B and 0x0C are blanks in the C locale; 0xA0 and 0x85 are not, and the capital A
    // with diaeresis in UTF-8 keeps its bytes.
    ASSERT_TRUE(list.Add("\x0B\x0C\xA0Xy\xC3\x84Z\x85 "));

    EXPECT_EQ(Entries(list), std::vector<std::string>{"\xA0xy\xC3\x84z\x85"});
}

TEST(DisabledList, AddIgnoresNamesThatCannotBeStored)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");

    // Nothing to add is no failure; a name the file cannot hold is refused with the reason.
    EXPECT_TRUE(list.Add(""));
    EXPECT_TRUE(list.Add(" \t\r\n\v\f"));
    EXPECT_EQ(list.Add("a|b").error(), StorageFault::NameNotStorable); // would come back as "a" and lose "b"
    EXPECT_EQ(list.Add("|").error(), StorageFault::NameNotStorable);
    EXPECT_EQ(list.Add("a\0b"s).error(), StorageFault::NameNotStorable); // would end the reading of every entry after it
    EXPECT_NE(make_error_code(StorageFault::NameNotStorable).message().find("\"|\""), std::string::npos);

    EXPECT_EQ(list.GetSize(), 0u);
    EXPECT_FALSE(ReadBytes(list.m_path)) << "nothing added, nothing saved";
}

TEST(DisabledList, HandWrittenCapitalsBlanksAndEmptyEntriesNeverMatch)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    WriteBytes(list.m_path, "NotePad.exe| calc.exe|\r\nb||sleep|");
    ASSERT_TRUE(list.Load());
    ASSERT_EQ(list.GetSize(), 5u);

    EXPECT_FALSE(list.Contains("NotePad.exe"));
    EXPECT_FALSE(list.Contains("notepad.exe"));
    EXPECT_FALSE(list.Contains(" calc.exe"));
    EXPECT_FALSE(list.Contains("calc.exe"));
    EXPECT_FALSE(list.Contains("b"));
    EXPECT_FALSE(list.Contains(""));
    EXPECT_FALSE(list.Contains("   "));
    EXPECT_TRUE(list.Contains(" Sleep "));
}

TEST(DisabledList, DeletingTheLastEntryLeavesAnEmptyFile)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    ASSERT_TRUE(list.Add("a"));
    ASSERT_TRUE(list.Add("b"));

    ASSERT_TRUE(list.Remove(0));
    EXPECT_EQ(ReadBytes(list.m_path), "b|");
    ASSERT_TRUE(list.Remove(0));
    EXPECT_EQ(ReadBytes(list.m_path), "");
    EXPECT_EQ(list.GetSize(), 0u);

    ASSERT_TRUE(list.Add("c"));
    list.RemoveAll();
    EXPECT_EQ(list.GetSize(), 0u);
    EXPECT_EQ(ReadBytes(list.m_path), "c|") << "RemoveAll does not touch the file";
}

TEST(DisabledList, FailedAddIsToldAndTheListFollowsTheFile)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    WriteBytes(list.m_path, "old.exe|");
    ASSERT_TRUE(list.Load());
    const std::string longName(4000, 'x');

    // The new content outgrows the file size limit: the write fails part-way, the reason is
    // returned, and the list in memory is what the file holds.
    const bool told = storage_test::RunWithFileSizeLimit(100, [&] {
        return list.Add(longName).error() == std::errc::file_too_large && list.GetSize() == 1;
    });

    EXPECT_TRUE(told);
    EXPECT_EQ(ReadBytes(list.m_path), "old.exe|");
    EXPECT_EQ(EntryCount(dir.Path()), 1u) << "the temporary file must be removed";

    // A directory that does not exist: nothing can be created, nothing is added.
    list.m_path = dir.File("gone/BlackList.log");
    EXPECT_EQ(list.Add("kept.exe").error(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(list.GetSize(), 1u);
}

// A name held while its file change is under way is held until that change is adopted, then
// as the file has it: kept when written, gone when the write failed.
TEST(DisabledList, AHeldNameCountsUntilItsChangeIsAdopted)
{
    TempDir dir;
    struct Case {
        std::string path;
        bool written;
    };
    for (const Case& c : {Case{dir.File("BlackList.log"), true}, Case{dir.File("gone/BlackList.log"), false}}) {
        CDisabledList list;
        list.m_path = c.path;
        list.Hold(" Held.EXE ");
        EXPECT_TRUE(list.Contains("held.exe")) << c.path;
        CDisabledList::FileChange change = list.AddOnDisk("held.exe");
        EXPECT_TRUE(list.Contains("held.exe")) << "not adopted yet: " << c.path;
        EXPECT_EQ(static_cast<bool>(list.Adopt(std::move(change))), c.written) << c.path;
        EXPECT_EQ(list.Contains("held.exe"), c.written) << c.path;
        EXPECT_EQ(list.GetSize(), c.written ? 1u : 0u) << c.path;
    }
}

TEST(DisabledList, SaveReplacesTheTargetOfALink)
{
    TempDir dir;
    const std::string real = dir.File("real.log");
    const std::string link = dir.File("BlackList.log");
    WriteBytes(real, "a|");
    std::filesystem::create_symlink(real, link);

    CDisabledList list;
    list.m_path = link;
    ASSERT_TRUE(list.Load());
    ASSERT_TRUE(list.Add("b"));

    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), "a|b|");
}

// A folder the list cannot be written in: the reason is the folder's (permission denied, a
// read-only file system), not the "no such file" of a file that was never there.
TEST(DisabledList, AddInAReadOnlyFolderTellsTheFoldersReason)
{
    for (const bool fileThere : {false, true}) {
        TempDir dir;
        const std::string folder = dir.File("ro");
        std::filesystem::create_directory(folder);
        const std::string path = folder + "/BlackList.log";
        if (fileThere)
            WriteBytes(path, "old|");
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
        const int reason = storage_test::RunUnprivileged([&] {
            CDisabledList list;
            list.m_path = path;
            return list.Add("new").error().value();
        });
        if (reason == 255)
            GTEST_SKIP() << "cannot drop to an unprivileged user, whom permissions bind";
        EXPECT_EQ(reason, EACCES) << std::strerror(reason) << (fileThere ? " (file there)" : " (no file)");
        EXPECT_EQ(ReadBytes(path), fileThere ? std::optional<std::string>("old|") : std::nullopt);
    }

    TempDir dir;
    const std::string mountPoint = dir.File("mnt");
    std::filesystem::create_directory(mountPoint);
    if (::geteuid() != 0 || ::mount(dir.Path().c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "the read-only file system needs root (a read-only bind mount)";
    const int remounted = ::mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
    CDisabledList list;
    list.m_path = mountPoint + "/BlackList.log";
    const std::error_code error = list.Add("new").error();
    ::umount(mountPoint.c_str());
    ASSERT_EQ(remounted, 0);
    EXPECT_EQ(error, std::errc::read_only_file_system);
}

// A list that could be read once and then cannot (a directory put in its place, a file of no
// permissions) keeps its entries in force; each try says why, and a file that is readable
// again is taken.
TEST(DisabledList, RefreshOfAnUnreadableFileKeepsTheEntriesAndSaysWhy)
{
    TempDir dir;
    CDisabledList list;
    list.m_path = dir.File("BlackList.log");
    WriteBytes(list.m_path, "victim|");
    ASSERT_TRUE(list.Load());

    std::filesystem::remove(list.m_path);
    EXPECT_TRUE(list.Refresh()) << "a missing file is no failure";
    std::filesystem::create_directory(list.m_path);
    EXPECT_EQ(list.Refresh().error(), FileFault::NotRegularFile);
    EXPECT_EQ(list.Refresh().error(), FileFault::NotRegularFile) << "tried again";
    EXPECT_TRUE(list.Contains("victim"));

    std::filesystem::remove(list.m_path);
    WriteBytes(list.m_path, "other|");
    EXPECT_TRUE(list.Refresh());
    EXPECT_EQ(Entries(list), std::vector<std::string>{"other"});
}
