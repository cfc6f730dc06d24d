// fwsetup demo flashes the operating-system package's kernel image into slot 1,
// with the digest file it shipped.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "kernel/image_builder.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;
using kerneltest::Md5Hex;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DemoFlashTest, KernelImageLandsInSlot1) {
    fwtest::TempDevice scratch;
    const fs::path kept = scratch.Root() / "demo";
    const std::string command = std::string("'") + FWSETUP_BIN_DIR + "/fwsetup' demo --keep '" +
                                kept.string() + "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    fs::path sources;
    for (const auto& entry : fs::directory_iterator(kept / "sources")) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 21 && name.compare(name.size() - 21, 21, "QuorinOSPackageLayout") == 0)
            sources = entry.path();
    }
    ASSERT_FALSE(sources.empty()) << "no operating-system package in the demo";
    const std::string shippedImage = ReadFile(sources / "files" / "boot" / "nk.bin");
    const std::string shippedDigest = ReadFile(sources / "files" / "boot" / "NK.nb0.md5");
    ASSERT_GE(shippedDigest.size(), 32u);
    ASSERT_EQ(shippedImage.compare(0, 7, "B000FF\n"), 0);

    const fs::path device = kept / "device";
    const std::string slot = ReadFile(device / "hw" / "flash" / "slot1.nb0");
    ASSERT_FALSE(slot.empty());
    EXPECT_EQ(Md5Hex(slot), shippedDigest.substr(0, 32));
    EXPECT_FALSE(fs::exists(device / "hw" / "flash" / "slot2.nb0"));
    // Both consumed by the flash.
    EXPECT_FALSE(fs::exists(device / "fs" / "boot" / "nk.bin"));
    EXPECT_FALSE(fs::exists(device / "fs" / "boot" / "NK.nb0.md5"));
}

}  // namespace
