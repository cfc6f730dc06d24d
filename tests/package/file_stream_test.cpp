// FileStream: byte counts and the negative results at the end of a file, on
// failed and read-only streams, and the helpers built on Read.
#include <gtest/gtest.h>

#include <string>

#include "package/file_stream.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;
using fwtest::W;

std::string Text(const uint8_t* bytes, int count) {
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
}

class FileStreamTest : public testing::Test {
  protected:
    TempDevice device_;
};

TEST_F(FileStreamTest, ShortReadThenZeroAtTheEnd) {
    device_.Write("\\data.bin", "abcde");
    FileStream stream(W("\\DATA.BIN"), StreamMode::Read);
    ASSERT_TRUE(stream.IsGood());
    uint8_t buffer[16];
    ASSERT_EQ(stream.Read(buffer, 2), 2);
    EXPECT_EQ(Text(buffer, 2), "ab");
    ASSERT_EQ(stream.Read(buffer, sizeof(buffer)), 3);
    EXPECT_EQ(Text(buffer, 3), "cde");
    EXPECT_FALSE(stream.IsGood());
    EXPECT_EQ(stream.Read(buffer, sizeof(buffer)), 0);
}

TEST_F(FileStreamTest, ReadExactlyToTheEndKeepsTheStreamGood) {
    device_.Write("\\data.bin", "abc");
    FileStream stream(W("\\data.bin"), StreamMode::Read);
    uint8_t buffer[3];
    EXPECT_EQ(stream.Read(buffer, 3), 3);
    EXPECT_TRUE(stream.IsGood());
    EXPECT_EQ(stream.Read(buffer, 3), 0);
}

TEST_F(FileStreamTest, MissingFileFailsEveryRead) {
    FileStream stream(W("\\missing.bin"), StreamMode::Read);
    EXPECT_FALSE(stream.IsGood());
    uint8_t buffer[4];
    EXPECT_EQ(stream.Read(buffer, sizeof(buffer)), kStreamFailed);
    EXPECT_EQ(stream.Size(), 0u);
    EXPECT_TRUE(stream.ReadAll().empty());
}

TEST_F(FileStreamTest, WriteOnReadOnlyStreamIsRefusedAndWritesNothing) {
    device_.Write("\\data.bin", "abc");
    {
        FileStream stream(W("\\data.bin"), StreamMode::Read);
        const uint8_t bytes[] = {'x', 'y'};
        EXPECT_EQ(stream.Write(bytes, 2), kStreamNotWritable);
        EXPECT_EQ(stream.Write(ByteVector(3, 'z')), kStreamNotWritable);
    }
    EXPECT_EQ(device_.Read("\\data.bin"), "abc");
}

TEST_F(FileStreamTest, WriteTruncateReplacesTheFileAndFlushesEveryWrite) {
    device_.Write("\\data.bin", "old contents that are longer");
    FileStream stream(W("\\data.bin"), StreamMode::Write | StreamMode::Truncate);
    ASSERT_TRUE(stream.IsGood());
    const uint8_t bytes[] = {'n', 'e', 'w'};
    EXPECT_EQ(stream.Write(bytes, 3), 3);
    // Flushed: another reader sees it while the stream is still open.
    EXPECT_EQ(device_.Read("\\data.bin"), "new");
    EXPECT_EQ(stream.Write(ByteVector{'!'}), 1);
    EXPECT_EQ(stream.Write(bytes, 0), 0);
    stream.Close();
    EXPECT_EQ(device_.Read("\\data.bin"), "new!");
}

TEST_F(FileStreamTest, WriteAfterTheEndOfFileWasReachedIsEndOfFile) {
    device_.Write("\\data.bin", "ab");
    FileStream stream(W("\\data.bin"), StreamMode::Read | StreamMode::Write);
    uint8_t buffer[8];
    EXPECT_EQ(stream.Read(buffer, sizeof(buffer)), 2);
    const uint8_t bytes[] = {'x'};
    EXPECT_EQ(stream.Write(bytes, 1), kStreamEndOfFile);
}

