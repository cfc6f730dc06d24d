// What the handler writes: regions with their relocation, header fields, format,
// and garbage images that must not lead it outside the 32 KiB.
#include <gtest/gtest.h>

#include <functional>

#include "eeprom/wec_eeprom_handler.h"
#include "eeprom_fixture.h"
#include "support/temp_device.h"

namespace {

using eepromtest::EepromDevice;
using eepromtest::EntryOf;
using eepromtest::FormattedImage;
using eepromtest::PutRegion;
using eepromtest::SetEntry;
using eepromtest::Stored;
using fwtest::W;
typedef std::pair<uint16_t, uint16_t> Entry;

std::string Payload(char c, size_t count) {
    return std::string(count, c);
}

class RegionWriter : public ::testing::Test {
  protected:
    // Stores payload as region index through a file on the device.
    bool Write(WecEEPromHandler& handler, int index, const std::string& payload) {
        device_.Temp().Write("\\UpgradeTemp\\region.bin", payload);
        return handler.WriteRegionFromFile(index, W("\\UpgradeTemp\\region.bin"));
    }
    bool Verify(WecEEPromHandler& handler, int index, const std::string& payload) {
        device_.Temp().Write("\\UpgradeTemp\\verify.bin", payload);
        return handler.VerifyRegion(index, W("\\UpgradeTemp\\verify.bin"));
    }
    // The stored bytes of a region at offset, as laid out in the image.
    void ExpectRegionAt(const ByteVector& image, int index, uint16_t offset,
                        const std::string& payload) {
        const ByteVector stored = Stored(payload);
        EXPECT_EQ(EntryOf(image, index), Entry(offset, stored.size())) << "region " << index;
        EXPECT_TRUE(std::equal(stored.begin(), stored.end(), image.begin() + offset))
            << "region " << index;
    }

