// fwsetup demo runs the Ondrel and Ferrow packages on a 300 dpi board 19, a
// 300 dpi board 18 and a 600 dpi board 19: the kept printers hold the set each
// one chose, and the report says which set went live.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

// The kept sources of the demo's package of this layout.
fs::path PackageSources(const fs::path& kept, const std::string& layout) {
    for (const auto& entry : fs::directory_iterator(kept / "sources")) {
        const std::string name = entry.path().filename().string();
        if (name.size() > layout.size() &&
            name.compare(name.size() - layout.size(), layout.size(), layout) == 0 &&
            name[name.size() - layout.size() - 1] == '-')
            return entry.path() / "payload";
    }
    ADD_FAILURE() << "no sources of " << layout << " in " << kept;
    return fs::path();
}

TEST(DemoOnThreePrinters, EachPrinterEndsWithItsVariantFiles) {
    fwtest::TempDevice scratch;
    const fs::path kept = scratch.Root() / "kept";
    const CommandResult demo = RunFwsetup("demo --keep " + Quote(kept));
    ASSERT_EQ(0, demo.exitCode) << demo.output;
    EXPECT_NE(std::string::npos,
              demo.output.find("went live: the 600 dpi set; discarded: the 300 dpi set"))
        << demo.output;
    EXPECT_NE(std::string::npos,
              demo.output.find("went live: the staged boot files; discarded: the staged set"))
        << demo.output;

    const fs::path ondrel = PackageSources(kept, "QuorinOndrelPackageLayout");
    const fs::path ferrow = PackageSources(kept, "QuorinFerrowPackageLayout");
    struct Expectation {
        fs::path printer;
        const char* dpi;
        bool takesStagedFiles;
    };
    for (const Expectation& e :
         {Expectation{kept, "300dpi", false}, Expectation{kept / "board18", "300dpi", true},
          Expectation{kept / "sixhundreddpi", "600dpi", false}}) {
        SCOPED_TRACE(e.printer.string());
        const fs::path fs = e.printer / "device" / "fs";
        const std::string other = std::string(e.dpi) == "300dpi" ? "600dpi" : "300dpi";
        for (const char* live : {"boot/ProductRegistry.json", "boot/ScriptingSettings.json",
                                 "store/PlatenRampData.json", "store/PropertiesOverride.json"}) {
            const fs::path path(live);
            const std::string stem = path.parent_path().string() + "/" + path.stem().string();
            EXPECT_EQ(ReadHostFile(ondrel / (stem + e.dpi + ".json")), ReadHostFile(fs / live));
            EXPECT_FALSE(fs::exists(fs / (stem + e.dpi + ".json")));
            EXPECT_FALSE(fs::exists(fs / (stem + other + ".json")));
        }
        EXPECT_FALSE(fs::exists(fs / "UpgradeTemp" / "VexoPeripheralConfig.json"));

        EXPECT_EQ(e.takesStagedFiles, ReadHostFile(fs / "boot" / "boot.txt") ==
                                          ReadHostFile(ferrow / "store/boot.txt"));
        EXPECT_EQ(e.takesStagedFiles, ReadHostFile(fs / "boot" / "systemfeatures.json") ==
                                          ReadHostFile(ferrow / "store/systemfeatures.json"));
        EXPECT_FALSE(fs::exists(fs / "store" / "boot.txt"));
        EXPECT_EQ(e.takesStagedFiles, fs::exists(fs / "store" / "JobHandlerProperties.json"));
    }
}

}  // namespace
}  // namespace actionstest
