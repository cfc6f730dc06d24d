// fwsetup demo, end to end: the series goes through and the kept printer shows its effect.
#include <gtest/gtest.h>

#include <fstream>

#include "run_fwsetup.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DemoCommand, SeriesGoesThroughAndLeavesTheNewApplications) {
    TempDevice scratch;
    const fs::path kept = scratch.Root() / "kept";
    const fwtest::ToolRun run = RunFwsetup({"demo", "--keep", kept.string()}, scratch.Root());
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    const fs::path boot = kept / "device" / "fs" / "boot";
    EXPECT_EQ(ReadFile(boot / "VEXOApps" / "VexoLabel.exe"), "label designer, build 5.0.2\n");
    EXPECT_FALSE(fs::exists(boot / "VEXOApps" / "Legacy"));
    EXPECT_FALSE(fs::exists(boot / "OCScreens" / "Setup.qml"));
    EXPECT_EQ(ReadFile(boot / "OCScreens" / "Home.qml"), "new home screen\n");
    // Nothing moved aside is left, and the nested cabinets and payloads are gone.
    for (const auto& entry : fs::directory_iterator(boot)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory()) {
            EXPECT_EQ(name.find_first_of("0123456789"), std::string::npos) << entry.path();
        } else {
            EXPECT_NE(entry.path().extension(), ".Cab") << entry.path();
            EXPECT_NE(entry.path().extension(), ".lz4") << entry.path();
        }
    }
    // \UpgradeTemp\ keeps only what the coprocessor package brought for its upgrader,
    // and on the default printer (board 19, no FPGA upgrade) the FPGA package's files.
    for (const auto& entry : fs::directory_iterator(kept / "device" / "fs" / "UpgradeTemp")) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "STM32Upgrader" || name == "BleHipBridge.bin" || name == "algo.sea" ||
                    name == "data.sed")
            << entry.path();
    }
    EXPECT_NE(run.out.find("removed  fs/boot/VEXOApps/Legacy/VexoPrint.exe"), std::string::npos)
        << run.out;
    // The operating-system package migrated the property files and recorded the
    // build number; the report shows the archive after it.
    const fs::path store = kept / "device" / "fs" / "store";
    EXPECT_FALSE(fs::exists(store / "Properties.ini"));
    // The override was merged (darkness 18) and consumed; the one there now is the
    // 300 dpi override the Ondrel package put live for the next start-up (darkness 20).
    EXPECT_NE(ReadFile(store / "Properties.json").find("\"Value\":\"18\""), std::string::npos);
    EXPECT_NE(ReadFile(store / "PropertiesOverride.json").find("\"Value\":\"20\""),
              std::string::npos);
    for (const char* file : {"Properties.json", "Properties.json.MD5", "Properties.json.bak",
                             "Properties.json.MD5.bak"})
        EXPECT_TRUE(fs::exists(store / file)) << file;
    EXPECT_NE(ReadFile(store / "Properties.json").find("\"Value\":\"1234\""), std::string::npos);
    EXPECT_NE(run.out.find("property files before the series"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Previous Firmware Driver Build Number Product Info 1234"),
              std::string::npos)
        << run.out;
}

TEST(DemoCommand, RefusesAFolderInUse) {
    TempDevice scratch;
    std::ofstream(scratch.Root() / "something") << "x";
    const fwtest::ToolRun run =
        RunFwsetup({"demo", "--keep", scratch.Root().string()}, scratch.Root());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_FALSE(fs::exists(scratch.Root() / "device"));
}

}  // namespace
