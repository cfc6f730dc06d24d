// What the command line says when it is given something wrong: an unknown
// subcommand is named, a number out of range is called so, an empty value of
// an option that needs one is refused; and a series checks every package
// before it touches the printer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_fwsetup.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

struct MessageCase {
    std::vector<std::string> args;  // "DEV" stands for a printer's folder
    const char* says;               // a part of the one line on stderr
};

const MessageCase kMessageCases[] = {
    {{"frobnicate"}, "unknown subcommand 'frobnicate'"},
    {{"nkbin", "frobnicate"}, "fwsetup nkbin: unknown subcommand 'frobnicate'"},
    {{"eeprom", "--device", "DEV", "frobnicate"},
     "fwsetup eeprom: unknown subcommand 'frobnicate'"},
    {{"fpga", "data", "frobnicate"}, "fwsetup fpga data: unknown subcommand 'frobnicate'"},
    {{"nkbin"}, "fwsetup nkbin: a subcommand is needed"},
    {{"device", "init", "DEV2", "--board-id", "65536"}, "out of range"},
    {{"device", "init", "DEV2", "--board-id", "99999999999999999999999"}, "out of range"},
    {{"device", "init", "DEV2", "--board-id", "0x10000000000000000"}, "out of range"},
    {{"device", "init", "DEV2", "--board-id", "nineteen"}, "not a number"},
    {{"eeprom", "--device", "DEV", "set-board-id", "123456789012"}, "out of range"},
    {{"eeprom", "--device", "DEV", "read-region", "3", "out.bin"}, "out of range"},
    {{"nkbin", "make", "-o", "o.bin", "--start", "0x100000000", "--record", "0=r"}, "out of range"},
    {{"ui", "watch", "--device", "DEV", "--count", "99999999999999"}, "out of range"},
    {{"ui", "watch", "--device", "DEV", "--timeout", "86401"}, "out of range"},
    {{"ui", "watch", "--device", "DEV", "--timeout", "1e999"}, "out of range"},
    {{"ui", "watch", "--device", "DEV", "--timeout", "soon"}, "not a number"},
    {{"ui", "watch", "--device", "DEV", "--timeout", ""}, "--timeout"},
    {{"ui", "watch", "--device", "DEV", "--count", ""}, "--count"},
    {{"install", "--device", "DEV", "--module", "", "PKG"}, "--module must not be empty"},
};

TEST(CommandLine, SaysWhatIsWrongInOneLine) {
    TempDevice scratch;
    const fs::path printer = scratch.Root() / "printer";
    ASSERT_EQ(RunFwsetup({"device", "init", printer.string()}, scratch.Root()).exitCode, 0);
    for (const MessageCase& c : kMessageCases) {
        std::vector<std::string> args;
        std::string shown;
        for (const std::string& arg : c.args) {
            args.push_back(arg == "DEV"    ? printer.string()
                           : arg == "DEV2" ? (scratch.Root() / "second").string()
                           : arg == "PKG"  ? (scratch.Root() / "pkg").string()
                                           : arg);
            shown += arg + " ";
        }
        SCOPED_TRACE(shown);
        // A watch that is wrongly let through ends by itself after a second.
        if (c.args[0] == "ui" && c.args[4] != "--timeout") {
            args.push_back("--timeout");
            args.push_back("1");
        }
        const fwtest::ToolRun run = RunFwsetup(args, scratch.Root());
        EXPECT_EQ(run.exitCode, 2);
        const std::vector<std::string> lines = fwtest::Lines(run.err);
        ASSERT_EQ(lines.size(), 1u) << run.err;
        EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
        EXPECT_FALSE(fs::exists(scratch.Root() / "second"));
    }
}

// A series whose second package has no module touches the printer not at all.
TEST(CommandLine, UpgradeChecksEveryPackageFirst) {
    TempDevice scratch;
    const fs::path printer = scratch.Root() / "printer";
    ASSERT_EQ(RunFwsetup({"device", "init", printer.string()}, scratch.Root()).exitCode, 0);
    const fs::path good = scratch.Root() / "good";
    fs::create_directories(good / "files" / "boot");
    std::ofstream(good / "files" / "boot" / "good.txt") << "good";
    fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so", good / "setup.so");
    const fs::path noModule = scratch.Root() / "no-module";
    fs::create_directories(noModule / "files");
    const fs::path notAModule = scratch.Root() / "not-a-module";
    fs::create_directories(notAModule / "files");
    std::ofstream(notAModule / "setup.so") << "not a shared object";

    for (const fs::path& bad : {noModule, notAModule, scratch.Root() / "missing"}) {
        SCOPED_TRACE(bad.string());
        const fwtest::ToolRun run = RunFwsetup(
            {"upgrade", "--device", printer.string(), good.string(), bad.string()}, scratch.Root());
        EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
        EXPECT_EQ(fwtest::Lines(run.err).size(), 1u) << run.err;
        EXPECT_FALSE(fs::exists(printer / "fs" / "boot" / "good.txt"));
        EXPECT_FALSE(fs::exists(printer / "hw" / "named"));
    }
}

}  // namespace
