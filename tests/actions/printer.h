// End-to-end helpers: a simulated printer made by `fwsetup device init`, packages
// made by `fwsetup package make`, and installations through `fwsetup install`.
#ifndef FWSETUP_TESTS_ACTIONS_PRINTER_H
#define FWSETUP_TESTS_ACTIONS_PRINTER_H

#include <filesystem>
#include <optional>
#include <string>

#include "support/temp_device.h"

namespace actionstest {

namespace fs = std::filesystem;

// A board id written into the EEPROM, or none: a printer without a readable EEPROM.
typedef std::optional<int> BoardId;
const BoardId kUnreadable = std::nullopt;
std::string BoardName(const BoardId& board);

struct CommandResult {
    int exitCode;
    std::string output;  // standard output and error together
};
// Runs a shell command line.
CommandResult RunCommand(const std::string& commandLine);
std::string Quote(const fs::path& path);
// fwsetup with the given arguments (already quoted where needed).
CommandResult RunFwsetup(const std::string& arguments);

// A fresh printer in its own temporary folder, removed afterwards.
class Printer {
  public:
    explicit Printer(const BoardId& board);
    // With further `device init` arguments (already quoted where needed).
    Printer(const BoardId& board, const std::string& initArguments);

    const fs::path& Device() const { return device_; }
    // A scratch folder beside the device for building packages.
    const fs::path& Work() const { return work_; }
    // The host path of a device path, taken literally.
    fs::path Host(const std::string& devicePath) const;
    void Write(const std::string& devicePath, const std::string& contents) const;
    std::string Read(const std::string& devicePath) const;
    bool Exists(const std::string& devicePath) const;
    // DEVICE/hw/<name>.
    fs::path Hardware(const std::string& name) const { return device_ / "hw" / name; }

    CommandResult Install(const fs::path& package) const;

  private:
    fwtest::TempDevice temp_;
    fs::path device_;
    fs::path work_;
};

// Builds one package for a built layout: files for its nested CAB and files the
// installer copies directly, both named by device path.
class PackageBuilder {
  public:
    PackageBuilder(const fs::path& work, const std::string& layout);

    void AddPayloadFile(const std::string& devicePath, const std::string& contents);
    void AddFile(const std::string& devicePath, const std::string& contents);
    // How the package delivers the simulated coprocessor upgrader.
    enum class UpgraderDelivery {
        kBesideTheCabinet,          // among the files the installer copies
        kBesideWithoutExecuteBits,  // the same, its host file without execute bits
        kInTheNestedCabinet,        // inside the nested CAB (the loader writes no execute bits)
    };
    // The simulated coprocessor upgrader, delivered as "\UpgradeTemp\STM32Upgrader".
    void AddUpgrader(UpgraderDelivery how = UpgraderDelivery::kBesideTheCabinet);
    // The package folder.
    fs::path Make();

  private:
    fs::path Place(const fs::path& root, const std::string& devicePath);

    std::string layout_;
    fs::path root_;
    fs::path payload_;
    fs::path files_;
};

// Writes a host file, creating its folders.
void WriteHostFile(const fs::path& path, const std::string& contents);
// A host file's contents; empty when it is missing.
std::string ReadHostFile(const fs::path& path);

}  // namespace actionstest

#endif
