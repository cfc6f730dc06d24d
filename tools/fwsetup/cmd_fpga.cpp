// fwsetup fpga: the FPGA package's algorithm and data files.
//
//   asm IN.txt OUT        an algorithm file from its text form
//   disasm FILE           the text form of an algorithm file, with offsets
//   data make ... OUT     a data file with one or several datasets
//   data dump FILE        what a data file holds and delivers
//   run --device D ALGO DATA   the module's engine on a printer, as the FPGA package runs it
//   status --device D     the simulated FPGA's state
#include <fcntl.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app.h"
#include "fileutil/file_operation.h"
#include "fpga/fpga_engine.h"
#include "fpga/fpga_format.h"
#include "output_file.h"
#include "platform/host/device_root.h"
#include "platform/host/safe_files.h"
#include "sim/devices/fpga.h"
#include "sim/devices/reference_fpga.h"
#include "sim/fpga_algorithm_text.h"
#include "sim/fpga_data_file.h"

namespace fwsetup {
namespace {

namespace fs = std::filesystem;

const char kAlgorithmTextHelp[] =
    R"(The text form: one item per line; '#' starts a remark. Numbers are decimal
or 0x hexadecimal, bytes hexadecimal pairs ("3c 00" or "3c00"). A leading
offset label ("00001f:") is ignored. Texts are in quotes, with \\ \" \n \t \r \xNN.

Header, in this order:
  comment "TEXT"            none or several, before the id
  id 0x01020304
  version 4 0 0
  buffer_size N
  nesting N                 (the engine takes at most 3)
  mask_size N
  channel N
  compression N [tag 0xa0]  (tag 0xa9 unless told)
  checksum auto | 0xHHHH    auto: low 16 bits of the sum of every byte before it
  begin

Stream, one opcode per line:
  start_transaction | end_transaction
  transmit BITS inline HEX...    the BITS/8 (rounded up) bytes
  transmit BITS dataset          the next bytes of dataset 0x27
  receive BITS
  mask HEX...                    one byte per byte of the current transfer
  inline_data [HEX...]           after receive: the expected bytes; after transmit: none
  dataset_data | checked_dataset_data | reset_data
  run_clock N | nop_count N | wait MS
  repeat N ... end_repeat | loop N ... end_loop
  end_of_algorithm
  comment "TEXT"
  bytes HEX...                   raw bytes, unchecked
A count may be written as its exact encoding in brackets: [88 00].
What the engine would refuse or read differently is refused with its line.)";

const char kDatasetHelp[] =
    R"(SOURCE is FILE[,block=N][,type=T]: the dataset's bytes are FILE's. Without
block= they are stored plain; with it they are stored compressed, one block per
N bytes (the size of the transfers the algorithm takes them in; the last block
holds what is left), each block of type T: 0 plain, 1 runs of 0xff, 2 runs of
0x00, or auto (default: the smallest of the three, block by block).
ID is 1..255, decimal or 0x hexadecimal (the engine asks for 0x04 and 0x27).)";

void RunAsm(const std::string& in, const std::string& out, CommandContext& ctx) {
    const std::vector<uint8_t> text = ReadInputFile(in);
    CheckOutputFile(out, {in});
    std::vector<uint8_t> algorithm;
    try {
        algorithm = sim::AssembleFpgaAlgorithm(std::string(text.begin(), text.end()));
    } catch (const sim::FpgaTextError& e) {
        throw UsageError(in + ": " + e.what());
    }
    ReplaceOutputFile(out, algorithm);
    std::cout << out << ": " << algorithm.size() << " bytes\n";
    ctx.exitCode = kExitOk;
}

void RunDisasm(const std::string& file, CommandContext& ctx) {
    std::cout << sim::DisassembleFpgaAlgorithm(ReadInputFile(file));
    ctx.exitCode = kExitOk;
}

struct DataMakeArgs {
    std::string comment;
    bool hasComment = false;
    std::string single;
    std::vector<std::string> datasets;
    std::string out;
};

