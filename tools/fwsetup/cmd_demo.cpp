// fwsetup demo: fresh printers (the default board, board 18 and a 600 dpi
// printer), an upgrade series on each, and what it changed.
//
// The series is a table of package rows. A row says how its package is built
// (the payload's files and any extra files), what the printer holds before it
// comes (so its effect shows), and what to look for in the report.
#include <stdlib.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app.h"
#include "fileutil/crc16.h"
#include "properties/json_document.h"
#include "sim/default_peripherals.h"
#include "sim/device.h"
#include "sim/device_files.h"
#include "sim/devices/reference_fpga.h"
#include "sim/file_digest.h"
#include "sim/installer.h"
#include "sim/kernel_image.h"
#include "sim/package_builder.h"
#include "sim/property_files.h"
#include "sim/reference_fpga_package.h"
#include "sim/snapshot.h"
#include "sim/upgrade_series.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

typedef std::initializer_list<std::pair<const char*, const char*>> FileList;

// Files laid out as on the device: "boot/VEXOApps/x" is \boot\VEXOApps\x.
void WriteTree(const fs::path& root, FileList files) {
    for (const auto& file : files)
        WriteText(root / file.first, file.second);
}

// The same into a printer's file system, by the device's own rules.
void WriteDeviceTree(const fs::path& device, FileList files) {
    for (const auto& file : files)
        sim::WriteDeviceFile(device, std::string("fs/") + file.first, file.second);
}

std::string TextMd5(const std::string& text) {
    std::istringstream in(text);
    return sim::StreamMd5Hex(in, "a text");
}

// ---- the packages of the series --------------------------------------------

void VexoAppsBefore(const fs::path& device) {
    WriteDeviceTree(device,
                    {{"boot/VEXOApps/VexoLabel.exe", "label designer, build 4.1.7\n"},
                     {"boot/VEXOApps/VexoLabel.cfg", "theme=classic\n"},
                     {"boot/VEXOApps/Legacy/VexoPrint.exe", "print client, build 4.1.7\n"}});
}

void VexoAppsPayload(const fs::path& payload) {
    WriteTree(payload, {{"boot/VEXOApps/VexoLabel.exe", "label designer, build 5.0.2\n"},
                        {"boot/VEXOApps/VexoLabel.cfg", "theme=contrast\n"}});
}

void QtCommonBefore(const fs::path& device) {
    WriteDeviceTree(device, {{"boot/OCControls/Button.qml", "old button\n"},
                             {"boot/OCScreens/Home.qml", "old home screen\n"},
                             {"boot/OCScreens/Setup.qml", "old set-up screen\n"},
                             {"boot/OCSupport/Strings.ts", "old strings\n"}});
}

void QtCommonPayload(const fs::path& payload) {
    WriteTree(payload, {{"boot/OCControls/Button.qml", "new button\n"},
                        {"boot/OCScreens/Home.qml", "new home screen\n"},
                        {"boot/OCSupport/Strings.ts", "new strings\n"}});
}

// The printing group and its darkness property, as the demo's printers store them.
const char kPrintingGroupId[] = "4A1F3C2E-6B7D-4E8F-9A0B-1C2D3E4F5A6B";
const char kDarknessId[] = "7C1E0F52-3D4A-4B6C-8E9F-0A1B2C3D4E5F";

// An archive image: the header, the length of the text (little-endian), the text.
std::string ArchiveImage(const std::string& text) {
    JsonDocument header;
    std::string image(reinterpret_cast<const char*>(header.HeaderBytes()), header.HeaderSize());
    for (int i = 0; i < 4; ++i)
        image += char((text.size() >> (8 * i)) & 0xFF);
    return image + text;
}

// A property override archive that sets the darkness to value.
std::string DarknessOverride(const std::string& value) {
    return ArchiveImage(std::string("{\"Properties\":[{\"Name\":\"") + kDarknessId +
                        "\",\"Group\":\"" + kPrintingGroupId + "\",\"Value\":\"" + value + "\"}]}");
}

// What the firmware being replaced left: the superseded fonts, its version
// file, a legacy property file that predates the JSON archive (its text and
// CRC) and a service override for one of its properties (an archive with its
// digest sidecar).
void OsPackageBefore(const fs::path& device) {
    WriteDeviceTree(
        device, {{"boot/fonts/simsun.ac3", "superseded font\n"},
                 {"boot/fonts/MSGothicWec2013.ttf", "superseded font\n"},
                 {"boot/qtlibs_version.ini", "[Version]\r\nQtBuildNumber = \"5.9.6.1234\"\r\n"}});
    const std::string printing = kPrintingGroupId;
    const std::string legacy = printing +
                               ":354B1CD8-5E87-4F75-87E1-FD4C28FC8DFC|Printing:Print Speed=6\r\n" +
                               printing + ":" + kDarknessId + "|Printing:Darkness=22";
    const uint16_t crc = Crc16::Compute(legacy);
    sim::WriteDeviceFile(device, "fs/store/Properties.ini",
                         legacy + char(crc & 0xFF) + char(crc >> 8));
    const std::string override = DarknessOverride("18");
    sim::WriteDeviceFile(device, "fs/store/PropertiesOverride.json", override);
    sim::WriteDeviceFile(device, "fs/store/PropertiesOverride.json.MD5", TextMd5(override));
}

