// fwsetup package make: a package folder with its nested cabinet packed as the payload.
#include <iostream>
#include <memory>

#include "app.h"
#include "sim/package_builder.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct PackageMakeArgs {
    std::string layout;
    std::string module;
    std::string payload;
    std::string files;
    std::string output;
};

void RunPackageMake(const PackageMakeArgs& args, CommandContext& ctx) {
    sim::PackageRecipe recipe;
    recipe.layout = args.layout;
    recipe.module = args.module;
    recipe.payloadDir = args.payload;
    if (!args.files.empty())
        recipe.filesDir = fs::path(args.files);
    recipe.output = args.output;
    if (recipe.output.empty())
        throw UsageError("package make: -o PKG must not be empty");
    try {
        sim::MakePackage(recipe, sim::TerminalProgress("packing the payload"));
    } catch (const std::runtime_error& e) {
        throw UsageError(std::string("package make: ") + e.what());
    }
    std::cout << "package " << recipe.output.string() << ": layout " << recipe.layout
              << ", payload files/UpgradeTemp/" << recipe.layout << ".lz4\n";
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddPackageCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* package = app.add_subcommand("package", "Packages for the installer stand-in");
    package->require_subcommand(1);

    auto args = std::make_shared<PackageMakeArgs>();
    CLI::App* make = package->add_subcommand(
        "make",
        "Build PKG: DIR as a cabinet packed into files/UpgradeTemp/NAME.lz4, the module "
        "as setup.so, extra files below files/");
    make->add_option("--layout", args->layout, "the package layout name")->required();
    make->add_option("--module", args->module, "the setup module (e.g. modules/NAME.so)")
        ->required();
    make->add_option("--payload", args->payload,
                     "folder whose files form the nested cabinet (names relative to it)")
        ->required();
    make->add_option("--files", args->files, "folder copied into PKG/files/ as it is");
    make->add_option("-o", args->output, "the package folder to make (new or empty)")->required();
    make->callback([args, &ctx] { RunPackageMake(*args, ctx); });
}

}  // namespace fwsetup
