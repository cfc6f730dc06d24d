// The simulated imaging tool, started the way the module starts it, and the
// operating-system package end to end through the Install_Exit logic.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kernel/image_builder.h"
#include "platform/process.h"
#include "setup/install_hooks.h"
#include "support/temp_device.h"

using fwtest::W;
using namespace kerneltest;

namespace {

// Written into the existing boot folder; the module names it "\\BOOT\\NK.nb0.md5".
const char kDigestFile[] = "\\boot\\NK.nb0.md5";

// What a slot must hold after flashing image: written here independently.
std::string Flat(const TestImage& image) {
    std::string flat(image.length, '\xFF');
    for (const TestRecord& r : image.records)
        flat.replace(r.address - image.start, r.data.size(), r.data);
    return flat;
}

class FlashToolTest : public ::testing::Test {
  protected:
    FlashToolTest() {
        device_.MakeDir("\\boot");
        device_.MakeDir("\\UpgradeTemp");
        const std::filesystem::path tool = device_.Host("\\Windows\\nfimager.exe");
        std::filesystem::create_directories(tool.parent_path());
        std::filesystem::copy_file(std::string(FWSETUP_BIN_DIR) + "/fwsetup-sim-nfimager", tool);
    }

    // Runs the tool with a command line; its exit code, or -1 when it did not start.
    long RunTool(const std::string& commandLine) {
        std::unique_ptr<platform::Process> process =
            platform::CreateProcess(u"nfimager.exe", W(commandLine));
        if (!process)
            return -1;
        process->Wait();
        uint32_t code = 0;
        if (!process->GetExitCode(code))
            return -1;
        return long(code);
    }
    std::string Slot(int n) const {
        const std::filesystem::path p =
            device_.Hw() / "flash" / ("slot" + std::to_string(n) + ".nb0");
        if (!std::filesystem::exists(p))
            return "(none)";
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> FlashFolder() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(device_.Hw() / "flash", ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fwtest::TempDevice device_;
};

// Records out of order, overlapping, with gaps; a record at the image's very end.
TestImage ScatteredImage() {
    TestImage image;
    image.start = 0x80001000;
    image.length = 0x400;
    image.records.clear();
    image.records.push_back({image.start + 0x10, FirstRecordData(40)});
    image.records.push_back({image.start + 0x3F0, "0123456789abcdef"});
    image.records.push_back({image.start + 0x200, std::string(32, 'A')});
    image.records.push_back({image.start + 0x210, "overlap"});
    image.records.push_back({image.start, std::string(4, '\0')});
    return image;
}

TEST_F(FlashToolTest, FlattensIntoTheSlot) {
    const TestImage image = ScatteredImage();
    device_.Write("\\boot\\nk.bin", image.Bytes());
    const std::string flat = Flat(image);
    std::string upper = Md5Hex(flat);
    for (char& c : upper)
        c = char(toupper(c));

    struct Case {
        std::string commandLine;
        int slot;
    };
    const Case cases[] = {
        {"-w -f \\boot\\nk.bin -s 1", 1},
        {"-w -f \\BOOT\\NK.BIN -s 2", 2},
        {"-w -f \\boot\\nk.bin -s 1 -v " + Md5Hex(flat), 1},
        {"-w -f \\boot\\nk.bin -s 1 -v " + upper + "  nk.nb0\r\n", 1},
        {"-w -f \\boot\\nk.bin -s 2 -v " + Md5Hex(flat) + "\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandLine);
        std::filesystem::remove_all(device_.Hw() / "flash");
        EXPECT_EQ(RunTool(c.commandLine), 0);
        EXPECT_EQ(Slot(c.slot), flat);
        EXPECT_EQ(FlashFolder().size(), 1u);
    }
}

TEST_F(FlashToolTest, RefusalsWriteNothing) {
    const TestImage good = ScatteredImage();
    TestImage before = good;
    before.records.push_back({good.start - 1, "x"});
    TestImage beyond = good;
    beyond.records.push_back({good.start + good.length - 2, "xyz"});
    TestImage badSum = good;
    badSum.records[2].overrideChecksum = true;
    badSum.records[2].checksum = 7;
    TestImage cut = good;
    cut.endRecord = false;
    TestImage tooLong = good;
    tooLong.length = 0x20000000;

    const std::string digest = Md5Hex(Flat(good));
    struct Case {
        const char* name;
        std::string image;
        std::string commandLine;
    };
    const Case cases[] = {
        {"record before the image", before.Bytes(), "-w -f \\boot\\nk.bin -s 1"},
        {"record beyond the image", beyond.Bytes(), "-w -f \\boot\\nk.bin -s 1"},
        {"checksum", badSum.Bytes(), "-w -f \\boot\\nk.bin -s 1"},
        {"no end record", cut.Bytes(), "-w -f \\boot\\nk.bin -s 1"},
        {"longer than a slot", tooLong.Bytes(), "-w -f \\boot\\nk.bin -s 1"},
        {"not an image", "hello", "-w -f \\boot\\nk.bin -s 1"},
        {"digest mismatch", good.Bytes(), "-w -f \\boot\\nk.bin -s 1 -v " + std::string(32, '0')},
        {"digest too short", good.Bytes(), "-w -f \\boot\\nk.bin -s 1 -v " + digest.substr(0, 31)},
        {"digest not hexadecimal", good.Bytes(),
         "-w -f \\boot\\nk.bin -s 1 -v " + digest.substr(0, 31) + "g"},
        {"empty digest", good.Bytes(), "-w -f \\boot\\nk.bin -s 1 -v "},
        {"slot 3", good.Bytes(), "-w -f \\boot\\nk.bin -s 3"},
        {"slot 12", good.Bytes(), "-w -f \\boot\\nk.bin -s 12"},
        {"no slot", good.Bytes(), "-w -f \\boot\\nk.bin"},
        {"no -w", good.Bytes(), "-f \\boot\\nk.bin -s 1"},
        {"something after the slot", good.Bytes(), "-w -f \\boot\\nk.bin -s 1 -x"},
        {"no image", good.Bytes(), "-w -f \\boot\\other.bin -s 1"},
        {"empty command line", good.Bytes(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(device_.Hw() / "flash");
        std::filesystem::create_directories(device_.Hw() / "flash");
        std::ofstream(device_.Hw() / "flash" / "slot1.nb0") << "old";
        device_.Write("\\boot\\nk.bin", c.image);
        const long code = RunTool(c.commandLine);
        EXPECT_NE(code, 0);
        EXPECT_NE(code, -1);
        EXPECT_EQ(Slot(1), "old");
        EXPECT_EQ(FlashFolder(), std::vector<std::string>{"slot1.nb0"});
    }
}

// The operating-system package's action through Install_Exit, with the real
// stand-in. No payload comes with it, so its nested CAB does not install; that
// is reported but does not decide the hook's result.
TEST_F(FlashToolTest, OperatingSystemPackage) {
    const TestImage image = ScatteredImage();
    const std::string flat = Flat(image);
    TestImage invalid = image;
    invalid.records[1].overrideChecksum = true;
    invalid.records[1].checksum = Sum(invalid.records[1].data) + 1;
    std::string upperDigest = Md5Hex(flat);
    for (char& ch : upperDigest)
        ch = char(toupper(ch));

    struct Case {
        const char* name;
        std::string image;
        const char* digestFile;  // null: none
        std::string digest;
        int result;
        std::string slot;
        bool imageRemains;
        bool digestRemains;
    };
    const Case cases[] = {
        {"valid image, right digest", image.Bytes(), kDigestFile, Md5Hex(flat) + "\n", 0, flat,
         false, false},
        {"valid image, digest file in upper case with a file name", image.Bytes(),
         "\\boot\\nk.NB0.MD5", upperDigest + "  NK.nb0\r\n", 0, flat, false, false},
        {"valid image, no digest file", image.Bytes(), nullptr, "", 0, flat, false, false},
        {"valid image, wrong digest", image.Bytes(), kDigestFile, std::string(32, 'f'), 1, "(none)",
         false, false},
        {"invalid image", invalid.Bytes(), kDigestFile, Md5Hex(flat), 1, "(none)", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(device_.Hw() / "flash");
        std::filesystem::remove(device_.Host("\\boot\\NK.nb0.md5"));
        std::filesystem::remove(device_.Host("\\boot\\nk.NB0.MD5"));
        device_.Write("\\boot\\nk.bin", c.image);
        if (c.digestFile)
            device_.Write(c.digestFile, c.digest);

        EXPECT_EQ(setup::RunInstallExit(u"QuorinOSPackageLayout"), c.result);
        EXPECT_EQ(Slot(1), c.slot);
        EXPECT_EQ(Slot(2), "(none)");
        EXPECT_EQ(device_.Exists("\\boot\\nk.bin"), c.imageRemains);
        if (c.digestFile) {
            EXPECT_EQ(device_.Exists(c.digestFile), c.digestRemains);
        }
        if (c.imageRemains) {
            EXPECT_EQ(device_.Read("\\boot\\nk.bin"), c.image);
        }
    }
}

}  // namespace
