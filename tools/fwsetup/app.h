// The fwsetup command line: a thin main() over Main(), command groups as data.
#ifndef FWSETUP_TOOLS_APP_H
#define FWSETUP_TOOLS_APP_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace fwsetup {

// Exit codes of every command.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Bad arguments or missing inputs: Main prints the message on one line and exits 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A number given on the command line: decimal, or hexadecimal after 0x, at most
// maximum; what names it in the UsageError for anything else.
uint64_t ParseUnsignedNumber(const std::string& what, const std::string& text, uint64_t maximum);

// What a command needs to know about the toolkit around it.
struct CommandContext {
    int exitCode = kExitOk;
    std::filesystem::path binDir;      // the folder holding fwsetup and the simulator's programs
    std::filesystem::path modulesDir;  // the folder holding the built setup modules
};

// The device folder given to --device, made this process's device; its absolute
// path. Throws UsageError when it is not a simulated printer (no fs/ and hw/).
std::filesystem::path UseDevice(const std::string& device);

// text with every byte that does not belong to a UTF-8 sequence replaced by
// U+FFFD, for JSON output.
std::string ValidUtf8(const std::string& text);

// One group of commands: adds its subcommands to the app; their callbacks set ctx.exitCode.
typedef void (*CommandGroup)(CLI::App& app, CommandContext& ctx);

void AddDeviceCommands(CLI::App& app, CommandContext& ctx);
void AddInstallCommand(CLI::App& app, CommandContext& ctx);
void AddPayloadCommands(CLI::App& app, CommandContext& ctx);
void AddPackageCommands(CLI::App& app, CommandContext& ctx);
void AddUiCommands(CLI::App& app, CommandContext& ctx);
void AddUpgradeCommand(CLI::App& app, CommandContext& ctx);
void AddNkbinCommands(CLI::App& app, CommandContext& ctx);
void AddEepromCommands(CLI::App& app, CommandContext& ctx);
void AddDemoCommand(CLI::App& app, CommandContext& ctx);
void AddFpgaCommands(CLI::App& app, CommandContext& ctx);
void AddPeriphCommands(CLI::App& app, CommandContext& ctx);
void AddPropsCommands(CLI::App& app, CommandContext& ctx);

// Runs one command line; returns the exit code.
int Main(int argc, char** argv);

}  // namespace fwsetup

#endif
