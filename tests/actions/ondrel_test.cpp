// Ondrel packages end to end: the nested cabinet brings every configuration file
// for a 300 dpi and for a 600 dpi printhead, and the product name in EEPROM
// region 0 decides which set goes live under the files' own names.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

const char* const kLayout = "QuorinOndrelPackageLayout";
const char* const kPeripheralConfigCopy = "\\UpgradeTemp\\VexoPeripheralConfig.json";

enum Dpi { k300Dpi = 0, k600Dpi = 1 };

struct FileGroup {
    const char* live;
    const char* source[2];  // indexed by Dpi
};

const FileGroup kGroups[] = {
    {"\\boot\\ProductRegistry.json",
     {"\\boot\\ProductRegistry300dpi.json", "\\boot\\ProductRegistry600dpi.json"}},
    {"\\boot\\ScriptingSettings.json",
     {"\\boot\\ScriptingSettings300dpi.json", "\\boot\\ScriptingSettings600dpi.json"}},
    {"\\store\\PlatenRampData.json",
     {"\\store\\PlatenRampData300dpi.json", "\\store\\PlatenRampData600dpi.json"}},
    {"\\store\\PropertiesOverride.json",
     {"\\store\\PropertiesOverride300dpi.json", "\\store\\PropertiesOverride600dpi.json"}},
    {"\\store\\PropertiesOverride.json.md5",
     {"\\store\\PropertiesOverride300dpi.json.md5", "\\store\\PropertiesOverride600dpi.json.md5"}},
};
const int kGroupCount = sizeof(kGroups) / sizeof(kGroups[0]);
const int kNoGroup = -1;

std::string SourceText(int group, int dpi) {
    return std::string("contents of ") + kGroups[group].source[dpi];
}
std::string OldText(int group) {
    return std::string("earlier firmware's ") + kGroups[group].live;
}

// A document that loads as a peripheral configuration, with the given product.
std::string Document(const std::string& productName, bool withDevices = true) {
    return "{\"platform\": {\"productName\": \"" + productName +
           "\", \"cpuEngine\": \"AM3358\", \"mainboard\": \"QMB-600\"}, \"configuration\": "
           "{\"devices\": [" +
           (withDevices ? "{\"name\": \"SPI0\", \"class\": \"SpiMasterBus\", \"module\": 0}" : "") +
           "]}}";
}

// The printer holds the live files of an earlier firmware; the package's nested
// cabinet carries both sets except the source of leftOutGroup for leftOutDpi.
fs::path MakeOndrelPackage(const Printer& printer, int leftOutGroup = kNoGroup,
                           int leftOutDpi = k300Dpi) {
    for (int g = 0; g < kGroupCount; ++g)
        printer.Write(kGroups[g].live, OldText(g));
    PackageBuilder builder(printer.Work(), kLayout);
    for (int g = 0; g < kGroupCount; ++g) {
        for (int dpi : {k300Dpi, k600Dpi}) {
            if (g != leftOutGroup || dpi != leftOutDpi)
                builder.AddPayloadFile(kGroups[g].source[dpi], SourceText(g, dpi));
        }
    }
    return builder.Make();
}

// A copy of region 0 left behind by an earlier run, naming the 600 dpi product.
void LeaveStaleCopy(const Printer& printer) {
    const fs::path json = printer.Work() / "stale.json";
    WriteHostFile(json, Document("OndrelSixHundredDpi"));
    const CommandResult wrap =
        RunFwsetup("periph wrap " + Quote(json) + " " + Quote(printer.Host(kPeripheralConfigCopy)));
    ASSERT_EQ(0, wrap.exitCode) << wrap.output;
}

// Every group holds its chosen source under its live name and neither source is left.
void ExpectSetIsLive(const Printer& printer, int dpi) {
    for (int g = 0; g < kGroupCount; ++g) {
        SCOPED_TRACE(kGroups[g].live);
        EXPECT_EQ(SourceText(g, dpi), printer.Read(kGroups[g].live));
        EXPECT_FALSE(printer.Exists(kGroups[g].source[k300Dpi]));
        EXPECT_FALSE(printer.Exists(kGroups[g].source[k600Dpi]));
    }
}

struct ProductCase {
    const char* name;
    const char* product;  // --product; null: the default document's name
    bool staleCopy;
    Dpi expected;
};

