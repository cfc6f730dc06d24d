// fwsetup install: the printer's CAB installer, run against a simulated printer.
#include <iostream>
#include <memory>

#include "app.h"
#include "sim/installer.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct InstallArgs {
    std::string device;
    std::string module;
    std::string package;
};

// Long lists of copied files are cut short; failures are always shown in full.
const size_t kCopiedFilesShown = 20;

void RunInstall(const InstallArgs& args, CommandContext& ctx) {
    if (args.device.empty())
        throw UsageError("install: --device must not be empty");
    if (args.package.empty())
        throw UsageError("install: PKG must not be empty");
    sim::InstallOptions options;
    options.device = args.device;
    options.package = args.package;
    options.module = args.module;
    const fs::path module =
        args.module.empty() ? fs::path(args.package) / "setup.so" : fs::path(args.module);
    // Steps are shown as they start; the inputs have been checked by the first one.
    bool first = true;
    options.onStep = [&](const std::string& step) {
        if (first) {
            std::cout << "installing " << args.package << " (module " << module.string() << ") on "
                      << args.device << "\n";
            first = false;
        }
        std::cout << "  " << step << std::endl;
    };
    const sim::InstallResult result = sim::InstallPackage(options);

    std::cout << "Install_Init returned " << result.initResult << "\n";
    std::cout << "copied " << result.copiedFiles.size() << " file(s)";
    if (!result.createdFolders.empty()) {
        std::cout << ", created " << result.createdFolders.size() << " folder(s)";
    }
    std::cout << "\n";
    for (size_t i = 0; i < result.copiedFiles.size() && i < kCopiedFilesShown; ++i) {
        std::cout << "  " << result.copiedFiles[i] << "\n";
    }
    if (result.copiedFiles.size() > kCopiedFilesShown) {
        std::cout << "  ... and " << result.copiedFiles.size() - kCopiedFilesShown << " more\n";
    }
    for (const std::string& failure : result.failedFiles) {
        std::cout << "  not copied: " << failure << "\n";
    }
    std::cout << "Install_Exit returned " << result.exitResult << " ("
              << (result.exitResult == 0 ? "done" : "the package's action failed") << ")\n";
    ctx.exitCode = result.exitResult == 0 ? kExitOk : kExitFailed;
}

}  // namespace

void AddInstallCommand(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<InstallArgs>();
    CLI::App* install = app.add_subcommand(
        "install", "Install a package on a simulated printer as the printer's CAB installer does");
    install->footer(
        "Loads the module, calls DllMain (attach) and Install_Init, copies PKG/files into the "
        "device, calls Install_Exit and DllMain (detach). Exit 0 when Install_Exit returned 0, 1 "
        "when it returned 1, 2 for bad arguments or inputs.");
    install->add_option("--device", args->device, "the simulated printer (device folder)")
        ->required();
    install->add_option("--module", args->module, "the setup module (default PKG/setup.so)");
    install->add_option("PKG", args->package, "the package folder (setup.so, files/)")->required();
    install->callback([args, &ctx] { RunInstall(*args, ctx); });
}

}  // namespace fwsetup
