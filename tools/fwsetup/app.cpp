#include "app.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/host/device_root.h"

namespace fwsetup {
namespace {

const CommandGroup kCommandGroups[] = {
    AddDeviceCommands, AddInstallCommand, AddPayloadCommands, AddPackageCommands,
    AddUiCommands,     AddUpgradeCommand, AddNkbinCommands,   AddEepromCommands,
    AddDemoCommand,    AddFpgaCommands,   AddPeriphCommands,  AddPropsCommands,
};

std::filesystem::path SelfDir(const char* argv0) {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        self = std::filesystem::absolute(argv0, ec);
    return self.parent_path();
}

// True when the command line asks for JSON output (--json before any "--").
bool WantsJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--json") == 0)
            return true;
    }
    return false;
}

// The one-line error on stderr and, for a command asked for JSON, the error as
// the one JSON document on stdout.
int Refuse(const std::string& message, bool json) {
    std::cerr << "fwsetup: " << message << "\n";
    if (json) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        writer.StartObject();
        writer.Key("error");
        const std::string text = ValidUtf8(message);
        writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
        writer.EndObject();
        std::cout << buffer.GetString() << "\n";
    }
    return kExitUsage;
}

// For a command line that stops at a command group without naming one of its
// subcommands: the group, what was given instead (if anything) and the
// subcommands it has. Empty when the error is another one.
std::string SubcommandError(CLI::App& app) {
    CLI::App* current = &app;
    std::string path = "fwsetup";
    for (;;) {
        const std::vector<CLI::App*> used = current->get_subcommands();
        if (used.empty())
            break;
        current = used.front();
        path += " " + current->get_name();
    }
    const std::vector<CLI::App*> all = current->get_subcommands({});
    if (all.empty())
        return std::string();
    std::string names;
    for (const CLI::App* sub : all)
        names += (names.empty() ? "" : ", ") + sub->get_name();
    const std::vector<std::string> rest = current->remaining();
    if (!rest.empty() && !rest.front().empty() && rest.front()[0] != '-')
        return path + ": unknown subcommand '" + rest.front() + "' (one of: " + names + ")";
    return path + ": a subcommand is needed (one of: " + names + ")";
}

}  // namespace

uint64_t ParseUnsignedNumber(const std::string& what, const std::string& text, uint64_t maximum) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                              std::string::npos)
        throw UsageError(what + ": '" + text + "' is not a number");
    const std::string range = " is out of range (0.." + std::to_string(maximum) + ")";
    const size_t significant = std::min(digits.find_first_not_of('0'), digits.size());
    if (digits.size() - significant > (hex ? 16u : 19u))
        throw UsageError(what + ": " + text + range);
    const unsigned long long value = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (value > maximum)
        throw UsageError(what + ": " + text + range);
    return value;
}

std::filesystem::path UseDevice(const std::string& device) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (device.empty() || !fs::is_directory(fs::path(device) / "fs", ec) ||
        !fs::is_directory(fs::path(device) / "hw", ec))
        throw UsageError("--device: '" + device + "' is not a simulated printer (no fs/ and hw/)");
    const fs::path absolute = fs::absolute(device, ec);
    platform::host::SetDeviceRoot(absolute.string());
    return absolute;
}

std::string ValidUtf8(const std::string& text) {
    std::string valid;
    valid.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        }
        bool ok = length > 0 && i + length <= text.size();
        uint32_t code = length == 1 ? lead : (lead & (0x7F >> length));
        for (size_t k = 1; ok && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                ok = false;
            code = (code << 6) | (next & 0x3F);
        }
        if (ok && length > 1 &&
            (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            ok = false;
        if (ok) {
            valid.append(text, i, length);
            i += length;
        } else {
            valid += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return valid;
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
        const std::string subcommand = SubcommandError(app);
        return Refuse(subcommand.empty() ? e.what() : subcommand, WantsJson(argc, argv));
    } catch (const UsageError& e) {
        return Refuse(e.what(), WantsJson(argc, argv));
    } catch (const std::exception& e) {
        return Refuse(e.what(), WantsJson(argc, argv));
    }
    return ctx.exitCode;
}

}  // namespace fwsetup
