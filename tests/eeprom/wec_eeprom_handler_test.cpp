// The EEPROM handler over the simulated driver: activation, board id, directory
// repair, region reads.
#include <gtest/gtest.h>

#include <functional>

#include "eeprom/eeprom_reader.h"
#include "eeprom/wec_eeprom_handler.h"
#include "eeprom_fixture.h"
#include "fileutil/crc16.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using eepromtest::BlankImage;
using eepromtest::EepromDevice;
using eepromtest::EntryOf;
using eepromtest::FormattedImage;
using eepromtest::PutRegion;
using eepromtest::SetEntry;
using eepromtest::Stored;
using fwtest::W;

TEST(Crc16, MaximDowCheckValues) {
    EXPECT_EQ(Crc16::Compute(NString("123456789")), 0x44C2);
    // Initial value 0 and the final complement.
    EXPECT_EQ(Crc16::Compute(NString()), 0xFFFF);
    const ByteVector digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16::Compute(digits), 0x44C2);
}

struct BoardIdCase {
    const char* name;
    std::function<void(EepromDevice&)> setUp;
    uint16_t expected;
};

TEST(ReadBoardId, ReadsTheLittleEndianIdOrAnswersUnreadable) {
    const BoardIdCase cases[] = {
        {"id bytes 0x13 0x00", [](EepromDevice& d) { d.WriteImage(FormattedImage(19)); }, 19},
        {"id bytes 0x34 0x12", [](EepromDevice& d) { d.WriteImage(FormattedImage(0x1234)); },
         0x1234},
        {"device delivers one id byte",
         [](EepromDevice& d) {
             d.WriteImage({0xA6, 0x13});
         },
         0xFFFF},
        {"empty image", [](EepromDevice& d) { d.WriteImage({}); }, 0xFFFF},
        {"no image", [](EepromDevice&) {}, 0xFFFF},
        {"no driver file",
         [](EepromDevice& d) {
             d.WriteImage(FormattedImage(19));
             d.RemoveDriverFile();
         },
         0xFFFF},
    };
    for (const BoardIdCase& c : cases) {
        SCOPED_TRACE(c.name);
        EepromDevice device;
        c.setUp(device);
        EXPECT_EQ(EEPromReader::ReadBoardId(), c.expected);
        EXPECT_FALSE(device.DriverLoaded());
    }
}

TEST(WecEEPromHandler, LoadsTheDriverThroughTheRegistryAndUnloadsIt) {
    EepromDevice device;
    device.WriteImage(FormattedImage(8));
    device.StartTrace();
    {
        WecEEPromHandler handler;
        ASSERT_TRUE(handler.IsOpen());
        EXPECT_TRUE(device.DriverLoaded());
        const std::string registry = eepromtest::ReadHostFile(device.Hw("registry.json"));
        EXPECT_NE(registry.find("\"HKEY_LOCAL_MACHINE\\\\Drivers\\\\EEpromUtil\""),
                  std::string::npos)
            << registry;
        EXPECT_NE(registry.find("\"Prefix\": \"EPM\""), std::string::npos) << registry;
        EXPECT_NE(registry.find("\"Index\": 1"), std::string::npos) << registry;
        EXPECT_NE(registry.find("\"Dll\": \"\\\\boot\\\\EEPromUtilDriver.dll\""), std::string::npos)
            << registry;
    }
    EXPECT_FALSE(device.DriverLoaded());
    const std::vector<fwtest::TraceCall> trace = device.Trace();
    ASSERT_GE(trace.size(), 6u);
    EXPECT_EQ(trace[0].line, R"({"dev":"EPM*","op":"find","ok":false})");
    EXPECT_EQ(trace[1].line, R"({"dev":"Drivers\\EEpromUtil","op":"activate","ok":true})");
    EXPECT_EQ(trace[2].line, R"({"dev":"EPM1:","op":"open","ok":true})");
    EXPECT_EQ(trace[3].line, R"({"dev":"EPM1:","op":"ioctl","code":"0x222004","ok":true})");
    // The directory: positioned at offset 4 for 12 bytes, then read.
    EXPECT_EQ(trace[4].line, R"({"dev":"EPM1:","op":"seek","offset":4,"method":12,"ok":true})");
    EXPECT_EQ(trace[5].Brief(), "EPM1: read");
    EXPECT_EQ(trace[5].data, "ffffffffffffffffffffffff");
    // Unloaded again: the device closed, the driver deactivated, its handle closed.
    const std::vector<std::string> brief = fwtest::BriefTrace(trace);
    ASSERT_GE(brief.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(brief.end() - 3, brief.end()),
              std::vector<std::string>(
                  {"EPM1: close", "Drivers\\EEpromUtil deactivate", "Drivers\\EEpromUtil close"}));
}

