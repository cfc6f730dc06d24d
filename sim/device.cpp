#include "sim/device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/host/safe_files.h"
#include "sim/device_files.h"
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
    return device / DeviceRelativePath(devicePath);
}

namespace {

using platform::host::UniqueFd;

std::string ReadHostProgram(const fs::path& from) {
    std::ifstream in(from, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad())
        throw std::runtime_error("cannot read " + from.string());
    return bytes;
}

// Makes DEVICE/fs and DEVICE/hw, which must be new: nothing of that name, not
// even a dangling link, may be there already.
void MakeTopFolders(const fs::path& device) {
    UniqueFd top(platform::host::OpenTrustedFolder(device.string()));
    if (!top.Valid())
        throw std::runtime_error("cannot open " + device.string() + ": " + std::strerror(errno));
    if (mkdirat(top.Get(), "fs", 0777) != 0)
        throw std::runtime_error("cannot create " + (device / "fs").string() + ": " +
                                 std::strerror(errno));
    if (mkdirat(top.Get(), "hw", 0777) != 0) {
        const int error = errno;
        unlinkat(top.Get(), "fs", AT_REMOVEDIR);
        throw std::runtime_error("cannot create " + (device / "hw").string() + ": " +
                                 std::strerror(error));
    }
}

void MakeDeviceFolder(const fs::path& device, const std::string& relative) {
    UniqueFd folder(platform::host::OpenFolderBelow(device.string(), relative, true));
    if (!folder.Valid())
        throw std::runtime_error("cannot create " + (device / relative).string() + ": " +
                                 std::strerror(errno));
}

void FillDevice(const fs::path& device, const DeviceOptions& options, const fs::path& binDir) {
    for (size_t i = 0; i < kStandardFolderCount; ++i)
        MakeDeviceFolder(device, std::string("fs/") + kStandardFolders[i]);
    MakeDeviceFolder(device, "hw/flash");
    for (size_t i = 0; i < kStandInProgramCount; ++i) {
        const StandInProgram& program = kStandInPrograms[i];
        const fs::path from = binDir / program.hostProgram;
        std::string bytes;
        try {
            bytes = ReadHostProgram(from);
            WriteDeviceFile(device, DeviceRelativePath(program.devicePath), bytes, 0755);
        } catch (const std::exception& e) {
            throw std::runtime_error("cannot place " + std::string(program.devicePath) + " from " +
                                     from.string() + ": " + e.what());
        }
    }
    SetUpEeprom(device, options);
}

bool Occupied(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

}  // namespace

void InitDevice(const fs::path& device, const DeviceOptions& options, const fs::path& binDir) {
    std::error_code ec;
    if (device.empty())
        throw std::runtime_error("no device folder given");
    if (fs::exists(device, ec) && !fs::is_directory(device, ec)) {
        throw std::runtime_error("'" + device.string() + "' is not a folder");
    }
    if (Occupied(device / "fs") || Occupied(device / "hw")) {
        throw std::runtime_error("'" + device.string() + "' already holds a device");
    }
    const bool deviceIsNew = !fs::exists(device, ec);
    fs::create_directories(device, ec);
    if (ec)
        throw std::runtime_error("cannot create " + device.string() + ": " + ec.message());
    try {
        MakeTopFolders(device);
    } catch (...) {
        if (deviceIsNew)
            fs::remove(device, ec);
        throw;
    }
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
