// fwsetup demo: a fresh default printer, an upgrade series, and what it changed.
//
// The series is a table of package rows. A row says how its package is built
// (the payload's files and any extra files), what the printer holds before it
// comes (so its effect shows), and what to look for in the report.
#include <stdlib.h>

#include <fstream>
#include <iostream>
#include <memory>

#include "app.h"
#include "sim/device.h"
#include "sim/installer.h"
#include "sim/snapshot.h"

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

// Files laid out as on the device: "boot/VEXOApps/x" is \boot\VEXOApps\x.
void WriteTree(const fs::path& root,
               std::initializer_list<std::pair<const char*, const char*>> files) {
    for (const auto& file : files)
        WriteText(root / file.first, file.second);
}

// ---- the packages of the series --------------------------------------------

void VexoAppsBefore(const fs::path& fs) {
    WriteTree(fs, {{"boot/VEXOApps/VexoLabel.exe", "label designer, build 4.1.7\n"},
                   {"boot/VEXOApps/VexoLabel.cfg", "theme=classic\n"},
                   {"boot/VEXOApps/Legacy/VexoPrint.exe", "print client, build 4.1.7\n"}});
}

void VexoAppsFiles(const fs::path& files) {
    WriteTree(files, {{"boot/VEXOApps/VexoLabel.exe", "label designer, build 5.0.2\n"},
                      {"boot/VEXOApps/VexoLabel.cfg", "theme=contrast\n"}});
}

void QtCommonBefore(const fs::path& fs) {
    WriteTree(fs, {{"boot/OCControls/Button.qml", "old button\n"},
                   {"boot/OCScreens/Home.qml", "old home screen\n"},
                   {"boot/OCScreens/Setup.qml", "old set-up screen\n"},
                   {"boot/OCSupport/Strings.ts", "old strings\n"}});
}

void QtCommonFiles(const fs::path& files) {
    WriteTree(files, {{"boot/OCControls/Button.qml", "new button\n"},
                      {"boot/OCScreens/Home.qml", "new home screen\n"},
                      {"boot/OCSupport/Strings.ts", "new strings\n"}});
}

struct DemoPackage {
    const char* name;
    const char* layout;                        // its module is modulesDir/<layout>.so
    void (*payload)(const fs::path& dir);      // the nested cabinet's files (null: none)
    void (*files)(const fs::path& dir);        // files the installer copies (null: none)
    void (*before)(const fs::path& deviceFs);  // what the printer holds first (null: nothing)
    const char* lookFor;
};