void OsPackagePayload(const fs::path& payload) {
    WriteTree(payload, {{"boot/fonts/NotoSansCJK.ttc", "font collection, build 2024.1\n"}});
}

// The kernel image \boot\nk.bin and the digest of its flat image in
// \BOOT\NK.nb0.md5, which the imaging tool checks before writing slot 1.
void OsPackageFiles(const fs::path& files) {
    sim::KernelImagePlan plan;
    plan.start = 0x80200000;
    plan.length = 0x40000;
    plan.stampMarker = true;
    std::vector<uint8_t> code(0x8000);
    for (size_t i = 0; i < code.size(); ++i)
        code[i] = uint8_t((i * 2654435761u) >> 13);
    plan.records.push_back({plan.start, std::vector<uint8_t>(code.begin(), code.begin() + 0x1000)});
    plan.records.push_back({plan.start + 0x1000, code});
    const std::string table = "ROM table: kernel build 2024.1\n";
    plan.records.push_back(
        {plan.start + 0x3F000, std::vector<uint8_t>(table.begin(), table.end())});
    const std::vector<uint8_t> image = sim::BuildKernelImage(plan);

    const fs::path nk = files / "boot" / "nk.bin";
    WriteText(nk, std::string(image.begin(), image.end()));
    std::ifstream in(nk, std::ios::binary);
    std::stringstream flat;
    sim::FlattenKernelImage(in, sim::ReadKernelImageLayout(nk), flat);
    WriteText(files / "boot" / "NK.nb0.md5", TextMd5(flat.str()) + "  nk.nb0\n");
}

// A package of no particular kind: only its nested cabinet, for \boot\ and \store\.
void GenericPayload(const fs::path& payload) {
    WriteTree(payload, {{"boot/printer.json", "{\"model\":\"Quorin\",\"dpi\":300}\n"},
                        {"store/labels/default.lbl", "^XA^FO50,50^FDdemo label^FS^XZ\n"}});
}

// The FPGA package: the nested cabinet brings a note of the image's build; the
// algorithm and data files come among the package's files, as the FPGA
// vendor's tools would deliver them.
void FpgaPackagePayload(const fs::path& payload) {
    WriteTree(payload, {{"boot/fpga/image.txt", "reference FPGA image, build 2024.06\n"}});
}

const uint32_t kFpgaImageSeed = 2024;
const uint32_t kFpgaUsercode = 0x20240611;
const uint32_t kFpgaFactorySeed = 2023;
const uint32_t kFpgaFactoryUsercode = 0x20230301;

void FpgaPackageFiles(const fs::path& files) {
    const sim::ReferenceFpgaPackageFiles fpga =
        sim::MakeReferenceFpgaPackageFiles(kFpgaImageSeed, kFpgaUsercode);
    WriteText(files / "UpgradeTemp" / "algo.sea",
              std::string(fpga.algorithm.begin(), fpga.algorithm.end()));
    WriteText(files / "UpgradeTemp" / "data.sed", std::string(fpga.data.begin(), fpga.data.end()));
}

// The printer's FPGA as it left the factory: running an older image.
void FpgaBefore(const fs::path& device) {
    const sim::ReferenceFpgaPackageFiles factory =
        sim::MakeReferenceFpgaPackageFiles(kFpgaFactorySeed, kFpgaFactoryUsercode);
    if (!sim::devices::SetReferenceFpgaImage(device.string(), factory.image, kFpgaFactoryUsercode))
        throw std::runtime_error("cannot set up the printer's FPGA");
}

// The reference FPGA in one line, as `fwsetup fpga status` tells it.
std::string FpgaState(const fs::path& device) {
    sim::devices::ReferenceFpgaState state;
    switch (sim::devices::LoadReferenceFpgaState(device.string(), state)) {
        case sim::devices::kFpgaStateBroken:
            return "hw/fpga/state.json is unusable";
        case sim::devices::kFpgaStateFresh:
            return "not configured, nothing programmed (as from the factory)";
        case sim::devices::kFpgaStateLoaded:
            break;
    }
    std::ostringstream text;
    if (state.done) {
        text << "configured: runs an image of " << state.imageRows << " rows, MD5 " << state.md5
             << ", user code 0x" << std::hex << state.usercode;
    } else {
        text << "not configured; " << state.rowsProgrammed << " rows programmed"
             << (state.enabled ? ", in configuration mode" : "")
             << (state.error ? ", a command refused" : "");
    }
    return text.str();
}

