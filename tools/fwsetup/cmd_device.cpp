// fwsetup device init: make a fresh simulated printer.
#include <iostream>
#include <memory>

#include "app.h"
#include "sim/default_peripherals.h"
#include "sim/device.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct DeviceInitArgs {
    std::string device;
    std::string boardId;
    std::string region0;
    std::string product;
    bool noRegion0 = false;
    bool noEeprom = false;
    CLI::Option* boardIdOption = nullptr;
    CLI::Option* region0Option = nullptr;
    CLI::Option* productOption = nullptr;
};

sim::DeviceOptions ToOptions(const DeviceInitArgs& args) {
    sim::DeviceOptions options;
    const bool boardIdGiven = args.boardIdOption->count() > 0;
    const bool region0Given = args.region0Option->count() > 0;
    const bool productGiven = args.productOption->count() > 0;
    if (args.noEeprom && boardIdGiven) {
        throw UsageError("--board-id needs an EEPROM: drop --no-eeprom");
    }
    if (args.noEeprom && region0Given) {
        throw UsageError("--region0 needs an EEPROM: drop --no-eeprom");
    }
    if (args.noEeprom && productGiven) {
        throw UsageError("--product needs an EEPROM: drop --no-eeprom");
    }
    if (args.noRegion0 && region0Given) {
        throw UsageError("--region0 and --no-region0 exclude each other");
    }
    if (productGiven && (region0Given || args.noRegion0)) {
        throw UsageError("--product renames the default peripheral configuration: drop " +
                         std::string(region0Given ? "--region0" : "--no-region0"));
    }
    options.eeprom = !args.noEeprom;
    options.defaultRegion0 = !args.noRegion0;
    if (productGiven) {
        try {
            sim::DefaultPeripheralDocument(args.product);
        } catch (const std::runtime_error& e) {
            throw UsageError("--product: " + std::string(e.what()));
        }
        options.product = args.product;
    }
    if (boardIdGiven)
        options.boardId = static_cast<int>(ParseUnsignedNumber("--board-id", args.boardId, 0xFFFF));
    if (region0Given) {
        std::error_code ec;
        if (!fs::is_regular_file(args.region0, ec)) {
            throw UsageError("--region0: no file '" + args.region0 + "'");
        }
        options.region0 = fs::path(args.region0);
    }
    return options;
}

void RunDeviceInit(const DeviceInitArgs& args, CommandContext& ctx) {
    if (args.device.empty())
        throw UsageError("device init: DEVICE must not be empty");
    const sim::DeviceOptions options = ToOptions(args);
    const fs::path device(args.device);
    sim::InitDevice(device, options, ctx.binDir);

    std::cout << "simulated printer ready at " << device.string() << "\n";
    std::cout << "  folders:";
    for (size_t i = 0; i < sim::kStandardFolderCount; ++i) {
        std::cout << " \\" << sim::kStandardFolders[i] << "\\";
    }
    std::cout << "\n";
    for (size_t i = 0; i < sim::kStandInProgramCount; ++i) {
        std::cout << "  program: " << sim::kStandInPrograms[i].devicePath << "\n";
    }
    std::error_code ec;
    if (fs::is_regular_file(device / "hw" / "eeprom.bin", ec)) {
        std::cout << "  EEPROM: hw/eeprom.bin, board id " << options.boardId;
        if (options.region0)
            std::cout << ", region 0 from " << options.region0->string();
        else if (options.defaultRegion0)
            std::cout << ", region 0 the default peripheral configuration (product "
                      << options.product.value_or(sim::kDefaultProductName) << ")";
        else
            std::cout << ", no region 0";
        std::cout << "\n";
    } else {
        std::cout << "  EEPROM: none\n";
    }
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddDeviceCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* device = app.add_subcommand("device", "Simulated printers (device folders)");
    device->require_subcommand(1);

    auto args = std::make_shared<DeviceInitArgs>();
    CLI::App* init = device->add_subcommand(
        "init", "Make a fresh simulated printer: standard folders, tool stand-ins, EEPROM");
    init->add_option("DEVICE", args->device, "the device folder to make (must not hold a device)")
        ->required();
    args->boardIdOption = init->add_option(
        "--board-id", args->boardId,
        "board id written into the EEPROM, 0..65535 (decimal or 0x hex; default 19)");
    args->region0Option = init->add_option(
        "--region0", args->region0,
        "a file written as EEPROM region 0 instead of the default peripheral configuration");
    init->add_flag("--no-region0", args->noRegion0, "leave EEPROM region 0 absent");
    args->productOption = init->add_option(
        "--product", args->product,
        std::string("the product name of the default peripheral configuration (default ") +
            sim::kDefaultProductName + ")");
    init->add_flag("--no-eeprom", args->noEeprom, "the board has no readable EEPROM");
    init->callback([args, &ctx] { RunDeviceInit(*args, ctx); });
}

}  // namespace fwsetup
