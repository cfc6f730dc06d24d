// The host's stand-in for the printer's CAB installer: loads a package's setup
// module into this process and runs its hooks around copying the package's files.
#ifndef FWSETUP_SIM_INSTALLER_H
#define FWSETUP_SIM_INSTALLER_H

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct InstallOptions {
    std::filesystem::path device;   // DEVICE: an initialised device folder (holds fs/)
    std::filesystem::path package;  // PKG: holds files/ (and usually setup.so)
    std::filesystem::path module;   // the setup module; empty = PKG/setup.so
    // Told each step just before it runs (an Install_Exit that reports to a
    // listening upgrade UI never returns, so the caller learns how far it got).
    std::function<void(const std::string&)> onStep;
};

struct InstallResult {
    int initResult = 0;                       // what Install_Init returned
    int exitResult = 0;                       // what Install_Exit returned
    std::vector<std::string> copiedFiles;     // device paths written, in order
    std::vector<std::string> createdFolders;  // device paths of folders made for them
    std::vector<std::string> failedFiles;     // "device path: reason" of files not copied
};

// Runs one package installation: sets FWSETUP_DEVICE to the absolute device
// folder, loads the module, checks all six exports, calls DllMain (attach),
// Install_Init, copies PKG/files/** into the device (folders and files matched
// without regard to case, files overwritten), Install_Exit (told how many
// folders and files failed), DllMain (detach), and unloads the module.
// Throws std::runtime_error with a one-line reason when an input is missing or
// unusable; nothing has been changed on the device then.
InstallResult InstallPackage(const InstallOptions& options);

}  // namespace sim

#endif
