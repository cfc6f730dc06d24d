// fwsetup eeprom: look at and change a simulated printer's main-board EEPROM
// through the module's own EEPROM handler over the simulated driver.
//
// Host files cross into the device through a staging file in the device's root
// folder, because the handler reads and writes device paths.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

#include "app.h"
#include "eeprom/eeprom_layout.h"
#include "eeprom/eeprom_reader.h"
#include "eeprom/wec_eeprom_handler.h"
#include "fileutil/crc16.h"
#include "output_file.h"
#include "platform/host/device_root.h"
#include "platform/host/safe_files.h"
#include "sim/device.h"
#include "sim/device_files.h"
#include "sim/output_file.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

struct EepromArgs {
    std::string device;
    std::string index;
    std::string file;
    std::string boardId;
};

int ParseIndex(const std::string& text) {
    return static_cast<int>(
        ParseUnsignedNumber("region index", text, EEPromLayout::kDirectoryEntryCount - 1));
}

// FILE as an input, or as an output that must not be one of the device's own files.
void CheckInputFile(const EepromArgs& args) {
    sim::CommandFiles(args.device).Input("FILE", args.file);
}
void CheckOutputFile(const EepromArgs& args) {
    sim::CommandFiles(args.device).Output("FILE", args.file);
}

WString Wide(const std::string& text) {
    WString wide;
    if (!platform::host::Utf8ToUtf16(text, wide))
        throw UsageError("'" + text + "' is not UTF-8");
    return wide;
}

// A new file of its own in the device's root folder that carries a host file to
// the handler or back; removed when the scope ends. It never follows a link or
// writes into anything that was planted at its name (see sim/device_files.h).
class StagingFile {
  public:
    explicit StagingFile(const fs::path& device)
        : file_(device, "fwsetup-eeprom-" + std::to_string(getpid()) + "-") {}

    WString DevicePath() const { return file_.DevicePath(); }
    void TakeFrom(const std::string& hostFile) const {
        const std::vector<uint8_t> bytes = ReadInputFile(hostFile);
        file_.Write(std::string(bytes.begin(), bytes.end()));
    }
    // False when what the handler left there cannot be read; the copy to
    // hostFile is put in place whole.
    bool GiveTo(const std::string& hostFile) const {
        std::string bytes;
        try {
            bytes = file_.Read();
        } catch (const std::exception&) {
            return false;
        }
        sim::WriteOutputFile(hostFile, bytes);
        return true;
    }

  private:
    sim::DeviceStagingFile file_;
};

void Fail(CommandContext& ctx, const std::string& message) {
    std::cerr << "fwsetup: eeprom: " << message << "\n";
    ctx.exitCode = kExitFailed;
}

// The handler over the device, or a failure report when the EEPROM cannot be opened.
std::unique_ptr<WecEEPromHandler> OpenHandler(CommandContext& ctx) {
    std::unique_ptr<WecEEPromHandler> handler(new WecEEPromHandler());
    if (!handler->IsOpen()) {
        Fail(ctx, "the EEPROM device EPM1: does not open (is \\boot\\EEPromUtilDriver.dll there?)");
        return nullptr;
    }
    return handler;
}

std::string Hex(unsigned value, int width) {
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(width) << std::setfill('0') << value;
    return text.str();
}

void PrintEntry(const EEPromDirectoryEntry& entry, std::ostream& out) {
    out << "offset " << entry.offset << " (" << Hex(entry.offset, 4) << "), length " << entry.length
        << " (" << Hex(entry.length, 4) << ")";
}

// The directory entries of a header block.
std::vector<EEPromDirectoryEntry> DirectoryOf(const uint8_t* header) {
    std::vector<EEPromDirectoryEntry> entries;
    for (uint32_t i = 0; i < EEPromLayout::kDirectoryEntryCount; ++i) {
        const uint8_t* raw =
            &header[EEPromLayout::kDirectoryOffset + i * EEPromLayout::kDirectoryEntrySize];
        entries.push_back(EEPromDirectoryEntry(static_cast<uint16_t>(raw[0] | (raw[1] << 8)),
                                               static_cast<uint16_t>(raw[2] | (raw[3] << 8))));
    }
    return entries;
}

