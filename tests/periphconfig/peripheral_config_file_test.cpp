// PeripheralConfigFile: the CRC-checked document, the platform section, the
// device list, lookups by name, and documents cut, corrupted, huge or deep.
#include "periphconfig/peripheral_config_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "package/memory_stream.h"
#include "periph_test_util.h"
#include "periphconfig/record_schema.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;
using fwtest::Wrapped;

const char kPlatform[] =
    "\"platform\":{\"productName\":\"OndrelSixHundredDpi\",\"cpuEngine\":\"AM3358\","
    "\"mainboard\":\"QMB\"}";

std::string Document(const std::string& devices, const std::string& platform = kPlatform) {
    return "{" + platform + (platform.empty() ? "" : ",") + "\"configuration\":{\"devices\":[" +
           devices + "]}}";
}

std::string Gpio(const std::string& name, const std::string& cls = "Gpio") {
    return "{\"name\":\"" + name + "\",\"class\":\"" + cls +
           "\",\"direction\":\"Output\",\"level\":\"High\"}";
}

bool Load(PeripheralConfigFile& file, const ByteVector& bytes) {
    MemoryStream stream(bytes);
    return file.Load(stream);
}

bool LoadFromStream(PeripheralConfigFile& file, const ByteVector& bytes) {
    MemoryStream stream(bytes);
    return file.LoadFromStream(stream);
}

