// Install_Exit: where the nested CAB is made, what the CAB loader is given, and
// what the hook returns, with a recording stand-in for the loader.
#include <gtest/gtest.h>
#include <lz4.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "setup/install_hooks.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;
using fwtest::W;

const char kCabBytes[] = "MSCF nested cabinet stand-in, long enough to be a block";

// A loader that records its command line and the CAB it was handed, and exits
// with the code in hw/loader-exit (0 when absent).
const char kRecordingLoader[] =
    "#!/bin/sh\n"
    "printf '%s' \"$1\" > \"$FWSETUP_DEVICE/hw/loader-args\"\n"
    "cab=$(printf '%s' \"$1\" | sed 's/.* //; s|\\\\|/|g')\n"
    "cat \"$FWSETUP_DEVICE/fs$cab\" > \"$FWSETUP_DEVICE/hw/loader-cab\"\n"
    "exit $(cat \"$FWSETUP_DEVICE/hw/loader-exit\" 2>/dev/null || echo 0)\n";

class InstallExit : public testing::Test {
  protected:
    void SetUp() override {
        device_.MakeDir("\\boot");
        device_.MakeDir("\\UpgradeTemp");
        device_.Write("\\Windows\\wceldcmd.exe", kRecordingLoader);
        chmod(device_.Host("\\Windows\\wceldcmd.exe").c_str(), 0755);
    }

