// The coprocessor package end to end: when the delivered upgrader runs, with
// what, and how its outcome decides the installation.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

const char* const kCoprocessorLayout = "QuorinSTM32UpgraderPackageLayout";
const char* const kPlainLayout = "QuorinpackageLayout";
const char* const kImagePath = "\\UpgradeTemp\\BleHipBridge.bin";
const char* const kGoodImage = "VERSION=2.4.1\nble firmware bytes";

// What the package delivers as "\UpgradeTemp\STM32Upgrader".
enum class Upgrader {
    kSimulated,
    kWithoutExecuteBits,  // beside the cabinet, its host file without execute bits
    kFromTheCabinet,      // inside the nested cabinet
    kMissing,
    kNotAProgram
};

struct UpgradeCase {
    const char* name;
    const char* layout;
    BoardId board;
    Upgrader upgrader;
    const char* forcedExitCode;  // written to hw/ble/force-exit-code; null: none
    const char* image;           // delivered image; null: none
    int installExitCode;         // what `fwsetup install` answers
    bool upgraderRuns;
    bool programmed;  // hw/ble holds the new image afterwards
};

std::ostream& operator<<(std::ostream& out, const UpgradeCase& c) {
    return out << c.name;
}

class CoprocessorPackage : public ::testing::TestWithParam<UpgradeCase> {};

TEST_P(CoprocessorPackage, RunsTheUpgraderAndJudgesItsExitCode) {
    const UpgradeCase& c = GetParam();
    Printer printer(c.board);
    // The coprocessor as the factory left it.
    WriteHostFile(printer.Hardware("ble/firmware.bin"), "factory firmware");
    WriteHostFile(printer.Hardware("ble/version"), "1.0.0");
    if (c.forcedExitCode)
        WriteHostFile(printer.Hardware("ble/force-exit-code"), c.forcedExitCode);

    PackageBuilder builder(printer.Work(), c.layout);
    builder.AddPayloadFile("\\boot\\ble-package.txt", "installed from the nested CAB");
    if (c.image)
        builder.AddFile(kImagePath, c.image);
    if (c.upgrader == Upgrader::kSimulated)
        builder.AddUpgrader();
    if (c.upgrader == Upgrader::kWithoutExecuteBits)
        builder.AddUpgrader(PackageBuilder::UpgraderDelivery::kBesideWithoutExecuteBits);
    if (c.upgrader == Upgrader::kFromTheCabinet)
        builder.AddUpgrader(PackageBuilder::UpgraderDelivery::kInTheNestedCabinet);
    if (c.upgrader == Upgrader::kNotAProgram)
        builder.AddFile("\\UpgradeTemp\\STM32Upgrader", "this is not a program\n");

    const CommandResult install = printer.Install(builder.Make());
    EXPECT_EQ(c.installExitCode, install.exitCode) << install.output;
    EXPECT_EQ("installed from the nested CAB", printer.Read("\\boot\\ble-package.txt"));

    // The upgrader logs each start with its command line exactly as received.
    const std::string log = ReadHostFile(printer.Hardware("ble/upgrader.log"));
    EXPECT_EQ(c.upgraderRuns ? "-AH \\UpgradeTemp\\BleHipBridge.bin\n" : "", log);

    const std::string firmware = ReadHostFile(printer.Hardware("ble/firmware.bin"));
    const std::string version = ReadHostFile(printer.Hardware("ble/version"));
    if (c.programmed) {
        EXPECT_EQ(c.image, firmware);
        EXPECT_EQ("2.4.1", version);
    } else {
        EXPECT_EQ("factory firmware", firmware);
        EXPECT_EQ("1.0.0", version);
    }
}

// Board 8 has no coprocessor to upgrade; every other board, an unreadable one
// included, runs the upgrader. Only exit codes 0 and 9997 count as success, and
// an upgrader that cannot be started at all is a failure, not a clean exit. The
// printer starts any file: how the upgrader arrived (beside the cabinet or in
// it) and with which host permission bits does not matter.
INSTANTIATE_TEST_SUITE_P(
    Cases, CoprocessorPackage,
    ::testing::Values(
        UpgradeCase{"Board8SkipsTheUpgrader", kCoprocessorLayout, 8, Upgrader::kSimulated, nullptr,
                    kGoodImage, 0, false, false},
        UpgradeCase{"Board8NeedsNoUpgrader", kCoprocessorLayout, 8, Upgrader::kMissing, nullptr,
                    kGoodImage, 0, false, false},
        UpgradeCase{"Board18Programs", kCoprocessorLayout, 18, Upgrader::kSimulated, nullptr,
                    kGoodImage, 0, true, true},
        UpgradeCase{"Board19Programs", kCoprocessorLayout, 19, Upgrader::kSimulated, nullptr,
                    kGoodImage, 0, true, true},
        UpgradeCase{"Board20Programs", kCoprocessorLayout, 20, Upgrader::kSimulated, nullptr,
                    kGoodImage, 0, true, true},
        UpgradeCase{"Board21Programs", kCoprocessorLayout, 21, Upgrader::kSimulated, nullptr,
                    kGoodImage, 0, true, true},
        UpgradeCase{"UnreadableBoardPrograms", kCoprocessorLayout, kUnreadable,
                    Upgrader::kSimulated, nullptr, kGoodImage, 0, true, true},
        UpgradeCase{"Exit9997IsSuccess", kCoprocessorLayout, 20, Upgrader::kSimulated, "9997",
                    kGoodImage, 0, true, false},
        UpgradeCase{"Exit0ForcedIsSuccess", kCoprocessorLayout, 21, Upgrader::kSimulated, "0",
                    kGoodImage, 0, true, false},
        UpgradeCase{"Exit1IsFailure", kCoprocessorLayout, 20, Upgrader::kSimulated, "1", kGoodImage,
                    1, true, false},
        UpgradeCase{"Exit259CountsAsSuccess", kCoprocessorLayout, 18, Upgrader::kSimulated, "259",
                    kGoodImage, 0, true, false},
        UpgradeCase{"MissingImageIsFailure", kCoprocessorLayout, 20, Upgrader::kSimulated, nullptr,
                    nullptr, 1, true, false},
        UpgradeCase{"MalformedImageIsFailure", kCoprocessorLayout, 18, Upgrader::kSimulated,
                    nullptr, "VERSION=two\nbytes", 1, true, false},
        UpgradeCase{"MissingUpgraderIsFailure", kCoprocessorLayout, 20, Upgrader::kMissing, nullptr,
                    kGoodImage, 1, false, false},
        UpgradeCase{"UnreadableBoardMissingUpgraderIsFailure", kCoprocessorLayout, kUnreadable,
                    Upgrader::kMissing, nullptr, kGoodImage, 1, false, false},
        UpgradeCase{"UpgraderThatIsNotAProgramIsFailure", kCoprocessorLayout, 19,
                    Upgrader::kNotAProgram, nullptr, kGoodImage, 1, false, false},
        UpgradeCase{"OtherPackagesLeaveTheUpgraderAlone", kPlainLayout, 20, Upgrader::kSimulated,
                    nullptr, kGoodImage, 0, false, false},
        UpgradeCase{"UpgraderWithoutExecuteBitsRuns", kCoprocessorLayout, 19,
                    Upgrader::kWithoutExecuteBits, nullptr, kGoodImage, 0, true, true},
        UpgradeCase{"UpgraderFromTheNestedCabinetRuns", kCoprocessorLayout, 21,
                    Upgrader::kFromTheCabinet, nullptr, kGoodImage, 0, true, true}),
    [](const ::testing::TestParamInfo<UpgradeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace actionstest
