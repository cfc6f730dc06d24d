#include "sim/device.h"

#include <stdexcept>

#include "sim/eeprom_setup.h"

namespace fs = std::filesystem;

namespace sim {

const char* const kStandardFolders[] = {"boot", "UpgradeTemp", "store", "Windows"};
const size_t kStandardFolderCount = sizeof(kStandardFolders) / sizeof(kStandardFolders[0]);

// One row per program of the printer that the simulator stands in for.
const StandInProgram kStandInPrograms[] = {
    {"\\Windows\\nfimager.exe", "fwsetup-sim-nfimager"},
    {"\\Windows\\wceldcmd.exe", "fwsetup-sim-wceldcmd"},
    {nullptr, nullptr},  // the list ends here
};
const size_t kStandInProgramCount = sizeof(kStandInPrograms) / sizeof(kStandInPrograms[0]) - 1;

fs::path HostPath(const fs::path& device, const std::string& devicePath) {
    std::string rel = devicePath;
    for (char& c : rel) {
        if (c == '\\')
            c = '/';
    }
    while (!rel.empty() && rel[0] == '/')
        rel.erase(0, 1);
    return device / "fs" / rel;
}

namespace {

void FillDevice(const fs::path& device, const DeviceOptions& options, const fs::path& binDir) {
    std::error_code ec;
    for (size_t i = 0; i < kStandardFolderCount; ++i) {
        fs::create_directories(device / "fs" / kStandardFolders[i], ec);
        if (ec)
            throw std::runtime_error("cannot create " + (device / "fs").string() + ": " +
                                     ec.message());
    }
    fs::create_directories(device / "hw" / "flash", ec);
    if (ec)
        throw std::runtime_error("cannot create " + (device / "hw").string() + ": " + ec.message());
    for (size_t i = 0; i < kStandInProgramCount; ++i) {
        const StandInProgram& program = kStandInPrograms[i];
        const fs::path from = binDir / program.hostProgram;
        const fs::path to = HostPath(device, program.devicePath);
        fs::create_directories(to.parent_path(), ec);
        fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
        if (ec)
            throw std::runtime_error("cannot place " + std::string(program.devicePath) + " from " +
                                     from.string() + ": " + ec.message());
    }
    SetUpEeprom(device, options);
}

}  // namespace

void InitDevice(const fs::path& device, const DeviceOptions& options, const fs::path& binDir) {
    std::error_code ec;
    if (device.empty())
        throw std::runtime_error("no device folder given");
    if (fs::exists(device, ec) && !fs::is_directory(device, ec)) {
        throw std::runtime_error("'" + device.string() + "' is not a folder");
    }
    if (fs::exists(device / "fs", ec) || fs::exists(device / "hw", ec)) {
        throw std::runtime_error("'" + device.string() + "' already holds a device");
    }
    const bool deviceIsNew = !fs::exists(device, ec);
    try {
        FillDevice(device, options, binDir);
    } catch (...) {
        // A half-made device would only stand in the way of the next attempt.
        fs::remove_all(device / "fs", ec);
        fs::remove_all(device / "hw", ec);
        if (deviceIsNew)
            fs::remove(device, ec);
        throw;
    }
}

}  // namespace sim