// FILE[,block=N][,type=T] into plan; the file named is added to inputs.
void ParseDatasetSource(const std::string& source, sim::FpgaDatasetPlan& plan,
                        std::vector<fs::path>& inputs) {
    std::string file = source;
    bool typeGiven = false;
    for (;;) {
        const size_t comma = file.rfind(',');
        if (comma == std::string::npos)
            break;
        const std::string option = file.substr(comma + 1);
        if (option.rfind("block=", 0) == 0) {
            plan.blockBytes = uint32_t(ParseUnsignedNumber("block", option.substr(6), 0xFFFFFFFFu));
            if (plan.blockBytes == 0)
                throw UsageError("'" + source + "': a block of 0 bytes");
        } else if (option.rfind("type=", 0) == 0) {
            const std::string type = option.substr(5);
            plan.blockType = type == "auto" ? sim::kFpgaBlockSmallest
                                            : int(ParseUnsignedNumber("type", type, 2));
            typeGiven = true;
        } else {
            break;
        }
        file.resize(comma);
    }
    if (typeGiven && plan.blockBytes == 0)
        throw UsageError("'" + source + "': type= needs block= (plain data has no blocks)");
    if (file.empty())
        throw UsageError("'" + source + "' names no file");
    plan.data = ReadInputFile(file);
    inputs.push_back(file);
}

void RunDataMake(const DataMakeArgs& args, CommandContext& ctx) {
    if (args.single.empty() == args.datasets.empty())
        throw UsageError("data make: give either --single or one or more --dataset");
    sim::FpgaDataPlan plan;
    plan.hasComment = args.hasComment;
    plan.comment = args.comment;
    std::vector<fs::path> inputs;
    if (!args.single.empty()) {
        plan.single = true;
        plan.datasets.resize(1);
        ParseDatasetSource(args.single, plan.datasets[0], inputs);
    } else {
        plan.single = false;
        for (const std::string& dataset : args.datasets) {
            const size_t eq = dataset.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError("--dataset: '" + dataset + "' is not ID=SOURCE");
            sim::FpgaDatasetPlan entry;
            entry.id = uint8_t(ParseUnsignedNumber("--dataset id", dataset.substr(0, eq), 255));
            ParseDatasetSource(dataset.substr(eq + 1), entry, inputs);
            plan.datasets.push_back(std::move(entry));
        }
    }
    CheckOutputFile(args.out, inputs);
    std::vector<uint8_t> file;
    try {
        file = sim::BuildFpgaDataFile(plan);
    } catch (const sim::FpgaDataError& e) {
        throw UsageError(std::string("data make: ") + e.what());
    }
    ReplaceOutputFile(args.out, file);
    std::cout << args.out << ": " << file.size() << " bytes, " << plan.datasets.size()
              << (plan.single ? " dataset (single)" : " dataset(s) in a table") << "\n";
    ctx.exitCode = kExitOk;
}

struct DataDumpArgs {
    std::string file;
    std::vector<std::string> blocks;
    bool hex = false;
};

void RunDataDump(const DataDumpArgs& args, CommandContext& ctx) {
    std::map<int, uint32_t> blocks;
    for (const std::string& block : args.blocks) {
        const size_t eq = block.find('=');
        const int id = eq == std::string::npos
                           ? -1
                           : int(ParseUnsignedNumber("--block id", block.substr(0, eq), 255));
        const std::string size = eq == std::string::npos ? block : block.substr(eq + 1);
        const uint32_t bytes = uint32_t(ParseUnsignedNumber("--block", size, 0xFFFFFFFFu));
        if (bytes == 0)
            throw UsageError("--block: a block of 0 bytes");
        blocks[id] = bytes;
    }
    bool valid = false;
    std::cout << sim::DumpFpgaDataFile(ReadInputFile(args.file), blocks, args.hex, valid);
    ctx.exitCode = valid ? kExitOk : kExitFailed;
}

// ---- fpga run ----------------------------------------------------------------

struct RunArgs {
    std::string device;
    std::string algorithm;
    std::string data;
};

// Where the FPGA package puts its files, and so where `fpga run` copies them.
const char kAlgorithmDevicePath[] = "\\UpgradeTemp\\algo.sea";
const char kDataDevicePath[] = "\\UpgradeTemp\\data.sed";

WString WideAscii(const std::string& text) {
    return WString(text.begin(), text.end());
}

// Writes bytes to a device path (its folders made as needed).
void CopyIntoDevice(const std::vector<uint8_t>& bytes, const std::string& devicePath) {
    platform::host::DeviceEntry entry;
    bool ok = platform::host::ResolveDevicePath(WideAscii(devicePath), entry, true) &&
              entry.folder.Valid();
    if (ok) {
        platform::host::UniqueFd file(platform::host::OpenFileAt(
            entry.folder.Get(), entry.name, O_WRONLY | O_CREAT | O_TRUNC, 0644));
        ok = file.Valid() && platform::host::WriteAllFd(
                                 file.Get(), bytes.empty() ? nullptr : &bytes[0], bytes.size());
    }
    if (!ok)
        throw UsageError("cannot copy into the device at " + devicePath);
}

