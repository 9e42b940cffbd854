#include "storage/CEventLogFile.h"
#include "storage/StorageFault.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <locale.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using storage_test::ReadBytes;
using storage_test::TempDir;
using storage_test::WriteBytes;

namespace {

const std::regex kBannerTime(
    "(Sunday|Monday|Tuesday|Wednesday|Thursday|Friday|Saturday), "
    "(January|February|March|April|May|June|July|August|September|October|November|December) "
    "[0-3][0-9], [0-9]{4} in [0-2][0-9] hours [0-5][0-9] min\\.");

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

// The C library's own rendering of the banner format in the C locale.
std::string StrftimeC(const std::tm& tm)
{
    locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    char text[128] = {};
    ::strftime_l(text, sizeof text, "%A, %B %d, %Y in %H hours %M min.", &tm, c);
    ::freelocale(c);
    return text;
}

} // namespace

TEST(EventLog, FirstOpenCreatesTheFileAndTheBannerBeginsWithCrLf)
{
    TempDir dir;
    CEventLogFile log;
    log.m_path = dir.File("Logs.log");
    ASSERT_FALSE(ReadBytes(log.m_path));
    ASSERT_TRUE(log.Open());
    ASSERT_TRUE(log.IsOpen());
    ASSERT_TRUE(log.Write(BuildStartBanner()));
    ASSERT_TRUE(log.Close());

    const std::string file = ReadBytes(log.m_path).value_or("");
    ASSERT_GE(file.size(), 2u);
    EXPECT_EQ(file.substr(0, 2), "\r\n");
    const std::vector<std::string> lines = SplitCrLf(file);
    ASSERT_EQ(lines.size(), 4u) << file;
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1].substr(0, 15), "Orvane started ");
    EXPECT_TRUE(std::regex_match(lines[1].substr(15), kBannerTime)) << lines[1];
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "");
}

TEST(EventLog, OneRunReadsAsSevenLines)
{
    TempDir dir;
    CEventLogFile log;
    log.m_path = dir.File("Logs.log");

    // The banner time has minute resolution: take it on either side of the writes and retry
    // in the rare case that a minute turned over in between.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::remove(log.m_path.c_str());
        const std::string before = BannerTimeText();
        ASSERT_TRUE(log.Open());
        ASSERT_TRUE(log.IsOpen());
        ASSERT_TRUE(log.Write(BuildStartBanner()));
        ASSERT_TRUE(log.Write(BuildStartedLine("notepad.exe", "12/06/2021 09:06:41")));
        ASSERT_TRUE(log.Write(BuildFinishedLine("notepad.exe", "12/06/2021 09:10:02")));
        ASSERT_TRUE(log.Write(BuildFinishBanner()));
        ASSERT_TRUE(log.Close());
        if (BannerTimeText() != before)
            continue;

        const std::string expected = "\r\n"
                                     "Orvane started " + before + "\r\n"
                                     "\r\n"
                                     "Started process \t\tnotepad.exe \t\t12/06/2021 09:06:41\r\n"
                                     "Finished process \tnotepad.exe \t\t12/06/2021 09:10:02\r\n"
                                     "\r\n"
                                     "Orvane finished " + before + "\r\n";
        EXPECT_EQ(ReadBytes(log.m_path), expected);
        EXPECT_EQ(SplitCrLf(expected).size(), 8u); // seven lines, each ended by CR LF
        return;
    }
    FAIL() << "the clock kept crossing minute boundaries";
}

TEST(EventLog, LinesWithoutCreationTime)
{
    EXPECT_EQ(BuildStartedLine("a b (c)", " "), "Started process \t\ta b (c) \t\t \r\n");
    EXPECT_EQ(BuildFinishedLine("x", " "), "Finished process \tx \t\t \r\n");
}