// A driver or module file with its digest sidecar (MD5 of the file, lower-case hex).
void WriteWithDigest(const fs::path& root, const std::string& relative, const std::string& text) {
    WriteText(root / relative, text);
    WriteText(root / (relative + ".md5"), TextMd5(text) + "\n");
}
void WriteDeviceWithDigest(const fs::path& device, const std::string& relative,
                           const std::string& text) {
    sim::WriteDeviceFile(device, "fs/" + relative, text);
    sim::WriteDeviceFile(device, "fs/" + relative + ".md5", TextMd5(text) + "\n");
}

// The Ferrow package stages boot files under \store\; board 18 takes them into
// \boot\, every other board discards them with the job handler's property files.
struct FerrowBootFile {
    const char* staged;
    const char* boot;
};

const FerrowBootFile kFerrowBootFiles[] = {
    {"store/boot.txt", "boot/boot.txt"},
    {"store/boot.txt.md5", "boot/boot.txt.md5"},
    {"store/ProductRegistry.json", "boot/ProductRegistry.json"},
    {"store/systemfeatures.json", "boot/systemfeatures.json"},
};

const char* const kJobHandlerPropertyFiles[] = {
    "store/JobHandlerProperties.json", "store/JobHandlerProperties.json.bak",
    "store/JobHandlerProperties.json.MD5", "store/JobHandlerProperties.json.MD5.bak"};

void FerrowBefore(const fs::path& device) {
    WriteDeviceWithDigest(device, "boot/boot.txt", "boot profile: Ferrow, build 3.2\n");
    sim::WriteDeviceFile(device, "fs/boot/ProductRegistry.json",
                         "{\"product\":\"Ferrow\",\"build\":\"3.2\"}\n");
    sim::WriteDeviceFile(device, "fs/boot/systemfeatures.json",
                         "{\"cutter\":false,\"build\":\"3.2\"}\n");
    for (const char* file : kJobHandlerPropertyFiles)
        sim::WriteDeviceFile(device, std::string("fs/") + file,
                             "job handler properties, build 3.2\n");
}

void FerrowPayload(const fs::path& payload) {
    WriteWithDigest(payload, "store/boot.txt", "boot profile: Ferrow board 18, build 4.0\n");
    WriteTree(payload,
              {{"store/ProductRegistry.json", "{\"product\":\"Ferrow\",\"build\":\"4.0\"}\n"},
               {"store/systemfeatures.json", "{\"cutter\":true,\"build\":\"4.0\"}\n"}});
}

// The Ondrel package carries every configuration file for both printheads; the
// product name in EEPROM region 0 decides which one goes live.
struct OndrelFileGroup {
    const char* live;
    const char* variant[2];  // 300 dpi, 600 dpi
};

const OndrelFileGroup kOndrelFileGroups[] = {
    {"boot/ProductRegistry.json",
     {"boot/ProductRegistry300dpi.json", "boot/ProductRegistry600dpi.json"}},
    {"boot/ScriptingSettings.json",
     {"boot/ScriptingSettings300dpi.json", "boot/ScriptingSettings600dpi.json"}},
    {"store/PlatenRampData.json",
     {"store/PlatenRampData300dpi.json", "store/PlatenRampData600dpi.json"}},
    {"store/PropertiesOverride.json",
     {"store/PropertiesOverride300dpi.json", "store/PropertiesOverride600dpi.json"}},
    {"store/PropertiesOverride.json.md5",
     {"store/PropertiesOverride300dpi.json.md5", "store/PropertiesOverride600dpi.json.md5"}},
};
const char* const kOndrelDpiNames[] = {"300 dpi", "600 dpi"};

// An earlier firmware's live files, where no other row put one already.
void OndrelBefore(const fs::path& device) {
    std::error_code ec;
    for (const OndrelFileGroup& group : kOndrelFileGroups) {
        if (!fs::exists(device / "fs" / group.live, ec))
            sim::WriteDeviceFile(device, std::string("fs/") + group.live,
                                 std::string("earlier firmware's ") + group.live + "\n");
    }
}

