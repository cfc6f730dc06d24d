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
#include "fileutil/file_type.h"
#include "kernel/kernel_image_check.h"
#include "sim/file_digest.h"
#include "sim/kernel_image.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

// A host file as the module's Stream, read-only, with the module's read results.
class HostFileStream : public Stream {
  public:
    explicit HostFileStream(const fs::path& path) : in_(path, std::ios::binary) {}
    bool IsOpen() const { return in_.is_open(); }
    int Read(uint8_t* buffer, uint32_t count) override {
        in_.read(reinterpret_cast<char*>(buffer), std::streamsize(count));
        const int read = int(in_.gcount());
        if (in_.eof())
            return read == 0 && !in_.bad() ? kStreamEndOfFile : read;
        if (in_.fail() || in_.bad())
            return kStreamFailed;
        return read;
    }
    using Stream::Write;
    int Write(const uint8_t*, uint32_t) override { return kStreamNotWritable; }
    void Close() override { in_.close(); }

  private:
    std::ifstream in_;
};

void RequireFile(const std::string& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        throw UsageError("no file '" + file + "'");
}

// Decimal or 0x hexadecimal, 0..0xFFFFFFFF.
uint32_t ParseU32(const std::string& text, const std::string& what) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const std::string allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > (hex ? 8u : 10u) ||
        digits.find_first_not_of(allowed) != std::string::npos) {
        throw UsageError(what + ": '" + text + "' is not a 32-bit number");
    }
    const unsigned long long value = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (value > 0xFFFFFFFFull)
        throw UsageError(what + ": '" + text + "' is beyond 32 bits");
    return uint32_t(value);
}

std::string RecordText(const KernelImageCheck& check) {
    return "record " + std::to_string(check.recordIndex) + " (header at offset " +
           std::to_string(check.recordOffset) + ", address " + sim::Hex32(check.recordAddress) +
           ", length " + std::to_string(check.recordLength) + ")";
}

// The module's verdict: empty when valid, else why not.
std::string ModuleVerdict(const fs::path& file) {
    KernelImageCheck check;
    {
        HostFileStream stream(file);
        if (!stream.IsOpen())
            return KernelImageFaultText(kKernelImageUnreadable);
        if (!CheckKernelImageStructure(stream, check)) {
            switch (check.fault) {
                case kKernelImageRecordHeaderShort:
                    return "the file ends at offset " + std::to_string(check.recordOffset) +
                           " before record " + std::to_string(check.recordIndex) +
                           "'s complete header (no end record)";
                case kKernelImageRecordDataShort:
                    return RecordText(check) + ": " + KernelImageFaultText(check.fault);
                case kKernelImageChecksumMismatch:
                    return RecordText(check) + ": checksum mismatch (stored " +
                           sim::Hex32(check.recordChecksum) + ", computed " +
                           sim::Hex32(check.recordSum) + ")";
                case kKernelImageRangeOverflow:
                    return "image start " + sim::Hex32(check.start) + " + length " +
                           sim::Hex32(check.length) + " overflows 32 bits";
                default:
                    return KernelImageFaultText(check.fault);
            }
        }
    }
    std::ifstream in(file, std::ios::binary);
    uint8_t head[kKernelImageMarkerOffset + 4] = {};
    in.read(reinterpret_cast<char*>(head), sizeof(head));
    const int read = int(in.gcount());
    KernelImageCheck marker;
    if (!CheckKernelImageMarker(head + kKernelImageMarkerOffset,
                                read - int(kKernelImageMarkerOffset), marker)) {
        return KernelImageFaultText(marker.fault);
    }
    if (FileTypeOfHeader(head, uint32_t(read)) != u"bin") {
        return KernelImageFaultText(kKernelImageTypeWrong);
    }
    return std::string();
}

