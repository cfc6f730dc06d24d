// fwsetup nkbin: kernel images in the BIN format.
//
//   check FILE        the module's checks (structure, checksums, "ECEC", file type)
//                     and the imaging tool's (every record inside the image, the
//                     image fits a flash slot); exit 0 valid, 1 invalid
//   make ...          builds a valid image from raw data files
//   flatten FILE OUT  the flat image a flash slot receives, and its MD5
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app.h"
#include "output_file.h"
#include "sim/file_digest.h"
#include "sim/kernel_image.h"
#include "sim/output_file.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

void RunCheck(const std::string& file, CommandContext& ctx) {
    sim::CommandFiles().Input("FILE", file);
    const sim::KernelImageReport report = sim::CheckKernelImageFile(file);
    if (!report.moduleFault.empty()) {
        std::cout << "invalid: " << report.moduleFault << "\n";
        ctx.exitCode = kExitFailed;
        return;
    }
    if (!report.imagingFault.empty()) {
        std::cout << "invalid: the module accepts it, the imaging tool refuses it: "
                  << report.imagingFault << "\n";
        ctx.exitCode = kExitFailed;
        return;
    }
    const sim::KernelImageLayout& layout = report.layout;
    std::cout << "valid: " << layout.signature << "000FF image, start " << sim::Hex32(layout.start)
              << ", length " << layout.length << " bytes, " << report.check.records
              << " record(s), end record at offset " << layout.endRecordOffset << "\n";
    ctx.exitCode = kExitOk;
}

// The image length field of a built image.
uint32_t ImageLength(const std::vector<uint8_t>& image) {
    return uint32_t(image[11]) | (uint32_t(image[12]) << 8) | (uint32_t(image[13]) << 16) |
           (uint32_t(image[14]) << 24);
}

struct MakeArgs {
    std::string out;
    std::string start;
    std::string length;
    std::string signature = "B";
    std::vector<std::string> records;
    bool stampMarker = false;
    std::string endLength;
};

void RunMake(const MakeArgs& args, CommandContext& ctx) {
    sim::KernelImagePlan plan;
    if (args.signature != "B" && args.signature != "S") {
        throw UsageError("--signature: 'B' or 'S', not '" + args.signature + "'");
    }
    plan.signature = args.signature[0];
    plan.start = uint32_t(ParseUnsignedNumber("--start", args.start, 0xFFFFFFFFu));
    if (!args.length.empty()) {
        plan.length = uint32_t(ParseUnsignedNumber("--length", args.length, 0xFFFFFFFFu));
        if (plan.length == 0)
            throw UsageError("--length: an image length must not be 0");
    }
    if (!args.endLength.empty())
        plan.endRecordLength =
            uint32_t(ParseUnsignedNumber("--end-length", args.endLength, 0xFFFFFFFFu));
    plan.stampMarker = args.stampMarker;
    sim::CommandFiles files;
    for (const std::string& record : args.records) {
        const size_t eq = record.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == record.size()) {
            throw UsageError("--record: '" + record + "' is not ADDRESS=FILE");
        }
        sim::KernelImageSource source;
        source.address =
            uint32_t(ParseUnsignedNumber("--record address", record.substr(0, eq), 0xFFFFFFFFu));
        files.Input("--record", record.substr(eq + 1));
        source.data = ReadInputFile(record.substr(eq + 1));
        plan.records.push_back(std::move(source));
    }
    files.Output("-o", args.out);
    std::vector<uint8_t> image;
    try {
        image = sim::BuildKernelImage(plan);
    } catch (const sim::KernelImageError& e) {
        throw UsageError(std::string("nkbin make: ") + e.what());
    }
    sim::WriteOutputFile(args.out, image);
    std::cout << "wrote " << args.out << ": " << image.size() << " bytes, start "
              << sim::Hex32(plan.start) << ", length " << ImageLength(image) << ", "
              << plan.records.size() << " record(s)\n";
    ctx.exitCode = kExitOk;
}

struct FlattenArgs {
    std::string file;
    std::string out;
    std::string digestFile;
};

