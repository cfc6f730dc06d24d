// An upgrade series with the upgrade UI watching: the packages are installed in
// order, each by `fwsetup install` in a process of its own, and the series stops
// at the first package that fails.
//
// A package whose setup module reports a failure through the progress channel
// never comes back (its installer thread is blocked for good, the UI takes over),
// so the series ends that installer process itself.
#ifndef FWSETUP_SIM_UPGRADE_SERIES_H
#define FWSETUP_SIM_UPGRADE_SERIES_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class PackageStatus {
    kInstalled,        // the installer exited 0 and nothing was reported
    kReportedFailure,  // the setup module reported a progress code; its installer was ended
    kFailed,           // the installer exited non-zero, died, or could not be started
    kNotRun,           // an earlier package failed
};

struct PackageOutcome {
    std::filesystem::path package;
    PackageStatus status = PackageStatus::kNotRun;
    std::vector<uint8_t> codes;  // progress codes the package reported, oldest first
    int exitCode = -1;           // the installer's exit status; -1 when it did not exit itself
    std::string reason;          // one line: why the package failed (empty otherwise)
    std::string output;          // what its installer printed (stdout and stderr)
};

struct UpgradeSeriesOptions {
    std::filesystem::path device;                 // DEVICE, an initialised device folder
    std::vector<std::filesystem::path> packages;  // PKG folders, in installation order
    std::filesystem::path fwsetup;                // the fwsetup program that installs each one
    // Told about each package when its installation has ended (not for skipped ones).
    std::function<void(const PackageOutcome&)> onPackage;
};

struct UpgradeSeriesResult {
    std::vector<PackageOutcome> packages;  // one per package given, in order
    std::optional<size_t> failed;          // the index of the package that stopped the series
    bool ok() const { return !failed.has_value(); }
};

// Serves the device's upgrade UI (platform::host::SetDeviceRoot(device) for the
// call's duration) and runs the series. Throws std::runtime_error with a one-line
// reason when the UI side cannot be served; a package that fails is an outcome,
// not an exception.
UpgradeSeriesResult RunUpgradeSeries(const UpgradeSeriesOptions& options);

// "installed", "reported a failure", "failed", "not run".
const char* PackageStatusText(PackageStatus status);

}  // namespace sim

#endif
