// fwsetup demo: fresh printers (the default board and board 18), an upgrade
// series on each, and what it changed.
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

#include "app.h"
#include "sim/device.h"
#include "sim/device_files.h"
#include "sim/file_digest.h"
#include "sim/installer.h"
#include "sim/kernel_image.h"
#include "sim/package_builder.h"
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

void OsPackageBefore(const fs::path& device) {
    WriteDeviceTree(device, {{"boot/fonts/simsun.ac3", "superseded font\n"},
                             {"boot/fonts/MSGothicWec2013.ttf", "superseded font\n"}});
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
};

const DemoPackage kDemoSeries[] = {
    {"operating system", "QuorinOSPackageLayout", OsPackagePayload, OsPackageFiles, OsPackageBefore,
     "the superseded fonts are removed; \\boot\\nk.bin is checked and flashed into "
     "hw/flash/slot1.nb0 after the imaging tool checked the flat image against "
     "\\BOOT\\NK.nb0.md5; the image and its digest file are consumed"},
    {"Vexo applications", "QuorinVEXOAppsPackageLayout", VexoAppsPayload, nullptr, VexoAppsBefore,
     "the old \\boot\\VEXOApps\\ is cleared away (Legacy\\ is gone) before the nested cabinet "
     "brings the new applications; no moved-aside copy is left behind"},
    {"qtcommon", "QuorinQtCommonPackageLayout", QtCommonPayload, nullptr, QtCommonBefore,
     "\\boot\\OCControls\\, \\boot\\OCScreens\\ and \\boot\\OCSupport\\ are cleared away before "
     "the nested cabinet brings the new files (OCScreens\\Setup.qml is gone)"},
    {"generic package", "QuorinpackageLayout", GenericPayload, nullptr, nullptr,
     "the payload is unpacked into a cabinet that the CAB loader installs: \\boot\\printer.json "
     "and \\store\\labels\\default.lbl arrive; the payload and the cabinet are gone"},
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

// The printers the series runs on: the default one, and board 18, on which the
// board-dependent packages act differently.
struct DemoPrinter {
    const char* name;
    const char* folder;          // below the workspace; empty: the workspace itself
    std::optional<int> boardId;  // empty: the default board
};

const DemoPrinter kDemoPrinters[] = {
    {"default printer", "", std::nullopt},
    {"board 18 printer", "board18", 18},
};

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

// Builds one row's package as `fwsetup package make` does, from sources made in
// workspace/sources.
fs::path BuildPackage(const DemoPackage& row, size_t index, const fs::path& workspace,
                      const CommandContext& ctx) {
    const std::string name = std::to_string(index + 1) + "-" + row.layout;
    const fs::path sources = workspace / "sources" / name;
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
    recipe.output = workspace / "packages" / name;
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

// Runs the series on a fresh printer in workspace/device as `fwsetup upgrade`
// does; true when every package went through.
bool RunSeries(const fs::path& workspace, const DemoPrinter& printer, const CommandContext& ctx) {
    const fs::path device = workspace / "device";
    sim::UpgradeSeriesOptions options;
    options.device = device;
    options.fwsetup = ctx.binDir / "fwsetup";
    // Every package and module is there before the printer is touched.
    for (size_t i = 0; i < kDemoSeriesLength; ++i)
        options.packages.push_back(BuildPackage(kDemoSeries[i], i, workspace, ctx));

    sim::DeviceOptions deviceOptions;
    if (printer.boardId)
        deviceOptions.boardId = *printer.boardId;
    sim::InitDevice(device, deviceOptions, ctx.binDir);
    std::cout << "fresh " << printer.name << " (board id " << deviceOptions.boardId << ") at "
              << device.string() << "\n";
    for (size_t i = 0; i < kDemoSeriesLength; ++i) {
        if (kDemoSeries[i].before)
            kDemoSeries[i].before(device);
    }

    sim::DeviceSnapshot before = sim::TakeSnapshot(device);
    size_t index = 0;
    options.onPackage = [&](const sim::PackageOutcome& outcome) {
        const DemoPackage& row = kDemoSeries[index];
        const sim::DeviceSnapshot after = sim::TakeSnapshot(device);
        std::cout << "\n[" << index + 1 << "/" << kDemoSeriesLength << "] " << row.name << " ("
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
        std::cout << "  look for: " << row.lookFor << std::endl;
        before = after;
        ++index;
    };
    const sim::UpgradeSeriesResult result = sim::RunUpgradeSeries(options);
    for (size_t i = index; i < kDemoSeriesLength; ++i) {
        std::cout << "\n[" << i + 1 << "/" << kDemoSeriesLength << "] " << kDemoSeries[i].name
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
        "Run the default upgrade series on a fresh default printer and on a fresh board 18 "
        "printer, and report what changed");
    demo->add_option("--keep", *keep,
                     "keep the printer (DIR/device), the packages (DIR/packages) and their "
                     "sources (DIR/sources) in DIR, a new or empty folder; the board 18 "
                     "printer likewise in DIR/board18");
    demo->callback([keep, &ctx] { RunDemo(*keep, ctx); });
}

}  // namespace fwsetup