    void SetFreeBytes(const std::string& text) { WriteHw("free-bytes", text); }
    void WriteHw(const std::string& name, const std::string& text) {
        std::ofstream(device_.Hw() / name, std::ios::binary) << text;
    }
    std::string ReadHw(const std::string& name) {
        std::ifstream in(device_.Hw() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool LoaderRan() { return std::filesystem::exists(device_.Hw() / "loader-args"); }

    // "\UpgradeTemp\<layout>.lz4" holding kCabBytes as one length-prefixed LZ4 block.
    void WritePayload(const std::string& layout) {
        const int size = static_cast<int>(sizeof(kCabBytes) - 1);
        std::string block(static_cast<size_t>(LZ4_compressBound(size)), '\0');
        const int length =
            LZ4_compress_default(kCabBytes, &block[0], size, static_cast<int>(block.size()));
        ASSERT_GT(length, 0);
        std::string payload;
        for (int shift = 0; shift < 32; shift += 8) {
            payload.push_back(static_cast<char>((static_cast<uint32_t>(length) >> shift) & 0xFF));
        }
        payload += block.substr(0, static_cast<size_t>(length));
        device_.Write("\\UpgradeTemp\\" + layout + ".lz4", payload);
    }

    TempDevice device_;
};

struct FreeSpaceCase {
    const char* freeBytes;  // hw/free-bytes; null: leave it out
    const char* cabFolder;  // where the CAB is made and installed from
};

void PrintTo(const FreeSpaceCase& c, std::ostream* os) {
    // No backslashes here: the test listing is parsed by CMake.
    *os << "free bytes " << (c.freeBytes ? c.freeBytes : "of the host");
}

class InstallExitFreeSpace : public InstallExit,
                             public testing::WithParamInterface<FreeSpaceCase> {};

TEST_P(InstallExitFreeSpace, CabIsMadeWhereThereIsRoomInstalledAndDeleted) {
    const std::string layout = "QuorinpackageLayout";
    if (GetParam().freeBytes)
        SetFreeBytes(GetParam().freeBytes);
    WritePayload(layout);

    EXPECT_EQ(setup::RunInstallExit(W(layout)), 0);

    EXPECT_EQ(ReadHw("loader-args"),
              std::string(" /delete 0 /nouninstall ") + GetParam().cabFolder + layout + ".Cab");
    EXPECT_EQ(ReadHw("loader-cab"), std::string(kCabBytes));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\" + layout + ".lz4"));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\" + layout + ".Cab"));
    EXPECT_FALSE(device_.Exists("\\boot\\" + layout + ".Cab"));
}

INSTANTIATE_TEST_SUITE_P(Thresholds, InstallExitFreeSpace,
                         testing::Values(FreeSpaceCase{"52428800", "\\UpgradeTemp\\"},
                                         FreeSpaceCase{"52428799", "\\boot\\"},
                                         FreeSpaceCase{"0", "\\boot\\"},
                                         // 4 GiB: only the high 32 bits are set.
                                         FreeSpaceCase{"4294967296", "\\UpgradeTemp\\"},
                                         FreeSpaceCase{"18446744073709551615", "\\UpgradeTemp\\"},
                                         // A query that fails sends the CAB to the boot folder.
                                         FreeSpaceCase{"plenty", "\\boot\\"}));

// The operating-system package short of space: made in \boot\, moved to
// \UpgradeTemp\ and installed from there; from \boot\ when the move fails.
TEST_F(InstallExit, OperatingSystemCabMovesToTheUpgradeFolder) {
    const std::string layout = "QuorinOSPackageLayout";
    SetFreeBytes("1000");
    WritePayload(layout);

    setup::RunInstallExit(W(layout));

    EXPECT_EQ(ReadHw("loader-args"), " /delete 0 /nouninstall \\UpgradeTemp\\" + layout + ".Cab");
    EXPECT_EQ(ReadHw("loader-cab"), std::string(kCabBytes));
    EXPECT_FALSE(device_.Exists("\\boot\\" + layout + ".Cab"));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\" + layout + ".Cab"));
}

TEST_F(InstallExit, OperatingSystemCabStaysInBootWhenItCannotMove) {
    const std::string layout = "xxOSPACKAGELAYOUT";
    SetFreeBytes("1000");
    std::filesystem::remove_all(device_.Host("\\UpgradeTemp"));

    setup::RunInstallExit(W(layout));

    EXPECT_EQ(ReadHw("loader-args"), " /delete 0 /nouninstall \\boot\\" + layout + ".Cab");
    EXPECT_FALSE(device_.Exists("\\boot\\" + layout + ".Cab"));
}

TEST_F(InstallExit, OtherPackagesAreNotMovedOutOfBoot) {
    const std::string layout = "QuorinQtCommonPackageLayout";
    SetFreeBytes("1000");
    WritePayload(layout);

    EXPECT_EQ(setup::RunInstallExit(W(layout)), 0);
    EXPECT_EQ(ReadHw("loader-args"), " /delete 0 /nouninstall \\boot\\" + layout + ".Cab");
}

// Without an upgrade UI a failed CAB installation does not change the result.
TEST_F(InstallExit, FailedOrEmptyCabInstallationStillReturnsZero) {
    const std::string layout = "QuorinpackageLayout";
    SetFreeBytes("999999999");

    // No payload: an empty CAB is handed to the loader, which refuses it.
    WriteHw("loader-exit", "1");
    EXPECT_EQ(setup::RunInstallExit(W(layout)), 0);
    EXPECT_TRUE(LoaderRan());
    EXPECT_EQ(ReadHw("loader-cab"), "");
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\" + layout + ".Cab"));

    // A payload the loader fails on.
    WritePayload(layout);
    EXPECT_EQ(setup::RunInstallExit(W(layout)), 0);
    EXPECT_EQ(ReadHw("loader-cab"), std::string(kCabBytes));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\" + layout + ".Cab"));
}

// When no CAB file can be made at all, nothing is installed and the hook is done.
TEST_F(InstallExit, NoCabFileMeansNoInstallation) {
    const std::string layout = "QuorinpackageLayout";
    SetFreeBytes("0");
    WritePayload(layout);
    std::filesystem::remove_all(device_.Host("\\boot"));

    EXPECT_EQ(setup::RunInstallExit(W(layout)), 0);
    EXPECT_FALSE(LoaderRan());
}

// The package action: the first row whose key the name contains decides, not
// the order of the keys in the name. On this printer (no EEPROM, no kernel
// image, no coprocessor upgrader) the kernel image, variant files, FPGA and
// coprocessor rows fail, the Bluetooth driver and Ferrow rows never do.
struct ActionCase {
    const char* layout;
    int expected;
};

void PrintTo(const ActionCase& c, std::ostream* os) {
    *os << c.layout;
}

class InstallExitAction : public InstallExit, public testing::WithParamInterface<ActionCase> {};

TEST_P(InstallExitAction, FirstMatchingRowDecidesTheResult) {
    SetFreeBytes("999999999");
    EXPECT_EQ(setup::RunInstallExit(W(GetParam().layout)), GetParam().expected);
    EXPECT_TRUE(LoaderRan());
}

INSTANTIATE_TEST_SUITE_P(
    LayoutNames, InstallExitAction,
    testing::Values(ActionCase{"QuorinpackageLayout", 0},
                    ActionCase{"QuorinSTM32UpgraderPackageLayout", 1},
                    ActionCase{"BluetoothDriverPackageLayout_OSPackageLayout", 1},
                    ActionCase{"BluetoothDriverPackageLayout_STM32UpgraderPackageLayout", 0},
                    ActionCase{"OndrelPackageLayout_BluetoothDriverPackageLayout", 1},
                    // With "vexoapps" in the name the variant row is passed over.
                    ActionCase{"VexoApps_OndrelPackageLayout_BluetoothDriverPackageLayout", 0},
                    ActionCase{"VexoApps_OndrelPackageLayout_STM32UpgraderPackageLayout", 1},
                    ActionCase{"LatticeConfigurator_BluetoothDriverPackageLayout", 1},
                    ActionCase{"FerrowPackageLayout_STM32UpgraderPackageLayout", 0}));

// The variant-file row is passed over when the name also holds "vexoapps": the
// live and variant files stay as they were. Without it the row runs and, with
// no EEPROM to read the product name from, fails with the live files deleted.
TEST_F(InstallExit, VexoAppsNameLeavesTheVariantFilesAlone) {
    SetFreeBytes("999999999");
    const char* const files[] = {"\\boot\\ProductRegistry.json",
                                 "\\boot\\ProductRegistry300dpi.json",
                                 "\\boot\\ProductRegistry600dpi.json"};
    for (const char* file : files)
        device_.Write(file, file);

    EXPECT_EQ(setup::RunInstallExit(W("QuorinVEXOAppsOndrelPackageLayout")), 0);
    for (const char* file : files)
        EXPECT_EQ(device_.Read(file), file);

    EXPECT_EQ(setup::RunInstallExit(W("QuorinOndrelPackageLayout")), 1);
    EXPECT_FALSE(device_.Exists(files[0]));
    EXPECT_EQ(device_.Read(files[1]), files[1]);
    EXPECT_EQ(device_.Read(files[2]), files[2]);
}

}  // namespace