// A JSON file per group and printhead; the digest group holds the digest of
// the property overrides of its set.
void OndrelPayload(const fs::path& payload) {
    const size_t groups = sizeof(kOndrelFileGroups) / sizeof(kOndrelFileGroups[0]);
    // The property overrides are archives the next start-up merges: each
    // printhead wants its own darkness.
    const char* const kDarkness[2] = {"20", "16"};
    for (size_t g = 0; g + 2 < groups; ++g) {
        for (int dpi = 0; dpi < 2; ++dpi) {
            WriteText(payload / kOndrelFileGroups[g].variant[dpi],
                      std::string("{\"file\":\"") +
                          fs::path(kOndrelFileGroups[g].live).stem().string() +
                          "\",\"printhead\":\"" + kOndrelDpiNames[dpi] + "\"}\n");
        }
    }
    for (int dpi = 0; dpi < 2; ++dpi) {
        WriteText(payload / kOndrelFileGroups[groups - 2].variant[dpi],
                  DarknessOverride(kDarkness[dpi]));
        WriteText(payload / kOndrelFileGroups[groups - 1].variant[dpi],
                  sim::FileMd5Hex(payload / kOndrelFileGroups[groups - 2].variant[dpi]) + "\n");
    }
}

// The drivers an earlier firmware left on the printer.
void BluetoothDriversBefore(const fs::path& device) {
    WriteDeviceWithDigest(device, "boot/BT121BluetoothDriver.dll",
                          "BT121 Bluetooth driver, build 7.1\n");
    WriteDeviceWithDigest(device, "boot/BLEBluetoothDriver.dll",
                          "BLE Bluetooth driver, build 2.4\n");
}

void Bt121DriverPayload(const fs::path& payload) {
    WriteWithDigest(payload, "boot/BT121BluetoothDriver.dll",
                    "BT121 Bluetooth driver, build 7.4\n");
}

void BleDriverPayload(const fs::path& payload) {
    WriteWithDigest(payload, "boot/BLEBluetoothDriver.dll", "BLE Bluetooth driver, build 2.9\n");
}

void SkellanJobHandlerBefore(const fs::path& device) {
    WriteDeviceWithDigest(device, "boot/SkellanJobHandler.dll", "Skellan job handler, build 1.8\n");
}

void SkellanJobHandlerPayload(const fs::path& payload) {
    WriteTree(payload, {{"boot/SkellanJobHandler.dll", "Skellan job handler, build 2.0\n"}});
}

// The coprocessor as it left the factory (hw/ble/, beside the file system).
void CoprocessorBefore(const fs::path& device) {
    sim::WriteDeviceFile(device, "hw/ble/firmware.bin", "VERSION=2.0.0\nfactory firmware\n");
    sim::WriteDeviceFile(device, "hw/ble/version", "2.0.0");
}

// The firmware image for the upgrader, in the nested cabinet; the upgrader itself
// comes among the package's files (see kDeliveredPrograms).
void CoprocessorPayload(const fs::path& payload) {
    WriteTree(payload,
              {{"UpgradeTemp/BleHipBridge.bin", "VERSION=3.1.4\nBLE HIP bridge firmware\n"}});
}

// One package of the series. Its payload folder becomes the nested cabinet
// (files/UpgradeTemp/<layout>.lz4); its files folder is copied by the installer
// as it is. Every function may be null.
struct DemoPackage {
    const char* name;
    const char* layout;                      // its module is modulesDir/<layout>.so
    void (*payload)(const fs::path& dir);    // fills the nested cabinet's folder
    void (*files)(const fs::path& dir);      // fills PKG/files/ beside the payload
    void (*before)(const fs::path& device);  // what the printer holds before the series
    const char* lookFor;
    // A part of the printer that the report shows before and after the package.
    std::string (*deviceState)(const fs::path& device) = nullptr;
    bool showsProperties = false;  // the report shows the property files before and after it
};