void RunShow(const EepromArgs& args, CommandContext& ctx) {
    const fs::path device = UseDevice(args.device);
    // The header as it was before any handler opened the EEPROM: opening one
    // repairs a missing directory entry 0 and may write the repair.
    std::string before;
    const bool readBefore =
        platform::host::ReadFileBelow(device.string(), "hw/eeprom.bin", EEPromLayout::kSize,
                                      before) == platform::host::kFileRead &&
        before.size() >= EEPromLayout::kHeaderSize;
    const uint16_t boardId = EEPromReader::ReadBoardId();
    std::unique_ptr<WecEEPromHandler> handler = OpenHandler(ctx);
    if (!handler)
        return;
    const ByteVector header = handler->Read(0, EEPromLayout::kHeaderSize);
    if (header.size() != EEPromLayout::kHeaderSize) {
        Fail(ctx, "the EEPROM header cannot be read (hw/eeprom.bin missing or short)");
        return;
    }
    std::cout << "header:\n";
    for (size_t row = 0; row < header.size(); row += 16) {
        std::cout << "  " << std::setw(2) << std::setfill(' ') << row << ":";
        for (size_t i = row; i < row + 16; ++i)
            std::cout << " " << Hex(header[i], 2).substr(2);
        std::cout << "\n";
    }
    const uint8_t marker = header[EEPromLayout::kFormatMarkerPosition];
    std::cout << "format marker: " << Hex(marker, 2)
              << (marker == EEPromLayout::kFormatMarker ? " (formatted)" : " (not formatted)")
              << "\n";
    std::cout << "board id: ";
    if (boardId == EEPromReader::kUnreadableBoardId)
        std::cout << boardId << " (0xffff: unreadable or blank)\n";
    else
        std::cout << boardId << " (" << Hex(boardId, 4) << ")\n";
    const uint8_t flag = header[EEPromLayout::kFlagPosition];
    std::cout << "flag: " << Hex(flag, 2)
              << (flag == EEPromLayout::kFlagSet     ? " (set)"
                  : flag == EEPromLayout::kFlagClear ? " (clear)"
                                                     : "")
              << "\n";

    // The directory as stored, and as the handler uses it after its repair.
    const std::vector<EEPromDirectoryEntry>& inUse = handler->Directory();
    const std::vector<EEPromDirectoryEntry> stored = DirectoryOf(header.data());
    std::cout << "directory:\n";
    for (size_t i = 0; i < stored.size(); ++i) {
        std::cout << "  " << i << ": ";
        PrintEntry(stored[i], std::cout);
        std::cout << (stored[i].IsPresent() ? "" : ", absent");
        if (i < inUse.size() &&
            (inUse[i].offset != stored[i].offset || inUse[i].length != stored[i].length)) {
            std::cout << "; the handler assumes ";
            PrintEntry(inUse[i], std::cout);
            std::cout << " (not stored)";
        }
        std::cout << "\n";
    }
    if (readBefore) {
        const std::vector<EEPromDirectoryEntry> found =
            DirectoryOf(reinterpret_cast<const uint8_t*>(before.data()));
        for (size_t i = 0; i < found.size(); ++i) {
            if (found[i].offset == stored[i].offset && found[i].length == stored[i].length)
                continue;
            std::cout << "  repaired: the handler found entry " << i << " ";
            PrintEntry(found[i], std::cout);
            std::cout << (found[i].IsPresent() ? "" : " (absent)")
                      << " when it opened the EEPROM and wrote ";
            PrintEntry(stored[i], std::cout);
            std::cout << " in its place\n";
        }
    }
    std::cout << "regions:\n";
    bool any = false;
    for (size_t i = 0; i < stored.size(); ++i) {
        if (!stored[i].IsPresent())
            continue;
        any = true;
        std::cout << "  region " << i << ": ";
        const ByteVector region = handler->Read(stored[i].offset, stored[i].length);
        if (region.size() != stored[i].length) {
            std::cout << "length " << stored[i].length << " at offset " << stored[i].offset
                      << ": unreadable (outside the EEPROM or cut short)\n";
            continue;
        }
        if (region.size() < EEPromLayout::kCrcSize) {
            std::cout << "length " << region.size() << ": too short for its CRC\n";
            continue;
        }
        const uint16_t crc = static_cast<uint16_t>(region[0] | (region[1] << 8));
        const uint16_t computed = Crc16::Compute(region.data() + EEPromLayout::kCrcSize,
                                                 region.size() - EEPromLayout::kCrcSize);
        std::cout << "length " << region.size() << " (payload "
                  << region.size() - EEPromLayout::kCrcSize << " bytes), CRC " << Hex(crc, 4)
                  << (crc == computed ? " ok" : " BAD (payload gives " + Hex(computed, 4) + ")")
                  << "\n";
    }
    if (!any)
        std::cout << "  none stored\n";
}

void RunSetBoardId(const EepromArgs& args, CommandContext& ctx) {
    const uint64_t id = ParseUnsignedNumber("board id", args.boardId, 0xFFFF);
    UseDevice(args.device);
    std::unique_ptr<WecEEPromHandler> handler = OpenHandler(ctx);
    if (!handler)
        return;
    if (!handler->WriteHeaderWord(static_cast<int>(EEPromLayout::kBoardIdPosition),
                                  Wide(std::to_string(id)), 10))
        return Fail(ctx, "cannot write the board id");
    std::cout << "board id set to " << id << "\n";
}