std::ostream& operator<<(std::ostream& out, const ProductCase& c) {
    return out << c.name;
}

class OndrelProductName : public ::testing::TestWithParam<ProductCase> {};

TEST_P(OndrelProductName, ChoosesTheSetAndDeletesTheOther) {
    const ProductCase& c = GetParam();
    Printer printer(19, c.product ? "--product " + Quote(c.product) : std::string());
    const fs::path package = MakeOndrelPackage(printer);
    if (c.staleCopy)
        LeaveStaleCopy(printer);

    const CommandResult install = printer.Install(package);
    EXPECT_EQ(0, install.exitCode) << install.output;
    ExpectSetIsLive(printer, c.expected);
    EXPECT_FALSE(printer.Exists(kPeripheralConfigCopy));
}

// Only the exact name selects the 600 dpi set.
INSTANTIATE_TEST_SUITE_P(
    Names, OndrelProductName,
    ::testing::Values(ProductCase{"SixHundredDpi", "OndrelSixHundredDpi", false, k600Dpi},
                      ProductCase{"ThreeHundredDpi", "OndrelThreeHundredDpi", false, k300Dpi},
                      ProductCase{"DefaultDocument", nullptr, false, k300Dpi},
                      ProductCase{"Empty", "", false, k300Dpi},
                      ProductCase{"AllLowerCase", "ondrelsixhundreddpi", false, k300Dpi},
                      ProductCase{"CapitalDPI", "OndrelSixHundredDPI", false, k300Dpi},
                      ProductCase{"LeadingSpace", " OndrelSixHundredDpi", false, k300Dpi},
                      ProductCase{"TrailingSpace", "OndrelSixHundredDpi ", false, k300Dpi},
                      ProductCase{"InnerSpace", "Ondrel SixHundredDpi", false, k300Dpi},
                      // Region 0 is copied afresh over what an earlier run left.
                      ProductCase{"StaleSixHundredCopy", nullptr, true, k300Dpi},
                      ProductCase{"StaleCopyOnSixHundred", "OndrelSixHundredDpi", true, k600Dpi}),
    [](const ::testing::TestParamInfo<ProductCase>& info) { return std::string(info.param.name); });

struct RegionCase {
    const char* name;
    BoardId board;
    const char* region0;  // a document stored as region 0; null: see initArguments
    const char* initArguments;
    bool staleCopy;
};

std::ostream& operator<<(std::ostream& out, const RegionCase& c) {
    return out << c.name;
}

class OndrelWithoutProductName : public ::testing::TestWithParam<RegionCase> {};

// The live files are deleted before region 0 is read and stay deleted; both
// sets stay where the cabinet put them, and no copy of region 0 is left.
TEST_P(OndrelWithoutProductName, FailsWithTheLiveFilesGone) {
    const RegionCase& c = GetParam();
    fwtest::TempDevice scratch;
    std::string init = c.initArguments;
    if (c.region0) {
        WriteHostFile(scratch.Root() / "region0.json", c.region0);
        init += " --region0 " + Quote(scratch.Root() / "region0.json");
    }
    Printer printer(c.board, init);
    const fs::path package = MakeOndrelPackage(printer);
    if (c.staleCopy)
        LeaveStaleCopy(printer);

    const CommandResult install = printer.Install(package);
    EXPECT_EQ(1, install.exitCode) << install.output;
    for (int g = 0; g < kGroupCount; ++g) {
        SCOPED_TRACE(kGroups[g].live);
        EXPECT_FALSE(printer.Exists(kGroups[g].live));
        EXPECT_EQ(SourceText(g, k300Dpi), printer.Read(kGroups[g].source[k300Dpi]));
        EXPECT_EQ(SourceText(g, k600Dpi), printer.Read(kGroups[g].source[k600Dpi]));
    }
    EXPECT_FALSE(printer.Exists(kPeripheralConfigCopy));
}

const std::string kWithoutDevices = Document("OndrelSixHundredDpi", false);

