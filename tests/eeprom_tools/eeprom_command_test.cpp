// fwsetup device init and fwsetup eeprom, end to end through the built binary.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "eeprom/eeprom_reader.h"
#include "fileutil/crc16.h"
#include "platform/host/device_root.h"
#include "run_fwsetup.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::TempDevice;
using fwtest::ToolRun;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

// CRC low byte, high byte, payload.
std::string Stored(const std::string& payload) {
    const uint16_t crc = Crc16::Compute(payload);
    return std::string(1, static_cast<char>(crc & 0xFF)) + static_cast<char>(crc >> 8) + payload;
}

bool HasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : Lines(text)) {
        if (l == line)
            return true;
    }
    return false;
}

bool HasLineStartingWith(const std::string& text, const std::string& start) {
    for (const std::string& l : Lines(text)) {
        if (l.compare(0, start.size(), start) == 0)
            return true;
    }
    return false;
}

// A scratch folder with a printer made by fwsetup device init.
class EepromTool : public ::testing::Test {
  protected:
    fs::path Printer() const { return scratch_.Root() / "printer"; }
    fs::path Scratch(const std::string& name) const { return scratch_.Root() / name; }
    ToolRun Run(const std::vector<std::string>& args) const {
        return RunFwsetup(args, scratch_.Root());
    }
    ToolRun Eeprom(const std::vector<std::string>& args) const {
        std::vector<std::string> all = {"eeprom", "--device", Printer().string()};
        all.insert(all.end(), args.begin(), args.end());
        return Run(all);
    }
    void Init(const std::vector<std::string>& options) const {
        std::vector<std::string> args = {"device", "init", Printer().string()};
        args.insert(args.end(), options.begin(), options.end());
        const ToolRun run = Run(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    std::string Image() const { return ReadFile(Printer() / "hw" / "eeprom.bin"); }
    // The board id as the module reads it on this printer.
    uint16_t BoardId() const {
        platform::host::SetDeviceRoot(Printer().string());
        const uint16_t id = EEPromReader::ReadBoardId();
        platform::host::SetDeviceRoot(scratch_.Root().string());
        return id;
    }

    TempDevice scratch_;
};

TEST_F(EepromTool, DeviceInitMakesPrintersOfAnyBoardId) {
    for (const int id : {8, 18, 19, 20, 21, 0, 0xFFFE}) {
        SCOPED_TRACE(id);
        fs::remove_all(Printer());
        Init({"--board-id", std::to_string(id), "--no-region0"});
        const std::string image = Image();
        ASSERT_EQ(image.size(), 32768u);
        EXPECT_EQ(static_cast<uint8_t>(image[0]), 0xA6);
        EXPECT_EQ(static_cast<uint8_t>(image[1]), id & 0xFF);
        EXPECT_EQ(static_cast<uint8_t>(image[2]), id >> 8);
        EXPECT_EQ(image.substr(3), std::string(32765, '\xFF'));
        EXPECT_EQ(BoardId(), id);
    }
    fs::remove_all(Printer());
    Init({});
    EXPECT_EQ(BoardId(), 19);
}

TEST_F(EepromTool, DeviceInitWithoutEepromLeavesTheBoardIdUnreadable) {
    Init({"--no-eeprom"});
    EXPECT_FALSE(fs::exists(Printer() / "hw" / "eeprom.bin"));
    EXPECT_TRUE(fs::is_regular_file(Printer() / "fs" / "boot" / "EEPromUtilDriver.dll"));
    EXPECT_EQ(BoardId(), 0xFFFF);
    const ToolRun show = Eeprom({"show"});
    EXPECT_EQ(show.exitCode, 1);
    EXPECT_EQ(Lines(show.err).size(), 1u) << show.err;
}

TEST_F(EepromTool, DeviceInitStoresRegionZero) {
    const std::string document = "{\"devices\":[{\"name\":\"FPGA-HARDWARE-CONFIG\"}]}";
    WriteFile(Scratch("region0.json"), document);
    Init({"--board-id", "21", "--region0", Scratch("region0.json").string()});
    const std::string image = Image();
    EXPECT_EQ(image.substr(4, 4),
              std::string("\x40\x00", 2) + static_cast<char>(document.size() + 2) + '\0');
    EXPECT_EQ(image.substr(64, document.size() + 2), Stored(document));
    EXPECT_FALSE(fs::exists(Printer() / "fs" / "eeprom-region0.staging"));

    const ToolRun read = Eeprom({"read-region", "0", Scratch("out.bin").string()});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(ReadFile(Scratch("out.bin")), Stored(document));
    EXPECT_EQ(Eeprom({"verify-region", "0", Scratch("region0.json").string()}).exitCode, 0);
    EXPECT_EQ(BoardId(), 21);
}

TEST_F(EepromTool, ShowsChangesAndChecksThroughTheHandler) {
    Init({"--board-id", "18"});
    WriteFile(Scratch("a.json"), "{\"a\":1}");
    WriteFile(Scratch("b.json"), "{\"b\":22}");

    ToolRun run = Eeprom({"write-region", "0", Scratch("a.json").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Eeprom({"write-region", "1", Scratch("b.json").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Eeprom({"set-board-id", "0x15"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(BoardId(), 21);

    run = Eeprom({"show"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(HasLine(run.out, "board id: 21 (0x0015)")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "  0: offset 64 (0x0040), length 9 (0x0009)")) << run.out;
    EXPECT_TRUE(HasLine(run.out, "  1: offset 128 (0x0080), length 10 (0x000a)")) << run.out;
    EXPECT_TRUE(HasLineStartingWith(run.out, "  region 0: length 9 (payload 7 bytes), CRC 0x"))
        << run.out;
    EXPECT_NE(run.out.find("region 1: length 10 (payload 8 bytes), CRC 0x"), std::string::npos);
    EXPECT_EQ(run.out.find("BAD"), std::string::npos) << run.out;

    EXPECT_EQ(Eeprom({"verify-region", "1", Scratch("b.json").string()}).exitCode, 0);
    run = Eeprom({"verify-region", "1", Scratch("a.json").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;

    // A damaged payload byte shows as a CRC that does not hold.
    std::string image = Image();
    image[64 + 3] ^= 0x01;
    WriteFile(Printer() / "hw" / "eeprom.bin", image);
    run = Eeprom({"show"});
    EXPECT_TRUE(HasLineStartingWith(run.out, "  region 0: length 9 (payload 7 bytes), CRC 0x"));
    EXPECT_NE(run.out.find("BAD"), std::string::npos) << run.out;

    run = Eeprom({"dump-header", Scratch("header.bin").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(Scratch("header.bin")), Image().substr(0, 64));

    // An absent region: exit 1 and no file.
    run = Eeprom({"read-region", "2", Scratch("absent.bin").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(fs::exists(Scratch("absent.bin")));

    run = Eeprom({"format"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Image(), std::string(1, '\xA6') + std::string(32767, '\xFF'));
    EXPECT_EQ(BoardId(), 0xFFFF);
    // Nothing staged is left on the device.
    for (const auto& entry : fs::directory_iterator(Printer() / "fs"))
        EXPECT_TRUE(entry.is_directory()) << entry.path();
}

TEST_F(EepromTool, GarbageImagesGiveFailuresNotCrashes) {
    Init({});
    std::string image = Image();
    // Entry 1 past the end, entry 2 with a length that overflows.
    image.replace(8, 8, std::string("\xF0\x7F\x00\x01\x00\xF0\x00\xF0", 8));
    WriteFile(Printer() / "hw" / "eeprom.bin", image);
    WriteFile(Scratch("small.json"), "{}");

    ToolRun run = Eeprom({"show"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("region 1: length 256 at offset 32752: unreadable"), std::string::npos)
        << run.out;
    run = Eeprom({"write-region", "1", Scratch("small.json").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(Eeprom({"read-region", "2", Scratch("out.bin").string()}).exitCode, 1);
    EXPECT_EQ(Image().size(), 32768u);

    // A short image: the header cannot be read whole.
    WriteFile(Printer() / "hw" / "eeprom.bin", image.substr(0, 20));
    run = Eeprom({"show"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Eeprom({"format"}).exitCode, 1);
    EXPECT_EQ(Image().size(), 20u);
}

// Opening the EEPROM, the handler rebuilds a missing directory entry 0 from
// the region it finds at its place and writes it: show says so, once.
TEST_F(EepromTool, ShowSaysWhenTheHandlerRepairedTheDirectory) {
    Init({});
    std::string image = Image();
    const std::string stored = image.substr(4, 4);
    image.replace(4, 4, std::string(4, '\xFF'));
    WriteFile(Printer() / "hw" / "eeprom.bin", image);

    ToolRun run = Eeprom({"show"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(HasLineStartingWith(run.out, "  repaired: the handler found entry 0 ")) << run.out;
    EXPECT_EQ(Image().substr(4, 4), stored);

    run = Eeprom({"show"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(HasLineStartingWith(run.out, "  repaired:")) << run.out;
}

TEST_F(EepromTool, RefusesBadInputWithOneLineAndExitTwo) {
    Init({});
    WriteFile(Scratch("a.json"), "{}");
    WriteFile(Scratch("huge.bin"), std::string(32768, 'h'));
    const std::string printer = Printer().string();
    const std::string a = Scratch("a.json").string();
    const std::vector<std::vector<std::string>> cases = {
        {"eeprom", "show"},
        {"eeprom", "--device", Scratch("nowhere").string(), "show"},
        {"eeprom", "--device", a, "show"},
        {"eeprom", "--device", printer},
        {"eeprom", "--device", printer, "write-region", "3", a},
        {"eeprom", "--device", printer, "write-region", "-1", a},
        {"eeprom", "--device", printer, "write-region", "x", a},
        {"eeprom", "--device", printer, "write-region", "0", Scratch("missing").string()},
        {"eeprom", "--device", printer, "write-region", "0", Scratch("huge.bin").string()},
        {"eeprom", "--device", printer, "write-region", "0"},
        {"eeprom", "--device", printer, "verify-region", "0", Scratch("missing").string()},
        {"eeprom", "--device", printer, "read-region", "0", Scratch("no/such/out.bin").string()},
        {"eeprom", "--device", printer, "dump-header", Scratch("").string()},
        {"eeprom", "--device", printer, "set-board-id", "65536"},
        {"eeprom", "--device", printer, "set-board-id", "nineteen"},
        {"eeprom", "--device", printer, "set-board-id", "-1"},
        {"eeprom", "--device", printer, "frobnicate"},
    };
    const std::string before = Image();
    for (const std::vector<std::string>& args : cases) {
        std::string joined;
        for (const std::string& arg : args)
            joined += arg + " ";
        SCOPED_TRACE(joined);
        const ToolRun run = Run(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    }
    EXPECT_EQ(Image(), before);
}

}  // namespace