TEST_F(FileStreamTest, WriteToAStreamThatCouldNotOpenFails) {
    FileStream stream(W("\\no-such-folder\\data.bin"), StreamMode::Write | StreamMode::Truncate);
    EXPECT_FALSE(stream.IsGood());
    const uint8_t bytes[] = {'x'};
    EXPECT_EQ(stream.Write(bytes, 1), kStreamFailed);
    EXPECT_FALSE(device_.Exists("\\no-such-folder"));
}

TEST_F(FileStreamTest, AppendAddsToTheEnd) {
    device_.Write("\\log.txt", "one\n");
    {
        FileStream stream(W("\\log.txt"), StreamMode::Write | StreamMode::Append);
        EXPECT_EQ(stream.Write(ByteVector{'t', 'w', 'o', '\n'}), 4);
    }
    EXPECT_EQ(device_.Read("\\log.txt"), "one\ntwo\n");
}

TEST_F(FileStreamTest, SizeKeepsThePositionAndSeekRewindsAfterTheEnd) {
    device_.Write("\\data.bin", "0123456789");
    FileStream stream(W("\\data.bin"), StreamMode::Read);
    uint8_t buffer[16];
    ASSERT_EQ(stream.Read(buffer, 4), 4);
    EXPECT_EQ(stream.Size(), 10u);
    ASSERT_EQ(stream.Read(buffer, 2), 2);
    EXPECT_EQ(Text(buffer, 2), "45");

    ASSERT_EQ(stream.Read(buffer, sizeof(buffer)), 4);
    EXPECT_EQ(stream.Size(), 10u);
    EXPECT_FALSE(stream.IsGood());  // Size leaves the end-of-file state alone

    stream.Seek(7);
    EXPECT_TRUE(stream.IsGood());
    ASSERT_EQ(stream.Read(buffer, sizeof(buffer)), 3);
    EXPECT_EQ(Text(buffer, 3), "789");
}

TEST_F(FileStreamTest, ReadAllReturnsExactlyTheBytesThatCouldBeRead) {
    device_.Write("\\data.bin", std::string("ab\0cd", 5));
    FileStream whole(W("\\data.bin"), StreamMode::Read);
    EXPECT_EQ(whole.ReadAll(), (ByteVector{'a', 'b', 0, 'c', 'd'}));

    // Two bytes already read: Size() is still 5, but only 3 are left.
    FileStream rest(W("\\data.bin"), StreamMode::Read);
    uint8_t buffer[2];
    ASSERT_EQ(rest.Read(buffer, 2), 2);
    EXPECT_EQ(rest.ReadAll(), (ByteVector{0, 'c', 'd'}));

    device_.Write("\\empty.bin", "");
    FileStream empty(W("\\empty.bin"), StreamMode::Read);
    EXPECT_TRUE(empty.ReadAll().empty());
}

TEST_F(FileStreamTest, ReadLineSplitsAtLineFeedsOnly) {
    device_.Write("\\lines.txt", "first\nsecond\r\n\nlast");
    FileStream stream(W("\\lines.txt"), StreamMode::Read);
    NString line;
    ASSERT_TRUE(stream.ReadLine(line));
    EXPECT_EQ(line, "first");
    ASSERT_TRUE(stream.ReadLine(line));
    EXPECT_EQ(line, "second\r");
    ASSERT_TRUE(stream.ReadLine(line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(stream.ReadLine(line));  // the last line needs no line feed
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(stream.ReadLine(line));
}

TEST_F(FileStreamTest, ReadIntoAndWriteFrom) {
    device_.Write("\\from.bin", "payload");
    FileStream from(W("\\from.bin"), StreamMode::Read);
    ByteVector buffer;
    ASSERT_EQ(from.ReadInto(buffer, 3), 3);
    EXPECT_EQ(buffer, (ByteVector{'p', 'a', 'y'}));

    FileStream to(W("\\to.bin"), StreamMode::Write | StreamMode::Truncate);
    // Asks for more than is left: writes what arrived.
    EXPECT_EQ(to.WriteFrom(from, 100), 4);
    // The source is at its end now: its read result comes back unchanged.
    EXPECT_EQ(to.WriteFrom(from, 100), 0);
    FileStream missing(W("\\missing.bin"), StreamMode::Read);
    EXPECT_EQ(to.WriteFrom(missing, 10), kStreamFailed);
    to.Close();
    EXPECT_EQ(device_.Read("\\to.bin"), "load");
}

}  // namespace
