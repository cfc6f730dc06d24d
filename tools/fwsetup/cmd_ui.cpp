// fwsetup ui watch: the upgrade UI's side of the progress channel.
#include <cmath>
#include <iostream>
#include <memory>

#include "app.h"
#include "platform/host/device_root.h"
#include "sim/upgrade_ui.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct WatchArgs {
    std::string device;
    std::string count;
    std::string timeout;
    CLI::Option* countOption = nullptr;
    CLI::Option* timeoutOption = nullptr;
};

// A positive whole number of codes.
size_t ParseCount(const std::string& text) {
    const size_t value = ParseUnsignedNumber("--count", text, 0xFFFFFFFFu);
    if (value == 0)
        throw UsageError("--count: must be at least 1");
    return value;
}

// Positive seconds, fractions allowed, at most a day.
std::chrono::milliseconds ParseTimeout(const std::string& text) {
    size_t used = 0;
    double seconds = 0;
    try {
        seconds = std::stod(text, &used);
    } catch (const std::out_of_range&) {
        throw UsageError("--timeout: " + text + " is out of range (0 < S <= 86400)");
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || std::isnan(seconds))
        throw UsageError("--timeout: '" + text + "' is not a number of seconds");
    if (seconds <= 0 || seconds > 86400)
        throw UsageError("--timeout: " + text + " is out of range (0 < S <= 86400)");
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

// The device folder, which must hold hw/ (the channel lives there).
fs::path CheckedDevice(const std::string& device) {
    if (device.empty())
        throw UsageError("--device must not be empty");
    std::error_code ec;
    if (!fs::is_directory(fs::path(device) / "hw", ec))
        throw UsageError("no simulated printer at '" + device + "' (no hw/ folder)");
    return fs::absolute(device, ec);
}

void RunWatch(const WatchArgs& args, CommandContext& ctx) {
    const fs::path device = CheckedDevice(args.device);
    std::optional<size_t> count;
    std::optional<std::chrono::milliseconds> timeout;
    if (args.countOption->count() > 0)
        count = ParseCount(args.count);
    if (args.timeoutOption->count() > 0)
        timeout = ParseTimeout(args.timeout);
    platform::host::SetDeviceRoot(device.string());
    sim::WatchProgress(std::cout, count, timeout);
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddUiCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* ui = app.add_subcommand("ui", "The upgrade UI's side of the progress channel");
    ui->require_subcommand(1);
    auto args = std::make_shared<WatchArgs>();
    CLI::App* watch = ui->add_subcommand(
        "watch",
        "Serve the upgrade UI of a simulated printer: create its event and print one line per "
        "progress code as it arrives (code, then name, e.g. \"27 SetupStepFailed\"). Ends after "
        "--count codes or --timeout seconds, whichever comes first; without either it runs "
        "until ended. Exit 0 when it ended so, also when the time ran out before any code came");
    watch->add_option("--device", args->device, "the simulated printer (device folder)")
        ->required();
    args->countOption = watch->add_option("--count", args->count, "end after N codes");
    args->timeoutOption =
        watch->add_option("--timeout", args->timeout, "end after S seconds (fractions allowed)");
    watch->callback([args, &ctx] { RunWatch(*args, ctx); });
}

}  // namespace fwsetup
