// Job-handler packages end to end: the old Skellan job handler goes before the
// package's files are copied.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

const char* const kModule = "\\boot\\SkellanJobHandler.dll";
const char* const kDigest = "\\boot\\SkellanJobHandler.dll.md5";

struct JobHandlerCase {
    const char* name;
    const char* layout;
    bool moduleBefore;
    bool digestBefore;
    bool deliversNewModule;  // the package's CAB brings a new SkellanJobHandler.dll
    bool oldFilesGo;
};

std::ostream& operator<<(std::ostream& out, const JobHandlerCase& c) {
    return out << c.name;
}

class JobHandlerPackage : public ::testing::TestWithParam<JobHandlerCase> {};

TEST_P(JobHandlerPackage, RemovesTheOldJobHandlerFirst) {
    const JobHandlerCase& c = GetParam();
    Printer printer(19);
    if (c.moduleBefore)
        printer.Write(kModule, "old job handler");
    if (c.digestBefore)
        printer.Write(kDigest, "old digest");

    PackageBuilder builder(printer.Work(), c.layout);
    builder.AddPayloadFile("\\boot\\JobHandlerPackage.txt", c.layout);
    if (c.deliversNewModule)
        builder.AddPayloadFile(kModule, "new job handler");

    const CommandResult install = printer.Install(builder.Make());
    EXPECT_EQ(0, install.exitCode) << install.output;
    EXPECT_EQ(c.layout, printer.Read("\\boot\\JobHandlerPackage.txt"));

    if (c.deliversNewModule) {
        EXPECT_EQ("new job handler", printer.Read(kModule));
    } else {
        EXPECT_EQ(c.moduleBefore && !c.oldFilesGo, printer.Exists(kModule));
    }
    EXPECT_EQ(c.digestBefore && !c.oldFilesGo, printer.Exists(kDigest));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobHandlerPackage,
    ::testing::Values(
        JobHandlerCase{"SkellanRemovesModuleAndDigest", "QuorinSkellanJobHandlerPackageLayout",
                       true, true, false, true},
        JobHandlerCase{"SkellanWithOnlyTheDigest", "QuorinSkellanJobHandlerPackageLayout", false,
                       true, false, true},
        JobHandlerCase{"SkellanWithOnlyTheModule", "QuorinSkellanJobHandlerPackageLayout", true,
                       false, false, true},
        JobHandlerCase{"SkellanOnAPrinterWithout", "QuorinSkellanJobHandlerPackageLayout", false,
                       false, false, true},
        JobHandlerCase{"SkellanNewModuleSurvives", "QuorinSkellanJobHandlerPackageLayout", true,
                       true, true, true},
        JobHandlerCase{"DrovanRemovesModuleAndDigest", "QuorinDrovanJobHandlerPackageLayout", true,
                       true, false, true},
        JobHandlerCase{"DrovanWithOnlyTheDigest", "QuorinDrovanJobHandlerPackageLayout", false,
                       true, false, true},
        JobHandlerCase{"OtherPackagesKeepIt", "QuorinpackageLayout", true, true, false, false}),
    [](const ::testing::TestParamInfo<JobHandlerCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace actionstest