void RunFlatten(const FlattenArgs& args, CommandContext& ctx) {
    sim::CommandFiles files;
    files.Input("FILE", args.file);
    files.Output("OUT", args.out);
    if (!args.digestFile.empty())
        files.Output("--digest-file", args.digestFile);
    sim::KernelImageReport report = sim::CheckKernelImageFile(args.file, true);
    if (!report.imagingFault.empty()) {
        std::cerr << "fwsetup: " << args.file << ": " << report.imagingFault << "\n";
        ctx.exitCode = kExitFailed;
        return;
    }
    std::ifstream image(args.file, std::ios::binary);
    sim::OutputFile flat(args.out);
    sim::FlattenKernelImage(image, report.layout, flat.Stream());
    flat.Stream().seekg(0);
    const std::string digest = sim::StreamMd5Hex(flat.Stream(), "the flat image");
    flat.Commit();
    if (!args.digestFile.empty())
        sim::WriteOutputFile(args.digestFile, digest);
    std::cout << args.out << ": " << report.layout.length << " bytes, md5 " << digest << "\n";
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddNkbinCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* nkbin = app.add_subcommand("nkbin", "Kernel images in the BIN format");
    nkbin->require_subcommand(1);
    nkbin->footer(
        "check applies the module's checks and, from the same single read, the imaging tool's "
        "rules too: every record inside the image and the image no longer than the simulated "
        "flash slot (256 MiB). make refuses an image that check would reject.");

    auto checkFile = std::make_shared<std::string>();
    CLI::App* check = nkbin->add_subcommand(
        "check",
        "Would the module and the imaging tool accept FILE? The module's checks (structure, "
        "checksums, \"ECEC\", file type) and the imaging tool's rules (every record inside the "
        "image, at most 256 MiB for the flash slot), in one read. Exit 0 valid, 1 invalid");
    check->add_option("FILE", *checkFile, "the kernel image")->required();
    check->callback([checkFile, &ctx] { RunCheck(*checkFile, ctx); });

    auto make = std::make_shared<MakeArgs>();
    CLI::App* makeCmd = nkbin->add_subcommand(
        "make",
        "Build a valid image from raw data files. The first record's bytes 16..19 must be "
        "\"ECEC\" (file offset 43), or use --stamp-marker");
    makeCmd->add_option("-o,--output", make->out, "the image file to write")->required();
    makeCmd
        ->add_option("--start", make->start,
                     "image start address (decimal or 0x hex; lowest byte 0)")
        ->required();
    makeCmd
        ->add_option("--record", make->records,
                     "ADDRESS=FILE: a record holding FILE's bytes at ADDRESS; repeat for more, "
                     "written in the order given")
        ->required();
    makeCmd->add_option("--length", make->length,
                        "image length in bytes (default: up to the end of the furthest record)");
    makeCmd->add_option("--signature", make->signature, "B (\"B000FF\\n\", default) or S");
    makeCmd->add_flag("--stamp-marker", make->stampMarker,
                      "write \"ECEC\" over bytes 16..19 of the first record's data");
    makeCmd->add_option("--end-length", make->endLength,
                        "the end record's length field (ignored by readers; default 0)");
    makeCmd->callback([make, &ctx] { RunMake(*make, ctx); });

    auto flatten = std::make_shared<FlattenArgs>();
    CLI::App* flattenCmd = nkbin->add_subcommand(
        "flatten",
        "Write the flat image a flash slot receives (records at address - start, 0xFF "
        "elsewhere) and print its MD5");
    flattenCmd->add_option("FILE", flatten->file, "the kernel image")->required();
    flattenCmd->add_option("OUT", flatten->out, "the flat image to write")->required();
    flattenCmd->add_option("--digest-file", flatten->digestFile,
                           "also write the flat image's MD5 (32 hex digits) there, e.g. as the "
                           "package's boot/NK.nb0.md5");
    flattenCmd->callback([flatten, &ctx] { RunFlatten(*flatten, ctx); });
}

}  // namespace fwsetup