std::string HeldText(PeripheralConfigFile& file) {
    rapidjson::StringBuffer buffer;
    file.WriteText(buffer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string SourceFile(const std::string& relative) {
    return fwtest::ReadTextFile(std::string(FWSETUP_SOURCE_DIR) + "/" + relative);
}

class PeripheralConfigFileTest : public ::testing::Test {
  protected:
    TempDevice device_;
};

TEST_F(PeripheralConfigFileTest, NewFileHasADefaultPlatformAndNoDevices) {
    PeripheralConfigFile file;
    ASSERT_TRUE(file.GetPlatformConfig());
    EXPECT_EQ(file.GetPlatformConfig()->GetProductName(), "");
    EXPECT_EQ(file.GetPlatformConfig()->cpuEngine, "");
    EXPECT_EQ(file.GetPlatformConfig()->mainboard, "");
    EXPECT_TRUE(file.GetDevices().empty());
    EXPECT_FALSE(file.FindDevice("x"));
    EXPECT_EQ(HeldText(file), "{}");
}

TEST_F(PeripheralConfigFileTest, SizeLimits) {
    PeripheralConfigFile file;
    EXPECT_FALSE(LoadFromStream(file, ByteVector{0x00, 0x00, '1'}));
    EXPECT_FALSE(LoadFromStream(file, ByteVector()));
    // Four bytes: an empty object behind its CRC parses, but holds no devices.
    EXPECT_TRUE(LoadFromStream(file, Wrapped("{}")));
    EXPECT_FALSE(Load(file, Wrapped("{}")));

    // Exactly 4 MiB with a right CRC is accepted; one byte more is refused.
    const size_t limit = 4194304;
    std::string big = "{\"a\":\"" + std::string(limit - 2 - 8, 'x') + "\"}";
    ASSERT_EQ(Wrapped(big).size(), limit);
    EXPECT_TRUE(LoadFromStream(file, Wrapped(big)));
    big.insert(6, 1, 'x');
    ASSERT_EQ(Wrapped(big).size(), limit + 1);
    EXPECT_FALSE(LoadFromStream(file, Wrapped(big)));
}

TEST_F(PeripheralConfigFileTest, CrcIsStoredLowByteFirst) {
    PeripheralConfigFile file;
    const ByteVector digits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ByteVector right = {0xC2, 0x44};
    right.insert(right.end(), digits.begin(), digits.end());
    ByteVector swapped = {0x44, 0xC2};
    swapped.insert(swapped.end(), digits.begin(), digits.end());
    EXPECT_EQ(Wrapped("123456789"), right);
    EXPECT_TRUE(LoadFromStream(file, right));
    EXPECT_FALSE(Load(file, right));  // the root is a number
    EXPECT_FALSE(LoadFromStream(file, swapped));

    // The same with a real document: either byte order of a wrong CRC fails.
    const ByteVector good = Wrapped(Document(Gpio("a")));
    EXPECT_TRUE(Load(file, good));
    ByteVector bad = good;
    std::swap(bad[0], bad[1]);
    ASSERT_NE(bad, good);
    EXPECT_FALSE(Load(file, bad));
    for (size_t i = 0; i < good.size(); ++i) {
        ByteVector flipped = good;
        flipped[i] ^= 0x20;
        EXPECT_FALSE(LoadFromStream(file, flipped)) << i;
    }
}

TEST_F(PeripheralConfigFileTest, TextEndsAtTheFirstZeroByteButTheCrcCoversAll) {
    const std::string text = Document(Gpio("a"));
    std::string withTail = text;
    withTail.push_back('\0');
    withTail += "not JSON at all {[";
    PeripheralConfigFile file;
    EXPECT_TRUE(Load(file, Wrapped(withTail)));
    EXPECT_TRUE(file.FindDevice("a"));
    // A CRC of the text alone does not cover the tail.
    ByteVector textCrc = Wrapped(text);
    textCrc.push_back(0);
    textCrc.insert(textCrc.end(), {'x', 'y'});
    PeripheralConfigFile other;
    EXPECT_FALSE(Load(other, textCrc));
    // An empty text before the zero is a parse error.
    EXPECT_FALSE(LoadFromStream(other, Wrapped(std::string("\0{}", 3))));
}

TEST_F(PeripheralConfigFileTest, TextMustBeOneValue) {
    PeripheralConfigFile file;
    for (const char* text : {"", " ", "{", "{} {}", "{}x", "{\"a\":1,}", "[1,]", "nul"})
        EXPECT_FALSE(LoadFromStream(file, Wrapped(text))) << '"' << text << '"';
    EXPECT_TRUE(LoadFromStream(file, Wrapped(" \r\n\t{} \n")));
}

TEST_F(PeripheralConfigFileTest, EmptyDevicesStillGiveThePlatform) {
    PeripheralConfigFile file;
    EXPECT_FALSE(Load(file, Wrapped(Document(""))));
    EXPECT_EQ(file.GetPlatformConfig()->GetProductName(), "OndrelSixHundredDpi");
    EXPECT_EQ(file.GetPlatformConfig()->GetCpuEngine(), "AM3358");
    EXPECT_EQ(file.GetPlatformConfig()->GetMainboard(), "QMB");
}

TEST_F(PeripheralConfigFileTest, UnknownClassesCountButAreNeverFound) {
    PeripheralConfigFile file;
    EXPECT_TRUE(Load(file, Wrapped(Document("{\"name\":\"x\",\"class\":\"Frobnicator\"}"))));
    ASSERT_EQ(file.GetDevices().size(), 1u);
    EXPECT_FALSE(file.GetDevices()[0]);
    EXPECT_FALSE(file.FindDevice("x"));
}

TEST_F(PeripheralConfigFileTest, FindDeviceTakesTheFirstTopLevelExactMatch) {
    const std::string fpga =
        "{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"FpgaHardwareConfig\",\"spiMaster\":" +
        Gpio("inner", "Gpio") + "}";
    PeripheralConfigFile file;
    ASSERT_TRUE(
        Load(file,
             Wrapped(Document(Gpio("twin") + "," + fpga + "," +
                              Gpio("twin", "Am335xGpio")
                                  .insert(1, "\"pinNumber\":\"0_1\",\"pinPullType\":\"None\",")))));
    ASSERT_EQ(file.GetDevices().size(), 3u);
    EXPECT_EQ(file.FindDevice("twin"), file.GetDevices()[0]);
    EXPECT_EQ(file.FindDevice("twin")->deviceClass, kDeviceClassGpio);
    EXPECT_TRUE(file.FindDevice("FPGA-HARDWARE-CONFIG"));
    EXPECT_FALSE(file.FindDevice("fpga-hardware-config"));
    EXPECT_FALSE(file.FindDevice("FPGA-HARDWARE-CONFIG "));
    EXPECT_FALSE(file.FindDevice("inner"));  // nested records are not found
    EXPECT_FALSE(file.FindDevice(""));
}

TEST_F(PeripheralConfigFileTest, SecondLoadAppendsAndEarlierRecordsWin) {
    const ByteVector bytes = Wrapped(Document(Gpio("a") + "," + Gpio("b")));
    PeripheralConfigFile file;
    ASSERT_TRUE(Load(file, bytes));
    const std::shared_ptr<DeviceConfig> first = file.FindDevice("b");
    ASSERT_TRUE(Load(file, bytes));
    ASSERT_EQ(file.GetDevices().size(), 4u);
    EXPECT_EQ(file.FindDevice("b"), first);
    EXPECT_NE(file.GetDevices()[3], first);
    EXPECT_EQ(file.GetDevices()[3]->name, "b");

    // A second document with another platform replaces the platform only.
    const std::string other =
        "\"platform\":{\"productName\":\"Other\",\"cpuEngine\":\"c\",\"mainboard\":\"m\"}";
    ASSERT_TRUE(Load(file, Wrapped(Document(Gpio("b"), other))));
    EXPECT_EQ(file.GetDevices().size(), 5u);
    EXPECT_EQ(file.FindDevice("b"), first);
    EXPECT_EQ(file.GetPlatformConfig()->GetProductName(), "Other");
}

TEST_F(PeripheralConfigFileTest, RecordsOutliveTheFile) {
    std::shared_ptr<DeviceConfig> kept;
    std::shared_ptr<PlatformConfig> platform;
    {
        PeripheralConfigFile file;
        ASSERT_TRUE(Load(file, Wrapped(Document(Gpio("a")))));
        kept = file.FindDevice("a");
        platform = file.GetPlatformConfig();
    }
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->name, "a");
    EXPECT_EQ(platform->productName, "OndrelSixHundredDpi");
}

// A document without a usable platform section changes nothing.
TEST_F(PeripheralConfigFileTest, BadOrMissingPlatformKeepsThePreviousOne) {
    PeripheralConfigFile file;
    ASSERT_TRUE(Load(file, Wrapped(Document(Gpio("a")))));
    const std::shared_ptr<PlatformConfig> before = file.GetPlatformConfig();
    const std::vector<std::string> platforms = {
        "",
        "\"platform\":null",
        "\"platform\":[]",
        "\"platform\":\"OndrelSixHundredDpi\"",
        "\"platform\":{}",
        "\"platform\":{\"productName\":7,\"cpuEngine\":\"c\",\"mainboard\":\"m\"}",
        "\"platform\":{\"productName\":\"p\",\"cpuEngine\":\"c\"}",
        "\"platform\":{\"productName\":\"p\",\"cpuEngine\":null,\"mainboard\":\"m\"}",
        "\"platform\":{\"productName\":\"p\",\"cpuEngine\":\"c\",\"mainboard\":{}}",
    };
    for (const std::string& platform : platforms) {
        EXPECT_FALSE(Load(file, Wrapped(Document(Gpio("b"), platform)))) << platform;
        EXPECT_EQ(file.GetPlatformConfig(), before) << platform;
        EXPECT_EQ(file.GetDevices().size(), 1u) << platform;
    }
    for (const char* root : {"[]", "3", "\"s\"", "null", "true"}) {
        EXPECT_FALSE(Load(file, Wrapped(root))) << root;
        EXPECT_EQ(file.GetPlatformConfig(), before) << root;
    }
    EXPECT_FALSE(file.FindDevice("b"));
}

TEST_F(PeripheralConfigFileTest, DeviceListOfTheWrongKindAddsNothing) {
    const std::vector<std::string> documents = {
        std::string("{") + kPlatform + "}",
        std::string("{") + kPlatform + ",\"configuration\":[]}",
        std::string("{") + kPlatform + ",\"configuration\":\"devices\"}",
        std::string("{") + kPlatform + ",\"configuration\":{}}",
        std::string("{") + kPlatform + ",\"configuration\":{\"devices\":{}}}",
        std::string("{") + kPlatform + ",\"configuration\":{\"devices\":\"a\"}}",
        std::string("{") + kPlatform + ",\"configuration\":{\"devices\":null}}",
    };
    for (const std::string& text : documents) {
        PeripheralConfigFile file;
        EXPECT_FALSE(Load(file, Wrapped(text))) << text;
        EXPECT_TRUE(file.GetDevices().empty()) << text;
        EXPECT_EQ(file.GetPlatformConfig()->GetProductName(), "OndrelSixHundredDpi") << text;
    }
}

// Entries that are not device objects, or whose members are bad, are null entries.
TEST_F(PeripheralConfigFileTest, BadEntriesAreNullEntries) {
    PeripheralConfigFile file;
    ASSERT_TRUE(Load(
        file,
        Wrapped(Document("1,\"Gpio\",null,[],{},{\"name\":3,\"class\":\"Gpio\"},"
                         "{\"name\":\"a\",\"class\":\"Gpio\",\"direction\":1,\"level\":\"High\"}," +
                         Gpio("ok")))));
    ASSERT_EQ(file.GetDevices().size(), 8u);
    for (size_t i = 0; i < 7; ++i)
        EXPECT_FALSE(file.GetDevices()[i]) << i;
    EXPECT_TRUE(file.GetDevices()[7]);
}

TEST_F(PeripheralConfigFileTest, FailedParseLeavesAnEmptyDocumentAndTheRecords) {
    PeripheralConfigFile file;
    ASSERT_TRUE(Load(file, Wrapped(Document(Gpio("a")))));
    EXPECT_NE(HeldText(file), "{}");
    EXPECT_FALSE(Load(file, Wrapped("{\"broken\":")));
    EXPECT_EQ(HeldText(file), "{}");
    EXPECT_EQ(file.GetDevices().size(), 1u);
    EXPECT_TRUE(file.FindDevice("a"));
}

// Every prefix of a real document, with its own CRC and with the whole
// document's CRC: only the whole document loads.
TEST_F(PeripheralConfigFileTest, DocumentsCutAtEveryByte) {
    const std::string text = SourceFile("sim/data/six-hundred-dpi-peripherals.json");
    const size_t complete = text.rfind('}') + 1;
    const ByteVector whole = Wrapped(text);
    for (size_t n = 0; n <= text.size(); ++n) {
        PeripheralConfigFile file;
        const std::string prefix = text.substr(0, n);
        EXPECT_EQ(Load(file, Wrapped(prefix)), n >= complete) << n;
        ByteVector cut(whole.begin(), whole.begin() + static_cast<long>(n + 2));
        PeripheralConfigFile other;
        EXPECT_EQ(Load(other, cut), n == text.size()) << n;
    }
}

TEST_F(PeripheralConfigFileTest, HugeArraysLoad) {
    std::string many;
    const size_t count = 300000;
    for (size_t i = 0; i < count; ++i)
        many += i == 0 ? "{}" : ",{}";
    PeripheralConfigFile file;
    EXPECT_TRUE(Load(file, Wrapped(Document(many))));
    EXPECT_EQ(file.GetDevices().size(), count);

    std::string strobes;
    for (size_t i = 0; i < 50000; ++i)
        strobes += (i == 0 ? "" : ",") + Gpio("s" + std::to_string(i));
    PeripheralConfigFile heads;
    ASSERT_TRUE(Load(heads, Wrapped(Document("{\"name\":\"h\",\"class\":\"ThermalPrinthead\","
                                             "\"strobes\":[" +
                                             strobes + "]}"))));
    auto head = std::static_pointer_cast<ThermalPrintheadConfig>(heads.FindDevice("h"));
    ASSERT_TRUE(head);
    EXPECT_EQ(head->strobes.size(), 50000u);
    EXPECT_EQ(head->strobes.back()->name, "s49999");
}

TEST_F(PeripheralConfigFileTest, JsonNestedDeeperThanSixtyFourLevelsIsRefused) {
    // The root object, "configuration", "devices" and the entry make 4 levels.
    auto nested = [](size_t arrays) {
        return Document(std::string(arrays, '[') + std::string(arrays, ']'));
    };
    PeripheralConfigFile file;
    EXPECT_TRUE(Load(file, Wrapped(nested(61))));
    EXPECT_FALSE(LoadFromStream(file, Wrapped(nested(62))));
    EXPECT_FALSE(LoadFromStream(file, Wrapped(nested(1000000))));
    // Nested device objects deep inside the bound but past sixteen device levels.
    std::string chain = Gpio("leaf");
    for (int i = 0; i < 20; ++i)
        chain = "{\"name\":\"h" + std::to_string(i) +
                "\",\"class\":\"ThermalPrinthead\",\"data\":" + chain + "}";
    EXPECT_TRUE(Load(file, Wrapped(Document(chain))));
}

// The default printer's document and the second example hold every class of
// the table between them, and load without surprises.
TEST_F(PeripheralConfigFileTest, ExampleDocumentsCoverEveryClass) {
    std::set<std::string> seen;
    struct Example {
        const char* path;
        const char* product;
        std::set<std::string> nullNames;
    };
    const Example examples[] = {
        {"sim/data/default-peripherals.json", "OndrelThreeHundredDpi", {}},
        {"sim/data/six-hundred-dpi-peripherals.json",
         "OndrelSixHundredDpi",
         {"IOX3-SPARE", "RESERVED"}},
    };
    for (const Example& example : examples) {
        const std::string text = SourceFile(example.path);
        PeripheralConfigFile file;
        ASSERT_TRUE(Load(file, Wrapped(text))) << example.path;
        EXPECT_EQ(file.GetPlatformConfig()->GetProductName(), example.product);
        // Every "class" text anywhere in the document.
        const rapidjson::Document document = fwtest::ParseJson(text);
        std::vector<const rapidjson::Value*> open = {&document};
        while (!open.empty()) {
            const rapidjson::Value* v = open.back();
            open.pop_back();
            if (v->IsArray())
                for (const rapidjson::Value& e : v->GetArray())
                    open.push_back(&e);
            if (v->IsObject())
                for (const auto& m : v->GetObject()) {
                    if (std::string(m.name.GetString()) == "class" && m.value.IsString())
                        seen.insert(m.value.GetString());
                    open.push_back(&m.value);
                }
        }
        // Top-level entries are null exactly where the document means it, and
        // each record is the one its document entry describes.
        const rapidjson::Value& devices = document["configuration"]["devices"];
        ASSERT_EQ(file.GetDevices().size(), devices.Size());
        for (rapidjson::SizeType i = 0; i < devices.Size(); ++i) {
            const std::string name = devices[i]["name"].GetString();
            EXPECT_EQ(static_cast<bool>(file.GetDevices()[i]), example.nullNames.count(name) == 0)
                << example.path << " " << name;
            rapidjson::Document scratch;
            EXPECT_EQ(schema::ExpectedDevice(devices[i], 0, scratch.GetAllocator()).IsNull(),
                      !file.GetDevices()[i])
                << name;
        }
    }
    for (const schema::Class& c : schema::Classes())
        EXPECT_EQ(seen.count(c.name), 1u) << c.name << " appears in neither example";
}

TEST_F(PeripheralConfigFileTest, DefaultDocumentNamesTheFpgaLink) {
    PeripheralConfigFile file;
    ASSERT_TRUE(Load(file, Wrapped(SourceFile("sim/data/default-peripherals.json"))));
    const std::shared_ptr<FpgaHardwareConfig> fpga = file.FindFpgaHardwareConfig();
    ASSERT_TRUE(fpga);
    EXPECT_EQ(fpga->GetSpiModule(), 0);
    EXPECT_EQ(fpga->GetChipSelect(), 0);
    EXPECT_EQ(fpga->GetChipSelectPin(), 49);  // "1_17"
    EXPECT_EQ(fpga->GetClockDivider(), 2u);
    EXPECT_EQ(fpga->GetWordLength(), 8);
    EXPECT_FALSE(fpga->GetClockPolarity());
    EXPECT_FALSE(fpga->GetClockPhase());
}

// The name is looked up as given; only a complete FpgaHardwareConfig counts.
TEST_F(PeripheralConfigFileTest, FpgaLinkNeedsTheRightClassUnderItsName) {
    const std::string spi =
        "{\"name\":\"s\",\"class\":\"SpiDevice\",\"transferMode\":\"x\",\"chipSelectPolarity\":"
        "\"x\"}";
    const std::string cs =
        "{\"name\":\"c\",\"class\":\"Am335xGpio\",\"direction\":\"Output\",\"level\":\"High\","
        "\"pinNumber\":\"0_3\",\"pinPullType\":\"None\"}";
    const std::string good =
        "{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"FpgaHardwareConfig\","
        "\"spiMaster\":" +
        spi + ",\"gpioChipSelect\":" + cs + "}";
    struct Case {
        const char* what;
        std::string devices;
        bool found;
    };
    const std::vector<Case> cases = {
        {"complete", good, true},
        {"another class under the name", Gpio("FPGA-HARDWARE-CONFIG") + "," + good, false},
        {"no chip select",
         "{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"FpgaHardwareConfig\","
         "\"spiMaster\":" +
             spi + "}",
         false},
        {"a plain GPIO as chip select",
         "{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"FpgaHardwareConfig\",\"spiMaster\":" +
             spi + ",\"gpioChipSelect\":" + Gpio("c") + "}",
         false},
        {"a bus as SPI master",
         "{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"FpgaHardwareConfig\",\"spiMaster\":"
         "{\"name\":\"b\",\"class\":\"SpiMasterBus\"},\"gpioChipSelect\":" +
             cs + "}",
         false},
        {"the name in lower case",
         "{\"name\":\"fpga-hardware-config\",\"class\":\"FpgaHardwareConfig\",\"spiMaster\":" +
             spi + ",\"gpioChipSelect\":" + cs + "}",
         false},
    };
    for (const Case& c : cases) {
        PeripheralConfigFile file;
        ASSERT_TRUE(Load(file, Wrapped(Document(c.devices)))) << c.what;
        EXPECT_EQ(static_cast<bool>(file.FindFpgaHardwareConfig()), c.found) << c.what;
    }
}

// jsonLock is held around the parse only, not while the stream is read.
TEST(JsonLockPeripheralConfig, IsFreeWhileTheStreamIsRead) {
    TempDevice device;
    class ProbingStream : public MemoryStream {
      public:
        explicit ProbingStream(const ByteVector& bytes) : MemoryStream(bytes) {}
        int Read(uint8_t* buffer, uint32_t count) {
            if (!probed_) {
                probed_ = true;
                std::thread probe([this] {
                    free_ = jsonLock.try_lock();
                    if (free_)
                        jsonLock.unlock();
                });
                probe.join();
            }
            return MemoryStream::Read(buffer, count);
        }
        bool probed_ = false;
        std::atomic<bool> free_{false};
    };
    PeripheralConfigFile file;
    ProbingStream stream(Wrapped(Document(Gpio("a"))));
    EXPECT_TRUE(file.Load(stream));
    EXPECT_TRUE(stream.free_);
}

}  // namespace