void RunCheck(const std::string& file, CommandContext& ctx) {
    RequireFile(file);
    const std::string moduleFault = ModuleVerdict(file);
    if (!moduleFault.empty()) {
        std::cout << "invalid: " << moduleFault << "\n";
        ctx.exitCode = kExitFailed;
        return;
    }
    sim::KernelImageLayout layout;
    try {
        layout = sim::ReadKernelImageLayout(file);
        sim::CheckRecordsInsideImage(layout);
    } catch (const sim::KernelImageError& e) {
        std::cout << "invalid: the module accepts it, the imaging tool refuses it: " << e.what()
                  << "\n";
        ctx.exitCode = kExitFailed;
        return;
    }
    std::cout << "valid: " << layout.signature << "000FF image, start " << sim::Hex32(layout.start)
              << ", length " << layout.length << " bytes, " << layout.records.size()
              << " record(s), end record at offset " << layout.endRecordOffset << "\n";
    ctx.exitCode = kExitOk;
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

std::vector<uint8_t> ReadData(const std::string& file) {
    RequireFile(file);
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (in.bad())
        throw UsageError("cannot read '" + file + "'");
    return data;
}

void RunMake(const MakeArgs& args, CommandContext& ctx) {
    sim::KernelImagePlan plan;
    if (args.signature != "B" && args.signature != "S") {
        throw UsageError("--signature: 'B' or 'S', not '" + args.signature + "'");
    }
    plan.signature = args.signature[0];
    plan.start = ParseU32(args.start, "--start");
    if (!args.length.empty()) {
        plan.length = ParseU32(args.length, "--length");
        if (plan.length == 0)
            throw UsageError("--length: an image length must not be 0");
    }
    if (!args.endLength.empty())
        plan.endRecordLength = ParseU32(args.endLength, "--end-length");
    plan.stampMarker = args.stampMarker;
    for (const std::string& record : args.records) {
        const size_t eq = record.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == record.size()) {
            throw UsageError("--record: '" + record + "' is not ADDRESS=FILE");
        }
        sim::KernelImageSource source;
        source.address = ParseU32(record.substr(0, eq), "--record address");
        source.data = ReadData(record.substr(eq + 1));
        plan.records.push_back(std::move(source));
    }
    std::vector<uint8_t> image;
    try {
        image = sim::BuildKernelImage(plan);
    } catch (const sim::KernelImageError& e) {
        throw UsageError(std::string("nkbin make: ") + e.what());
    }
    std::ofstream out(args.out, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    out.close();
    if (!out)
        throw UsageError("cannot write '" + args.out + "'");
    const sim::KernelImageLayout layout = sim::ReadKernelImageLayout(args.out);
    std::cout << "wrote " << args.out << ": " << image.size() << " bytes, start "
              << sim::Hex32(layout.start) << ", length " << layout.length << ", "
              << layout.records.size() << " record(s)\n";
    ctx.exitCode = kExitOk;
}

struct FlattenArgs {
    std::string file;
    std::string out;
    std::string digestFile;
};

void RunFlatten(const FlattenArgs& args, CommandContext& ctx) {
    RequireFile(args.file);
    std::error_code ec;
    if (fs::is_directory(args.out, ec))
        throw UsageError("OUT '" + args.out + "' is a folder");
    if (fs::equivalent(args.file, args.out, ec))
        throw UsageError("OUT '" + args.out + "' is the image itself");
    std::string digest;
    // OUT is removed on failure only once it has been started.
    bool writing = false;
    try {
        const sim::KernelImageLayout layout = sim::ReadKernelImageLayout(args.file);
        sim::CheckRecordsInsideImage(layout);
        writing = true;
        sim::FlattenKernelImage(args.file, layout, args.out);
        digest = sim::FileMd5Hex(args.out);
    } catch (const sim::KernelImageError& e) {
        if (writing)
            fs::remove(args.out, ec);
        std::cerr << "fwsetup: " << args.file << ": " << e.what() << "\n";
        ctx.exitCode = kExitFailed;
        return;
    } catch (const std::runtime_error& e) {
        if (writing)
            fs::remove(args.out, ec);
        throw UsageError(e.what());
    }
    if (!args.digestFile.empty()) {
        std::ofstream sidecar(args.digestFile, std::ios::binary | std::ios::trunc);
        sidecar << digest;
        sidecar.close();
        if (!sidecar)
            throw UsageError("cannot write '" + args.digestFile + "'");
    }
    std::cout << args.out << ": " << fs::file_size(args.out, ec) << " bytes, md5 " << digest
              << "\n";
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddNkbinCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* nkbin = app.add_subcommand("nkbin", "Kernel images in the BIN format");
    nkbin->require_subcommand(1);

    auto checkFile = std::make_shared<std::string>();
    CLI::App* check = nkbin->add_subcommand(
        "check", "Would the module and the imaging tool accept FILE? Exit 0 valid, 1 invalid");
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