    EepromDevice device_;
};

TEST_F(RegionWriter, PlacesNewRegionsOneAfterAnotherPaddedWithErasedBytes) {
    device_.WriteImage(FormattedImage(19));
    WecEEPromHandler handler;
    ASSERT_TRUE(Write(handler, 0, Payload('a', 100)));
    ASSERT_TRUE(Write(handler, 2, Payload('c', 10)));
    ASSERT_TRUE(Write(handler, 1, Payload('b', 50)));
    const ByteVector image = device_.Image();
    ExpectRegionAt(image, 0, 64, Payload('a', 100));
    ExpectRegionAt(image, 2, 192, Payload('c', 10));
    ExpectRegionAt(image, 1, 256, Payload('b', 50));
    for (size_t i = 64 + 102; i < 192; ++i)
        ASSERT_EQ(image[i], 0xFF) << i;
    EXPECT_EQ(image.size(), eepromtest::kImageSize);
    EXPECT_TRUE(Verify(handler, 1, Payload('b', 50)));
    EXPECT_FALSE(Verify(handler, 1, Payload('b', 49)));
    EXPECT_FALSE(Verify(handler, 1, Payload('x', 50)));
}

TEST_F(RegionWriter, MovesTheLaterRegionsWhenARegionChangesSize) {
    ByteVector image = FormattedImage(19);
    PutRegion(image, 0, 64, Payload('a', 100));
    PutRegion(image, 1, 192, Payload('b', 50));
    PutRegion(image, 2, 256, Payload('c', 10));
    device_.WriteImage(image);
    WecEEPromHandler handler;

    // Longer: region 0 stays, 1 and 2 move behind its new end.
    ASSERT_TRUE(Write(handler, 0, Payload('A', 300)));
    image = device_.Image();
    ExpectRegionAt(image, 0, 64, Payload('A', 300));
    ExpectRegionAt(image, 1, 384, Payload('b', 50));
    ExpectRegionAt(image, 2, 448, Payload('c', 10));

    // Same size: overwritten in place, nothing moves.
    ASSERT_TRUE(Write(handler, 1, Payload('B', 50)));
    image = device_.Image();
    ExpectRegionAt(image, 1, 384, Payload('B', 50));
    ExpectRegionAt(image, 2, 448, Payload('c', 10));

    // Shorter: the later regions move down behind it.
    ASSERT_TRUE(Write(handler, 0, Payload('z', 10)));
    image = device_.Image();
    ExpectRegionAt(image, 0, 64, Payload('z', 10));
    ExpectRegionAt(image, 1, 128, Payload('B', 50));
    ExpectRegionAt(image, 2, 192, Payload('c', 10));
    EXPECT_TRUE(Verify(handler, 2, Payload('c', 10)));

    // A fresh handler finds the same layout.
    WecEEPromHandler again;
    ASSERT_EQ(again.Directory().size(), 3u);
    EXPECT_EQ(again.Directory()[2].offset, 192);
}

TEST_F(RegionWriter, RefusesWritesThatWouldEndPastTheEeprom) {
    ByteVector image = FormattedImage(19);
    PutRegion(image, 0, 64, Payload('a', 100));
    PutRegion(image, 1, 192, Payload('b', 20000));
    device_.WriteImage(image);
    WecEEPromHandler handler;
    // A new region behind region 1 (ends at 20194, next at 20224) with no room.
    EXPECT_FALSE(Write(handler, 2, Payload('c', 0x8000 - 20224 - 1)));
    // Region 0 growing pushes region 1 past the end.
    EXPECT_FALSE(Write(handler, 0, Payload('a', 13000)));
    // A file larger than any region.
    EXPECT_FALSE(Write(handler, 1, Payload('b', 0x8000)));
    EXPECT_EQ(device_.Image(), image);
    // Exactly to the end is fine.
    EXPECT_TRUE(Write(handler, 2, Payload('c', 0x8000 - 20224 - 2)));
    EXPECT_EQ(device_.Image().size(), eepromtest::kImageSize);
}

TEST_F(RegionWriter, FillsTheWholeEepromWithOneRegion) {
    device_.WriteImage(FormattedImage(19));
    WecEEPromHandler handler;
    const std::string largest = Payload('q', 0x8000 - 64 - 2);
    ASSERT_TRUE(Write(handler, 0, largest));
    EXPECT_TRUE(Verify(handler, 0, largest));
    EXPECT_FALSE(Write(handler, 1, "x"));
}

struct HeaderCase {
    const char* name;
    std::function<bool(WecEEPromHandler&)> write;
    bool ok;
    std::vector<std::pair<size_t, uint8_t>> bytes;  // header bytes afterwards
};

TEST(HeaderFields, WriteOnlyPositionsZeroToThreeWithCleanNumbers) {
    const HeaderCase cases[] = {
        {"byte hex",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(0, W("0xA6"), 16); },
         true,
         {{0, 0xA6}}},
        {"byte hex without prefix",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(3, W("a5"), 16); },
         true,
         {{3, 0xA5}}},
        {"byte decimal with leading space",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(2, W(" 255"), 10); },
         true,
         {{2, 0xFF}}},
        {"byte base 0 octal",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(1, W("017"), 0); },
         true,
         {{1, 15}}},
        {"byte base 0 hex",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(1, W("0x1f"), 0); },
         true,
         {{1, 0x1F}}},
        {"word low byte first",
         [](WecEEPromHandler& h) { return h.WriteHeaderWord(1, W("4660"), 10); },
         true,
         {{1, 0x34}, {2, 0x12}}},
        {"word at 2",
         [](WecEEPromHandler& h) { return h.WriteHeaderWord(2, W("FFFF"), 16); },
         true,
         {{2, 0xFF}, {3, 0xFF}, {1, 0x13}}},
        {"flag set",
         [](WecEEPromHandler& h) { return h.WriteHeaderFlag(3, W("1")); },
         true,
         {{3, 0xA5}}},
        {"flag clear",
         [](WecEEPromHandler& h) { return h.WriteHeaderFlag(3, W("yes")); },
         true,
         {{3, 0x00}}},
        {"byte position 4",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(4, W("1"), 10); },
         false,
         {}},
        {"byte position -1",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(-1, W("1"), 10); },
         false,
         {}},
        {"word position 3",
         [](WecEEPromHandler& h) { return h.WriteHeaderWord(3, W("1"), 10); },
         false,
         {}},
        {"byte too large",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(0, W("256"), 10); },
         false,
         {}},
        {"word too large",
         [](WecEEPromHandler& h) { return h.WriteHeaderWord(1, W("65536"), 10); },
         false,
         {}},
        {"negative",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(0, W("-1"), 10); },
         false,
         {}},
        {"trailing garbage",
         [](WecEEPromHandler& h) { return h.WriteHeaderWord(1, W("12abc"), 10); },
         false,
         {}},
        {"empty", [](WecEEPromHandler& h) { return h.WriteHeaderByte(0, W(""), 10); }, false, {}},
        {"digit outside the base",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(0, W("9"), 8); },
         false,
         {}},
        {"bad base",
         [](WecEEPromHandler& h) { return h.WriteHeaderByte(0, W("1"), 1); },
         false,
         {}},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        EepromDevice device;
        ByteVector image = FormattedImage(19);
        PutRegion(image, 0, 64, "payload");
        device.WriteImage(image);
        WecEEPromHandler handler;
        EXPECT_EQ(c.write(handler), c.ok);
        ByteVector expected = image;
        for (const auto& byte : c.bytes)
            expected[byte.first] = byte.second;
        EXPECT_EQ(device.Image(), expected);
    }
}