const DemoPackage kDemoSeries[] = {
    {"Vexo applications", "QuorinVEXOAppsPackageLayout", nullptr, VexoAppsFiles, VexoAppsBefore,
     "the old \\boot\\VEXOApps\\ is cleared away (Legacy\\ is gone) before the new applications "
     "arrive; no moved-aside copy is left behind"},
    {"qtcommon", "QuorinQtCommonPackageLayout", nullptr, QtCommonFiles, QtCommonBefore,
     "\\boot\\OCControls\\, \\boot\\OCScreens\\ and \\boot\\OCSupport\\ are cleared away before "
     "the new files arrive (OCScreens\\Setup.qml is gone)"},
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

// PKG/setup.so and PKG/files/ for one row.
fs::path BuildPackage(const DemoPackage& row, size_t index, const fs::path& packages,
                      const CommandContext& ctx) {
    const fs::path module = ctx.modulesDir / (std::string(row.layout) + ".so");
    std::error_code ec;
    if (!fs::is_regular_file(module, ec)) {
        throw std::runtime_error("no setup module " + module.string() +
                                 " (build the fwsetup_modules target)");
    }
    const fs::path pkg = packages / (std::to_string(index + 1) + "-" + row.layout);
    fs::create_directories(pkg / "files");
    fs::copy_file(module, pkg / "setup.so", fs::copy_options::overwrite_existing);
    if (row.payload) {
        // A payload becomes files/UpgradeTemp/<layout>.lz4 once the package
        // builder is in place; no row carries one yet.
        throw std::runtime_error(std::string("cannot build the payload of ") + row.name);
    }
    if (row.files)
        row.files(pkg / "files");
    return pkg;
}

void Report(const std::vector<sim::SnapshotChange>& changes) {
    if (changes.empty())
        std::cout << "    (nothing changed on the device)\n";
    for (const sim::SnapshotChange& change : changes) {
        std::cout << "    " << sim::ChangeKindName(change.kind) << "  " << change.path;
        if (!change.detail.empty())
            std::cout << "  (" << change.detail << ")";
        std::cout << "\n";
    }
}

// Runs the series on a fresh printer in workspace/device; true when every package went through.
bool RunSeries(const fs::path& workspace, const CommandContext& ctx) {
    const fs::path device = workspace / "device";
    const fs::path packages = workspace / "packages";
    sim::InitDevice(device, sim::DeviceOptions(), ctx.binDir);
    std::cout << "fresh default printer at " << device.string() << "\n";

    const size_t count = sizeof(kDemoSeries) / sizeof(kDemoSeries[0]);
    bool allDone = true;
    for (size_t i = 0; i < count; ++i) {
        const DemoPackage& row = kDemoSeries[i];
        if (row.before)
            row.before(device / "fs");
        const fs::path pkg = BuildPackage(row, i, packages, ctx);

        std::cout << "\n[" << i + 1 << "/" << count << "] " << row.name << " (" << row.layout
                  << ")\n";
        const sim::DeviceSnapshot before = sim::TakeSnapshot(device);
        sim::InstallOptions options;
        options.device = device;
        options.package = pkg;
        const sim::InstallResult result = sim::InstallPackage(options);
        const sim::DeviceSnapshot after = sim::TakeSnapshot(device);

        std::cout << "  Install_Init " << result.initResult << ", " << result.copiedFiles.size()
                  << " file(s) copied, Install_Exit " << result.exitResult
                  << (result.exitResult == 0 ? " (done)" : " (the package's action failed)")
                  << "\n";
        for (const std::string& failure : result.failedFiles) {
            std::cout << "  not copied: " << failure << "\n";
        }
        std::cout << "  what changed on the device:\n";
        Report(sim::CompareSnapshots(before, after));
        std::cout << "  look for: " << row.lookFor << "\n";
        if (result.exitResult != 0 || !result.failedFiles.empty())
            allDone = false;
    }
    return allDone;
}

void RunDemo(const std::string& keep, CommandContext& ctx) {
    fs::path workspace;
    if (keep.empty()) {
        workspace = MakeTempFolder();
    } else {
        workspace = keep;
        std::error_code ec;
        if (fs::exists(workspace, ec) &&
            (!fs::is_directory(workspace, ec) || !fs::is_empty(workspace, ec))) {
            throw UsageError("--keep: '" + keep + "' must be a new or empty folder");
        }
        fs::create_directories(workspace);
    }

    bool allDone = false;
    try {
        allDone = RunSeries(workspace, ctx);
    } catch (...) {
        std::error_code ec;
        if (keep.empty())
            fs::remove_all(workspace, ec);
        throw;
    }
    std::cout << "\n" << (allDone ? "every package went through" : "a package failed") << "\n";
    if (keep.empty()) {
        std::error_code ec;
        fs::remove_all(workspace, ec);
    } else {
        std::cout << "kept: the printer in " << (workspace / "device").string()
                  << ", the packages in " << (workspace / "packages").string() << "\n";
    }
    ctx.exitCode = allDone ? kExitOk : kExitFailed;
}

}  // namespace

void AddDemoCommand(CLI::App& app, CommandContext& ctx) {
    auto keep = std::make_shared<std::string>();
    CLI::App* demo = app.add_subcommand(
        "demo",
        "Run the default upgrade series on a fresh default printer and report what changed");
    demo->add_option("--keep", *keep,
                     "keep the printer (DIR/device) and the packages (DIR/packages) in DIR, a new "
                     "or empty folder");
    demo->callback([keep, &ctx] { RunDemo(*keep, ctx); });
}

}  // namespace fwsetup