const char* ResultMeaning(int result) {
    switch (result) {
        case kFpgaSuccess:
            return "the algorithm ran to its end";
        case kFpgaAlgorithmUnreadable:
            return "the algorithm file cannot be opened";
        case kFpgaDataError:
            return "the data file cannot be read or a data byte is missing";
        case kFpgaVersionUnsupported:
            return "the algorithm's version is not supported";
        case kFpgaChecksumMismatch:
            return "the algorithm header's checksum does not match";
        case kFpgaHardwareUnavailable:
            return "the FPGA link cannot be opened (FPGA-HARDWARE-CONFIG, SPI or GPIO driver)";
        case kFpgaHeaderError:
            return "the algorithm header is malformed or of another id";
        case kFpgaStreamError:
            return "the algorithm stream is malformed";
        case kFpgaResetFailed:
            return "the data could not be rewound";
        case kFpgaTransferFailed:
            return "a chip select or SPI transfer failed";
        case kFpgaLoopFailed:
            return "a loop did not succeed within its count";
        case kFpgaVerifyFailed:
            return "read-back data did not match";
        default:
            return "an unknown result";
    }
}

void RunFpgaRun(const RunArgs& args, CommandContext& ctx) {
    UseDevice(args.device);
    const std::vector<uint8_t> algorithm = ReadInputFile(args.algorithm);
    const bool named = !args.data.empty();
    const std::vector<uint8_t> data = named ? ReadInputFile(args.data) : std::vector<uint8_t>();

    int result = 0;
    {
        // The copies and the temporary configuration go whatever happens.
        struct Cleanup {
            bool named;
            ~Cleanup() {
                FileOperation::RemoveFileNarrow(kAlgorithmDevicePath);
                if (named)
                    FileOperation::RemoveFileNarrow(kDataDevicePath);
                FileOperation::RemoveFile(kFpgaTempPeripheralConfigPath);
            }
        } cleanup{named};
        CopyIntoDevice(algorithm, kAlgorithmDevicePath);
        if (named)
            CopyIntoDevice(data, kDataDevicePath);
        SetFpgaFiles(kAlgorithmDevicePath, named ? kDataDevicePath : "");
        result = RunAlgorithm(kFpgaAnyAlgorithmId);
    }
    std::cout << ResultMeaning(result) << "\n"
              << "result " << result << "\n";
    ctx.exitCode = result == kFpgaSuccess ? kExitOk : kExitFailed;
}

// ---- fpga status -------------------------------------------------------------

struct StatusArgs {
    std::string device;
    bool json = false;
};

// value in hexadecimal with digits digits.
std::string HexDigits(uint32_t value, int digits) {
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(digits) << std::setfill('0') << value;
    return text.str();
}

const char* WiringSourceName(sim::devices::FpgaWiringSource source) {
    switch (source) {
        case sim::devices::kWiringDefault:
            return "default";
        case sim::devices::kWiringFile:
            return "wiring.json";
        case sim::devices::kWiringBroken:
            return "broken";
    }
    return "";
}

const char* ModelName(sim::devices::FpgaModel model) {
    switch (model) {
        case sim::devices::kReferenceFpgaModel:
            return "reference";
        case sim::devices::kScriptFpgaModel:
            return "script";
        case sim::devices::kSilentFpgaModel:
            return "silent";
    }
    return "";
}

