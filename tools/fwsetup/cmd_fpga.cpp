// fwsetup fpga: the FPGA package's algorithm and data files.
//
//   asm IN.txt OUT        an algorithm file from its text form
//   disasm FILE           the text form of an algorithm file, with offsets
//   data make ... OUT     a data file with one or several datasets
//   data dump FILE        what a data file holds and delivers
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app.h"
#include "fpga/fpga_format.h"
#include "output_file.h"
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
}

}  // namespace fwsetup