const DemoPackage kDemoSeries[] = {
    {"operating system", "QuorinOSPackageLayout", OsPackagePayload, OsPackageFiles, OsPackageBefore,
     "the superseded fonts are removed; the legacy \\Store\\Properties.ini is migrated into "
     "\\Store\\Properties.json and consumed, the override \\Store\\PropertiesOverride.json "
     "(Darkness 18) is merged and consumed, and the build number 1234 of the firmware being "
     "replaced (\\boot\\qtlibs_version.ini) is recorded as Previous Firmware Driver Build "
     "Number; the archive keeps a digest sidecar and a backup pair; \\boot\\nk.bin is checked "
     "and flashed into hw/flash/slot1.nb0 after the imaging tool checked the flat image against "
     "\\BOOT\\NK.nb0.md5; the image and its digest file are consumed",
     nullptr, true},
    {"Vexo applications", "QuorinVEXOAppsPackageLayout", VexoAppsPayload, nullptr, VexoAppsBefore,
     "the old \\boot\\VEXOApps\\ is cleared away (Legacy\\ is gone) before the nested cabinet "
     "brings the new applications; no moved-aside copy is left behind"},
    {"qtcommon", "QuorinQtCommonPackageLayout", QtCommonPayload, nullptr, QtCommonBefore,
     "\\boot\\OCControls\\, \\boot\\OCScreens\\ and \\boot\\OCSupport\\ are cleared away before "
     "the nested cabinet brings the new files (OCScreens\\Setup.qml is gone)"},
    {"generic package", "QuorinpackageLayout", GenericPayload, nullptr, nullptr,
     "the payload is unpacked into a cabinet that the CAB loader installs: \\boot\\printer.json "
     "and \\store\\labels\\default.lbl arrive; the payload and the cabinet are gone"},
    {"FPGA configuration", "QuorinLatticeConfiguratorPackageLayout", FpgaPackagePayload,
     FpgaPackageFiles, FpgaBefore,
     "on a board that takes FPGA upgrades (board 18 here) the module's engine runs "
     "\\UpgradeTemp\\algo.sea with data.sed over SPI1: and GPIO pin 49: it identifies the "
     "reference FPGA, erases its factory image, programs 512 rows, reads them back, sets the "
     "user code and finishes it (hw/fpga/state.json, hw/fpga/array.bin change), and both files "
     "are consumed; board 19 takes no FPGA upgrade, so its FPGA keeps the factory image and the "
     "files stay in \\UpgradeTemp\\",
     FpgaState},
    {"Ferrow boot files", "QuorinFerrowPackageLayout", FerrowPayload, nullptr, FerrowBefore,
     "the cabinet stages boot.txt, its .md5, ProductRegistry.json and systemfeatures.json in "
     "\\store\\; board 18 copies them over its \\boot\\ files and deletes each staged file once "
     "its copy is in place; every other board deletes them and \\store\\JobHandlerProperties.json "
     "with its .bak, .MD5 and .MD5.bak, leaving \\boot\\ as it was"},
    {"Ondrel variant files", "QuorinOndrelPackageLayout", OndrelPayload, nullptr, OndrelBefore,
     "the cabinet brings every configuration file twice (300dpi and 600dpi); the product name "
     "in EEPROM region 0 picks one set, which is renamed to the live names, and the other set "
     "is deleted (only OndrelSixHundredDpi picks the 600 dpi set); neither the variant files "
     "nor the copy of region 0 in \\UpgradeTemp\\ are left"},
    {"BT121 Bluetooth driver", "QuorinBT121BluetoothDriverPackageLayout", Bt121DriverPayload,
     nullptr, BluetoothDriversBefore,
     "the cabinet brings build 7.4 of \\boot\\BT121BluetoothDriver.dll and its .md5 (changed); "
     "board 18 has no use for the BT121 driver, so there both files are removed"},
    {"BLE Bluetooth driver", "QuorinBLEBluetoothDriverPackageLayout", BleDriverPayload, nullptr,
     nullptr,
     "the cabinet brings build 2.9 of \\boot\\BLEBluetoothDriver.dll and its .md5 (changed); "
     "boards 18, 19 and 21 keep the BLE driver, so both printers here do (any other board, or "
     "one without a readable EEPROM, would have both files removed)"},
    {"Skellan job handler", "QuorinSkellanJobHandlerPackageLayout", SkellanJobHandlerPayload,
     nullptr, SkellanJobHandlerBefore,
     "the old \\boot\\SkellanJobHandler.dll and its .md5 are removed before the files are "
     "copied; the cabinet brings build 2.0 (changed) without a digest (the old .md5 is gone)"},
    {"BLE coprocessor firmware", "QuorinSTM32UpgraderPackageLayout", CoprocessorPayload, nullptr,
     CoprocessorBefore,
     "\\UpgradeTemp\\STM32Upgrader -AH \\UpgradeTemp\\BleHipBridge.bin programs the coprocessor: "
     "hw/ble/firmware.bin becomes the image and hw/ble/version 3.1.4 (board 8 would skip it); "
     "hw/ble/upgrader.log records the call"},
};
const size_t kDemoSeriesLength = sizeof(kDemoSeries) / sizeof(kDemoSeries[0]);

// Programs of the simulated printer that a package delivers among its files:
// binDir/<hostProgram> is copied to files/<devicePath>.
struct DeliveredProgram {
    const char* layout;
    const char* devicePath;
    const char* hostProgram;
};

const DeliveredProgram kDeliveredPrograms[] = {
    {"QuorinSTM32UpgraderPackageLayout", "UpgradeTemp/STM32Upgrader", "fwsetup-sim-stm32upgrader"},
};

