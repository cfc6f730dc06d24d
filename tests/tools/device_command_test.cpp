// fwsetup device init, end to end through the built binary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "run_fwsetup.h"
#include "sim/device.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

TEST(DeviceInit, MakesTheStandardLayoutOnce) {
    TempDevice scratch;
    const fs::path printer = scratch.Root() / "printer";

    const fwtest::ToolRun run = RunFwsetup({"device", "init", printer.string()}, scratch.Root());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const char* folder : {"boot", "UpgradeTemp", "store", "Windows"}) {
        EXPECT_TRUE(fs::is_directory(printer / "fs" / folder)) << folder;
    }
    EXPECT_TRUE(fs::is_directory(printer / "hw"));
    for (size_t i = 0; i < sim::kStandInProgramCount; ++i) {
        const fs::path program = sim::HostPath(printer, sim::kStandInPrograms[i].devicePath);
        EXPECT_EQ(access(program.c_str(), X_OK), 0) << program;
    }

    // A second init leaves the printer as it is.
    std::ofstream(printer / "fs" / "boot" / "marker") << "x";
    const fwtest::ToolRun again = RunFwsetup({"device", "init", printer.string()}, scratch.Root());
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_EQ(Lines(again.err).size(), 1u) << again.err;
    EXPECT_TRUE(fs::exists(printer / "fs" / "boot" / "marker"));
}

TEST(DeviceInit, AcceptsTheWholeBoardIdRange) {
    for (const char* id : {"0", "65535", "0xFFFF", "0x13"}) {
        TempDevice scratch;
        const fs::path printer = scratch.Root() / "printer";
        const fwtest::ToolRun run =
            RunFwsetup({"device", "init", printer.string(), "--board-id", id}, scratch.Root());
        EXPECT_EQ(run.exitCode, 0) << id << ": " << run.err;
    }
}

// Bad arguments: exit 2, one line on stderr, and no device made.
TEST(DeviceInit, RefusesBadArgumentsWithOneLine) {
    TempDevice scratch;
    const std::string printer = (scratch.Root() / "printer").string();
    const std::string region = (scratch.Root() / "region0.bin").string();
    std::ofstream(region) << "{}";
    const std::string aFile = (scratch.Root() / "a-file").string();
    std::ofstream(aFile) << "x";

    const std::vector<std::vector<std::string>> cases = {
        {"device"},
        {"device", "init"},
        {"device", "init", ""},
        {"device", "frobnicate", printer},
        {"device", "init", printer, "extra"},
        {"device", "init", printer, "--board-id", "65536"},
        {"device", "init", printer, "--board-id", "-1"},
        {"device", "init", printer, "--board-id", "19x"},
        {"device", "init", printer, "--board-id", "0x10000"},
        {"device", "init", printer, "--board-id", "99999999999999999999"},
        {"device", "init", printer, "--board-id", ""},
        {"device", "init", printer, "--region0", (scratch.Root() / "missing").string()},
        {"device", "init", printer, "--region0", scratch.Root().string()},
        {"device", "init", printer, "--no-eeprom", "--region0", region},
        {"device", "init", printer, "--no-eeprom", "--board-id", "5"},
        {"device", "init", printer, "--region0", region, "--no-region0"},
        {"device", "init", printer, "--product", "X", "--region0", region},
        {"device", "init", printer, "--product", "X", "--no-region0"},
        {"device", "init", printer, "--product", "X", "--no-eeprom"},
        {"device", "init", printer, "--product", "\xFF\xFE"},
        {"device", "init", printer, "--product"},
        {"device", "init", aFile},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& a : args)
            shown += a + " ";
        const fwtest::ToolRun run = RunFwsetup(args, scratch.Root());
        EXPECT_EQ(run.exitCode, 2) << shown << "\n" << run.out << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << shown << "\n" << run.err;
        EXPECT_FALSE(fs::exists(printer)) << shown;
    }
}

}  // namespace
