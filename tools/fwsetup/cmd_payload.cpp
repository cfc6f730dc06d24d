// fwsetup payload pack / unpack: the package payload's linked-block LZ4 format.
#include <iostream>
#include <memory>

#include "app.h"
#include "sim/payload.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct PayloadArgs {
    std::string in;
    std::string out;
};

void CheckFiles(const PayloadArgs& args, const char* command) {
    std::error_code ec;
    if (!fs::is_regular_file(args.in, ec)) {
        throw UsageError(std::string("payload ") + command + ": no file '" + args.in + "'");
    }
    if (args.out.empty())
        throw UsageError(std::string("payload ") + command + ": OUT is empty");
    if (fs::is_directory(args.out, ec)) {
        throw UsageError(std::string("payload ") + command + ": '" + args.out + "' is a folder");
    }
    if (fs::exists(args.out, ec) && fs::equivalent(args.in, args.out, ec)) {
        throw UsageError(std::string("payload ") + command + ": IN and OUT are the same file");
    }
    const fs::path parent = fs::path(args.out).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
        throw UsageError(std::string("payload ") + command + ": no folder '" + parent.string() +
                         "'");
    }
}

void RunPack(const PayloadArgs& args, CommandContext& ctx) {
    CheckFiles(args, "pack");
    sim::PackPayloadFile(args.in, args.out, sim::TerminalProgress("packing"));
    ctx.exitCode = kExitOk;
}

void RunUnpack(const PayloadArgs& args, CommandContext& ctx) {
    CheckFiles(args, "unpack");
    sim::UnpackPayloadFile(args.in, args.out, sim::TerminalProgress("unpacking"));
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddPayloadCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* payload = app.add_subcommand(
        "payload", "The package payload: length-prefixed, linked 8 KiB LZ4 blocks");
    payload->require_subcommand(1);

    auto packArgs = std::make_shared<PayloadArgs>();
    CLI::App* pack = payload->add_subcommand("pack", "Pack a file into the payload format");
    pack->add_option("IN", packArgs->in, "the file to pack")->required();
    pack->add_option("OUT", packArgs->out, "the payload to write (replaced)")->required();
    pack->callback([packArgs, &ctx] { RunPack(*packArgs, ctx); });

    auto unpackArgs = std::make_shared<PayloadArgs>();
    CLI::App* unpack = payload->add_subcommand(
        "unpack",
        "Unpack a payload with the module's decoder; IN stays. A damaged payload unpacks to "
        "what came before the damage, as on the printer");
    unpack->add_option("IN", unpackArgs->in, "the payload to read")->required();
    unpack->add_option("OUT", unpackArgs->out, "the file to write (replaced)")->required();
    unpack->callback([unpackArgs, &ctx] { RunUnpack(*unpackArgs, ctx); });
}

}  // namespace fwsetup
