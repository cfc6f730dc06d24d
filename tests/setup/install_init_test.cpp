// Install_Init: which clean-up a layout name selects, and what it leaves behind.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "setup/install_hooks.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;
using fwtest::W;

// The superseded fonts as a printer may hold them: the file system ignores case.
const char* const kFonts[] = {
    "\\boot\\Fonts\\simsun.ac3",          "\\boot\\Fonts\\MINGLIU.AC3",
    "\\boot\\Fonts\\SimSunWec2013.ttf",   "\\boot\\Fonts\\mingliuwec2013.TTF",
    "\\boot\\Fonts\\MSGothicWec2013.ttf",
};
const char* const kVexoApps[] = {"\\boot\\VEXOApps\\Label.exe", "\\boot\\VEXOApps\\sub\\a.cfg"};
const char* const kQtCommon[] = {"\\boot\\OCControls\\Button.qml", "\\boot\\OCScreens\\Home.qml",
                                 "\\boot\\OCSupport\\Strings.ts"};
// Never touched by any clean-up.
const char* const kBystanders[] = {"\\boot\\Fonts\\arial.ttf", "\\boot\\VEXOAppsData\\keep.txt",
                                   "\\boot\\OCThemes\\dark.qss", "\\UpgradeTemp\\VEXOApps\\x"};

enum Cleanup { kNone, kFonts_, kVexo, kQt };

struct InitCase {
    const char* layout;
    Cleanup expected;
};

void PrintTo(const InitCase& c, std::ostream* os) {
    *os << c.layout;
}

class InstallInitDispatch : public testing::TestWithParam<InitCase> {
  protected:
    void SetUp() override {
        for (const char* p : kFonts)
            device_.Write(p, "font");
        for (const char* p : kVexoApps)
            device_.Write(p, "app");
        for (const char* p : kQtCommon)
            device_.Write(p, "qt");
        for (const char* p : kBystanders)
            device_.Write(p, "keep");
    }

    template <size_t N>
    void ExpectPresent(const char* const (&paths)[N], bool present) {
        for (const char* p : paths)
            EXPECT_EQ(device_.Exists(p), present) << p;
    }

    TempDevice device_;
};

TEST_P(InstallInitDispatch, FirstMatchingRowIsCarriedOutAlone) {
    const InitCase& c = GetParam();
    EXPECT_EQ(setup::RunInstallInit(W(c.layout)), 0);

    ExpectPresent(kFonts, c.expected != kFonts_);
    ExpectPresent(kVexoApps, c.expected != kVexo);
    ExpectPresent(kQtCommon, c.expected != kQt);
    ExpectPresent(kBystanders, true);
    EXPECT_EQ(device_.Exists("\\boot\\VEXOApps"), c.expected != kVexo);
    for (const char* folder : {"\\boot\\OCControls", "\\boot\\OCScreens", "\\boot\\OCSupport"}) {
        EXPECT_EQ(device_.Exists(folder), c.expected != kQt) << folder;
    }

    // Nothing moved aside is left behind: \boot\ holds only what was there.
    std::vector<std::string> boot;
    for (const auto& entry : std::filesystem::directory_iterator(device_.Host("\\boot")))
        boot.push_back(entry.path().filename().string());
    for (const std::string& name : boot) {
        EXPECT_TRUE(name == "Fonts" || name == "VEXOApps" || name == "VEXOAppsData" ||
                    name == "OCControls" || name == "OCScreens" || name == "OCSupport" ||
                    name == "OCThemes")
            << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    LayoutNames, InstallInitDispatch,
    testing::Values(InitCase{"QuorinOSPackageLayout", kFonts_},
                    InitCase{"QuorinVEXOAppsPackageLayout", kVexo},
                    InitCase{"QuorinQtCommonPackageLayout", kQt},
                    // Letter case of the name does not matter; the keys match anywhere.
                    InitCase{"quorinvexoappspackagelayout", kVexo}, InitCase{"QTCOMMON", kQt},
                    InitCase{"xOSPACKAGELAYOUTx", kFonts_},
                    // Several keys: the table's order decides, not the order in the name.
                    InitCase{"QtCommonVexoApps", kVexo},
                    InitCase{"VexoAppsQtCommonOSPackageLayout", kFonts_},
                    // No key.
                    InitCase{"QuorinpackageLayout", kNone}, InitCase{"", kNone},
                    InitCase{"Vexo_Apps", kNone}, InitCase{"OSPackage", kNone},
                    // Only A-Z are lowered: the Kelvin sign (U+212A) is not a K.
                    InitCase{"OSPAC\u212AAGELAYOUT", kNone}));

TEST(InstallInit, FontsThatResistOrAreMissingDoNotStopTheOthers) {
    TempDevice device;
    device.Write(kFonts[0], "font");  // read-only: stays
    device.SetReadOnly(kFonts[0], true);
    // kFonts[1] is missing.
    for (size_t i = 2; i < sizeof(kFonts) / sizeof(kFonts[0]); ++i)
        device.Write(kFonts[i], "f");

    EXPECT_EQ(setup::RunInstallInit(W("QuorinOSPackageLayout")), 0);

    EXPECT_TRUE(device.Exists(kFonts[0]));
    for (size_t i = 2; i < sizeof(kFonts) / sizeof(kFonts[0]); ++i) {
        EXPECT_FALSE(device.Exists(kFonts[i])) << kFonts[i];
    }
}

TEST(InstallInit, MissingApplicationFoldersAreNoError) {
    TempDevice device;
    device.MakeDir("\\boot");
    EXPECT_EQ(setup::RunInstallInit(W("QuorinQtCommonPackageLayout")), 0);
    EXPECT_EQ(setup::RunInstallInit(W("QuorinVEXOAppsPackageLayout")), 0);
    EXPECT_TRUE(std::filesystem::is_empty(device.Host("\\boot")));
}

// What cannot be deleted stays under the folder's name followed directly by
// the timestamp, beside the old place, which is free for the new files.
TEST(InstallInit, LeftoversStayUnderTheFolderNameWithTheTimestamp) {
    TempDevice device;
    std::ofstream(device.Hw() / "clock") << "2024-03-05T07:08:09Z";
    // A dot file in a subfolder resists the clean-up.
    device.Write("\\boot\\VEXOApps\\sub\\.keep", "x");
    device.Write("\\boot\\VEXOApps\\Label.exe", "x");
    device.Write("\\boot\\OCScreens\\sub\\.keep", "x");
    device.Write("\\boot\\OCSupport\\sub\\.keep", "x");

    setup::RunInstallInit(W("QuorinVEXOAppsPackageLayout"));
    EXPECT_FALSE(device.Exists("\\boot\\VEXOApps"));
    EXPECT_TRUE(device.Exists("\\boot\\VEXOApps12425789\\sub\\.keep"));
    EXPECT_FALSE(device.Exists("\\boot\\VEXOApps12425789\\Label.exe"));

    setup::RunInstallInit(W("QuorinQtCommonPackageLayout"));
    EXPECT_FALSE(device.Exists("\\boot\\OCScreens"));
    EXPECT_FALSE(device.Exists("\\boot\\OCSupport"));
    EXPECT_TRUE(device.Exists("\\boot\\OCScreens12425789\\sub\\.keep"));
    EXPECT_TRUE(device.Exists("\\boot\\OCSupport12425789\\sub\\.keep"));
}

}  // namespace
