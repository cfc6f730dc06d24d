// JsonDocument: the archive image format, loading from a stream and from memory,
// the bounds on length and nesting, and what a failed load leaves behind.
#include "properties/json_document.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "package/memory_stream.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;

const uint8_t kHeader[16] = {0xB3, 0xEC, 0x09, 0x9A, 0x22, 0x92, 0x48, 0xFA,
                             0x83, 0xD0, 0x06, 0x84, 0x0B, 0xC9, 0x91, 0x02};

// header, L (little-endian), text.
ByteVector Image(const std::string& text, uint32_t length, const uint8_t* header = kHeader) {
    ByteVector image(header, header + 16);
    for (int i = 0; i < 4; ++i)
        image.push_back(static_cast<uint8_t>(length >> (8 * i)));
    image.insert(image.end(), text.begin(), text.end());
    return image;
}

ByteVector Image(const std::string& text) {
    return Image(text, static_cast<uint32_t>(text.size()));
}

std::string TextOf(JsonDocument& document) {
    rapidjson::StringBuffer buffer;
    EXPECT_TRUE(document.WriteText(buffer));
    return std::string(buffer.GetString(), buffer.GetSize());
}

// A stream that hands out at most one byte per read, as a slow device would.
class TrickleStream : public Stream {
  public:
    explicit TrickleStream(const ByteVector& bytes) : bytes_(bytes) {}
    int Read(uint8_t* buffer, uint32_t count) {
        if (count == 0 || at_ >= bytes_.size())
            return 0;
        buffer[0] = bytes_[at_++];
        return 1;
    }
    int Write(const uint8_t*, uint32_t) { return kStreamNotWritable; }
    void Close() {}

  private:
    ByteVector bytes_;
    size_t at_ = 0;
};

// A stream that fails every read with kStreamFailed once `good` bytes were read.
class FailingStream : public Stream {
  public:
    FailingStream(const ByteVector& bytes, size_t good) : bytes_(bytes), good_(good) {}
    int Read(uint8_t* buffer, uint32_t count) {
        if (at_ >= good_)
            return kStreamFailed;
        uint32_t n = 0;
        while (n < count && at_ < good_ && at_ < bytes_.size())
            buffer[n++] = bytes_[at_++];
        return static_cast<int>(n);
    }
    int Write(const uint8_t*, uint32_t) { return kStreamFailed; }
    void Close() {}

  private:
    ByteVector bytes_;
    size_t good_;
    size_t at_ = 0;
};

// A stream that takes one byte less than it is given.
class ShortWriteStream : public Stream {
  public:
    int Read(uint8_t*, uint32_t) { return 0; }
    int Write(const uint8_t*, uint32_t count) { return count == 0 ? 0 : count - 1; }
    void Close() {}
};

class JsonDocumentTest : public ::testing::Test {
  protected:
    JsonDocumentTest() { SetAvailable(1ull << 30); }
    // Fixes the available physical memory, so that the load limit is a quarter of it.
    void SetAvailable(uint64_t bytes) {
        std::ofstream(device_.Hw() / "avail-phys", std::ios::trunc) << bytes;
    }
    // A document holding text (which must load).
    void Fill(JsonDocument& document, const std::string& text) {
        MemoryStream stream(Image(text));
        ASSERT_TRUE(document.LoadFromStream(stream)) << text;
    }

    TempDevice device_;
};

TEST_F(JsonDocumentTest, NewDocumentIsAnEmptyObject) {
    JsonDocument document;
    EXPECT_EQ(TextOf(document), "{}");
    EXPECT_EQ(document.HeaderSize(), 16u);
    EXPECT_EQ(ByteVector(document.HeaderBytes(), document.HeaderBytes() + 16),
              ByteVector(kHeader, kHeader + 16));
}

TEST_F(JsonDocumentTest, SaveWritesHeaderLengthAndCompactText) {
    JsonDocument document;
    Fill(document,
         " {\n \"Properties\" : [ {\"Name\": \"a\", \"Value\": \"x y\"} ], \"n\": 1.5 }\n");
    MemoryStream out;
    ASSERT_TRUE(document.SaveToStream(out));
    const std::string text = "{\"Properties\":[{\"Name\":\"a\",\"Value\":\"x y\"}],\"n\":1.5}";
    EXPECT_EQ(out.Bytes(), Image(text));

    // The image loads back into the same document.
    JsonDocument again;
    MemoryStream in(out.Bytes());
    ASSERT_TRUE(again.LoadFromStream(in));
    EXPECT_EQ(TextOf(again), text);
}

