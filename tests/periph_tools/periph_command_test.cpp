// fwsetup periph wrap / show and the peripheral configuration of `device init`,
// end to end through the built binary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "periphconfig/periph_test_util.h"
#include "periphconfig/record_schema.h"
#include "run_fwsetup.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::TempDevice;
using fwtest::ToolRun;

const std::string kSource = FWSETUP_SOURCE_DIR;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::string Wrapped(const std::string& text) {
    const ByteVector bytes = fwtest::Wrapped(text);
    return std::string(bytes.begin(), bytes.end());
}

bool HasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : Lines(text))
        if (l == line)
            return true;
    return false;
}

// stdout holds exactly one JSON document.
rapidjson::Document OneJsonDocument(const ToolRun& run) {
    rapidjson::Document document;
    document.Parse(run.out.c_str(), run.out.size());
    EXPECT_FALSE(document.HasParseError()) << run.out;
    return document;
}

// The whole `periph show --json` document expected for a JSON text.
std::string ExpectedShow(const std::string& text, bool loaded) {
    const rapidjson::Document source = fwtest::ParseJson(text);
    rapidjson::Document expected(rapidjson::kObjectType);
    auto& a = expected.GetAllocator();
    expected.AddMember("loaded", loaded, a);
    rapidjson::Value platform(source["platform"], a);
    expected.AddMember("platform", platform, a);
    rapidjson::Value devices(rapidjson::kArrayType);
    for (const rapidjson::Value& device : source["configuration"]["devices"].GetArray())
        devices.PushBack(schema::ExpectedDevice(device, 0, a), a);
    expected.AddMember("devices", devices, a);
    return fwtest::Compact(expected);
}

