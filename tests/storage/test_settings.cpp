#include "platform/FileIo.h"
#include "storage/CDataFile.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

using namespace std::string_literals;
using storage_test::EntryCount;
using storage_test::ReadBytes;
using storage_test::TempDir;
using storage_test::WriteBytes;

namespace {

// eventLogOn 5, randomWord 0x3039, left -100, top 0x01020304, right 100, bottom 200,
// maximized 1, minimizeAtStart -1.
const std::string kRecordBytes = "\x05\x00\x00\x00"
                                 "\x39\x30\x00\x00"
                                 "\x9C\xFF\xFF\xFF"
                                 "\x04\x03\x02\x01"
                                 "\x64\x00\x00\x00"
                                 "\xC8\x00\x00\x00"
                                 "\x01\x00\x00\x00"
                                 "\xFF\xFF\xFF\xFF"s;

SettingsRecord SampleRecord()
{
    SettingsRecord r;
    r.eventLogOn = 5;
    r.randomWord = 0x3039;
    r.windowLeft = -100;
    r.windowTop = 0x01020304;
    r.windowRight = 100;
    r.windowBottom = 200;
    r.maximized = 1;
    r.minimizeAtStart = -1;
    return r;
}

void ExpectDefaults(const SettingsRecord& r)
{
    EXPECT_EQ(r.eventLogOn, 0);
    EXPECT_EQ(r.windowLeft, 0);
    EXPECT_EQ(r.windowTop, 0);
    EXPECT_EQ(r.windowRight, 0);
    EXPECT_EQ(r.windowBottom, 0);
    EXPECT_EQ(r.maximized, 0);
    EXPECT_EQ(r.minimizeAtStart, 0);
}

// The value the next load will draw for randomWord (0 to 32767), without using it up.
int NextRand(unsigned seed)
{
    std::srand(seed);
    int value = std::rand() % 32768;
    std::srand(seed);
    return value;
}

struct RejectedFile {
    const char* label;
    std::optional<std::string> content; // nothing: no file at all
    bool readsSomething;                // whether randomWord is then drawn anew
};

class SettingsDefaults : public ::testing::TestWithParam<RejectedFile> {};

} // namespace

TEST_P(SettingsDefaults, FileNotExactly32BytesGivesTheDefaults)
{
    TempDir dir;
    CDataFile file;
    file.m_path = dir.File("Settings.dat");
    if (GetParam().content)
        WriteBytes(file.m_path, *GetParam().content);

    SettingsRecord settings = SampleRecord();
    settings.randomWord = 777777; // out of rand()'s range, so a fresh draw shows
    const int expectedRandom = GetParam().readsSomething ? NextRand(42) : 777777;
    EXPECT_TRUE(LoadSettings(settings, file)) << "none of these files is a failure";

    ExpectDefaults(settings);
    EXPECT_EQ(settings.randomWord, expectedRandom);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsDefaults,
    ::testing::Values(RejectedFile{"NoFile", std::nullopt, false},
                      RejectedFile{"Empty", ""s, false},
                      RejectedFile{"ThirtyOneBytes", kRecordBytes.substr(0, 31), true},
                      RejectedFile{"ThirtyThreeBytes", kRecordBytes + "\x01"s, true}),
    [](const auto& c) { return std::string(c.param.label); });

TEST(Settings, ThirtyTwoBytesAreTakenWhateverTheyHold)
{
    TempDir dir;
    CDataFile file;
    file.m_path = dir.File("Settings.dat");
    WriteBytes(file.m_path, kRecordBytes);

    SettingsRecord settings;
    const int expectedRandom = NextRand(7);
    ASSERT_TRUE(LoadSettings(settings, file));

    const SettingsRecord sample = SampleRecord();
    EXPECT_EQ(settings.eventLogOn, 5);
    EXPECT_EQ(settings.windowLeft, sample.windowLeft);
    EXPECT_EQ(settings.windowTop, sample.windowTop);
    EXPECT_EQ(settings.windowRight, sample.windowRight);
    EXPECT_EQ(settings.windowBottom, sample.windowBottom);
    EXPECT_EQ(settings.maximized, 1);
    EXPECT_EQ(settings.minimizeAtStart, -1);
    EXPECT_EQ(settings.randomWord, expectedRandom) << "the file's word is replaced by rand()";
}

TEST(Settings, HugeSparseFileIsReadOnlyAsFarAsARecordNeeds)
{
    TempDir dir;
    CDataFile file;
    file.m_path = dir.File("Settings.dat");
    WriteBytes(file.m_path, kRecordBytes);
    std::filesystem::resize_file(file.m_path, std::uintmax_t{2} << 30);

    // In a child whose memory could not hold the file: only 33 bytes are ever read.
    EXPECT_TRUE(storage_test::RunWithLimit(RLIMIT_AS, rlim_t{512} << 20, [&] {
        const Result<std::string> bytes = file.Read();
        return bytes && bytes->size() == SettingsRecord::kSize + 1;
    }));
    SettingsRecord settings = SampleRecord();
    EXPECT_TRUE(LoadSettings(settings, file));
    ExpectDefaults(settings);
}

TEST(Settings, UnreadableFileGivesTheDefaultsAndSaysWhy)
{
    TempDir dir;
    CDataFile file;
    file.m_path = dir.File("Settings.dat");
    std::filesystem::create_directory(file.m_path);
    SettingsRecord settings = SampleRecord();
    EXPECT_EQ(LoadSettings(settings, file).error(), FileFault::NotRegularFile);
    ExpectDefaults(settings);
}

TEST(Settings, SavedAsExactly32LittleEndianBytes)
{
    TempDir dir;
    CDataFile file;
    file.m_path = dir.File("Settings.dat");
    WriteBytes(file.m_path, "a longer file from some earlier time, to be replaced");

    ASSERT_TRUE(SaveSettings(SampleRecord(), file));

    EXPECT_EQ(ReadBytes(file.m_path), kRecordBytes);
    EXPECT_EQ(EntryCount(dir.Path()), 1u);

    const Result<std::string> bytes = file.Read();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, kRecordBytes);
}

TEST(Settings, WriteFailingPartWayLeavesTheOldFileWhole)
{
    TempDir dir;
    CDataFile file;
    file.m_path = dir.File("Settings.dat");
    WriteBytes(file.m_path, kRecordBytes);
    SettingsRecord other;
    other.eventLogOn = 1;
    other.windowRight = 640;

    const bool saved = storage_test::RunWithFileSizeLimit(10, [&] { return SaveSettings(other, file); });

    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadBytes(file.m_path), kRecordBytes);
    EXPECT_EQ(EntryCount(dir.Path()), 1u) << "the temporary file must be removed";
}
