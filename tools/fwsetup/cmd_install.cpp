// fwsetup install: the printer's CAB installer, run against a simulated printer.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app.h"
#include "sim/installer.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct InstallArgs {
    std::string device;
    std::string module;
    std::string package;
    CLI::Option* moduleOption = nullptr;
};

// "\Windows\wceldcmd.exe exited 1", "... did not start", "... ended without an exit code".
std::string RunText(const sim::ProgramRun& run) {
    if (!run.started)
        return run.program + " did not start";
    if (!run.exitKnown)
        return run.program + " ended without an exit code";
    return run.program + " exited " + std::to_string(run.exitCode);
}

// Long lists of copied files are cut short; failures are always shown in full.
const size_t kCopiedFilesShown = 20;

void RunInstall(const InstallArgs& args, CommandContext& ctx) {
    if (args.device.empty())
        throw UsageError("install: --device must not be empty");
    if (args.package.empty())
        throw UsageError("install: PKG must not be empty");
    if (args.moduleOption->count() > 0 && args.module.empty())
        throw UsageError("install: --module must not be empty");
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
    for (const sim::ProgramRun& run : result.programs)
        std::cout << "  ran " << RunText(run) << "\n";

    // Install_Exit reports code 27 for a rejected nested cabinet and goes on,
    // and for a failed action, after which it returns 1.
    std::vector<std::string> reported;
    if (sim::CabinetRejected(result))
        reported.push_back("installing the nested cabinet (" +
                           RunText(*sim::CabinetLoaderRun(result)) + ")");
    if (result.exitResult != 0)
        reported.push_back("the package's action");
    std::cout << "Install_Exit returned " << result.exitResult;
    if (reported.empty()) {
        std::cout << " (done)\n";
    } else {
        std::cout << "; steps that reported code 27 (SetupStepFailed):";
        for (size_t i = 0; i < reported.size(); ++i)
            std::cout << (i == 0 ? " " : "; ") << reported[i];
        std::cout << "\n";
    }
    ctx.exitCode = result.exitResult == 0 ? kExitOk : kExitFailed;
}

}  // namespace

void AddInstallCommand(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<InstallArgs>();
    CLI::App* install = app.add_subcommand(
        "install", "Install a package on a simulated printer as the printer's CAB installer does");
    install->footer(
        "Loads the module, calls DllMain (attach) and Install_Init, copies PKG/files into the "
        "device, calls Install_Exit and DllMain (detach). The summary names the programs the "
        "module ran and the steps that reported code 27 (a rejected nested cabinet, a failed "
        "action). One installation at a time per device: a second one fails at once. Exit 0 "
        "when Install_Exit returned 0 (also when the nested cabinet was rejected: the module "
        "goes on then), 1 when it returned 1, 2 for bad arguments or inputs or a busy device.");
    install->add_option("--device", args->device, "the simulated printer (device folder)")
        ->required();
    args->moduleOption =
        install->add_option("--module", args->module, "the setup module (default PKG/setup.so)");
    install->add_option("PKG", args->package, "the package folder (setup.so, files/)")->required();
    install->callback([args, &ctx] { RunInstall(*args, ctx); });
}

}  // namespace fwsetup