TEST(WecEEPromHandler, LeavesADriverThatWasLoadedAlreadyLoaded) {
    EepromDevice device;
    device.WriteImage(FormattedImage(18));
    device.MarkDriverLoaded();
    {
        WecEEPromHandler handler;
        ASSERT_TRUE(handler.IsOpen());
        EXPECT_EQ(handler.Read(1, 2), ByteVector({18, 0}));
    }
    EXPECT_TRUE(device.DriverLoaded());
    // A driver found loaded is not registered again.
    EXPECT_FALSE(fs::exists(device.Hw("registry.json")));
    EXPECT_EQ(EEPromReader::ReadBoardId(), 18);
    EXPECT_TRUE(device.DriverLoaded());
}

TEST(WecEEPromHandler, IsUnusableWithoutALoadableDriver) {
    EepromDevice device;
    device.WriteImage(FormattedImage(19));
    device.RemoveDriverFile();
    device.StartTrace();
    {
        WecEEPromHandler handler;
        EXPECT_FALSE(handler.IsOpen());
        EXPECT_TRUE(handler.Read(0, 64).empty());
        EXPECT_TRUE(handler.Directory().empty());
        EXPECT_FALSE(handler.ReadRegionToFile(0, W("\\region.json")));
        EXPECT_FALSE(handler.Format());
    }
    EXPECT_FALSE(device.Temp().Exists("\\region.json"));
    EXPECT_EQ(device.Image(), FormattedImage(19));
    EXPECT_FALSE(device.DriverLoaded());
}

TEST(WecEEPromHandler, TriesActivationEvenWhenTheKeyCannotBeCreated) {
    EepromDevice device;
    device.WriteImage(FormattedImage(19));
    eepromtest::WriteHostFile(device.Hw("registry.json"), "not json");
    device.StartTrace();
    {
        WecEEPromHandler handler;
        EXPECT_FALSE(handler.IsOpen());
    }
    EXPECT_EQ(eepromtest::ReadHostFile(device.Hw("registry.json")), "not json");
    const std::vector<fwtest::TraceCall> trace = device.Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[1].Brief(), "Drivers\\EEpromUtil activate");
    EXPECT_FALSE(trace[1].ok);
}

// Region data of count bytes other than 0xFF.
std::string Data(size_t count) {
    std::string data;
    for (size_t i = 0; i < count; ++i)
        data.push_back(static_cast<char>('a' + i % 26));
    return data;
}

struct RepairCase {
    const char* name;
    std::function<void(ByteVector&)> layOut;
    std::pair<uint16_t, uint16_t> stored;  // entry 0 in the EEPROM afterwards
    std::pair<uint16_t, uint16_t> inUse;   // entry 0 as the handler uses it
};

