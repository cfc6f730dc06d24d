// Files inside a simulated printer's folder, for the simulator and the tools:
// opened and written by the rules of platform/host/safe_files.h (no link is
// followed below DEVICE, nothing but a regular file is read or written).
#ifndef FWSETUP_SIM_DEVICE_FILES_H
#define FWSETUP_SIM_DEVICE_FILES_H

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "platform/host/safe_files.h"
#include "platform/types.h"

namespace sim {

// "fs/boot/x" for the device path "\boot\x", taken literally (no case folding).
std::string DeviceRelativePath(const std::string& devicePath);

// Writes DEVICE/relative (created, or emptied when it is a regular file),
// making its folders. Throws std::runtime_error naming the file.
void WriteDeviceFile(const std::filesystem::path& device, const std::string& relative,
                     const std::string& contents, mode_t mode = 0666);

// Reads DEVICE/relative, a regular file. Throws std::runtime_error.
std::string ReadDeviceFile(const std::filesystem::path& device, const std::string& relative);

// A new file in the device's root folder, named prefix and a few random
// characters, through which host bytes reach module code that works on device
// paths, or come back from it. Removed when the object goes.
class DeviceStagingFile {
  public:
    // Creates the file, empty. Throws std::runtime_error.
    DeviceStagingFile(const std::filesystem::path& device, const std::string& prefix);
    ~DeviceStagingFile();
    DeviceStagingFile(const DeviceStagingFile&) = delete;
    DeviceStagingFile& operator=(const DeviceStagingFile&) = delete;

    // "\" and the name: the file's device path.
    WString DevicePath() const;
    // Replaces the file's contents. Throws std::runtime_error.
    void Write(const std::string& contents) const;
    // What the file holds now, when it is still a regular file. Throws std::runtime_error.
    std::string Read() const;

  private:
    platform::host::UniqueFd root_;
    std::string name_;
};

}  // namespace sim

#endif
