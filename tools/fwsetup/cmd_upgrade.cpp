// fwsetup upgrade: an upgrade series with the upgrade UI watching.
#include <iostream>
#include <memory>
#include <sstream>

#include "app.h"
#include "sim/installer.h"
#include "sim/upgrade_series.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct UpgradeArgs {
    std::string device;
    std::vector<std::string> packages;
};

// Prints text indented under a package's line.
void PrintIndented(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        std::cout << "    | " << line << "\n";
}

void RunUpgrade(const UpgradeArgs& args, CommandContext& ctx) {
    if (args.device.empty())
        throw UsageError("upgrade: --device must not be empty");
    std::error_code ec;
    if (!fs::is_directory(fs::path(args.device) / "fs", ec) ||
        !fs::is_directory(fs::path(args.device) / "hw", ec)) {
        throw UsageError("upgrade: no simulated printer at '" + args.device + "'");
    }
    sim::UpgradeSeriesOptions options;
    options.device = fs::absolute(args.device, ec);
    options.fwsetup = ctx.binDir / "fwsetup";
    // Every package and its module are checked before the device is touched.
    for (const std::string& package : args.packages) {
        if (package.empty())
            throw UsageError("upgrade: a package folder must not be empty");
        try {
            sim::CheckPackage(package);
        } catch (const std::runtime_error& e) {
            throw UsageError("upgrade: " + std::string(e.what()));
        }
        options.packages.push_back(fs::absolute(package, ec));
    }

    size_t number = 0;
    const size_t total = options.packages.size();
    options.onPackage = [&](const sim::PackageOutcome& outcome) {
        ++number;
        std::cout << "[" << number << "/" << total << "] " << outcome.package.string() << ": "
                  << sim::PackageStatusText(outcome.status);
        if (!outcome.reason.empty())
            std::cout << ": " << outcome.reason;
        std::cout << std::endl;
        if (outcome.status != sim::PackageStatus::kInstalled)
            PrintIndented(outcome.output);
    };
    std::cout << "upgrading " << options.device.string() << " with " << total << " package(s)"
              << std::endl;
    const sim::UpgradeSeriesResult result = sim::RunUpgradeSeries(options);

    if (result.ok()) {
        std::cout << "upgrade complete: " << total << " package(s) installed" << std::endl;
        ctx.exitCode = kExitOk;
        return;
    }
    const size_t failed = *result.failed;
    for (size_t i = failed + 1; i < result.packages.size(); ++i) {
        std::cout << "[" << i + 1 << "/" << total << "] " << result.packages[i].package.string()
                  << ": not run" << std::endl;
    }
    const sim::PackageOutcome& culprit = result.packages[failed];
    std::cout << "upgrade stopped at package " << failed + 1 << " of " << total << " ("
              << culprit.package.string() << "): " << culprit.reason << std::endl;
    ctx.exitCode = kExitFailed;
}

}  // namespace

void AddUpgradeCommand(CLI::App& app, CommandContext& ctx) {
    auto args = std::make_shared<UpgradeArgs>();
    CLI::App* upgrade = app.add_subcommand(
        "upgrade",
        "Run an upgrade series on a simulated printer with the upgrade UI watching: install the "
        "packages in order, each in its own installer process, and stop at the first package "
        "that fails (a failure reported through the progress channel halts that installer for "
        "good; it is ended). Exit 0 when every package was installed, 1 when one failed");
    upgrade->add_option("--device", args->device, "the simulated printer (device folder)")
        ->required();
    upgrade->add_option("PKG", args->packages, "package folders, in installation order")
        ->required();
    upgrade->callback([args, &ctx] { RunUpgrade(*args, ctx); });
}

}  // namespace fwsetup