INSTANTIATE_TEST_SUITE_P(
    Regions, OndrelWithoutProductName,
    ::testing::Values(RegionCase{"NoEeprom", kUnreadable, nullptr, "", false},
                      // Region 0 then reads as the blank chip's 0xFF bytes.
                      RegionCase{"NoRegion0", 19, nullptr, "--no-region0", false},
                      RegionCase{"NotJson", 19, "productName: OndrelSixHundredDpi", "", false},
                      // The product name is there, but the document holds no device.
                      RegionCase{"NoDevices", 19, kWithoutDevices.c_str(), "", false},
                      // A copy an earlier run left is not taken for region 0.
                      RegionCase{"StaleCopyWithoutEeprom", kUnreadable, nullptr, "", true}),
    [](const ::testing::TestParamInfo<RegionCase>& info) { return std::string(info.param.name); });

struct MissingCase {
    const char* name;
    const char* product;
    Dpi chosen;
    int missingGroup;  // its chosen source is not in the package
};

std::ostream& operator<<(std::ostream& out, const MissingCase& c) {
    return out << c.name;
}

class OndrelMissingSource : public ::testing::TestWithParam<MissingCase> {};

// The package fails, the other groups are still chosen, and the group without
// its chosen source keeps its other source and has no live file.
TEST_P(OndrelMissingSource, OtherGroupsStillMove) {
    const MissingCase& c = GetParam();
    Printer printer(19, "--product " + Quote(c.product));
    const fs::path package = MakeOndrelPackage(printer, c.missingGroup, c.chosen);

    const CommandResult install = printer.Install(package);
    EXPECT_EQ(1, install.exitCode) << install.output;
    const int rejected = c.chosen == k600Dpi ? k300Dpi : k600Dpi;
    for (int g = 0; g < kGroupCount; ++g) {
        SCOPED_TRACE(kGroups[g].live);
        if (g == c.missingGroup) {
            EXPECT_FALSE(printer.Exists(kGroups[g].live));
            EXPECT_EQ(SourceText(g, rejected), printer.Read(kGroups[g].source[rejected]));
        } else {
            EXPECT_EQ(SourceText(g, c.chosen), printer.Read(kGroups[g].live));
            EXPECT_FALSE(printer.Exists(kGroups[g].source[rejected]));
        }
        EXPECT_FALSE(printer.Exists(kGroups[g].source[c.chosen]));
    }
    EXPECT_FALSE(printer.Exists(kPeripheralConfigCopy));
}

INSTANTIATE_TEST_SUITE_P(
    Groups, OndrelMissingSource,
    ::testing::Values(MissingCase{"SixHundredDigest", "OndrelSixHundredDpi", k600Dpi, 4},
                      MissingCase{"SixHundredFirstGroup", "OndrelSixHundredDpi", k600Dpi, 0},
                      MissingCase{"ThreeHundredPlatenRamp", "OndrelThreeHundredDpi", k300Dpi, 2}),
    [](const ::testing::TestParamInfo<MissingCase>& info) { return std::string(info.param.name); });

// A live file that resists deletion (read-only) blocks its rename: the package
// fails, that group keeps its old file and both sources, the others are chosen.
TEST(OndrelFailedRename, KeepsBothSourcesOfTheBlockedGroup) {
    const int blocked = 1;
    Printer printer(19, "--product OndrelSixHundredDpi");
    const fs::path package = MakeOndrelPackage(printer);
    fs::permissions(printer.Host(kGroups[blocked].live), fs::perms::owner_write,
                    fs::perm_options::remove);

    const CommandResult install = printer.Install(package);
    EXPECT_EQ(1, install.exitCode) << install.output;
    for (int g = 0; g < kGroupCount; ++g) {
        SCOPED_TRACE(kGroups[g].live);
        if (g == blocked) {
            EXPECT_EQ(OldText(g), printer.Read(kGroups[g].live));
            EXPECT_EQ(SourceText(g, k300Dpi), printer.Read(kGroups[g].source[k300Dpi]));
            EXPECT_EQ(SourceText(g, k600Dpi), printer.Read(kGroups[g].source[k600Dpi]));
        } else {
            EXPECT_EQ(SourceText(g, k600Dpi), printer.Read(kGroups[g].live));
            EXPECT_FALSE(printer.Exists(kGroups[g].source[k300Dpi]));
            EXPECT_FALSE(printer.Exists(kGroups[g].source[k600Dpi]));
        }
    }
}

}  // namespace
}  // namespace actionstest