TEST(Format, ErasesEverythingAndMarksTheHeader) {
    EepromDevice device;
    ByteVector image = FormattedImage(19);
    PutRegion(image, 0, 64, "payload");
    PutRegion(image, 1, 128, "more");
    image[0] = 0x00;
    device.WriteImage(image);
    WecEEPromHandler handler;
    ASSERT_TRUE(handler.Format());
    ByteVector expected(eepromtest::kImageSize, 0xFF);
    expected[0] = 0xA6;
    EXPECT_EQ(device.Image(), expected);
    for (const EEPromDirectoryEntry& entry : handler.Directory())
        EXPECT_FALSE(entry.IsPresent());
}

TEST(DumpHeader, WritesTheSixtyFourHeaderBytes) {
    EepromDevice device;
    ByteVector image = FormattedImage(0x1234);
    PutRegion(image, 0, 64, "payload");
    device.WriteImage(image);
    WecEEPromHandler handler;
    ASSERT_TRUE(handler.DumpHeader(W("\\header.bin")));
    EXPECT_EQ(device.Temp().Read("\\header.bin"), std::string(image.begin(), image.begin() + 64));
}

// Every operation on a broken image answers with its failure result and
// leaves the image as it was (size included).
struct GarbageCase {
    const char* name;
    std::function<void(ByteVector&)> layOut;
    bool readRegion1;
    bool writeRegion1;
    bool writeRegion2;  // a new region in the free space after everything
    bool format;
};

TEST(GarbageImages, AnswerWithFailuresAndStayInside) {
    const GarbageCase cases[] = {
        {"offsets past the end",
         [](ByteVector& image) {
             SetEntry(image, 1, 0x7FF0, 0x0100);
             SetEntry(image, 2, 0xFF00, 0x0010);
         },
         false, false, false, true},
        {"lengths that overflow",
         [](ByteVector& image) {
             SetEntry(image, 1, 0xF000, 0xF000);
             SetEntry(image, 2, 0x0040, 0xFFFE);
         },
         false, false, false, true},
        {"overlapping regions",
         [](ByteVector& image) { PutRegion(image, 1, 96, std::string(200, 'o')); }, true, false,
         true, true},
        {"region inside the header", [](ByteVector& image) { SetEntry(image, 1, 8, 20); }, true,
         false, true, true},
        {"short image", [](ByteVector& image) { image.resize(40); }, false, false, false, false},
        {"image shorter than the directory", [](ByteVector& image) { image.resize(10); }, false,
         false, false, false},
    };
    for (const GarbageCase& c : cases) {
        SCOPED_TRACE(c.name);
        EepromDevice device;
        ByteVector image = FormattedImage(19);
        PutRegion(image, 0, 64, std::string(100, 'r'));
        c.layOut(image);
        device.WriteImage(image);
        device.Temp().Write("\\in.bin", std::string(198, 'n'));
        {
            WecEEPromHandler handler;
            EXPECT_EQ(handler.ReadRegionToFile(1, W("\\out1.bin")), c.readRegion1);
            EXPECT_FALSE(handler.ReadRegionToFile(2, W("\\out2.bin")));
            EXPECT_FALSE(handler.VerifyRegion(2, W("\\in.bin")));
            EXPECT_EQ(handler.WriteRegionFromFile(1, W("\\in.bin")), c.writeRegion1);
            EXPECT_FALSE(handler.WriteRegionFromFile(3, W("\\in.bin")));
            EXPECT_FALSE(handler.ReadRegionToFile(-1, W("\\out.bin")));
            EXPECT_EQ(device.Image(), image);
            EXPECT_EQ(handler.WriteRegionFromFile(2, W("\\in.bin")), c.writeRegion2);
            if (c.writeRegion2)
                EXPECT_TRUE(handler.VerifyRegion(2, W("\\in.bin")));
            else
                EXPECT_EQ(device.Image(), image);
            EXPECT_EQ(handler.Format(), c.format);
        }
        EXPECT_EQ(device.Image().size(), image.size());
        EXPECT_FALSE(device.Temp().Exists("\\out2.bin"));
    }
}

}  // namespace