// ---- accounts of what a package chose ----------------------------------------

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// "boot/boot.txt" as the device path \boot\boot.txt.
std::string DevicePath(const std::string& relative) {
    std::string path = "\\" + relative;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

// Which variant of each group is live, and what became of the others, judged
// by the contents the package brought (kept in the package's sources).
void OndrelAccount(const fs::path& device, const fs::path& payload) {
    const fs::path files = device / "fs";
    int live[2] = {0, 0};
    for (const OndrelFileGroup& group : kOndrelFileGroups) {
        std::string line = DevicePath(group.live) + ": ";
        int chosen = -1;
        for (int dpi = 0; dpi < 2; ++dpi) {
            if (Exists(files / group.live) &&
                ReadText(files / group.live) == ReadText(payload / group.variant[dpi]))
                chosen = dpi;
        }
        if (chosen < 0) {
            line += "no variant went live";
        } else {
            ++live[chosen];
            line += std::string("the ") + kOndrelDpiNames[chosen] + " file went live";
        }
        for (int dpi = 0; dpi < 2; ++dpi) {
            if (dpi == chosen)
                continue;
            line += std::string(", the ") + kOndrelDpiNames[dpi] + " file " +
                    (Exists(files / group.variant[dpi]) ? "is still there" : "was discarded");
        }
        std::cout << "    " << line << "\n";
    }
    const int groups = sizeof(kOndrelFileGroups) / sizeof(kOndrelFileGroups[0]);
    for (int dpi = 0; dpi < 2; ++dpi) {
        if (live[dpi] == groups) {
            std::cout << "  went live: the " << kOndrelDpiNames[dpi] << " set; discarded: the "
                      << kOndrelDpiNames[1 - dpi] << " set\n";
        }
    }
}

// Whether each boot file now holds the staged one, and what is left in \store\.
void FerrowAccount(const fs::path& device, const fs::path& payload) {
    const fs::path files = device / "fs";
    bool taken = false;
    for (const FerrowBootFile& file : kFerrowBootFiles) {
        const bool live = Exists(files / file.boot) &&
                          ReadText(files / file.boot) == ReadText(payload / file.staged);
        taken = taken || live;
        std::cout << "    " << DevicePath(file.boot) << ": "
                  << (live                        ? "holds the staged file"
                      : Exists(files / file.boot) ? "kept its earlier contents"
                                                  : "is gone")
                  << ", " << DevicePath(file.staged) << " "
                  << (Exists(files / file.staged) ? "is still staged" : "is gone") << "\n";
    }
    size_t stillStaged = 0;
    for (const FerrowBootFile& file : kFerrowBootFiles)
        stillStaged += Exists(files / file.staged) ? 1 : 0;
    size_t propertyFilesGone = 0;
    for (const char* file : kJobHandlerPropertyFiles)
        propertyFilesGone += Exists(files / file) ? 0 : 1;
    std::cout << "  went live: "
              << (taken ? "the staged boot files" : "nothing (\\boot\\ kept its files)")
              << "; discarded: " << (stillStaged ? "part of the staged set" : "the staged set")
              << (propertyFilesGone ? " and the job handler's property files" : "") << "\n";
}

// Packages whose report ends with an account of what they chose on this printer.
struct PackageAccount {
    const char* layout;
    void (*account)(const fs::path& device, const fs::path& payload);
};

const PackageAccount kPackageAccounts[] = {
    {"QuorinOndrelPackageLayout", OndrelAccount},
    {"QuorinFerrowPackageLayout", FerrowAccount},
};

// The printers the series runs on: the default one (a 300 dpi board 19), board
// 18, on which the board-dependent packages act differently, and a 600 dpi
// printer, which gets only the package that chooses by the product name.
struct DemoPrinter {
    const char* name;
    const char* folder;          // below the workspace; empty: the workspace itself
    std::optional<int> boardId;  // empty: the default board
    const char* product;         // the product name in region 0; null: the default
    const char* onlyLayout;      // null: the whole series; else only this package of it
};

const DemoPrinter kDemoPrinters[] = {
    {"default printer", "", std::nullopt, nullptr, nullptr},
    {"board 18 printer", "board18", 18, nullptr, nullptr},
    {"600 dpi printer", "sixhundreddpi", std::nullopt, "OndrelSixHundredDpi",
     "QuorinOndrelPackageLayout"},
};

// The rows of the series that the printer gets, in series order.
std::vector<const DemoPackage*> SeriesFor(const DemoPrinter& printer) {
    std::vector<const DemoPackage*> rows;
    for (size_t i = 0; i < kDemoSeriesLength; ++i) {
        if (!printer.onlyLayout || std::string(printer.onlyLayout) == kDemoSeries[i].layout)
            rows.push_back(&kDemoSeries[i]);
    }
    return rows;
}

// ---- building, running, reporting ------------------------------------------

fs::path MakeTempFolder() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-demo-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("cannot make a temporary folder");
    return buffer.data();
}

