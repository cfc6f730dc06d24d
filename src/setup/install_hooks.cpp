// What the installer's hooks do for a package, chosen by its layout name.
//
// Both hooks lower-case the layout name (ASCII A-Z only, as the runtime's narrow
// tolower does) and walk a table of rows: the first row whose key occurs in the
// name is carried out, the others are skipped. Results of clean-up steps are
// ignored; only the CAB installation and the package's own action count.
#include "setup/install_hooks.h"

#include "actions/bluetooth_driver_upgrade_setup.h"
#include "actions/ferrow_upgrade_setup.h"
#include "actions/lattice_configurator_upgrade_setup.h"
#include "actions/ondrel_upgrade_setup.h"
#include "actions/print_job_handler_upgrade_setup.h"
#include "actions/stm32_upgrade_setup.h"
#include "fileutil/file_delete_handler.h"
#include "fileutil/file_operation.h"
#include "fpga/fpga_engine.h"
#include "kernel/wec_kernel_binary.h"
#include "package/lz4_decompressor.h"
#include "package/process_executor.h"
#include "properties/previous_build_number_property_creator.h"
#include "setup/progress_channel.h"
#include "setup/setup_paths.h"

namespace setup {
namespace {

WString LowerCaseLayoutName(const WString& layoutName) {
    WString lower(layoutName);
    for (size_t i = 0; i < lower.size(); ++i) {
        if (lower[i] >= u'A' && lower[i] <= u'Z')
            lower[i] = static_cast<char16_t>(lower[i] + 32);
    }
    return lower;
}

bool Contains(const WString& text, const char16_t* key) {
    return text.find(key) != WString::npos;
}

// Moves the folder aside under its name followed by a fresh timestamp and deletes it.
void CleanFolder(const WString& folder) {
    FileDeleteHandler::DeleteDirectoryContents(folder, folder + GetCurrentTimeString());
}

// ---- Install_Init ----------------------------------------------------------

typedef void (*InitAction)(const WString& lowerName);

// Deletes the superseded fonts, then records the build number of the firmware
// being replaced.
void PrepareOperatingSystem(const WString&) {
    for (size_t i = 0; i < kSupersededFontCount; ++i)
        FileOperation::RemoveFile(kSupersededFonts[i]);
    PreviousBuildNumberPropertyCreator::Create();
}

void CleanVexoApps(const WString&) {
    CleanFolder(kVexoAppsFolder);
}

void CleanQtCommon(const WString&) {
    CleanFolder(kOcControlsFolder);
    CleanFolder(kOcScreensFolder);
    CleanFolder(kOcSupportFolder);
}

void RemoveOldJobHandler(const WString&) {
    PrintJobHandlerUpgradeSetup::RemoveSkellanJobHandler();
}

struct InitRow {
    const char16_t* keys[2];  // the row matches when the name contains either (null: unused)
    InitAction action;
};

const InitRow kInitRows[] = {
    {{u"ospackagelayout", nullptr}, PrepareOperatingSystem},
    {{u"vexoapps", nullptr}, CleanVexoApps},
    {{u"qtcommon", nullptr}, CleanQtCommon},
    {{u"skellanjobhandlerpackagelayout", u"drovanjobhandlerpackagelayout"}, RemoveOldJobHandler},
};
const size_t kInitRowCount = sizeof(kInitRows) / sizeof(kInitRows[0]);

bool Matches(const InitRow& row, const WString& lowerName) {
    for (size_t k = 0; k < 2; ++k) {
        if (row.keys[k] && Contains(lowerName, row.keys[k]))
            return true;
    }
    return false;
}

// ---- Install_Exit ----------------------------------------------------------

// The package's own action after its nested CAB is installed: true = success.
typedef bool (*ExitAction)(const WString& lowerName);

struct ExitRow {
    const char16_t* key;        // the name must contain it (null: every name)
    const char16_t* unlessKey;  // ... and must not contain this one (null: no such test)
    ExitAction action;          // null: nothing to do, never a failure
};

// Checks the kernel image the package brought and has it written to flash.
bool FlashKernelImage(const WString&) {
    WecKernelBinary kernel;
    return kernel.Flash(kKernelImagePath);
}

// A board that takes no FPGA programming is done here; every other board has
// its FPGA programmed from \UpgradeTemp\algo.sea and data.sed.
bool ProgramFpgaWhereSupported(const WString&) {
    if (!LatticeConfiguratorUpgradeSetup::IsBoardSupportsFPGAUpgrade())
        return true;
    return ProgramFpga(kFpgaAlgorithmPath, kFpgaDataPath);
}

// Puts the 300 dpi or the 600 dpi configuration files in place, as the board's
// product name says.
bool CopyVariantJsonFiles(const WString&) {
    return OndrelUpgradeSetup::CopyJsonFiles();
}

// Takes away the Bluetooth driver this board does not use; never a failure.
bool DeleteUnusedBluetoothDriver(const WString& lowerName) {
    BluetoothDriverUpgradeSetup::DeleteIfNotReqd(lowerName);
    return true;
}

// Takes or discards the staged boot files, as the board id says; never a failure.
bool ChooseBootFiles(const WString&) {
    FerrowUpgradeSetup::CopyCorrectBootTxtFile();
    return true;
}

// In this order, before the last row:
//   "ospackagelayout"                           kernel image check and flash
//   "ondrelpackagelayout" unless "vexoapps"     variant JSON files
//   "latticeconfigurator"                       FPGA programming where the board takes it
//   "bluetoothdriverpackagelayout"              Bluetooth driver clean-up (never fails)
//   "ferrowpackagelayout"                       boot text file choice (never fails)
//   "stm32upgraderpackagelayout"                coprocessor firmware upgrade
const ExitRow kExitRows[] = {
    {u"ospackagelayout", nullptr, FlashKernelImage},
    {u"ondrelpackagelayout", u"vexoapps", CopyVariantJsonFiles},
    {u"latticeconfigurator", nullptr, ProgramFpgaWhereSupported},
    {u"bluetoothdriverpackagelayout", nullptr, DeleteUnusedBluetoothDriver},
    {u"ferrowpackagelayout", nullptr, ChooseBootFiles},
    {u"stm32upgraderpackagelayout", nullptr, Stm32UpgradeSetup::UpgradeBLEFw},
    {nullptr, nullptr, nullptr},  // none of the above
};
const size_t kExitRowCount = sizeof(kExitRows) / sizeof(kExitRows[0]);

bool Matches(const ExitRow& row, const WString& lowerName) {
    if (row.key && !Contains(lowerName, row.key))
        return false;
    if (row.unlessKey && Contains(lowerName, row.unlessKey))
        return false;
    return true;
}

// True unless the first matching row's action failed.
bool RunPackageAction(const WString& lowerName) {
    for (size_t i = 0; i < kExitRowCount; ++i) {
        if (!Matches(kExitRows[i], lowerName))
            continue;
        return kExitRows[i].action ? kExitRows[i].action(lowerName) : true;
    }
    return true;
}

}  // namespace

int RunInstallInit(const WString& layoutName) {
    const WString lowerName = LowerCaseLayoutName(layoutName);
    for (size_t i = 0; i < kInitRowCount; ++i) {
        if (!Matches(kInitRows[i], lowerName))
            continue;
        kInitRows[i].action(lowerName);
        break;
    }
    return 0;
}

int RunInstallExit(const WString& layoutName) {
    // The CAB goes to the upgrade folder when its volume has room, else to the boot folder.
    WString folder = kBootFolder;
    uint64_t freeBytesAvailable = 0;
    uint64_t totalBytes = 0;
    if (FileOperation::GetFreeSpace(kUpgradeFolderNarrow, freeBytesAvailable, totalBytes) &&
        freeBytesAvailable >= kMinimumUpgradeFolderFreeBytes) {
        folder = kUpgradeFolder;
    }
    const bool inBootFolder = folder == kBootFolder;
    WString cabPath = folder + NestedCabFileName(layoutName);
    const WString lowerName = LowerCaseLayoutName(layoutName);

    // Whatever the decoder makes of the payload is judged by the CAB loader below.
    DecompressLz4File(CompressedPayloadPath(layoutName), cabPath, true);

    // The operating-system package is installed from the upgrade folder whenever it can be.
    if (Contains(lowerName, u"ospackagelayout") && inBootFolder) {
        const WString upgradeCabPath = kUpgradeFolder + NestedCabFileName(layoutName);
        if (FileOperation::CopyFileTo(cabPath, upgradeCabPath, true)) {
            FileOperation::RemoveFile(cabPath);
            cabPath = upgradeCabPath;
        }
    }

    if (!FileOperation::FileExists(cabPath))
        return 0;

    // A failed installation is reported to the upgrade UI; it does not change
    // the hook's result. With the UI running the report does not return.
    if (!InstallCab(cabPath, true))
        NotifyUpgradeUI(SetupStepFailed);

    if (!RunPackageAction(lowerName)) {
        NotifyUpgradeUI(SetupStepFailed);
        return 1;
    }
    return 0;
}

}  // namespace setup
