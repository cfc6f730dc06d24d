// The host's stand-in for the printer's CAB installer: loads a package's setup
// module into this process and runs its hooks around copying the package's files.
#ifndef FWSETUP_SIM_INSTALLER_H
#define FWSETUP_SIM_INSTALLER_H

#include <cstddef>
#include <cstdint>
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

// One program that the module tried to start during the installation.
struct ProgramRun {
    std::string program;  // the device path or name it was started by
    bool started = false;
    bool exitKnown = false;
    uint32_t exitCode = 0;  // when started and exitKnown
};

struct InstallResult {
    int initResult = 0;                       // what Install_Init returned
    int exitResult = 0;                       // what Install_Exit returned
    std::vector<ProgramRun> programs;         // in the order they were started
    std::vector<std::string> copiedFiles;     // device paths written, in order
    std::vector<std::string> createdFolders;  // device paths of folders made for them
    std::vector<std::string> failedFiles;     // "device path: reason" of files not copied
};

// The setup module of a package (module, or PKG/setup.so when module is
// empty), after checking that PKG holds files/ and that the module loads and
// exports all six hooks. Throws std::runtime_error with a one-line reason.
std::filesystem::path CheckPackage(const std::filesystem::path& package,
                                   const std::filesystem::path& module = {});

// Runs one package installation: takes the device's installation lock (a
// second installation on the same device fails at once), sets FWSETUP_DEVICE
// to the absolute device folder, loads the module, calls DllMain (attach),
// Install_Init, copies PKG/files/** into the device (folders and files matched
// without regard to case; each file written beside its place and renamed over
// it when complete, so a failure or a kill leaves the old file), Install_Exit
// (told how many folders and files failed), DllMain (detach), and unloads the
// module. Throws std::runtime_error with a one-line reason when an input is
// missing or unusable or the device is busy; nothing has been changed on the
// device then.
InstallResult InstallPackage(const InstallOptions& options);

// The nested cabinet's step of Install_Exit, as the programs show it: the
// first run of the CAB loader "\Windows\wceldcmd.exe", or null when it was
// never tried (no cabinet could be made).
const ProgramRun* CabinetLoaderRun(const InstallResult& result);
// True when that step failed, which the module reports with code 27: the
// loader did not start, or ended with an exit code other than 0 and 259.
bool CabinetRejected(const InstallResult& result);

}  // namespace sim

#endif
