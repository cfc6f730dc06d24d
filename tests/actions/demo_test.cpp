// fwsetup demo runs the board-dependent packages on the default printer and on
// board 18; the kept printers show what each package removed or programmed.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

TEST(DemoOnTwoBoards, DriversJobHandlerAndCoprocessorEndAsTheBoardsNeed) {
    fwtest::TempDevice scratch;
    const fs::path kept = scratch.Root() / "kept";
    const CommandResult demo = RunFwsetup("demo --keep " + Quote(kept));
    ASSERT_EQ(0, demo.exitCode) << demo.output;

    struct Expectation {
        fs::path device;
        bool keepsBt121;
    };
    // The default printer is board 19: it keeps both Bluetooth drivers; board 18
    // has the BT121 driver removed.
    for (const Expectation& e :
         {Expectation{kept / "device", true}, Expectation{kept / "board18" / "device", false}}) {
        SCOPED_TRACE(e.device.string());
        const fs::path boot = e.device / "fs" / "boot";
        EXPECT_EQ(e.keepsBt121, fs::exists(boot / "BT121BluetoothDriver.dll"));
        EXPECT_EQ(e.keepsBt121, fs::exists(boot / "BT121BluetoothDriver.dll.md5"));
        EXPECT_EQ("BLE Bluetooth driver, build 2.9\n",
                  ReadHostFile(boot / "BLEBluetoothDriver.dll"));
        EXPECT_TRUE(fs::exists(boot / "BLEBluetoothDriver.dll.md5"));
        EXPECT_EQ("Skellan job handler, build 2.0\n", ReadHostFile(boot / "SkellanJobHandler.dll"));
        EXPECT_FALSE(fs::exists(boot / "SkellanJobHandler.dll.md5"));
        EXPECT_EQ("3.1.4", ReadHostFile(e.device / "hw" / "ble" / "version"));
        EXPECT_EQ(ReadHostFile(e.device / "fs" / "UpgradeTemp" / "BleHipBridge.bin"),
                  ReadHostFile(e.device / "hw" / "ble" / "firmware.bin"));
        EXPECT_EQ("-AH \\UpgradeTemp\\BleHipBridge.bin\n",
                  ReadHostFile(e.device / "hw" / "ble" / "upgrader.log"));
    }
}

}  // namespace
}  // namespace actionstest
