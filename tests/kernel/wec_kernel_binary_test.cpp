// Flashing: the imaging tool's command line, the digest file, exit codes and
// what is left on disk. A recording script stands in for the tool here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "kernel/image_builder.h"
#include "kernel/wec_kernel_binary.h"
#include "support/temp_device.h"

using fwtest::W;
using namespace kerneltest;

namespace {

const char kDigestFile[] = "\\boot\\NK.nb0.md5";

// Records its command line and whether the image was still there, then exits
// with the code in hw/tool-exit (codes above 255 through the exit-code file).
const char kRecordingTool[] =
    "#!/bin/sh\n"
    "printf '%s' \"$1\" > \"$FWSETUP_DEVICE/hw/tool-cmdline\"\n"
    "if [ -e \"$FWSETUP_DEVICE/fs/boot/nk.bin\" ] || [ -e \"$FWSETUP_DEVICE/fs/boot/SAFE/nk.bin\" "
    "]; "
    "then echo yes > \"$FWSETUP_DEVICE/hw/tool-saw-image\"; fi\n"
    "code=$(cat \"$FWSETUP_DEVICE/hw/tool-exit\" 2>/dev/null || echo 0)\n"
    "if [ \"$code\" -gt 255 ]; then printf '%s' \"$code\" > \"$FWSETUP_EXIT_CODE_FILE\"; exit 1; "
    "fi\n"
    "exit \"$code\"\n";

class FlashTest : public ::testing::Test {
  protected:
    void PlaceTool() {
        device_.Write("\\Windows\\nfimager.exe", kRecordingTool);
        std::filesystem::permissions(device_.Host("\\Windows\\nfimager.exe"),
                                     std::filesystem::perms::owner_all);
    }
    std::string ToolCommandLine() const {
        return std::filesystem::exists(device_.Hw() / "tool-cmdline")
                   ? ReadHw("tool-cmdline")
                   : std::string("(tool not run)");
    }
    std::string ReadHw(const std::string& name) const {
        std::ifstream in(device_.Hw() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void SetToolExit(int code) const { std::ofstream(device_.Hw() / "tool-exit") << code; }
    bool Flash(const std::string& path) {
        WecKernelBinary kernel;
        KernelBinary& binary = kernel;  // through the abstract interface, as a caller holds it
        return binary.Flash(W(path));
    }

    fwtest::TempDevice device_;
};

TEST_F(FlashTest, CommandLines) {
    struct Case {
        const char* name;
        std::string imagePath;
        bool digestFile;
        std::string commandLine;
        bool digestFileRemains;
    };
    const std::string digest = "0123456789ABCDEFabcdef0123456789  nk.nb0\r\n";
    const Case cases[] = {
        {"main image without digest", "\\boot\\nk.bin", false, "-w -f \\boot\\nk.bin -s 1", false},
        {"main image with digest, appended byte for byte", "\\boot\\nk.bin", true,
         "-w -f \\boot\\nk.bin -s 1 -v " + digest, false},
        {"safe image", "\\boot\\SAFE\\nk.bin", true, "-w -f \\boot\\SAFE\\nk.bin -s 2", true},
        // The marker is matched with its letter case, the file system ignores it.
        {"lower-case safe folder is a main image", "\\boot\\safe\\nk.bin", true,
         "-w -f \\boot\\safe\\nk.bin -s 1 -v " + digest, false},
    };
    PlaceTool();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(device_.Hw() / "tool-cmdline");
        std::filesystem::remove(device_.Hw() / "tool-saw-image");
        const std::string literal =
            c.imagePath == "\\boot\\safe\\nk.bin" ? "\\boot\\SAFE\\nk.bin" : c.imagePath;
        device_.Write(literal, TestImage().Bytes());
        if (c.digestFile)
            device_.Write(kDigestFile, digest);
        else
            std::filesystem::remove(device_.Host(kDigestFile));

        EXPECT_TRUE(Flash(c.imagePath));
        EXPECT_EQ(ToolCommandLine(), c.commandLine);
        EXPECT_EQ(ReadHw("tool-saw-image"), "yes\n");
        EXPECT_FALSE(device_.Exists(literal));  // deleted after the tool ran
        EXPECT_EQ(device_.Exists(kDigestFile), c.digestFileRemains);
    }
}

TEST_F(FlashTest, ExitCodes) {
    struct Case {
        int exitCode;
        bool result;
    };
    const Case cases[] = {{0, true}, {1, false}, {110, false}, {255, false}, {259, false}};
    PlaceTool();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exitCode);
        device_.Write("\\boot\\nk.bin", TestImage().Bytes());
        SetToolExit(c.exitCode);
        EXPECT_EQ(Flash("\\boot\\nk.bin"), c.result);
        EXPECT_FALSE(device_.Exists("\\boot\\nk.bin"));  // whatever the tool answered
    }
}

TEST_F(FlashTest, ToolMissing) {
    device_.Write("\\boot\\nk.bin", TestImage().Bytes());
    device_.Write(kDigestFile, "0123456789abcdef0123456789abcdef");
    EXPECT_FALSE(Flash("\\boot\\nk.bin"));
    EXPECT_FALSE(device_.Exists("\\boot\\nk.bin"));
    EXPECT_FALSE(device_.Exists(kDigestFile));  // consumed before the start was tried
}

TEST_F(FlashTest, AnInvalidImageChangesNothing) {
    PlaceTool();
    TestImage image;
    image.records[1].overrideChecksum = true;
    image.records[1].checksum = 1;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {{"checksum", image.Bytes()}, {"not an image", "MSCF\0\0\0\0\0\0\0\0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device_.Write("\\boot\\nk.bin", c.bytes);
        device_.Write(kDigestFile, "0123456789abcdef0123456789abcdef\n");
        EXPECT_FALSE(Flash("\\boot\\nk.bin"));
        EXPECT_EQ(ToolCommandLine(), "(tool not run)");
        EXPECT_EQ(device_.Read("\\boot\\nk.bin"), c.bytes);
        EXPECT_EQ(device_.Read(kDigestFile), "0123456789abcdef0123456789abcdef\n");
    }
    EXPECT_FALSE(Flash("\\boot\\missing.bin"));
    EXPECT_EQ(ToolCommandLine(), "(tool not run)");
}

}  // namespace
