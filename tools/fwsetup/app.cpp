#include "app.h"

#include <unistd.h>

#include <iostream>

namespace fwsetup {
namespace {

const CommandGroup kCommandGroups[] = {
    AddDeviceCommands, AddInstallCommand, AddPayloadCommands, AddPackageCommands,
    AddUiCommands,     AddUpgradeCommand, AddNkbinCommands,   AddEepromCommands,
    AddDemoCommand,    AddFpgaCommands,   AddPropsCommands,
};

std::filesystem::path SelfDir(const char* argv0) {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        self = std::filesystem::absolute(argv0, ec);
    return self.parent_path();
}

}  // namespace

uint64_t ParseUnsignedNumber(const std::string& what, const std::string& text, uint64_t maximum) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 16u : 19u) ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string::npos)
        throw UsageError(what + ": '" + text + "' is not a number");
    const unsigned long long value = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (value > maximum)
        throw UsageError(what + ": " + text + " is more than " + std::to_string(maximum));
    return value;
}

int Main(int argc, char** argv) {
    CommandContext ctx;
    ctx.binDir = SelfDir(argc > 0 ? argv[0] : "fwsetup");
    ctx.modulesDir = ctx.binDir.parent_path() / "modules";

    CLI::App app{"fwsetup: build, inspect and rehearse printer firmware upgrades", "fwsetup"};
    app.require_subcommand(1);
    for (CommandGroup add : kCommandGroups)
        add(app, ctx);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "fwsetup: " << e.what() << "\n";
        return kExitUsage;
    } catch (const UsageError& e) {
        std::cerr << "fwsetup: " << e.what() << "\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "fwsetup: " << e.what() << "\n";
        return kExitUsage;
    }
    return ctx.exitCode;
}

}  // namespace fwsetup