// Where row index of the series keeps its package's sources.
fs::path SourcesFolder(const fs::path& workspace, const DemoPackage& row, size_t index) {
    return workspace / "sources" / (std::to_string(index + 1) + "-" + row.layout);
}

// Builds one row's package as `fwsetup package make` does, from sources made in
// workspace/sources.
fs::path BuildPackage(const DemoPackage& row, size_t index, const fs::path& workspace,
                      const CommandContext& ctx) {
    const fs::path sources = SourcesFolder(workspace, row, index);
    sim::PackageRecipe recipe;
    recipe.layout = row.layout;
    recipe.module = ctx.modulesDir / (std::string(row.layout) + ".so");
    std::error_code ec;
    if (!fs::is_regular_file(recipe.module, ec)) {
        throw std::runtime_error("no setup module " + recipe.module.string() +
                                 " (build the fwsetup_modules target)");
    }
    recipe.payloadDir = sources / "payload";
    fs::create_directories(recipe.payloadDir);
    if (row.payload)
        row.payload(recipe.payloadDir);
    if (row.files) {
        recipe.filesDir = sources / "files";
        fs::create_directories(*recipe.filesDir);
        row.files(*recipe.filesDir);
    }
    for (const DeliveredProgram& program : kDeliveredPrograms) {
        if (std::string(program.layout) != row.layout)
            continue;
        recipe.filesDir = sources / "files";
        const fs::path to = *recipe.filesDir / program.devicePath;
        fs::create_directories(to.parent_path());
        fs::copy_file(ctx.binDir / program.hostProgram, to, fs::copy_options::overwrite_existing);
    }
    recipe.output = workspace / "packages" / sources.filename();
    fs::create_directories(recipe.output.parent_path());
    sim::MakePackage(recipe);
    sim::CheckPackage(recipe.output);
    return recipe.output;
}

// The upgrade UI's named objects (hw/named/) belong to the series, not to a
// package; what a package reported through them is shown as its codes.
bool IsUpgradeUiObject(const std::string& path) {
    return path.rfind("hw/named/", 0) == 0;
}

void Report(const std::vector<sim::SnapshotChange>& changes) {
    bool any = false;
    for (const sim::SnapshotChange& change : changes) {
        if (IsUpgradeUiObject(change.path))
            continue;
        any = true;
        std::string kind = sim::ChangeKindName(change.kind);
        kind.resize(9, ' ');
        std::cout << "    " << kind << change.path;
        if (!change.detail.empty())
            std::cout << "  (" << change.detail << ")";
        std::cout << "\n";
    }
    if (!any)
        std::cout << "    (nothing changed on the device)\n";
}

// The property files as they stand on the device, read on a copy.
void ShowPropertyFiles(const fs::path& device) {
    for (const std::string& line :
         sim::DescribePropertyFiles(sim::ViewPropertyFiles(device), false))
        std::cout << "  " << line << "\n";
}

