// The simulated coprocessor upgrader on its own: its image convention, its exit
// codes and the coprocessor state it leaves in DEVICE/hw/ble/.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

struct UpgraderRun {
    int exitCode;
    std::string reportedCode;  // what it wrote to the exit-code file, if anything
};

// Runs the upgrader with argv[1] = commandLine on the device folder.
UpgraderRun RunUpgrader(const fwtest::TempDevice& device, const std::string& commandLine) {
    const fs::path codeFile = device.Root() / "exit-code";
    fs::remove(codeFile);
    const CommandResult run = RunCommand(
        "FWSETUP_DEVICE=" + Quote(device.Root()) + " FWSETUP_EXIT_CODE_FILE=" + Quote(codeFile) +
        " " + Quote(fs::path(FWSETUP_BIN_DIR) / "fwsetup-sim-stm32upgrader") + " " +
        Quote(commandLine));
    return UpgraderRun{run.exitCode, ReadHostFile(codeFile)};
}

struct ImageCase {
    const char* name;
    const char* image;  // null: no file
    int exitCode;
    const char* version;  // hw/ble/version afterwards; null: no such file
};

std::ostream& operator<<(std::ostream& out, const ImageCase& c) {
    return out << c.name;
}

class Stm32Upgrader : public ::testing::TestWithParam<ImageCase> {};

// The coprocessor holds "old" (version 1.0) before each run; only an accepted
// image replaces it.
TEST_P(Stm32Upgrader, ProgramsOnlyAGoodImage) {
    const ImageCase& c = GetParam();
    fwtest::TempDevice device;
    WriteHostFile(device.Hw() / "ble" / "firmware.bin", "old");
    WriteHostFile(device.Hw() / "ble" / "version", "1.0");
    if (c.image)
        device.Write("\\UpgradeTemp\\BleHipBridge.bin", c.image);

    // The path is a device path whose letter case does not matter.
    const UpgraderRun run = RunUpgrader(device, "-AH \\upgradetemp\\BLEHIPBRIDGE.bin");
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_EQ("", run.reportedCode);
    const bool programmed = c.exitCode == 0;
    EXPECT_EQ(programmed ? c.image : "old", ReadHostFile(device.Hw() / "ble" / "firmware.bin"));
    EXPECT_EQ(c.version != nullptr, fs::exists(device.Hw() / "ble" / "version"));
    if (c.version) {
        EXPECT_EQ(c.version, ReadHostFile(device.Hw() / "ble" / "version"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, Stm32Upgrader,
    ::testing::Values(ImageCase{"WithVersion", "VERSION=3.10.0\nfirmware", 0, "3.10.0"},
                      ImageCase{"WithVersionAndCrLf", "VERSION=4.2\r\nfirmware", 0, "4.2"},
                      ImageCase{"WithoutVersion", "raw firmware", 0, nullptr},
                      ImageCase{"Missing", nullptr, 3, "1.0"}, ImageCase{"Empty", "", 4, "1.0"},
                      ImageCase{"VersionLineUnterminated", "VERSION=1.2", 5, "1.0"},
                      ImageCase{"VersionWithoutFirmware", "VERSION=1.2\n", 5, "1.0"},
                      ImageCase{"VersionNotNumeric", "VERSION=1.b\nfirmware", 5, "1.0"},
                      ImageCase{"VersionEmpty", "VERSION=\nfirmware", 5, "1.0"},
                      ImageCase{"VersionTooManyParts", "VERSION=1.2.3.4.5\nfirmware", 5, "1.0"}),
    [](const ::testing::TestParamInfo<ImageCase>& info) { return std::string(info.param.name); });

TEST(Stm32UpgraderCommandLine, LogsEveryStartAndRefusesAnythingButDashAH) {
    fwtest::TempDevice device;
    device.Write("\\UpgradeTemp\\image.bin", "firmware");
    EXPECT_EQ(2, RunUpgrader(device, "").exitCode);
    EXPECT_EQ(2, RunUpgrader(device, "-AX \\UpgradeTemp\\image.bin").exitCode);
    EXPECT_EQ(2, RunUpgrader(device, "-AH").exitCode);
    EXPECT_EQ(3, RunUpgrader(device, "-AH \\UpgradeTemp\\..\\..\\..\\etc\\passwd").exitCode);
    EXPECT_FALSE(fs::exists(device.Hw() / "ble" / "firmware.bin"));
    EXPECT_EQ(0, RunUpgrader(device, " -AH  \"\\UpgradeTemp\\image.bin\" ").exitCode);
    EXPECT_EQ("firmware", ReadHostFile(device.Hw() / "ble" / "firmware.bin"));
    EXPECT_EQ(
        "\n-AX \\UpgradeTemp\\image.bin\n-AH\n-AH \\UpgradeTemp\\..\\..\\..\\etc\\passwd\n"
        " -AH  \"\\UpgradeTemp\\image.bin\" \n",
        ReadHostFile(device.Hw() / "ble" / "upgrader.log"));
}

// A test makes the upgrader answer a code of its choice; codes beyond 255 go
// through the exit-code file. Nothing is programmed then.
TEST(Stm32UpgraderForcedAnswer, AnswersTheCodeWithoutProgramming) {
    fwtest::TempDevice device;
    device.Write("\\UpgradeTemp\\image.bin", "firmware");
    WriteHostFile(device.Hw() / "ble" / "force-exit-code", "9997\n");
    const UpgraderRun big = RunUpgrader(device, "-AH \\UpgradeTemp\\image.bin");
    EXPECT_NE(0, big.exitCode);
    EXPECT_EQ("9997", big.reportedCode);
    WriteHostFile(device.Hw() / "ble" / "force-exit-code", "1");
    const UpgraderRun one = RunUpgrader(device, "-AH \\UpgradeTemp\\image.bin");
    EXPECT_EQ(1, one.exitCode);
    EXPECT_EQ("", one.reportedCode);
    EXPECT_FALSE(fs::exists(device.Hw() / "ble" / "firmware.bin"));
}

}  // namespace
}  // namespace actionstest
