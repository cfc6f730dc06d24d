// Bluetooth driver packages end to end: which driver the package takes away again.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

const char* const kBt121Layout = "QuorinBT121BluetoothDriverPackageLayout";
const char* const kBleLayout = "QuorinBLEBluetoothDriverPackageLayout";

const char* const kBt121Driver = "\\boot\\BT121BluetoothDriver.dll";
const char* const kBt121Digest = "\\boot\\BT121BluetoothDriver.dll.md5";
const char* const kBleDriver = "\\boot\\BLEBluetoothDriver.dll";
const char* const kBleDigest = "\\boot\\BLEBluetoothDriver.dll.md5";

struct DriverCase {
    const char* layout;
    BoardId board;
    bool bt121Goes;  // driver and digest deleted
    bool bleGoes;
};

std::ostream& operator<<(std::ostream& out, const DriverCase& c) {
    return out << c.layout << " on " << BoardName(c.board);
}

class BluetoothDriverPackage : public ::testing::TestWithParam<DriverCase> {};

// Both drivers are on the printer from an earlier upgrade; the package brings a
// new copy of its own driver and digest.
TEST_P(BluetoothDriverPackage, DeletesOnlyTheDriverTheBoardDoesNotUse) {
    const DriverCase& c = GetParam();
    Printer printer(c.board);
    printer.Write(kBt121Driver, "old bt121");
    printer.Write(kBt121Digest, "old bt121 digest");
    printer.Write(kBleDriver, "old ble");
    printer.Write(kBleDigest, "old ble digest");

    const bool bt121Package = std::string(c.layout) == kBt121Layout;
    PackageBuilder builder(printer.Work(), c.layout);
    builder.AddPayloadFile(bt121Package ? kBt121Driver : kBleDriver, "new driver");
    builder.AddPayloadFile(bt121Package ? kBt121Digest : kBleDigest, "new digest");

    const CommandResult install = printer.Install(builder.Make());
    EXPECT_EQ(0, install.exitCode) << install.output;

    const std::string bt121Kept = bt121Package ? "new driver" : "old bt121";
    const std::string bt121DigestKept = bt121Package ? "new digest" : "old bt121 digest";
    const std::string bleKept = bt121Package ? "old ble" : "new driver";
    const std::string bleDigestKept = bt121Package ? "old ble digest" : "new digest";
    EXPECT_EQ(!c.bt121Goes, printer.Exists(kBt121Driver));
    EXPECT_EQ(!c.bt121Goes, printer.Exists(kBt121Digest));
    EXPECT_EQ(!c.bleGoes, printer.Exists(kBleDriver));
    EXPECT_EQ(!c.bleGoes, printer.Exists(kBleDigest));
    if (!c.bt121Goes) {
        EXPECT_EQ(bt121Kept, printer.Read(kBt121Driver));
        EXPECT_EQ(bt121DigestKept, printer.Read(kBt121Digest));
    }
    if (!c.bleGoes) {
        EXPECT_EQ(bleKept, printer.Read(kBleDriver));
        EXPECT_EQ(bleDigestKept, printer.Read(kBleDigest));
    }
}

// The BT121 driver is of no use on board 18 only; the BLE driver is kept on
// boards 18, 19 and 21 only, so a board that cannot be identified loses it.
INSTANTIATE_TEST_SUITE_P(
    Boards, BluetoothDriverPackage,
    ::testing::Values(
        DriverCase{kBt121Layout, 8, false, false}, DriverCase{kBt121Layout, 18, true, false},
        DriverCase{kBt121Layout, 19, false, false}, DriverCase{kBt121Layout, 20, false, false},
        DriverCase{kBt121Layout, 21, false, false},
        DriverCase{kBt121Layout, kUnreadable, false, false}, DriverCase{kBleLayout, 8, false, true},
        DriverCase{kBleLayout, 18, false, false}, DriverCase{kBleLayout, 19, false, false},
        DriverCase{kBleLayout, 20, false, true}, DriverCase{kBleLayout, 21, false, false},
        DriverCase{kBleLayout, kUnreadable, false, true}),
    [](const ::testing::TestParamInfo<DriverCase>& info) {
        const bool bt121 = std::string(info.param.layout) == kBt121Layout;
        return std::string(bt121 ? "Bt121" : "Ble") + "On" + BoardName(info.param.board);
    });

// A driver that resists deletion (read-only) stays, its digest still goes, and
// the package counts as installed: the clean-up never fails a package.
TEST(BluetoothDriverPackage, ReadOnlyDriverStaysWithoutFailingThePackage) {
    Printer printer(18);
    printer.Write(kBt121Driver, "old bt121");
    printer.Write(kBt121Digest, "old bt121 digest");
    fs::permissions(printer.Host(kBt121Driver), fs::perms::owner_write, fs::perm_options::remove);
    PackageBuilder builder(printer.Work(), kBt121Layout);
    builder.AddPayloadFile("\\boot\\readme.txt", "no driver in this one");

    const CommandResult install = printer.Install(builder.Make());
    EXPECT_EQ(0, install.exitCode) << install.output;
    EXPECT_EQ("old bt121", printer.Read(kBt121Driver));
    EXPECT_FALSE(printer.Exists(kBt121Digest));
}

}  // namespace
}  // namespace actionstest
