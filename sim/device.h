// Making a simulated printer: the device folder's layout and what a fresh one holds.
#ifndef FWSETUP_SIM_DEVICE_H
#define FWSETUP_SIM_DEVICE_H

#include <filesystem>
#include <optional>
#include <string>

namespace sim {

// What `fwsetup device init` is asked for.
struct DeviceOptions {
    int boardId = 19;                              // written into the EEPROM header
    std::optional<std::filesystem::path> region0;  // a file written as EEPROM region 0
    // Without region0: true stores the default peripheral configuration
    // (sim/default_peripherals.h) as region 0, false leaves region 0 absent.
    bool defaultRegion0 = true;
    std::optional<std::string> product;  // replaces the default document's product name
    bool eeprom = true;                  // false: the board has no readable EEPROM
};

// A program of the printer that a fresh device gets: the simulator's stand-in
// bin/<hostProgram> copied to the device path.
struct StandInProgram {
    const char* devicePath;
    const char* hostProgram;
};

// The folders every fresh device has.
extern const char* const kStandardFolders[];
extern const size_t kStandardFolderCount;
extern const StandInProgram kStandInPrograms[];
extern const size_t kStandInProgramCount;

// Makes a fresh simulated printer at device (created if missing; it must not
// hold a device already). binDir holds the simulator's programs. Throws
// std::runtime_error with a one-line reason on failure.
void InitDevice(const std::filesystem::path& device, const DeviceOptions& options,
                const std::filesystem::path& binDir);

// The host path of a device path inside device/fs, taken literally.
std::filesystem::path HostPath(const std::filesystem::path& device, const std::string& devicePath);

}  // namespace sim

#endif