TEST(WecEEPromHandler, RepairsAMissingEntryZero) {
    const std::pair<uint16_t, uint16_t> kBlank(0xFFFF, 0xFFFF);
    const std::pair<uint16_t, uint16_t> kAssumed(64, 16384);
    auto putData = [](ByteVector& image, size_t count) {
        const std::string data = Data(count);
        std::copy(data.begin(), data.end(), image.begin() + 64);
    };
    const RepairCase cases[] = {
        {"100 bytes then 0xFF",
         [&](ByteVector& image) { putData(image, 100); },
         {64, 100},
         {64, 100}},
        {"byte 64 is 0xFF", [](ByteVector&) {}, kBlank, kAssumed},
        {"offset below 4 counts as absent",
         [&](ByteVector& image) {
             putData(image, 100);
             SetEntry(image, 0, 2, 100);
         },
         {64, 100},
         {64, 100}},
        {"length 0 counts as absent",
         [&](ByteVector& image) {
             putData(image, 100);
             SetEntry(image, 0, 64, 0);
         },
         {64, 100},
         {64, 100}},
        {"no 0xFF in 16384 bytes", [&](ByteVector& image) { putData(image, 16384); }, kBlank,
         kAssumed},
        {"present entry is left alone",
         [&](ByteVector& image) {
             putData(image, 100);
             SetEntry(image, 0, 64, 30);
         },
         {64, 30},
         {64, 30}},
    };
    for (const RepairCase& c : cases) {
        SCOPED_TRACE(c.name);
        EepromDevice device;
        ByteVector image = FormattedImage(19);
        c.layOut(image);
        device.WriteImage(image);
        device.StartTrace();
        WecEEPromHandler handler;
        ASSERT_EQ(handler.Directory().size(), 3u);
        EXPECT_EQ(handler.Directory()[0].offset, c.inUse.first);
        EXPECT_EQ(handler.Directory()[0].length, c.inUse.second);
        const ByteVector after = device.Image();
        EXPECT_EQ(EntryOf(after, 0), c.stored);
        // Nothing but the directory ever changes, and only when it is repaired.
        ByteVector expected = image;
        SetEntry(expected, 0, c.stored.first, c.stored.second);
        EXPECT_EQ(after, expected);
        EXPECT_EQ(device.TracedWrites(), EntryOf(image, 0) == c.stored ? 0u : 1u);
    }
}

TEST(WecEEPromHandler, SkipsTheRepairWhenRegionZeroCannotBeReadWhole) {
    EepromDevice device;
    ByteVector image = FormattedImage(19);
    const std::string data = Data(100);
    std::copy(data.begin(), data.end(), image.begin() + 64);
    image.resize(64 + 1000);  // the chip ends inside the 16384 bytes looked at
    device.WriteImage(image);
    WecEEPromHandler handler;
    ASSERT_EQ(handler.Directory().size(), 3u);
    EXPECT_EQ(handler.Directory()[0].length, 16384);
    EXPECT_EQ(device.Image(), image);
    EXPECT_TRUE(handler.ReadRegion(0).empty());
}

TEST(WecEEPromHandler, ReadsARegionToAFileWithItsCrcInFront) {
    EepromDevice device;
    ByteVector image = FormattedImage(19);
    PutRegion(image, 0, 64, "{\"devices\":[]}");
    device.WriteImage(image);
    device.Temp().MakeDir("\\UpgradeTemp");
    WecEEPromHandler handler;
    ASSERT_TRUE(handler.ReadRegionToFile(0, W("\\UpgradeTemp\\config.json")));
    const ByteVector stored = Stored("{\"devices\":[]}");
    EXPECT_EQ(device.Temp().Read("\\UpgradeTemp\\config.json"),
              std::string(stored.begin(), stored.end()));
}

TEST(WecEEPromHandler, LeavesTheTargetFileAloneWhenARegionCannotBeRead) {
    struct Case {
        const char* name;
        std::function<void(ByteVector&)> layOut;
    };
    const Case cases[] = {
        {"longer than the device delivers",
         [](ByteVector& image) {
             SetEntry(image, 1, 64, 200);
             image.resize(164);
         }},
        {"ends past the end of the EEPROM",
         [](ByteVector& image) { SetEntry(image, 1, 0x7FC0, 0x100); }},
        {"offset and length overflow 16 bits",
         [](ByteVector& image) { SetEntry(image, 1, 0xF000, 0xF000); }},
        {"absent", [](ByteVector&) {}},
        {"no image", [](ByteVector& image) { image.clear(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EepromDevice device;
        ByteVector image = FormattedImage(19);
        PutRegion(image, 0, 64, "x");
        c.layOut(image);
        if (!image.empty())
            device.WriteImage(image);
        device.Temp().Write("\\UpgradeTemp\\config.json", "old contents");
        WecEEPromHandler handler;
        EXPECT_FALSE(handler.ReadRegionToFile(1, W("\\UpgradeTemp\\config.json")));
        EXPECT_FALSE(handler.ReadRegionToFile(1, W("\\UpgradeTemp\\new.json")));
        EXPECT_EQ(device.Temp().Read("\\UpgradeTemp\\config.json"), "old contents");
        EXPECT_FALSE(device.Temp().Exists("\\UpgradeTemp\\new.json"));
    }
}

}  // namespace