// Runs the series on a fresh printer in workspace/device as `fwsetup upgrade`
// does; true when every package went through.
bool RunSeries(const fs::path& workspace, const DemoPrinter& printer, const CommandContext& ctx) {
    const fs::path device = workspace / "device";
    sim::UpgradeSeriesOptions options;
    options.device = device;
    options.fwsetup = ctx.binDir / "fwsetup";
    // Every package and module is there before the printer is touched.
    const std::vector<const DemoPackage*> series = SeriesFor(printer);
    for (size_t i = 0; i < series.size(); ++i)
        options.packages.push_back(BuildPackage(*series[i], i, workspace, ctx));

    sim::DeviceOptions deviceOptions;
    if (printer.boardId)
        deviceOptions.boardId = *printer.boardId;
    if (printer.product)
        deviceOptions.product = std::string(printer.product);
    sim::InitDevice(device, deviceOptions, ctx.binDir);
    std::cout << "fresh " << printer.name << " (board id " << deviceOptions.boardId << ", product "
              << deviceOptions.product.value_or(sim::kDefaultProductName) << ") at "
              << device.string() << "\n";
    if (printer.onlyLayout)
        std::cout << "it gets only the " << printer.onlyLayout << " package of the series\n";
    for (const DemoPackage* row : series) {
        if (row->before)
            row->before(device);
    }

    for (size_t i = 0; i < series.size(); ++i) {
        if (series[i]->showsProperties) {
            std::cout << "property files before the series (" << series[i]->name
                      << " package migrates them):\n";
            ShowPropertyFiles(device);
            break;
        }
    }

    sim::DeviceSnapshot before = sim::TakeSnapshot(device);
    // What the next package's row shows of the printer before it comes.
    auto stateBefore = [&device, &series](size_t i) {
        return i < series.size() && series[i]->deviceState ? series[i]->deviceState(device)
                                                           : std::string();
    };
    std::string nextStateBefore = stateBefore(0);
    size_t index = 0;
    options.onPackage = [&](const sim::PackageOutcome& outcome) {
        const DemoPackage& row = *series[index];
        const sim::DeviceSnapshot after = sim::TakeSnapshot(device);
        std::cout << "\n[" << index + 1 << "/" << series.size() << "] " << row.name << " ("
                  << row.layout << "): " << sim::PackageStatusText(outcome.status);
        if (!outcome.reason.empty())
            std::cout << ": " << outcome.reason;
        std::cout << "\n";
        if (!outcome.codes.empty()) {
            std::cout << "  progress codes reported:";
            for (uint8_t code : outcome.codes)
                std::cout << " " << static_cast<int>(code);
            std::cout << "\n";
        }
        std::cout << "  what changed on the device:\n";
        Report(sim::CompareSnapshots(before, after));
        if (row.deviceState) {
            std::cout << "  before: " << nextStateBefore << "\n"
                      << "  after:  " << row.deviceState(device) << "\n";
        }
        nextStateBefore = stateBefore(index + 1);
        for (const PackageAccount& account : kPackageAccounts) {
            if (std::string(account.layout) != row.layout)
                continue;
            std::cout << "  what it chose on this printer:\n";
            account.account(device, SourcesFolder(workspace, row, index) / "payload");
        }
        if (row.showsProperties) {
            std::cout << "  property files after it:\n";
            ShowPropertyFiles(device);
        }
        std::cout << "  look for: " << row.lookFor << std::endl;
        before = after;
        ++index;
    };
    const sim::UpgradeSeriesResult result = sim::RunUpgradeSeries(options);
    for (size_t i = index; i < series.size(); ++i) {
        std::cout << "\n[" << i + 1 << "/" << series.size() << "] " << series[i]->name
                  << ": not run\n";
    }
    return result.ok();
}

void RunDemo(const std::string& keep, CommandContext& ctx) {
    fs::path workspace;
    if (keep.empty()) {
        workspace = MakeTempFolder();
    } else {
        workspace = fs::absolute(keep);
        std::error_code ec;
        if (fs::exists(workspace, ec) &&
            (!fs::is_directory(workspace, ec) || !fs::is_empty(workspace, ec))) {
            throw UsageError("--keep: '" + keep + "' must be a new or empty folder");
        }
        fs::create_directories(workspace);
    }

    bool allDone = true;
    try {
        for (const DemoPrinter& printer : kDemoPrinters) {
            const fs::path root = workspace / printer.folder;
            if (&printer != &kDemoPrinters[0])
                std::cout << "\n";
            allDone = RunSeries(root, printer, ctx) && allDone;
        }
    } catch (...) {
        std::error_code ec;
        if (keep.empty())
            fs::remove_all(workspace, ec);
        throw;
    }
    std::cout << "\n"
              << (allDone ? "every package went through" : "the series stopped at a failure")
              << "\n";
    if (keep.empty()) {
        std::error_code ec;
        fs::remove_all(workspace, ec);
    } else {
        std::cout << "kept: the printer in " << (workspace / "device").string()
                  << ", the packages in " << (workspace / "packages").string()
                  << ", their sources in " << (workspace / "sources").string();
        for (const DemoPrinter& printer : kDemoPrinters) {
            if (*printer.folder)
                std::cout << "; the " << printer.name << " likewise in "
                          << (workspace / printer.folder).string();
        }
        std::cout << "\n";
    }
    ctx.exitCode = allDone ? kExitOk : kExitFailed;
}

}  // namespace

void AddDemoCommand(CLI::App& app, CommandContext& ctx) {
    auto keep = std::make_shared<std::string>();
    CLI::App* demo = app.add_subcommand(
        "demo",
        "Run the default upgrade series on a fresh default printer and a fresh board 18 "
        "printer, its Ondrel package on a fresh 600 dpi printer, and report what changed");
    demo->add_option("--keep", *keep,
                     "keep the printer (DIR/device), the packages (DIR/packages) and their "
                     "sources (DIR/sources) in DIR, a new or empty folder; the board 18 "
                     "printer likewise in DIR/board18, the 600 dpi printer in DIR/sixhundreddpi");
    demo->callback([keep, &ctx] { RunDemo(*keep, ctx); });
}

}  // namespace fwsetup