void RunWriteRegion(const EepromArgs& args, CommandContext& ctx) {
    const int index = ParseIndex(args.index);
    CheckInputFile(args);
    const fs::path device = UseDevice(args.device);
    std::error_code ec;
    const uintmax_t size = fs::file_size(args.file, ec);
    if (ec || size > EEPromLayout::kMaxPayload)
        throw UsageError("'" + args.file + "' is too large for a region (at most " +
                         std::to_string(EEPromLayout::kMaxPayload) + " bytes)");
    std::unique_ptr<WecEEPromHandler> handler = OpenHandler(ctx);
    if (!handler)
        return;
    StagingFile staging(device);
    staging.TakeFrom(args.file);
    if (!handler->WriteRegionFromFile(index, staging.DevicePath()))
        return Fail(ctx, "cannot write region " + std::to_string(index) +
                             " (no room before the end of the EEPROM, or the device failed)");
    std::cout << "region " << index << " written: " << size << " bytes of payload\n";
}

void RunReadRegion(const EepromArgs& args, CommandContext& ctx) {
    const int index = ParseIndex(args.index);
    CheckOutputFile(args);
    const fs::path device = UseDevice(args.device);
    std::unique_ptr<WecEEPromHandler> handler = OpenHandler(ctx);
    if (!handler)
        return;
    StagingFile staging(device);
    if (!handler->ReadRegionToFile(index, staging.DevicePath()))
        return Fail(ctx, "region " + std::to_string(index) + " is absent or cannot be read");
    if (!staging.GiveTo(args.file))
        return Fail(ctx, "cannot write '" + args.file + "'");
    std::cout << "region " << index << " (CRC bytes first, then the payload) written to "
              << args.file << "\n";
}

void RunVerifyRegion(const EepromArgs& args, CommandContext& ctx) {
    const int index = ParseIndex(args.index);
    CheckInputFile(args);
    const fs::path device = UseDevice(args.device);
    std::unique_ptr<WecEEPromHandler> handler = OpenHandler(ctx);
    if (!handler)
        return;
    StagingFile staging(device);
    staging.TakeFrom(args.file);
    if (!handler->VerifyRegion(index, staging.DevicePath()))
        return Fail(ctx, "region " + std::to_string(index) + " does not hold '" + args.file + "'");
    std::cout << "region " << index << " holds " << args.file << "\n";
}

void RunFormat(const EepromArgs& args, CommandContext& ctx) {
    UseDevice(args.device);
    std::unique_ptr<WecEEPromHandler> handler = OpenHandler(ctx);
    if (!handler)
        return;
    if (!handler->Format())
        return Fail(ctx, "cannot format the EEPROM");
    std::cout << "EEPROM formatted\n";
}

void RunDumpHeader(const EepromArgs& args, CommandContext& ctx) {
    CheckOutputFile(args);
    const fs::path device = UseDevice(args.device);
    std::unique_ptr<WecEEPromHandler> handler = OpenHandler(ctx);
    if (!handler)
        return;
    StagingFile staging(device);
    if (!handler->DumpHeader(staging.DevicePath()))
        return Fail(ctx, "cannot read the EEPROM header");
    if (!staging.GiveTo(args.file))
        return Fail(ctx, "cannot write '" + args.file + "'");
    std::cout << "header (64 bytes) written to " << args.file << "\n";
}

typedef void (*EepromRunner)(const EepromArgs& args, CommandContext& ctx);

// One row per subcommand: name, summary, its positional arguments, handler.
struct EepromCommand {
    const char* name;
    const char* summary;
    bool index;
    bool file;
    bool boardId;
    EepromRunner run;
};

const EepromCommand kEepromCommands[] = {
    {"show", "Print the header, board id, directory and each region with its CRC check", false,
     false, false, RunShow},
    {"set-board-id", "Write board id N (0..65535) into the header", false, false, true,
     RunSetBoardId},
    {"write-region", "Store FILE as region I (0..2) behind its CRC", true, true, false,
     RunWriteRegion},
    {"read-region", "Copy region I, CRC bytes first, to FILE", true, true, false, RunReadRegion},
    {"verify-region", "Exit 0 when region I's payload equals FILE", true, true, false,
     RunVerifyRegion},
    {"format", "Erase the EEPROM and write the format marker", false, false, false, RunFormat},
    {"dump-header", "Copy the 64-byte header block to FILE", false, true, false, RunDumpHeader},
};

}  // namespace

void AddEepromCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* eeprom = app.add_subcommand(
        "eeprom", "A simulated printer's main-board EEPROM, through the module's EEPROM handler");
    eeprom->require_subcommand(1);
    auto args = std::make_shared<EepromArgs>();
    eeprom->add_option("--device", args->device, "the simulated printer (device folder)")
        ->required();
    for (const EepromCommand& command : kEepromCommands) {
        CLI::App* sub = eeprom->add_subcommand(command.name, command.summary);
        sub->fallthrough();
        if (command.boardId)
            sub->add_option("N", args->boardId, "board id, decimal or 0x hex")->required();
        if (command.index)
            sub->add_option("I", args->index, "region index 0, 1 or 2")->required();
        if (command.file)
            sub->add_option("FILE", args->file, "a file of this machine")->required();
        const EepromRunner run = command.run;
        sub->callback([args, run, &ctx] {
            ctx.exitCode = kExitOk;
            run(*args, ctx);
        });
    }
}

}  // namespace fwsetup