TEST(EventLog, BannerTimeIsTheCLocalesTextForEveryDay)
{
    // One day each through a leap year and a few hours of the day, against strftime.
    for (int day = 0; day < 366; ++day) {
        std::tm tm {};
        tm.tm_year = 2024 - 1900;
        tm.tm_mon = 0;
        tm.tm_mday = 1 + day;
        tm.tm_hour = day % 24;
        tm.tm_min = day % 60;
        tm.tm_isdst = -1;
        std::time_t t = std::mktime(&tm);
        ASSERT_NE(t, static_cast<std::time_t>(-1));
        EXPECT_EQ(FormatBannerTime(tm), StrftimeC(tm));
    }

    std::tm monday {};
    monday.tm_year = 2021 - 1900;
    monday.tm_mon = 11;
    monday.tm_mday = 6;
    monday.tm_wday = 1;
    monday.tm_hour = 9;
    monday.tm_min = 5;
    EXPECT_EQ(FormatBannerTime(monday), "Monday, December 06, 2021 in 09 hours 05 min.");
}

TEST(EventLog, BannersStayEnglishUnderAnotherLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";

    const std::string banner = BuildFinishBanner();
    char german[64] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    std::strftime(german, sizeof german, "%A", &local);
    std::setlocale(LC_ALL, saved.c_str());

    ASSERT_GE(banner.size(), 20u);
    EXPECT_EQ(banner.substr(0, 18), "\r\nOrvane finished ");
    const std::string time = banner.substr(18, banner.size() - 20);
    EXPECT_TRUE(std::regex_match(time, kBannerTime)) << time;
    EXPECT_EQ(time.find(german), std::string::npos) << "German weekday " << german;
}

TEST(EventLog, ClosedLogWritesNothingSoAGuardedCloseWritesOneBanner)
{
    TempDir dir;
    CEventLogFile log;
    log.m_path = dir.File("Logs.log");
    ASSERT_TRUE(log.Open());
    // The owner's close step, run twice as two close requests in a row would run it.
    for (int request = 0; request < 2; ++request) {
        if (log.IsOpen()) {
            ASSERT_TRUE(log.Write("finish\r\n"));
            ASSERT_TRUE(log.Close());
        }
    }
    EXPECT_TRUE(log.Close());
    EXPECT_TRUE(log.Write("dropped")) << "a closed log writes nothing";
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(ReadBytes(log.m_path), "finish\r\n");
}

TEST(EventLog, SecondHolderCannotOpenUntilTheFirstCloses)
{
    TempDir dir;
    CEventLogFile first;
    CEventLogFile second;
    first.m_path = second.m_path = dir.File("Logs.log");

    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(second.Open().error(), StorageFault::InUse);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.Write("lost").error(), StorageFault::InUse);

    ASSERT_TRUE(first.Close());
    ASSERT_TRUE(second.Open());
    EXPECT_TRUE(second.IsOpen());
    ASSERT_TRUE(second.Write("kept"));
    ASSERT_TRUE(second.Close());
    EXPECT_EQ(ReadBytes(first.m_path), "kept");
}

TEST(EventLog, AppendsAfterExistingContentAndAfterTruncation)
{
    TempDir dir;
    CEventLogFile log;
    log.m_path = dir.File("Logs.log");
    WriteBytes(log.m_path, "earlier run\r\n");

    ASSERT_TRUE(log.Open());
    ASSERT_TRUE(log.Open()); // already open: keeps the same file
    ASSERT_TRUE(log.Write("a\r\n"));
    EXPECT_EQ(ReadBytes(log.m_path), "earlier run\r\na\r\n");

    // Cleared behind the log's back: the next line starts the empty file, with no hole of
    // zero bytes where the old content was.
    ASSERT_EQ(::truncate(log.m_path.c_str(), 0), 0);
    ASSERT_TRUE(log.Write("b\r\n"));
    EXPECT_EQ(ReadBytes(log.m_path), "b\r\n");
}

TEST(EventLog, UnopenablePathStaysClosed)
{
    TempDir dir;
    CEventLogFile log;
    EXPECT_TRUE(log.Open()) << "an empty path is nothing to open";
    EXPECT_FALSE(log.IsOpen()) << "empty path";

    log.m_path = dir.File("missing/Logs.log");
    EXPECT_EQ(log.Open().error(), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Write("nothing").error(), std::errc::no_such_file_or_directory);

    log.m_path = dir.Path(); // a directory
    EXPECT_FALSE(log.Open());
    EXPECT_FALSE(log.IsOpen());

    log.m_path = dir.File("fifo"); // no reader: must fail, not hang
    ASSERT_EQ(::mkfifo(log.m_path.c_str(), 0600), 0);
    EXPECT_FALSE(log.Open());
    EXPECT_FALSE(log.IsOpen());
}
