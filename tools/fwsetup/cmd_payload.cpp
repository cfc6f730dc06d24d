// fwsetup payload pack / unpack: the package payload's linked-block LZ4 format.
#include <iostream>
#include <memory>

#include "app.h"
#include "sim/payload.h"

namespace fwsetup {
namespace {

struct PayloadArgs {
    std::string in;
    std::string out;
};

void RunPack(const PayloadArgs& args, CommandContext& ctx) {
    sim::PackPayloadFile(args.in, args.out, sim::TerminalProgress("packing"));
    ctx.exitCode = kExitOk;
}

void RunUnpack(const PayloadArgs& args, CommandContext& ctx) {
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
