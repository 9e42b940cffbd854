// The event log dialog's reading and saving of Logs.log: the file handed on in pieces, and
// the digest by which Save tells the file that was read from one that changed since.

#include "LogDigest.h"
#include "storage/LogFileAccess.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

using storage_test::ReadBytes;
using storage_test::TempDir;
using storage_test::WriteBytes;

namespace {

// Bytes that differ from place to place, so that a piece handed on twice or out of order
// shows.
std::string Varied(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 977) % 251 + 1);
    return bytes;
}

class RecordingSink final : public LogSink {
public:
    Result<> Expect(std::uint64_t size) override
    {
        EXPECT_TRUE(m_pieces.empty()) << "Expect after bytes";
        m_expected.push_back(size);
        return {};
    }
    Result<> Take(std::string_view piece) override
    {
        if (m_pieces.size() == m_failAt)
            return std::errc::io_error;
        m_pieces.emplace_back(piece);
        return {};
    }

    std::vector<std::uint64_t> m_expected;
    std::vector<std::string> m_pieces;
    std::size_t m_failAt = SIZE_MAX;
};

} // namespace

TEST(LogDigest, SameBytesGiveTheSameValueHoweverCutAndAnyChangeShows)
{
    // Lengths around the 32-byte step and its 8-byte words.
    for (const std::size_t size : {0, 1, 7, 8, 31, 32, 33, 64, 100, 1000}) {
        const std::string bytes = Varied(size);
        const std::uint64_t whole = LogDigest::Of(bytes);
        for (std::size_t a = 0; a <= size; ++a) {
            for (std::size_t b = a; b <= size; b += 1 + size / 40) {
                LogDigest cut;
                cut.Add(std::string_view(bytes).substr(0, a));
                cut.Add(std::string_view(bytes).substr(a, b - a));
                cut.Add(std::string_view(bytes).substr(b));
                ASSERT_EQ(cut.Value(), whole) << size << " bytes cut at " << a << " and " << b;
            }
        }
        for (std::size_t at = 0; at < size; ++at) {
            std::string changed = bytes;
            changed[at] ^= 1;
            ASSERT_NE(LogDigest::Of(changed), whole) << size << " bytes, changed at " << at;
        }
        ASSERT_NE(LogDigest::Of(bytes + '\0'), whole) << size << " bytes and a zero byte";
    }
}

TEST(LogAccess, ReadHandsOnTheWholeFileInPiecesInOrder)
{
    TempDir dir;
    const std::string path = dir.File("Logs.log");
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kLogPieceSize - 1, kLogPieceSize,
                                   kLogPieceSize + 1, kLogPieceSize * 5 / 2}) {
        const std::string content = Varied(size);
        WriteBytes(path, content);
        RecordingSink sink;
        const Result<LogSnapshot> read = ReadLogFile(path, sink);
        ASSERT_TRUE(read) << size;
        const LogSnapshot& snapshot = *read;
        EXPECT_EQ(sink.m_expected, std::vector<std::uint64_t>{size});
        std::string joined;
        for (const std::string& piece : sink.m_pieces) {
            EXPECT_FALSE(piece.empty()) << size;
            EXPECT_LE(piece.size(), kLogPieceSize) << size;
            joined += piece;
        }
        EXPECT_EQ(joined, content) << size;
        // The same description as a read in one piece: Save compares against either.
        const Result<LogContent> inOnePiece = ReadLogFile(path);
        ASSERT_TRUE(inOnePiece);
        const LogSnapshot& whole = inOnePiece->snapshot;
        EXPECT_TRUE(snapshot.valid);
        EXPECT_EQ(snapshot.size, size);
        EXPECT_EQ(snapshot.digest, LogDigest::Of(content));
        EXPECT_EQ(std::tie(snapshot.device, snapshot.inode, snapshot.size, snapshot.digest),
                  std::tie(whole.device, whole.inode, whole.size, whole.digest));
    }
}

TEST(LogAccess, SinkFailurePartWayEndsTheRead)
{
    TempDir dir;
    const std::string path = dir.File("Logs.log");
    WriteBytes(path, Varied(kLogPieceSize * 3));
    RecordingSink sink;
    sink.m_failAt = 1;
    EXPECT_EQ(ReadLogFile(path, sink).error(), std::errc::io_error);
    EXPECT_EQ(sink.m_pieces.size(), 1u);
}

// Save after a read in pieces: what the file gained since is kept only when the file is the
// one read, whole, with bytes after it.
TEST(LogAccess, SaveKeepsWhatTheFileGainedOnlyWhenItOnlyGrew)
{
    const std::string read = Varied(kLogPieceSize * 2 + 100);
    struct Case {
        const char* name;
        std::string fileAtSave;
        std::string saved;
    };
    std::string changedInSecondPiece = read + "new\r\n";
    changedInSecondPiece[kLogPieceSize + 10] ^= 1;
    const Case cases[] = {
        {"grew", read + "new\r\n", "box\r\nnew\r\n"},
        {"grew by more than a piece", read + Varied(kLogPieceSize + 3), "box\r\n" + Varied(kLogPieceSize + 3)},
        {"unchanged", read, "box"},
        {"changed in the second piece, then grew", changedInSecondPiece, "box"},
        {"shrank", read.substr(0, kLogPieceSize), "box"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.File("Logs.log");
        WriteBytes(path, read);
        RecordingSink sink;
        const Result<LogSnapshot> inPieces = ReadLogFile(path, sink);
        ASSERT_TRUE(inPieces) << c.name;
        LogSnapshot snapshot = *inPieces;
        {
            // In place, as the running log appends: the same file.
            std::FILE* file = std::fopen(path.c_str(), "r+b");
            ASSERT_NE(file, nullptr);
            std::fwrite(c.fileAtSave.data(), 1, c.fileAtSave.size(), file);
            std::fclose(file);
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(c.fileAtSave.size())), 0);
        }
        const Result<std::string> followed = ReplaceLogFile(path, "box", snapshot);
        ASSERT_TRUE(followed) << c.name;
        EXPECT_EQ(ReadBytes(path), c.saved) << c.name;
        // What it says followed the box's text is what the file holds after it.
        EXPECT_EQ("box" + *followed, c.saved) << c.name;
    }
}
