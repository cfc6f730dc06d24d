// The FPGA configuration package end to end through `fwsetup install`: the
// board gate, then the FPGA programmed from the package's algorithm and data
// files over the simulated link to the reference FPGA.
#include <gtest/gtest.h>

#include "printer.h"
#include "sim/devices/reference_fpga.h"
#include "sim/file_digest.h"
#include "sim/reference_fpga_package.h"

namespace actionstest {
namespace {

const char kAlgorithm[] = "\\UpgradeTemp\\algo.sea";
const char kData[] = "\\UpgradeTemp\\data.sed";
const char kTempConfig[] = "\\UpgradeTemp\\tempPeripheralConfigFile.json";

struct GateCase {
    BoardId board;
    bool programmed;  // the board takes FPGA programming and has the link for it
    int installExitCode;
};

std::ostream& operator<<(std::ostream& out, const GateCase& c) {
    return out << BoardName(c.board);
}

// The progress codes the package reported, oldest first.
std::vector<int> ReportedCodes(const Printer& printer) {
    const std::string ring = ReadHostFile(printer.Hardware("named/Global/UPGRADE_SHARED_MEMORY"));
    std::vector<int> codes;
    for (size_t slot = 0; ring.size() > 1 && slot < size_t(uint8_t(ring[0])); ++slot)
        codes.push_back(uint8_t(ring[slot + 1]));
    return codes;
}

class FpgaPackage : public ::testing::TestWithParam<GateCase> {
  protected:
    fs::path Build(const Printer& printer) {
        files = sim::MakeReferenceFpgaPackageFiles(42, 0x0BADCAFE);
        PackageBuilder builder(printer.Work(), "QuorinLatticeConfiguratorPackageLayout");
        builder.AddPayloadFile("\\boot\\fpga-package.txt", "installed from the nested CAB");
        builder.AddFile(kAlgorithm, std::string(files.algorithm.begin(), files.algorithm.end()));
        builder.AddFile(kData, std::string(files.data.begin(), files.data.end()));
        return builder.Make();
    }

    sim::ReferenceFpgaPackageFiles files;
};

// Board 19 takes no FPGA programming: the package is done once the CAB is in,
// and the FPGA and the package's files stay as they are. Every other board has
// its FPGA programmed, and the files are consumed; a board without a readable
// EEPROM has no FPGA link, so its package fails.
TEST_P(FpgaPackage, ProgramsWhereTheBoardTakesIt) {
    const GateCase& c = GetParam();
    Printer printer(c.board);
    const CommandResult install = printer.Install(Build(printer));
    EXPECT_EQ(c.installExitCode, install.exitCode) << install.output;
    EXPECT_EQ("installed from the nested CAB", printer.Read("\\boot\\fpga-package.txt"));

    const bool gated = c.board == 19;
    EXPECT_EQ(printer.Exists(kAlgorithm), gated);
    EXPECT_EQ(printer.Exists(kData), gated);
    EXPECT_FALSE(printer.Exists(kTempConfig));
    sim::devices::ReferenceFpgaState state;
    const sim::devices::ReferenceFpgaStateSource source =
        sim::devices::LoadReferenceFpgaState(printer.Device().string(), state);
    if (c.programmed) {
        ASSERT_EQ(source, sim::devices::kFpgaStateLoaded);
        EXPECT_TRUE(state.done);
        EXPECT_EQ(state.md5, sim::Md5Hex(files.image));
        EXPECT_EQ(state.usercode, 0x0BADCAFEu);
    } else {
        EXPECT_EQ(source, sim::devices::kFpgaStateFresh);
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, FpgaPackage,
                         ::testing::Values(GateCase{19, false, 0}, GateCase{18, true, 0},
                                           GateCase{8, true, 0}, GateCase{20, true, 0},
                                           GateCase{21, true, 0}, GateCase{kUnreadable, false, 1}),
                         [](const ::testing::TestParamInfo<GateCase>& info) {
                             return BoardName(info.param.board);
                         });

// A programming that fails is reported to the upgrade UI with code 27 and
// fails the package: a board without its FPGA link, and an FPGA that does not
// answer as the algorithm expects.
TEST_F(FpgaPackage, AFailedProgrammingIsReportedAndFailsThePackage) {
    const struct {
        const char* name;
        BoardId board;
        const char* model;
    } cases[] = {
        {"no FPGA link", kUnreadable, nullptr},
        {"an FPGA that does not answer", 18, "script\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Printer printer(c.board);
        if (c.model)
            WriteHostFile(printer.Hardware("fpga/model"), c.model);
        const CommandResult upgrade =
            RunFwsetup("upgrade --device " + Quote(printer.Device()) + " " + Quote(Build(printer)));
        EXPECT_EQ(1, upgrade.exitCode) << upgrade.output;
        EXPECT_EQ(ReportedCodes(printer), std::vector<int>({27}));
        EXPECT_FALSE(printer.Exists(kAlgorithm));
        EXPECT_FALSE(printer.Exists(kData));
        EXPECT_FALSE(printer.Exists(kTempConfig));
        sim::devices::ReferenceFpgaState state;
        EXPECT_EQ(sim::devices::LoadReferenceFpgaState(printer.Device().string(), state),
                  sim::devices::kFpgaStateFresh);
    }
}

}  // namespace
}  // namespace actionstest
