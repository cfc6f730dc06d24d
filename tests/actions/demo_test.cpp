// fwsetup demo runs the board-dependent packages on the default printer and on
// board 18; the kept printers show what each package removed or programmed.
#include <gtest/gtest.h>

#include "printer.h"
#include "sim/devices/reference_fpga.h"

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
        uint32_t usercode;  // of the image the FPGA runs
    };
    // The default printer is board 19: it keeps both Bluetooth drivers and its
    // FPGA's factory image; board 18 has the BT121 driver removed and its FPGA
    // programmed.
    for (const Expectation& e : {Expectation{kept / "device", true, 0x20230301},
                                 Expectation{kept / "board18" / "device", false, 0x20240611}}) {
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
        sim::devices::ReferenceFpgaState fpga;
        ASSERT_EQ(sim::devices::LoadReferenceFpgaState(e.device.string(), fpga),
                  sim::devices::kFpgaStateLoaded);
        EXPECT_TRUE(fpga.done);
        EXPECT_EQ(fpga.usercode, e.usercode);
        EXPECT_EQ(fpga.imageRows, 512u);
    }
    EXPECT_NE(demo.output.find("after:  configured: runs an image of 512 rows"), std::string::npos)
        << demo.output;
}

}  // namespace
}  // namespace actionstest
