// fwsetup periph: the board's peripheral configuration document.
//
// `wrap` puts a plain JSON file into the format of a copied EEPROM region 0 (the
// CRC-16 of the bytes, low byte first, then the bytes). `show` loads that format,
// from a file or from a simulated printer's region 0, with the module's own
// PeripheralConfigFile and prints what the module would make of it.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

#include "app.h"
#include "eeprom/wec_eeprom_handler.h"
#include "fileutil/crc16.h"
#include "package/memory_stream.h"
#include "periph_view.h"
#include "periphconfig/peripheral_config_file.h"
#include "sim/output_file.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct WrapArgs {
    std::string in;
    std::string out;
};

struct ShowArgs {
    std::string file;
    std::string device;
    bool json = false;
};

// Up to limit bytes of a regular host file; a usage error when it cannot be read.
ByteVector ReadHostFile(const std::string& path, uintmax_t limit) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec))
        throw UsageError("no file '" + path + "'");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw UsageError("cannot read '" + path + "'");
    ByteVector bytes;
    char piece[65536];
    while (bytes.size() < limit && in) {
        const uintmax_t want = std::min<uintmax_t>(sizeof(piece), limit - bytes.size());
        in.read(piece, static_cast<std::streamsize>(want));
        bytes.insert(bytes.end(), piece, piece + in.gcount());
    }
    if (in.bad())
        throw UsageError("cannot read '" + path + "'");
    return bytes;
}

std::string Hex16(uint16_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(4) << std::setfill('0') << value;
    return text.str();
}

void RunWrap(const WrapArgs& args, CommandContext& ctx) {
    sim::CommandFiles files;
    files.Input("IN", args.in);
    files.Output("OUT", args.out);
    const ByteVector json = ReadHostFile(args.in, UINTMAX_MAX);
    const uint16_t crc = Crc16::Compute(json);
    ByteVector wrapped;
    wrapped.reserve(json.size() + 2);
    wrapped.push_back(static_cast<uint8_t>(crc & 0xFF));
    wrapped.push_back(static_cast<uint8_t>(crc >> 8));
    wrapped.insert(wrapped.end(), json.begin(), json.end());
    sim::WriteOutputFile(args.out, wrapped);
    std::cout << args.out << ": " << wrapped.size() << " bytes, CRC " << Hex16(crc) << " then the "
              << json.size() << " bytes of " << args.in << "\n";
    ctx.exitCode = kExitOk;
}

// Region 0 of the simulated printer, CRC bytes first, read through the module's
// EEPROM handler.
ByteVector ReadRegionZero(const std::string& device) {
    UseDevice(device);
    WecEEPromHandler handler;
    if (!handler.IsOpen())
        throw UsageError(
            "the EEPROM device EPM1: does not open (is \\boot\\EEPromUtilDriver.dll there?)");
    const ByteVector region = handler.ReadRegion(0);
    if (region.empty())
        throw UsageError("EEPROM region 0 is absent or cannot be read");
    return region;
}

void RunShow(const ShowArgs& args, CommandContext& ctx) {
    if (args.file.empty() == args.device.empty())
        throw UsageError("periph show: give FILE or --device DEVICE (one of them)");
    // One byte past the largest document is enough to see that it is too large.
    const ByteVector bytes = args.file.empty()
                                 ? ReadRegionZero(args.device)
                                 : ReadHostFile(args.file, PeripheralConfigFile::kMaxSize + 1u);
    PeripheralConfigFile file;
    MemoryStream stream(bytes);
    const bool loaded = file.Load(stream);
    if (args.json)
        std::cout << PeriphJson(file, loaded) << "\n";
    else
        PrintPeriphAccount(file, loaded, std::cout);
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddPeriphCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* periph = app.add_subcommand(
        "periph",
        "The peripheral configuration document of EEPROM region 0, as the module reads it");
    periph->require_subcommand(1);

    auto wrap = std::make_shared<WrapArgs>();
    CLI::App* wrapCommand = periph->add_subcommand(
        "wrap", "OUT = the CRC-16 of IN's bytes (low byte first), then IN's bytes");
    wrapCommand->add_option("IN", wrap->in, "a JSON file")->required();
    wrapCommand->add_option("OUT", wrap->out, "the file to write (replaced when complete)")
        ->required();
    wrapCommand->callback([wrap, &ctx] { RunWrap(*wrap, ctx); });

    auto show = std::make_shared<ShowArgs>();
    CLI::App* showCommand = periph->add_subcommand(
        "show", "Load FILE (CRC, then JSON) or a printer's region 0 and print its records");
    showCommand->add_option("FILE", show->file, "a file in the format of a copied region 0");
    showCommand->add_option("--device", show->device,
                            "the simulated printer whose region 0 to read");
    showCommand->add_flag("--json", show->json, "print one JSON document");
    showCommand->callback([show, &ctx] { RunShow(*show, ctx); });
}

}  // namespace fwsetup
