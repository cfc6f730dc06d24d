#include "printer.h"

#include <stdio.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace actionstest {

std::string BoardName(const BoardId& board) {
    return board ? "Board" + std::to_string(*board) : std::string("NoEeprom");
}

CommandResult RunCommand(const std::string& commandLine) {
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + commandLine);
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        output.append(buffer, n);
    const int status = pclose(pipe);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return CommandResult{code, output};
}

std::string Quote(const fs::path& path) {
    std::string quoted = "'";
    for (char c : path.string()) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

CommandResult RunFwsetup(const std::string& arguments) {
    return RunCommand(Quote(fs::path(FWSETUP_BIN_DIR) / "fwsetup") + " " + arguments);
}

void WriteHostFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

Printer::Printer(const BoardId& board) : Printer(board, "") {}

Printer::Printer(const BoardId& board, const std::string& initArguments)
    : device_(temp_.Root() / "printer"), work_(temp_.Root() / "work") {
    fs::create_directories(work_);
    const std::string eeprom =
        board ? "--board-id " + std::to_string(*board) : std::string("--no-eeprom");
    const CommandResult init =
        RunFwsetup("device init " + Quote(device_) + " " + eeprom + " " + initArguments);
    if (init.exitCode != 0)
        throw std::runtime_error("device init failed: " + init.output);
}

fs::path Printer::Host(const std::string& devicePath) const {
    std::string relative = devicePath;
    for (char& c : relative) {
        if (c == '\\')
            c = '/';
    }
    while (!relative.empty() && relative[0] == '/')
        relative.erase(0, 1);
    return device_ / "fs" / relative;
}

void Printer::Write(const std::string& devicePath, const std::string& contents) const {
    WriteHostFile(Host(devicePath), contents);
}

std::string Printer::Read(const std::string& devicePath) const {
    return ReadHostFile(Host(devicePath));
}

bool Printer::Exists(const std::string& devicePath) const {
    std::error_code ec;
    return fs::exists(Host(devicePath), ec);
}

CommandResult Printer::Install(const fs::path& package) const {
    return RunFwsetup("install --device " + Quote(device_) + " " + Quote(package));
}

PackageBuilder::PackageBuilder(const fs::path& work, const std::string& layout)
    : layout_(layout),
      root_(work / ("build-" + layout)),
      payload_(root_ / "payload"),
      files_(root_ / "files") {
    fs::create_directories(payload_);
    fs::create_directories(files_);
}

fs::path PackageBuilder::Place(const fs::path& root, const std::string& devicePath) {
    std::string relative = devicePath;
    for (char& c : relative) {
        if (c == '\\')
            c = '/';
    }
    while (!relative.empty() && relative[0] == '/')
        relative.erase(0, 1);
    return root / relative;
}

void PackageBuilder::AddPayloadFile(const std::string& devicePath, const std::string& contents) {
    WriteHostFile(Place(payload_, devicePath), contents);
}

void PackageBuilder::AddFile(const std::string& devicePath, const std::string& contents) {
    WriteHostFile(Place(files_, devicePath), contents);
}

void PackageBuilder::AddUpgrader(UpgraderDelivery how) {
    const fs::path to = Place(how == UpgraderDelivery::kInTheNestedCabinet ? payload_ : files_,
                              "\\UpgradeTemp\\STM32Upgrader");
    fs::create_directories(to.parent_path());
    fs::copy_file(fs::path(FWSETUP_BIN_DIR) / "fwsetup-sim-stm32upgrader", to,
                  fs::copy_options::overwrite_existing);
    if (how != UpgraderDelivery::kBesideTheCabinet)
        fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read);
}

fs::path PackageBuilder::Make() {
    const fs::path package = root_.parent_path() / layout_;
    const fs::path module = fs::path(FWSETUP_MODULES_DIR) / (layout_ + ".so");
    const CommandResult made = RunFwsetup("package make --layout " + layout_ + " --module " +
                                          Quote(module) + " --payload " + Quote(payload_) +
                                          " --files " + Quote(files_) + " -o " + Quote(package));
    if (made.exitCode != 0)
        throw std::runtime_error("package make failed: " + made.output);
    return package;
}

}  // namespace actionstest
