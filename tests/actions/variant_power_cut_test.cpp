// The variant file actions under a power cut at each of their file operations
// in turn: the cut never loses the file that was to go live, and running the
// package again (its cabinet delivers the sources anew, then the action runs)
// ends as a run without a cut would.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "actions/ferrow_upgrade_setup.h"
#include "actions/ondrel_upgrade_setup.h"
#include "sim/device.h"
#include "sim/eeprom_setup.h"
#include "support/power_cut.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::PowerCut;
using fwtest::TempDevice;

struct Pair {
    const char* from;   // the source that goes live
    const char* to;     // the live name
    const char* other;  // the source that is discarded (null: none)
};

void MakePrinter(const TempDevice& device, int boardId, const char* product) {
    device.MakeDir("\\boot");
    device.MakeDir("\\store");
    device.MakeDir("\\UpgradeTemp");
    sim::DeviceOptions options;
    options.boardId = boardId;
    options.product = std::string(product);
    sim::SetUpEeprom(device.Root(), options);
}

std::string Text(const char* path) {
    return std::string("contents of ") + path;
}

void Deliver(const TempDevice& device, const Pair* pairs, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        device.Write(pairs[i].from, Text(pairs[i].from));
        if (pairs[i].other)
            device.Write(pairs[i].other, Text(pairs[i].other));
    }
}

// Right after the cut: the live name holds nothing, its old contents or the
// chosen source's bytes; those bytes are still somewhere.
void ExpectNothingLost(const TempDevice& device, const Pair& pair) {
    SCOPED_TRACE(pair.to);
    const std::string chosen = Text(pair.from);
    const std::string live = device.Read(pair.to);
    if (device.Exists(pair.to)) {
        EXPECT_TRUE(live == chosen || live == "old" || live.empty()) << live;
    }
    EXPECT_TRUE(live == chosen || device.Read(pair.from) == chosen);
}

void ExpectLive(const TempDevice& device, const Pair& pair) {
    SCOPED_TRACE(pair.to);
    EXPECT_EQ(Text(pair.from), device.Read(pair.to));
    EXPECT_FALSE(device.Exists(pair.from));
    if (pair.other) {
        EXPECT_FALSE(device.Exists(pair.other));
    }
}

const Pair kOndrelSixHundred[] = {
    {"\\boot\\ProductRegistry600dpi.json", "\\boot\\ProductRegistry.json",
     "\\boot\\ProductRegistry300dpi.json"},
    {"\\boot\\ScriptingSettings600dpi.json", "\\boot\\ScriptingSettings.json",
     "\\boot\\ScriptingSettings300dpi.json"},
    {"\\store\\PlatenRampData600dpi.json", "\\store\\PlatenRampData.json",
     "\\store\\PlatenRampData300dpi.json"},
    {"\\store\\PropertiesOverride600dpi.json", "\\store\\PropertiesOverride.json",
     "\\store\\PropertiesOverride300dpi.json"},
    {"\\store\\PropertiesOverride600dpi.json.md5", "\\store\\PropertiesOverride.json.md5",
     "\\store\\PropertiesOverride300dpi.json.md5"},
};
const size_t kOndrelCount = sizeof(kOndrelSixHundred) / sizeof(kOndrelSixHundred[0]);
const char kPeripheralConfigCopy[] = "\\UpgradeTemp\\VexoPeripheralConfig.json";

TEST(OndrelPowerCut, RunningThePackageAgainRecovers) {
    TempDevice device;
    MakePrinter(device, 19, "OndrelSixHundredDpi");
    const uint64_t cuts = fwtest::ForEachPowerCut(
        device,
        [&] {
            std::error_code ec;
            fs::remove(device.Host(kPeripheralConfigCopy), ec);
            for (const Pair& pair : kOndrelSixHundred)
                device.Write(pair.to, "old");
            Deliver(device, kOndrelSixHundred, kOndrelCount);
        },
        [] { OndrelUpgradeSetup::CopyJsonFiles(); },
        [&](const PowerCut&) {
            for (const Pair& pair : kOndrelSixHundred)
                ExpectNothingLost(device, pair);
            Deliver(device, kOndrelSixHundred, kOndrelCount);
            EXPECT_TRUE(OndrelUpgradeSetup::CopyJsonFiles());
            for (const Pair& pair : kOndrelSixHundred)
                ExpectLive(device, pair);
            EXPECT_FALSE(device.Exists(kPeripheralConfigCopy));
        });
    EXPECT_GT(cuts, 0u);
}

const Pair kFerrowStaged[] = {
    {"\\store\\boot.txt", "\\boot\\boot.txt", nullptr},
    {"\\store\\boot.txt.md5", "\\boot\\boot.txt.md5", nullptr},
    {"\\store\\ProductRegistry.json", "\\boot\\ProductRegistry.json", nullptr},
    {"\\store\\systemfeatures.json", "\\boot\\systemfeatures.json", nullptr},
};
const size_t kFerrowCount = sizeof(kFerrowStaged) / sizeof(kFerrowStaged[0]);

TEST(FerrowPowerCut, RunningThePackageAgainRecoversOnBoard18) {
    TempDevice device;
    MakePrinter(device, 18, "OndrelThreeHundredDpi");
    const uint64_t cuts = fwtest::ForEachPowerCut(
        device,
        [&] {
            for (const Pair& pair : kFerrowStaged)
                device.Write(pair.to, "old");
            Deliver(device, kFerrowStaged, kFerrowCount);
        },
        [] { FerrowUpgradeSetup::CopyCorrectBootTxtFile(); },
        [&](const PowerCut&) {
            for (const Pair& pair : kFerrowStaged)
                ExpectNothingLost(device, pair);
            Deliver(device, kFerrowStaged, kFerrowCount);
            FerrowUpgradeSetup::CopyCorrectBootTxtFile();
            for (const Pair& pair : kFerrowStaged)
                ExpectLive(device, pair);
        });
    EXPECT_GT(cuts, 0u);
}

}  // namespace