std::string StatusBits(uint8_t status) {
    static const struct {
        uint8_t bit;
        const char* name;
    } kBits[] = {{sim::devices::kFpgaStatusBusy, "BUSY"},
                 {sim::devices::kFpgaStatusEnabled, "ENABLED"},
                 {sim::devices::kFpgaStatusErased, "ERASED"},
                 {sim::devices::kFpgaStatusDone, "DONE"},
                 {sim::devices::kFpgaStatusError, "ERROR"}};
    std::string names;
    for (const auto& bit : kBits) {
        if (status & bit.bit)
            names += (names.empty() ? "" : " ") + std::string(bit.name);
    }
    return names.empty() ? "none" : names;
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

void PrintStatusJson(sim::devices::FpgaModel model, const std::string& modelText,
                     sim::devices::FpgaWiringSource wiringSource,
                     const sim::devices::FpgaWiring& wiring,
                     sim::devices::ReferenceFpgaStateSource stateSource,
                     const sim::devices::ReferenceFpgaState& state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    const std::string text = ValidUtf8(modelText);
    w.StartObject();
    w.Key("model");
    w.String(ModelName(model));
    w.Key("modelText");
    w.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    w.Key("wiring");
    w.StartObject();
    w.Key("source");
    w.String(WiringSourceName(wiringSource));
    w.Key("spiModule");
    w.Uint(wiring.spiModule);
    w.Key("chipSelectPin");
    w.Int(wiring.chipSelectPin);
    w.EndObject();
    w.Key("fresh");
    w.Bool(stateSource == sim::devices::kFpgaStateFresh);
    w.Key("id");
    w.Uint(sim::devices::kReferenceFpgaId);
    w.Key("status");
    w.Uint(sim::devices::ReferenceFpgaStatus(state));
    w.Key("enabled");
    w.Bool(state.enabled);
    w.Key("erased");
    w.Bool(state.erased);
    w.Key("busy");
    w.Bool(state.busyTicks > 0);
    w.Key("busyTicks");
    w.Uint(state.busyTicks);
    w.Key("done");
    w.Bool(state.done);
    w.Key("error");
    w.Bool(state.error);
    w.Key("address");
    w.Uint(state.address);
    w.Key("rowsProgrammed");
    w.Uint(state.rowsProgrammed);
    w.Key("imageRows");
    w.Uint(state.imageRows);
    w.Key("imageBytes");
    w.Uint(state.imageRows * sim::devices::kReferenceFpgaRowBytes);
    w.Key("usercode");
    w.Uint(state.usercode);
    w.Key("md5");
    w.String(state.md5.c_str(), static_cast<rapidjson::SizeType>(state.md5.size()));
    w.EndObject();
    std::cout << buffer.GetString() << "\n";
}

void PrintStatusText(sim::devices::FpgaModel model, const std::string& modelText,
                     sim::devices::FpgaWiringSource wiringSource,
                     const sim::devices::FpgaWiring& wiring,
                     sim::devices::ReferenceFpgaStateSource stateSource,
                     const sim::devices::ReferenceFpgaState& state) {
    std::cout << "model: " << ModelName(model);
    if (model == sim::devices::kSilentFpgaModel)
        std::cout << " (hw/fpga/model says '" << modelText << "': the FPGA never answers)";
    else if (model == sim::devices::kScriptFpgaModel)
        std::cout << " (answers from hw/fpga/rx; the reference state below is kept, not used)";
    std::cout << "\n";
    if (wiringSource == sim::devices::kWiringBroken) {
        std::cout << "wiring: hw/fpga/wiring.json is unusable: the FPGA is wired to nothing\n";
    } else {
        std::cout << "wiring: SPI" << wiring.spiModule + 1 << ": (module " << wiring.spiModule
                  << "), selected by GPIO pin " << wiring.chipSelectPin << " driven low"
                  << (wiringSource == sim::devices::kWiringDefault ? " (default)" : "") << "\n";
    }
    std::cout << "id: " << HexDigits(sim::devices::kReferenceFpgaId, 8) << "\n";
    if (state.done) {
        std::cout << "state: configured, running an image of " << state.imageRows << " rows ("
                  << state.imageRows * sim::devices::kReferenceFpgaRowBytes << " bytes), MD5 "
                  << state.md5 << "\n";
    } else {
        std::cout << "state: not configured"
                  << (stateSource == sim::devices::kFpgaStateFresh ? " (as from the factory)" : "")
                  << "\n";
    }
    const uint8_t status = sim::devices::ReferenceFpgaStatus(state);
    std::cout << "status: " << HexDigits(status, 2) << " (" << StatusBits(status) << ")\n"
              << "configuration mode: " << YesNo(state.enabled)
              << "; erased: " << YesNo(state.erased) << "; busy: " << YesNo(state.busyTicks > 0);
    if (state.busyTicks > 0)
        std::cout << " (" << state.busyTicks << " status reads)";
    std::cout << "; error: " << YesNo(state.error) << "\n"
              << "rows programmed since the erase: " << state.rowsProgrammed << " of "
              << sim::devices::kReferenceFpgaRows << "; row address " << state.address << "\n"
              << "user code: " << HexDigits(state.usercode, 8) << "\n";
}

void RunFpgaStatus(const StatusArgs& args, CommandContext& ctx) {
    const std::string device = UseDevice(args.device).string();
    sim::devices::ReferenceFpgaState state;
    const sim::devices::ReferenceFpgaStateSource stateSource =
        sim::devices::LoadReferenceFpgaState(device, state);
    if (stateSource == sim::devices::kFpgaStateBroken)
        throw UsageError("hw/fpga/state.json is not a state of the reference FPGA");
    sim::devices::FpgaWiring wiring;
    const sim::devices::FpgaWiringSource wiringSource =
        sim::devices::ReadFpgaWiring(device, wiring);
    std::string modelText;
    const sim::devices::FpgaModel model = sim::devices::ReadFpgaModel(device, modelText);
    if (args.json)
        PrintStatusJson(model, modelText, wiringSource, wiring, stateSource, state);
    else
        PrintStatusText(model, modelText, wiringSource, wiring, stateSource, state);
    ctx.exitCode = kExitOk;
}

}  // namespace