TEST_F(JsonDocumentTest, SaveWithOtherHeaderBytesAndTheirLoad) {
    JsonDocument document;
    Fill(document, "{\"k\":\"v\"}");
    const uint8_t other[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    MemoryStream out;
    ASSERT_TRUE(document.SaveToStream(out, other));
    EXPECT_EQ(out.Bytes(), Image("{\"k\":\"v\"}", 9, other));
    // Readers skip the header unexamined.
    JsonDocument again;
    MemoryStream in(out.Bytes());
    EXPECT_TRUE(again.LoadFromStream(in));
    EXPECT_EQ(TextOf(again), "{\"k\":\"v\"}");
}

TEST_F(JsonDocumentTest, SaveFailsWhenTheStreamTakesLess) {
    JsonDocument document;
    ShortWriteStream out;
    EXPECT_FALSE(document.SaveToStream(out));
}

TEST_F(JsonDocumentTest, LoadReadsThroughAStreamOneByteAtATime) {
    JsonDocument document;
    TrickleStream in(Image("{\"a\":[1,2,{\"b\":null}]}"));
    ASSERT_TRUE(document.LoadFromStream(in));
    EXPECT_EQ(TextOf(document), "{\"a\":[1,2,{\"b\":null}]}");
}

// Every way a load fails leaves the document exactly as it was.
TEST_F(JsonDocumentTest, FailedLoadsLeaveTheDocumentAsItWas) {
    SetAvailable(400);  // the limit is 100 bytes
    const std::string before = "{\"kept\":[true]}";
    const std::string hundred = "{\"a\":\"" + std::string(92, 'x') + "\"}";
    ASSERT_EQ(hundred.size(), 100u);
    const std::string tooLong = "{\"a\":\"" + std::string(93, 'x') + "\"}";
    struct Case {
        const char* what;
        ByteVector image;
    };
    ByteVector shortHeader(kHeader, kHeader + 15);
    ByteVector shortLength(kHeader, kHeader + 16);
    shortLength.push_back(2);
    shortLength.push_back(0);
    shortLength.push_back(0);
    const std::vector<Case> cases = {
        {"empty stream", ByteVector()},
        {"15 header bytes", shortHeader},
        {"3 length bytes", shortLength},
        {"length 0", Image("", 0)},
        {"length 0 with text after it", Image("{}", 0)},
        {"length past the end", Image("{}", 3)},
        {"length far past the end", Image("{}", 99)},
        {"length above the limit", Image(tooLong)},
        {"not JSON", Image("{\"a\":")},
        {"two roots", Image("{} {}")},
        {"root an array", Image("[1]")},
        {"root a number", Image("123456789")},
        {"root a string", Image("\"s\"")},
        {"root null", Image("null")},
        {"only white space", Image("   ")},
        {"nested 65 deep", Image(std::string(64, '[') + "{}" + std::string(64, ']'))},
    };
    for (const Case& c : cases) {
        JsonDocument document;
        Fill(document, before);
        MemoryStream in(c.image);
        EXPECT_FALSE(document.LoadFromStream(in)) << c.what;
        EXPECT_EQ(TextOf(document), before) << c.what;

        // The same image held in memory, with room for the zero after the text.
        ByteVector buffer = c.image;
        buffer.push_back('#');
        EXPECT_FALSE(document.LoadFromBuffer(buffer.data(), static_cast<uint32_t>(buffer.size())))
            << c.what;
        EXPECT_EQ(TextOf(document), before) << c.what;
    }
    // At the limit the text loads.
    JsonDocument document;
    MemoryStream in(Image(hundred));
    EXPECT_TRUE(document.LoadFromStream(in));
}

TEST_F(JsonDocumentTest, LoadLimitIsAQuarterOfTheAvailableMemory) {
    struct Case {
        uint64_t available;
        uint32_t limit;
    };
    const Case cases[] = {
        {0, 0},
        {3, 0},
        {400, 100},
        {401, 100},
        {4ull * 0xFFFFFFFFull, 0xFFFFFFFFu},
        {4ull * 0xFFFFFFFFull + 4, 0xFFFFFFFFu},
        {UINT64_MAX, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SetAvailable(c.available);
        EXPECT_EQ(JsonDocument::LoadLimit(), c.limit) << c.available;
    }
    // Nothing available: nothing loads.
    SetAvailable(0);
    JsonDocument document;
    MemoryStream in(Image("{}"));
    EXPECT_FALSE(document.LoadFromStream(in));
}

TEST_F(JsonDocumentTest, NestingUpToTheBoundLoadsAndWrites) {
    // The root object is level 1: 63 arrays inside it make 64 levels.
    const std::string deepest = "{\"a\":" + std::string(63, '[') + std::string(63, ']') + "}";
    JsonDocument document;
    Fill(document, deepest);
    EXPECT_EQ(TextOf(document), deepest);
    EXPECT_EQ(JsonDocument::NestingDepth(document.GetDocument()), 64u);

    const std::string deeper = "{\"a\":" + std::string(64, '[') + std::string(64, ']') + "}";
    MemoryStream in(Image(deeper));
    EXPECT_FALSE(document.LoadFromStream(in));
    // Far deeper than any stack would take recursively.
    const std::string abyss = "{\"a\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
    MemoryStream deep(Image(abyss));
    EXPECT_FALSE(document.LoadFromStream(deep));
    EXPECT_EQ(TextOf(document), deepest);
}

TEST_F(JsonDocumentTest, WriteTextRefusesADocumentBuiltDeeperThanTheBound) {
    JsonDocument document;
    JsonDocument::Document& d = document.GetDocument();
    rapidjson::Value* inner = &d;
    for (int level = 1; level < 64; ++level) {
        inner->AddMember("a", rapidjson::Value(rapidjson::kObjectType), d.GetAllocator());
        inner = &(*inner)["a"];
    }
    rapidjson::StringBuffer buffer;
    EXPECT_TRUE(document.WriteText(buffer));
    inner->AddMember("a", rapidjson::Value(rapidjson::kArrayType), d.GetAllocator());
    rapidjson::StringBuffer refused;
    EXPECT_FALSE(document.WriteText(refused));
    MemoryStream out;
    EXPECT_FALSE(document.SaveToStream(out));
    EXPECT_TRUE(out.Bytes().empty());
}

TEST_F(JsonDocumentTest, LoadFromBufferNeedsRoomForTheZeroAfterTheText) {
    const std::string text = "{\"n\":\"v\"}";
    ByteVector exact = Image(text);
    JsonDocument document;
    EXPECT_FALSE(document.LoadFromBuffer(exact.data(), static_cast<uint32_t>(exact.size())));
    EXPECT_EQ(exact, Image(text));  // nothing written past the text

    ByteVector room = Image(text);
    room.push_back('}');
    ASSERT_TRUE(document.LoadFromBuffer(room.data(), static_cast<uint32_t>(room.size())));
    EXPECT_EQ(room.back(), 0);  // the byte after the text became the terminator
    // The document keeps its own copy of the text.
    std::fill(room.begin(), room.end(), 'z');
    EXPECT_EQ(TextOf(document), text);

    // Fewer than the 20 bytes of header and length: nothing is read.
    ByteVector tiny(kHeader, kHeader + 16);
    for (uint32_t size = 0; size < 20; ++size)
        EXPECT_FALSE(document.LoadFromBuffer(tiny.data(), size)) << size;
    EXPECT_FALSE(document.LoadFromBuffer(nullptr, 100));
}

TEST_F(JsonDocumentTest, ReadExactGivesNBytesAndAZeroOrNothing) {
    JsonDocument document;
    ByteVector buffer;
    TrickleStream trickle(ByteVector{'a', 'b', 'c', 'd'});
    ASSERT_TRUE(document.ReadExact(buffer, trickle, 3));
    EXPECT_EQ(buffer, (ByteVector{'a', 'b', 'c', 0}));

    MemoryStream shorter(ByteVector{'a', 'b'});
    EXPECT_FALSE(document.ReadExact(buffer, shorter, 3));
    EXPECT_TRUE(buffer.empty());

    FailingStream failing(ByteVector(10, 'x'), 4);
    EXPECT_FALSE(document.ReadExact(buffer, failing, 8));
    EXPECT_TRUE(buffer.empty());

    // A length that promises far more than the stream holds.
    MemoryStream small(ByteVector(100, 'x'));
    EXPECT_FALSE(document.ReadExact(buffer, small, 0xFFFFFFF0u));
    EXPECT_TRUE(buffer.empty());
}

TEST_F(JsonDocumentTest, MembersAreFoundAndSetByName) {
    JsonDocument document;
    Fill(document, "{\"a\":1,\"b\":{\"c\":2}}");
    JsonDocument::MemberIterator at;
    ASSERT_TRUE(document.HasMember("b", at));
    EXPECT_TRUE(at->value.IsObject());
    EXPECT_FALSE(document.HasMember("c", at));  // only root members
    EXPECT_TRUE(at == document.GetDocument().MemberEnd());
    EXPECT_TRUE(document.FindMember("a") != document.GetDocument().MemberEnd());

    EXPECT_TRUE(document.SetMemberString("a", "new\0ignored"));
    EXPECT_FALSE(document.SetMemberString("missing", "x"));
    EXPECT_EQ(TextOf(document), "{\"a\":\"new\",\"b\":{\"c\":2}}");
}

TEST_F(JsonDocumentTest, ResetStartsAgainFromAnEmptyObject) {
    JsonDocument document;
    Fill(document, "{\"a\":[1,2,3]}");
    document.Reset();
    EXPECT_EQ(TextOf(document), "{}");
    Fill(document, "{\"b\":true}");
    EXPECT_EQ(TextOf(document), "{\"b\":true}");
}

// The image goes to the stream under jsonLock: another thread cannot take it
// while the stream writes.
TEST(JsonLock, IsHeldWhileTheImageIsWritten) {
    TempDevice device;
    class ProbingStream : public Stream {
      public:
        int Read(uint8_t*, uint32_t) { return 0; }
        int Write(const uint8_t*, uint32_t count) {
            std::thread probe([this] {
                const bool taken = jsonLock.try_lock();
                if (taken)
                    jsonLock.unlock();
                lockedDuringWrite = !taken;
            });
            probe.join();
            return static_cast<int>(count);
        }
        void Close() {}
        std::atomic<bool> lockedDuringWrite{false};
    };
    JsonDocument document;
    ProbingStream stream;
    ASSERT_TRUE(document.SaveToStream(stream));
    EXPECT_TRUE(stream.lockedDuringWrite);
    // And it is free again afterwards.
    std::thread after([] {
        ASSERT_TRUE(jsonLock.try_lock());
        jsonLock.unlock();
    });
    after.join();
}

}  // namespace
