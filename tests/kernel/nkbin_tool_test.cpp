// fwsetup nkbin: make, check and flatten, against images and flat images built here.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "kernel/image_builder.h"
#include "support/temp_device.h"

using namespace kerneltest;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs fwsetup with arguments (each quoted); its exit status.
int Fwsetup(const std::string& arguments) {
    const std::string command =
        std::string("'") + FWSETUP_BIN_DIR + "/fwsetup' " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class NkbinToolTest : public ::testing::Test {
  protected:
    fs::path Dir() const { return device_.Root(); }
    std::string P(const std::string& name) const { return "'" + (Dir() / name).string() + "'"; }
    fwtest::TempDevice device_;
};

TEST_F(NkbinToolTest, MakeCheckFlattenRoundTrip) {
    TestImage image;  // two records, "ECEC" in the first
    image.length = 0x200;
    image.endLength = 0x55;
    WriteFile(Dir() / "r0", image.records[0].data);
    WriteFile(Dir() / "r1", image.records[1].data);

    ASSERT_EQ(Fwsetup("nkbin make -o " + P("nk.bin") +
                      " --start 0x80200000 --length 512 --end-length 0x55 --record 0x80200000=" +
                      P("r0") + " --record 0x80200100=" + P("r1")),
              0);
    EXPECT_EQ(ReadFile(Dir() / "nk.bin"), image.Bytes());
    EXPECT_EQ(Fwsetup("nkbin check " + P("nk.bin")), 0);

    ASSERT_EQ(Fwsetup("nkbin flatten " + P("nk.bin") + " " + P("flat.nb0") + " --digest-file " +
                      P("NK.nb0.md5")),
              0);
    std::string flat(image.length, '\xFF');
    flat.replace(0, image.records[0].data.size(), image.records[0].data);
    flat.replace(0x100, image.records[1].data.size(), image.records[1].data);
    EXPECT_EQ(ReadFile(Dir() / "flat.nb0"), flat);
    EXPECT_EQ(ReadFile(Dir() / "NK.nb0.md5"), Md5Hex(flat));
}

TEST_F(NkbinToolTest, CheckVerdicts) {
    TestImage badSum;
    badSum.records[1].overrideChecksum = true;
    badSum.records[1].checksum = 3;
    TestImage noMarker;
    noMarker.records[0].data.replace(16, 4, "ECEd");
    TestImage outside;  // the module takes it, the imaging tool would not
    outside.records.push_back({outside.start + outside.length, "x"});
    TestImage tooLong;  // likewise: longer than a flash slot (256 MiB)
    tooLong.length = 0x10000001;
    struct Case {
        const char* name;
        std::string bytes;
        int exit;
    };
    const Case cases[] = {
        {"valid", TestImage().Bytes(), 0},
        {"checksum", badSum.Bytes(), 1},
        {"marker", noMarker.Bytes(), 1},
        {"record outside the image", outside.Bytes(), 1},
        {"longer than a flash slot", tooLong.Bytes(), 1},
        {"cut", TestImage().Bytes().substr(0, 50), 1},
        {"empty", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Dir() / "nk.bin", c.bytes);
        EXPECT_EQ(Fwsetup("nkbin check " + P("nk.bin")), c.exit);
    }
    EXPECT_EQ(Fwsetup("nkbin check " + P("missing.bin")), 2);
    EXPECT_EQ(Fwsetup("nkbin check"), 2);
}

TEST_F(NkbinToolTest, RefusedInputs) {
    WriteFile(Dir() / "short", "0123456789");
    WriteFile(Dir() / "r0", FirstRecordData());
    WriteFile(Dir() / "zeros", std::string(24, '\0'));
    const std::string cases[] = {
        "nkbin make -o " + P("o.bin") + " --start 0x80200001 --record 0x80200001=" + P("r0"),
        "nkbin make -o " + P("o.bin") + " --start 0x80200000 --record 0x80200000=" + P("short"),
        "nkbin make -o " + P("o.bin") + " --start 0x80200000 --record 0x801FFF00=" + P("r0"),
        "nkbin make -o " + P("o.bin") +
            " --start 0x80200000 --length 8 --record 0x80200000=" + P("r0"),
        // A record at address 0 whose bytes add up to 0 would end the list early.
        "nkbin make -o " + P("o.bin") + " --start 0 --record 0x40=" + P("r0") +
            " --record 0=" + P("zeros"),
        "nkbin make -o " + P("o.bin") + " --start 0x1FFFFFFFF --record 0=" + P("r0"),
        "nkbin make -o " + P("o.bin") + " --start 0x80200000 --record 0x80200000=" + P("missing"),
        "nkbin make -o " + P("o.bin") + " --start 0x80200000 --record " + P("r0"),
        // An image longer than a flash slot: nkbin check would refuse it.
        "nkbin make -o " + P("o.bin") +
            " --start 0x80200000 --length 0x10000001 --record 0x80200000=" + P("r0"),
        "nkbin flatten " + P("missing") + " " + P("o.bin"),
    };
    for (const std::string& c : cases) {
        SCOPED_TRACE(c);
        EXPECT_EQ(Fwsetup(c), 2);
        EXPECT_FALSE(fs::exists(Dir() / "o.bin"));
    }
    // A corrupt image is not flattened: nothing is left at OUT.
    TestImage bad;
    bad.records[0].overrideChecksum = true;
    WriteFile(Dir() / "bad.bin", bad.Bytes());
    EXPECT_EQ(Fwsetup("nkbin flatten " + P("bad.bin") + " " + P("o.bin")), 1);
    EXPECT_FALSE(fs::exists(Dir() / "o.bin"));
    // OUT is not something flatten may overwrite or remove: the image itself, a
    // folder, or a file it never got to write.
    WriteFile(Dir() / "o.bin", "kept");
    fs::create_directory(Dir() / "folder");
    const std::pair<std::string, int> refusals[] = {
        {"nkbin flatten " + P("bad.bin") + " " + P("bad.bin"), 2},
        {"nkbin flatten " + P("bad.bin") + " " + P("folder"), 2},
        {"nkbin flatten " + P("bad.bin") + " " + P("o.bin"), 1},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.first);
        EXPECT_EQ(Fwsetup(r.first), r.second);
        EXPECT_EQ(ReadFile(Dir() / "bad.bin"), bad.Bytes());
        EXPECT_TRUE(fs::is_directory(Dir() / "folder"));
        EXPECT_EQ(ReadFile(Dir() / "o.bin"), "kept");
    }
}

}  // namespace