void AddFpgaCommands(CLI::App& app, CommandContext& ctx) {
    CLI::App* fpga =
        app.add_subcommand("fpga", "The FPGA package's algorithm (.sea) and data (.sed) files");
    fpga->require_subcommand(1);

    auto asmArgs = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* assemble = fpga->add_subcommand(
        "asm", "Write an algorithm file from its text form (the header checksum computed)");
    assemble->add_option("IN", asmArgs->first, "the text form")->required();
    assemble->add_option("OUT", asmArgs->second, "the algorithm file to write (replaced)")
        ->required();
    assemble->footer(kAlgorithmTextHelp);
    assemble->callback([asmArgs, &ctx] { RunAsm(asmArgs->first, asmArgs->second, ctx); });

    auto disasmFile = std::make_shared<std::string>();
    CLI::App* disassemble = fpga->add_subcommand(
        "disasm",
        "Print an algorithm file in the text form, each line with its offset and remarks on what "
        "the engine makes of it; `fpga asm` of the output gives the same bytes");
    disassemble->add_option("FILE", *disasmFile, "the algorithm file")->required();
    disassemble->footer(kAlgorithmTextHelp);
    disassemble->callback([disasmFile, &ctx] { RunDisasm(*disasmFile, ctx); });

    CLI::App* data = fpga->add_subcommand("data", "FPGA data files");
    data->require_subcommand(1);

    auto make = std::make_shared<DataMakeArgs>();
    CLI::App* makeCmd = data->add_subcommand(
        "make", "Write a data file: one anonymous dataset (--single) or a table of datasets");
    makeCmd->add_option("--single", make->single, "SOURCE: the file's one dataset");
    makeCmd->add_option("--dataset", make->datasets,
                        "ID=SOURCE: a dataset of the table, in the order given (at most 16)");
    makeCmd
        ->add_option_function<std::string>(
            "--comment",
            [make](const std::string& text) {
                make->hasComment = true;
                make->comment = text;
            },
            "a comment block at the start of the file")
        ->expected(1);
    makeCmd->add_option("OUT", make->out, "the data file to write (replaced)")->required();
    makeCmd->footer(kDatasetHelp);
    makeCmd->callback([make, &ctx] { RunDataMake(*make, ctx); });

    auto dump = std::make_shared<DataDumpArgs>();
    CLI::App* dumpCmd = data->add_subcommand(
        "dump",
        "Show a data file's comment, mode, table and, per dataset, the bytes it delivers (their "
        "MD5); exit 0 valid, 1 when the reader refuses it or a dataset does not decode");
    dumpCmd->add_option("FILE", dump->file, "the data file")->required();
    dumpCmd->add_option("--block", dump->blocks,
                        "N or ID=N: compressed data is decoded in blocks of N bytes (of every "
                        "dataset, or of dataset ID)");
    dumpCmd->add_flag("--hex", dump->hex, "also print the delivered bytes in hexadecimal");
    dumpCmd->callback([dump, &ctx] { RunDataDump(*dump, ctx); });

    auto run = std::make_shared<RunArgs>();
    CLI::App* runCmd = fpga->add_subcommand(
        "run",
        "Copy ALGO and DATA into the printer and run the module's FPGA engine on them as the FPGA "
        "package does (any algorithm id); prints `result N`, exit 0 for result 2, else 1");
    runCmd->add_option("--device", run->device, "the simulated printer")->required();
    runCmd->add_option("ALGO", run->algorithm, "the algorithm file (.sea)")->required();
    runCmd->add_option("DATA", run->data, "the data file (.sed); \"\" for none")->required();
    runCmd->callback([run, &ctx] { RunFpgaRun(*run, ctx); });

    auto status = std::make_shared<StatusArgs>();
    CLI::App* statusCmd = fpga->add_subcommand(
        "status", "The simulated FPGA's wiring and model, and the reference FPGA's state");
    statusCmd->add_option("--device", status->device, "the simulated printer")->required();
    statusCmd->add_flag("--json", status->json, "print one JSON document");
    statusCmd->callback([status, &ctx] { RunFpgaStatus(*status, ctx); });
}

}  // namespace fwsetup
