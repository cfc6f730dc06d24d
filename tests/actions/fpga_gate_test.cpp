// The FPGA configuration package's board gate, end to end.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

struct GateCase {
    BoardId board;
    int installExitCode;
};

std::ostream& operator<<(std::ostream& out, const GateCase& c) {
    return out << BoardName(c.board);
}

class FpgaPackage : public ::testing::TestWithParam<GateCase> {};

// Board 19 takes no FPGA programming: its package is done once the CAB is in.
// Every other board (an unreadable one included) needs the FPGA programmed,
// which this build cannot do yet, so the package fails instead of passing
// with the FPGA left as it was.
TEST_P(FpgaPackage, ProgramsOnlyWhereTheBoardTakesIt) {
    const GateCase& c = GetParam();
    Printer printer(c.board);
    PackageBuilder builder(printer.Work(), "QuorinLatticeConfiguratorPackageLayout");
    builder.AddPayloadFile("\\boot\\fpga-package.txt", "installed from the nested CAB");
    builder.AddFile("\\UpgradeTemp\\algo.sea", "algorithm");
    builder.AddFile("\\UpgradeTemp\\data.sed", "data");

    const CommandResult install = printer.Install(builder.Make());
    EXPECT_EQ(c.installExitCode, install.exitCode) << install.output;
    EXPECT_EQ("installed from the nested CAB", printer.Read("\\boot\\fpga-package.txt"));
}

INSTANTIATE_TEST_SUITE_P(Boards, FpgaPackage,
                         ::testing::Values(GateCase{19, 0}, GateCase{8, 1}, GateCase{18, 1},
                                           GateCase{20, 1}, GateCase{21, 1},
                                           GateCase{kUnreadable, 1}),
                         [](const ::testing::TestParamInfo<GateCase>& info) {
                             return BoardName(info.param.board);
                         });

}  // namespace
}  // namespace actionstest