class PeriphTool : public ::testing::Test {
  protected:
    fs::path Printer() const { return scratch_.Root() / "printer"; }
    fs::path Scratch(const std::string& name) const { return scratch_.Root() / name; }
    ToolRun Run(const std::vector<std::string>& args) const {
        return RunFwsetup(args, scratch_.Root());
    }
    void Init(const std::vector<std::string>& options) const {
        std::vector<std::string> args = {"device", "init", Printer().string()};
        args.insert(args.end(), options.begin(), options.end());
        const ToolRun run = Run(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    ToolRun ShowDevice(bool json = true) const {
        std::vector<std::string> args = {"periph", "show", "--device", Printer().string()};
        if (json)
            args.push_back("--json");
        return Run(args);
    }

    TempDevice scratch_;
};

TEST_F(PeriphTool, WrapPutsTheCrcLowByteFirstBeforeTheBytes) {
    WriteFile(Scratch("digits.json"), "123456789");
    ToolRun run = Run({"periph", "wrap", Scratch("digits.json").string(), Scratch("out").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(Scratch("out")),
              "\xC2\x44"
              "123456789");

    // An existing OUT is replaced; nothing is left beside it.
    WriteFile(Scratch("doc.json"), std::string("{}\0tail", 7));
    run = Run({"periph", "wrap", Scratch("doc.json").string(), Scratch("out").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(Scratch("out")), Wrapped(std::string("{}\0tail", 7)));
    WriteFile(Scratch("empty.json"), "");
    run = Run({"periph", "wrap", Scratch("empty.json").string(), Scratch("out").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(Scratch("out")), Wrapped(""));
    for (const auto& entry : fs::directory_iterator(scratch_.Root()))
        EXPECT_EQ(entry.path().filename().string().find(".fwsetup"), std::string::npos)
            << entry.path();
}

// Refused outputs: exit 2, one line, and every file as it was.
TEST_F(PeriphTool, WrapRefusesOutputsThatWouldDestroySomething) {
    const std::string in = Scratch("in.json").string();
    WriteFile(in, "{\"a\":1}");
    fs::create_directory(Scratch("folder"));
    fs::create_symlink(in, Scratch("link-to-in"));
    fs::create_hard_link(in, Scratch("hard-link-to-in"));
    WriteFile(Scratch("victim"), "keep");
    fs::create_symlink(Scratch("victim"), Scratch("link-to-victim"));
    ASSERT_EQ(mkfifo(Scratch("fifo").c_str(), 0600), 0);
    struct Case {
        const char* what;
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"OUT is IN", in, in},
        {"OUT is IN through a link", in, Scratch("link-to-in").string()},
        {"OUT is a hard link of IN", in, Scratch("hard-link-to-in").string()},
        {"IN is OUT through a link", Scratch("link-to-in").string(), in},
        {"OUT is a folder", in, Scratch("folder").string()},
        {"OUT is a link", in, Scratch("link-to-victim").string()},
        {"OUT is a FIFO", in, Scratch("fifo").string()},
        {"OUT in a missing folder", in, Scratch("no/such/out").string()},
        {"IN is missing", Scratch("missing.json").string(), Scratch("new-out").string()},
        {"IN is a folder", Scratch("folder").string(), Scratch("new-out").string()},
        {"IN is a FIFO", Scratch("fifo").string(), Scratch("new-out").string()},
        {"OUT is empty", in, ""},
    };
    for (const Case& c : cases) {
        const ToolRun run = Run({"periph", "wrap", c.in, c.out});
        EXPECT_EQ(run.exitCode, 2) << c.what << ": " << run.out << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << c.what << ": " << run.err;
        EXPECT_EQ(ReadFile(in), "{\"a\":1}") << c.what;
        EXPECT_EQ(ReadFile(Scratch("victim")), "keep") << c.what;
        EXPECT_TRUE(fs::is_symlink(Scratch("link-to-victim"))) << c.what;
        EXPECT_FALSE(fs::exists(Scratch("new-out"))) << c.what;
    }
    EXPECT_TRUE(fs::is_fifo(Scratch("fifo")));
    EXPECT_TRUE(fs::is_empty(Scratch("folder")));
}

// The default printer's region 0, as the module reads it, field by field
// against the document in the project.
TEST_F(PeriphTool, ShowJsonOfTheDefaultPrinterMatchesItsDocument) {
    Init({});
    const ToolRun run = ShowDevice();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const rapidjson::Document shown = OneJsonDocument(run);
    const std::string text = ReadFile(kSource + "/sim/data/default-peripherals.json");
    EXPECT_EQ(fwtest::Compact(shown), ExpectedShow(text, true));
    ASSERT_TRUE(shown.IsObject() && shown.HasMember("devices"));
    EXPECT_EQ(std::string(shown["platform"]["productName"].GetString()), "OndrelThreeHundredDpi");
    // Every top-level device has its record.
    for (const rapidjson::Value& device : shown["devices"].GetArray())
        EXPECT_TRUE(device.IsObject());
    // The region is the project's document byte for byte.
    EXPECT_EQ(Run({"eeprom", "--device", Printer().string(), "verify-region", "0",
                   kSource + "/sim/data/default-peripherals.json"})
                  .exitCode,
              0);
}

TEST_F(PeriphTool, ShowJsonOfAFileMatchesItsDocument) {
    for (const char* example :
         {"/sim/data/six-hundred-dpi-peripherals.json", "/sim/data/default-peripherals.json"}) {
        const std::string text = ReadFile(kSource + example);
        WriteFile(Scratch("region0.bin"), Wrapped(text));
        const ToolRun run = Run({"periph", "show", Scratch("region0.bin").string(), "--json"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(fwtest::Compact(OneJsonDocument(run)), ExpectedShow(text, true)) << example;
    }
}

// Whatever the document holds, show prints one JSON document and exits 0.
TEST_F(PeriphTool, ShowJsonOfDocumentsThatDoNotLoad) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string expected;
        bool loaded = false;
    };
    const std::string none =
        "\"platform\":{\"productName\":\"\",\"cpuEngine\":\"\",\"mainboard\":\"\"}";
    const std::vector<Case> cases = {
        {"three bytes", "\x01\x02\x03", "{\"loaded\":false," + none + ",\"devices\":[]}"},
        {"a wrong CRC", "\x00\x00{}", "{\"loaded\":false," + none + ",\"devices\":[]}"},
        {"not JSON", Wrapped("{\"platform\":"), "{\"loaded\":false," + none + ",\"devices\":[]}"},
        {"no devices",
         Wrapped("{\"platform\":{\"productName\":\"P\\u00e9\",\"cpuEngine\":\"c\",\"mainboard\":"
                 "\"m\"},\"configuration\":{\"devices\":[]}}"),
         "{\"loaded\":false,\"platform\":{\"productName\":\"P\xC3\xA9\",\"cpuEngine\":\"c\","
         "\"mainboard\":\"m\"},\"devices\":[]}"},
        {"a null record and bytes that are not UTF-8",
         Wrapped("{\"platform\":{\"productName\":\"\xFF\",\"cpuEngine\":\"c\",\"mainboard\":\"m\"},"
                 "\"configuration\":{\"devices\":[{\"name\":\"x\",\"class\":\"Nope\"}]}}"),
         "{\"loaded\":true,\"platform\":{\"productName\":\"\xEF\xBF\xBD\",\"cpuEngine\":\"c\","
         "\"mainboard\":\"m\"},\"devices\":[null]}",
         true},
    };
    for (const Case& c : cases) {
        WriteFile(Scratch("region0.bin"), c.bytes);
        const ToolRun run = Run({"periph", "show", Scratch("region0.bin").string(), "--json"});
        EXPECT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
        EXPECT_EQ(fwtest::Compact(OneJsonDocument(run)), c.expected) << c.what;
        const ToolRun text = Run({"periph", "show", Scratch("region0.bin").string()});
        EXPECT_EQ(text.exitCode, 0) << c.what;
        EXPECT_TRUE(HasLine(text.out, c.loaded ? "loaded: yes" : "loaded: no (see below)"))
            << c.what << "\n"
            << text.out;
    }
}

TEST_F(PeriphTool, ShowRefusesWhatItCannotRead) {
    Init({"--no-eeprom"});
    const std::string blank = (scratch_.Root() / "blank").string();
    fs::create_directories(fs::path(blank) / "fs");
    fs::create_directories(fs::path(blank) / "hw");
    ASSERT_EQ(mkfifo(Scratch("fifo").c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> cases = {
        {"periph", "show", "--device", Printer().string()},  // no EEPROM
        {"periph", "show", "--device", blank},               // no EEPROM driver, no EEPROM
        {"periph", "show", "--device", Scratch("nothing").string()},
        {"periph", "show", Scratch("missing.bin").string()},
        {"periph", "show", scratch_.Root().string()},
        {"periph", "show", Scratch("fifo").string()},
        {"periph", "show"},
        {"periph", "show", Scratch("fifo").string(), "--device", Printer().string()},
        {"periph", "show", "--bogus"},
        {"periph", "show", "--device"},
    };
    for (std::vector<std::string> args : cases) {
        std::string shown;
        for (const std::string& a : args)
            shown += a + " ";
        ToolRun run = Run(args);
        EXPECT_EQ(run.exitCode, 2) << shown << run.out << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << shown << run.err;
        EXPECT_EQ(run.out, "") << shown;
        // With --json the error is also the one JSON document on stdout.
        args.push_back("--json");
        run = Run(args);
        EXPECT_EQ(run.exitCode, 2) << shown;
        const rapidjson::Document error = OneJsonDocument(run);
        ASSERT_TRUE(error.IsObject()) << shown << run.out;
        EXPECT_EQ(error.MemberCount(), 1u) << shown << run.out;
        EXPECT_TRUE(error.HasMember("error") && error["error"].IsString()) << shown << run.out;
    }
}

TEST_F(PeriphTool, ShowExplainsTheDefaultPrinterAndItsFpgaLink) {
    Init({});
    const ToolRun run = ShowDevice(false);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {
             "loaded: yes",
             "  productName: \"OndrelThreeHundredDpi\"",
             "  [0] \"SPI0\" Am335xSpiBus (class 16)",
             "      pinMux: 1 (SPI0_clk_d0_d1_cs0)",
             "FPGA link (device \"FPGA-HARDWARE-CONFIG\"):",
             "  SPI device: SPI1: (module 0), chip select 0",
             "  clock: 24000000 Hz asked, divider 2 of 48000000 Hz = 24000000 Hz; mode 0: polarity "
             "0, phase 0",
             "  word length: 8 bits",
             "  chip-select pin: 49 (1_17), through GIO1:",
         })
        EXPECT_TRUE(HasLine(run.out, line)) << line << "\n" << run.out;
    // Nested records are indented under their field.
    EXPECT_NE(run.out.find("      spiMaster: \"FPGA-SPI\" SpiDevice (class 3)\n"
                           "          spiModule: 0\n"),
              std::string::npos)
        << run.out;
}

TEST_F(PeriphTool, ShowTellsWhyThereIsNoFpgaLink) {
    struct Case {
        std::string devices;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"{\"name\":\"x\",\"class\":\"Gpio\",\"direction\":\"Input\",\"level\":\"Low\"}",
         "  none: no such device, so the FPGA cannot be programmed"},
        {"{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"Gpio\",\"direction\":\"Input\",\"level\":"
         "\"Low\"}",
         "  none: the device is of class Gpio, not FpgaHardwareConfig"},
        {"{\"name\":\"FPGA-HARDWARE-CONFIG\",\"class\":\"FpgaHardwareConfig\"}",
         "  none: its spiMaster is not a SpiDevice record"},
    };
    for (const Case& c : cases) {
        WriteFile(Scratch("region0.bin"),
                  Wrapped("{\"platform\":{\"productName\":\"p\",\"cpuEngine\":\"c\",\"mainboard\":"
                          "\"m\"},\"configuration\":{\"devices\":[" +
                          c.devices + "]}}"));
        const ToolRun run = Run({"periph", "show", Scratch("region0.bin").string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(HasLine(run.out, c.line)) << c.line << "\n" << run.out;
    }
}

TEST_F(PeriphTool, DeviceInitProductRenamesTheDefaultDocumentOnly) {
    Init({"--product", "OndrelSixHundredDpi"});
    const ToolRun run = ShowDevice();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    rapidjson::Document source =
        fwtest::ParseJson(ReadFile(kSource + "/sim/data/default-peripherals.json"));
    source["platform"]["productName"].SetString("OndrelSixHundredDpi");
    EXPECT_EQ(fwtest::Compact(OneJsonDocument(run)), ExpectedShow(fwtest::Compact(source), true));
}

TEST_F(PeriphTool, DeviceInitRegionZeroChoices) {
    WriteFile(Scratch("mine.json"), "not a peripheral configuration");
    Init({"--region0", Scratch("mine.json").string()});
    EXPECT_EQ(Run({"eeprom", "--device", Printer().string(), "verify-region", "0",
                   Scratch("mine.json").string()})
                  .exitCode,
              0);
    ToolRun run = ShowDevice();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(OneJsonDocument(run)["loaded"].GetBool());

    // Without region 0 the directory entry stays absent. The module's handler
    // then looks for a document at offset 64 and finds erased bytes: region 0
    // reads, but it holds no document.
    fs::remove_all(Printer());
    Init({"--no-region0", "--board-id", "8"});
    const std::string image = ReadFile(Printer() / "hw" / "eeprom.bin");
    ASSERT_EQ(image.size(), 32768u);
    EXPECT_EQ(image.substr(1, 2), std::string("\x08\x00", 2));
    EXPECT_EQ(image.substr(4, 12), std::string(12, '\xFF'));
    run = ShowDevice();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const rapidjson::Document shown = OneJsonDocument(run);
    EXPECT_FALSE(shown["loaded"].GetBool());
    EXPECT_EQ(shown["devices"].Size(), 0u);
}

}  // namespace
