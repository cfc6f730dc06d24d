// Every command against arguments that are missing, empty, wrong, out of
// range, or that name the wrong kind of thing (a folder for a file, a missing
// file, a file below a file, a name too long for the host). Each one gives one
// line on stderr that says what is wrong, nothing on stdout that looks like a
// result (with --json: only the error document), and exit 2; and the folder
// with the inputs, the outputs and the printer is left exactly as it was.
//
// Tests run as root, so no file can be made unreadable by its permission
// bits; a file below a regular file, a folder where a file is wanted and a
// name longer than the host allows are the inputs that cannot be read whatever
// the user.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "run_fwsetup.h"
#include "support/host_files.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

// What one command line should say: args with the placeholders below, and a
// part of the one line on stderr.
struct BadInput {
    std::vector<std::string> args;
    const char* says;
};

// Placeholders, each replaced by a path of the workspace:
//   DEV a printer, NODEV a folder without fs/ and hw/, DIR an empty folder,
//   MISSING nothing there, UNDERFILE a name below a regular file, LONG a name
//   longer than the host's limit, TEXT a JSON file, REC 64 bytes, IMAGE a
//   kernel image, PAYLOAD a packed payload, SED an FPGA data file, PAY a
//   folder of files, PKG a package, MODULE a setup module, OUT a new file in
//   out/, OUTDIR out/ itself.
struct Workspace {
    fs::path root;

    std::string Path(const std::string& placeholder) const {
        static const std::map<std::string, std::string> kPlaces = {
            {"DEV", "printer"},
            {"NODEV", "dir"},
            {"DIR", "dir"},
            {"MISSING", "missing"},
            {"UNDERFILE", "in/text.json/below"},
            {"LONG", "in/" + std::string(300, 'n')},
            {"TEXT", "in/text.json"},
            {"REC", "in/record.bin"},
            {"IMAGE", "in/nk.bin"},
            {"PAYLOAD", "in/payload.lz4"},
            {"SED", "in/data.sed"},
            {"PAY", "pay"},
            {"PKG", "pkg"},
            {"OUT", "out/result"},
            {"OUTDIR", "out"},
        };
        const auto it = kPlaces.find(placeholder);
        return it == kPlaces.end() ? std::string() : (root / it->second).string();
    }

    // An argument with every placeholder in it replaced ("0x80200000=REC" too).
    std::string Expand(const std::string& arg) const {
        const size_t eq = arg.find('=');
        if (eq != std::string::npos && arg.compare(0, 2, "--") != 0) {
            const std::string value = Path(arg.substr(eq + 1));
            if (!value.empty())
                return arg.substr(0, eq + 1) + value;
        }
        const std::string path = Path(arg);
        return path.empty() ? arg : path;
    }
};

void Prepare(const Workspace& w, const fs::path& scratch) {
    fwtest::WriteHostFile(w.root / "in" / "text.json", "{\"text\": \"an input\"}");
    fwtest::WriteHostFile(w.root / "in" / "record.bin", std::string(64, 'R'));
    fwtest::WriteHostFile(w.root / "pay" / "boot" / "a.txt", "payload file");
    fs::create_directories(w.root / "dir");
    fs::create_directories(w.root / "out");
    const std::vector<std::vector<std::string>> steps = {
        {"device", "init", w.Path("DEV")},
        {"payload", "pack", w.Path("TEXT"), w.Path("PAYLOAD")},
        {"nkbin", "make", "-o", w.Path("IMAGE"), "--start", "0x80200000", "--stamp-marker",
         "--record", "0x80200000=" + w.Path("REC")},
        {"fpga", "data", "make", "--single", w.Path("REC"), w.Path("SED")},
        {"package", "make", "--layout", "QuorinpackageLayout", "--module",
         (fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so").string(), "--payload",
         w.Path("PAY"), "-o", w.Path("PKG")},
    };
    for (const std::vector<std::string>& step : steps) {
        const fwtest::ToolRun run = RunFwsetup(step, scratch);
        ASSERT_EQ(run.exitCode, 0) << step[0] << " " << step[1] << ": " << run.err;
    }
}

struct Group {
    const char* name;
    std::vector<BadInput> cases;
};

const Group kGroups[] = {
    {"TopLevel",
     {
         {{}, "a subcommand is needed"},
         {{""}, "a subcommand is needed"},
         {{"--frob"}, "a subcommand is needed"},
     }},
    {"Device",
     {
         {{"device"}, "a subcommand is needed"},
         {{"device", "init"}, "DEVICE is required"},
         {{"device", "init", ""}, "DEVICE must not be empty"},
         {{"device", "init", "DEV"}, "already holds a device"},
         {{"device", "init", "TEXT"}, "is not a folder"},
         {{"device", "init", "UNDERFILE"}, "Not a directory"},
         {{"device", "init", "OUTDIR/new", "--board-id", ""}, "--board-id must not be empty"},
         {{"device", "init", "OUTDIR/new", "--board-id", "-1"}, "not a number"},
         {{"device", "init", "OUTDIR/new", "--board-id", "65536"}, "out of range"},
         {{"device", "init", "OUTDIR/new", "--board-id", "1", "--board-id", "2"}, "--board-id"},
         {{"device", "init", "OUTDIR/new", "--region0"}, "--region0"},
         {{"device", "init", "OUTDIR/new", "--region0", ""}, "--region0 must not be empty"},
         {{"device", "init", "OUTDIR/new", "--region0", "MISSING"}, "--region0: no file"},
         {{"device", "init", "OUTDIR/new", "--region0", "DIR"}, "--region0: no file"},
         {{"device", "init", "OUTDIR/new", "--region0", "UNDERFILE"}, "--region0: no file"},
         {{"device", "init", "OUTDIR/new", "--no-eeprom", "--board-id", "3"}, "drop --no-eeprom"},
         {{"device", "init", "OUTDIR/new", "--no-region0", "--region0", "TEXT"}, "exclude"},
         {{"device", "init", "OUTDIR/new", "--frob"}, "--frob"},
     }},
    {"Install",
     {
         {{"install"}, "--device is required"},
         {{"install", "--device", "DEV"}, "PKG is required"},
         {{"install", "--device", "", "PKG"}, "--device must not be empty"},
         {{"install", "--device", "NODEV", "PKG"}, "no simulated printer"},
         {{"install", "--device", "MISSING", "PKG"}, "no simulated printer"},
         {{"install", "--device", "TEXT", "PKG"}, "no simulated printer"},
         {{"install", "--device", "DEV", ""}, "PKG must not be empty"},
         {{"install", "--device", "DEV", "MISSING"}, "no package"},
         {{"install", "--device", "DEV", "TEXT"}, "no package"},
         {{"install", "--device", "DEV", "DIR"}, "has no files/ folder"},
         {{"install", "--device", "DEV", "--module", "MISSING", "PKG"}, "no setup module"},
         {{"install", "--device", "DEV", "--module", "DIR", "PKG"}, "no setup module"},
         {{"install", "--device", "DEV", "--module", "TEXT", "PKG"}, "cannot load setup module"},
         {{"install", "--device", "DEV", "PKG", "PKG"}, "not expected"},
     }},
    {"Payload",
     {
         {{"payload"}, "a subcommand is needed"},
         {{"payload", "pack"}, "IN is required"},
         {{"payload", "pack", "TEXT"}, "OUT is required"},
         {{"payload", "pack", "", "OUT"}, "IN: no file given"},
         {{"payload", "pack", "TEXT", ""}, "OUT: no file given"},
         {{"payload", "pack", "MISSING", "OUT"}, "IN: no file"},
         {{"payload", "pack", "DIR", "OUT"}, "IN: '"},
         {{"payload", "pack", "UNDERFILE", "OUT"}, "IN: no file"},
         {{"payload", "pack", "LONG", "OUT"}, "IN: no file"},
         {{"payload", "pack", "TEXT", "OUTDIR/missing/x"}, "OUT: no folder"},
         {{"payload", "pack", "TEXT", "UNDERFILE"}, "OUT"},
         {{"payload", "pack", "TEXT", "LONG"}, "OUT"},
         {{"payload", "pack", "TEXT", "OUTDIR"}, "OUT"},
         {{"payload", "pack", "TEXT", "OUT", "OUT"}, "not expected"},
         {{"payload", "unpack", "MISSING", "OUT"}, "IN: no file"},
         {{"payload", "unpack", "DIR", "OUT"}, "IN: '"},
         {{"payload", "unpack", "PAYLOAD", "PAYLOAD"}, "the same file"},
     }},
    {"Package",
     {
         {{"package", "make"}, "--layout is required"},
         {{"package", "make", "--layout", "", "--module", "TEXT", "--payload", "PAY", "-o", "OUT"},
          "--layout must not be empty"},
         {{"package", "make", "--layout", "../x", "--module", "TEXT", "--payload", "PAY", "-o",
           "OUT"},
          "letters, digits and underscores"},
         {{"package", "make", "--layout", "L", "--module", "", "--payload", "PAY", "-o", "OUT"},
          "--module must not be empty"},
         {{"package", "make", "--layout", "L", "--module", "MISSING", "--payload", "PAY", "-o",
           "OUT"},
          "module: no file"},
         {{"package", "make", "--layout", "L", "--module", "DIR", "--payload", "PAY", "-o", "OUT"},
          "module: '"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "MISSING", "-o",
           "OUT"},
          "payload: no folder"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "TEXT", "-o",
           "OUT"},
          "payload: '"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "PAY", "--files",
           "", "-o", "OUT"},
          "--files must not be empty"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "PAY", "--files",
           "TEXT", "-o", "OUT"},
          "files: '"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "PAY", "-o", ""},
          "-o must not be empty"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "PAY", "-o",
           "TEXT"},
          "is not an empty folder"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "PAY", "-o", "PKG"},
          "is not an empty folder"},
         {{"package", "make", "--layout", "L", "--module", "TEXT", "--payload", "PAY", "-o",
           "UNDERFILE"},
          "PKG"},
     }},
    {"Ui",
     {
         {{"ui"}, "a subcommand is needed"},
         {{"ui", "watch"}, "--device is required"},
         {{"ui", "watch", "--device", "", "--timeout", "1"}, "--device must not be empty"},
         {{"ui", "watch", "--device", "MISSING", "--timeout", "1"}, "no simulated printer"},
         {{"ui", "watch", "--device", "DIR", "--timeout", "1"}, "no simulated printer"},
         {{"ui", "watch", "--device", "DEV", "--count", "0", "--timeout", "1"}, "at least 1"},
         {{"ui", "watch", "--device", "DEV", "--count", "-1", "--timeout", "1"}, "not a number"},
         {{"ui", "watch", "--device", "DEV", "--timeout", "0"}, "out of range"},
         {{"ui", "watch", "--device", "DEV", "--timeout", "-1"}, "out of range"},
         {{"ui", "watch", "--device", "DEV", "--timeout", "nan"}, "not a number"},
         {{"ui", "watch", "--device", "DEV", "--timeout", "inf"}, "out of range"},
     }},
    {"Upgrade",
     {
         {{"upgrade"}, "--device is required"},
         {{"upgrade", "--device", "DEV"}, "PKG is required"},
         {{"upgrade", "--device", "", "PKG"}, "--device must not be empty"},
         {{"upgrade", "--device", "NODEV", "PKG"}, "no simulated printer"},
         {{"upgrade", "--device", "DEV", ""}, "must not be empty"},
         {{"upgrade", "--device", "DEV", "PKG", "MISSING"}, "no package"},
         {{"upgrade", "--device", "DEV", "PKG", "TEXT"}, "no package"},
         {{"upgrade", "--device", "DEV", "PKG", "DIR"}, "not a package"},
     }},
    {"Nkbin",
     {
         {{"nkbin"}, "a subcommand is needed"},
         {{"nkbin", "check"}, "FILE is required"},
         {{"nkbin", "check", ""}, "FILE: no file given"},
         {{"nkbin", "check", "MISSING"}, "FILE: no file"},
         {{"nkbin", "check", "DIR"}, "FILE: '"},
         {{"nkbin", "check", "UNDERFILE"}, "FILE: no file"},
         {{"nkbin", "make"}, "--output is required"},
         {{"nkbin", "make", "-o", "OUT", "--start", "0x80200000", "--record", "0x80200000=MISSING"},
          "--record: no file"},
         {{"nkbin", "make", "-o", "OUT", "--start", "0x80200000", "--record", "0x80200000=DIR"},
          "--record: '"},
         {{"nkbin", "make", "-o", "OUT", "--start", "0x80200000", "--record", "0x80200000="},
          "is not ADDRESS=FILE"},
         {{"nkbin", "make", "-o", "OUT", "--start", "0x80200000", "--record", "x=REC"},
          "not a number"},
         {{"nkbin", "make", "-o", "OUT", "--start", "", "--record", "0x80200000=REC"},
          "--start must not be empty"},
         {{"nkbin", "make", "-o", "", "--start", "0x80200000", "--record", "0x80200000=REC"},
          "--output must not be empty"},
         {{"nkbin", "make", "-o", "OUT", "--start", "0x100000000", "--record", "0=REC"},
          "out of range"},
         {{"nkbin", "make", "-o", "OUT", "--start", "0x80200000", "--stamp-marker", "--record",
           "0x80200000=REC", "--length", "0x100000000"},
          "out of range"},
         {{"nkbin", "make", "-o", "OUT", "--start", "0x80200000", "--stamp-marker", "--record",
           "0x80200000=REC", "--signature", "X"},
          "--signature"},
         {{"nkbin", "make", "-o", "REC", "--start", "0x80200000", "--stamp-marker", "--record",
           "0x80200000=REC"},
          "the same file"},
         {{"nkbin", "flatten", "MISSING", "OUT"}, "FILE: no file"},
         {{"nkbin", "flatten", "DIR", "OUT"}, "FILE: '"},
         {{"nkbin", "flatten", "IMAGE", ""}, "OUT: no file given"},
         {{"nkbin", "flatten", "IMAGE", "OUT", "--digest-file", ""},
          "--digest-file must not be empty"},
         {{"nkbin", "flatten", "IMAGE", "OUT", "--digest-file", "OUT"}, "the same file"},
     }},
    {"Eeprom",
     {
         {{"eeprom"}, "a subcommand is needed"},
         {{"eeprom", "show"}, "--device is required"},
         {{"eeprom", "--device", "", "show"}, "--device must not be empty"},
         {{"eeprom", "--device", "NODEV", "show"}, "not a simulated printer"},
         {{"eeprom", "--device", "MISSING", "show"}, "not a simulated printer"},
         {{"eeprom", "--device", "DEV"}, "a subcommand is needed"},
         {{"eeprom", "--device", "DEV", "set-board-id"}, "N is required"},
         {{"eeprom", "--device", "DEV", "set-board-id", ""}, "not a number"},
         {{"eeprom", "--device", "DEV", "set-board-id", "-3"}, "not a number"},
         {{"eeprom", "--device", "DEV", "set-board-id", "65536"}, "out of range"},
         {{"eeprom", "--device", "DEV", "write-region", "0"}, "FILE is required"},
         {{"eeprom", "--device", "DEV", "write-region", "x", "TEXT"}, "not a number"},
         {{"eeprom", "--device", "DEV", "write-region", "3", "TEXT"}, "out of range"},
         {{"eeprom", "--device", "DEV", "write-region", "0", ""}, "FILE: no file given"},
         {{"eeprom", "--device", "DEV", "write-region", "0", "MISSING"}, "FILE: no file"},
         {{"eeprom", "--device", "DEV", "write-region", "0", "DIR"}, "FILE: '"},
         {{"eeprom", "--device", "DEV", "write-region", "0", "UNDERFILE"}, "FILE: no file"},
         {{"eeprom", "--device", "DEV", "read-region", "0", ""}, "FILE: no file given"},
         {{"eeprom", "--device", "DEV", "read-region", "0", "DIR"}, "FILE: '"},
         {{"eeprom", "--device", "DEV", "read-region", "0", "OUTDIR/missing/x"}, "no folder"},
         {{"eeprom", "--device", "DEV", "verify-region", "9", "TEXT"}, "out of range"},
         {{"eeprom", "--device", "DEV", "verify-region", "0", "MISSING"}, "FILE: no file"},
         {{"eeprom", "--device", "DEV", "dump-header", "DIR"}, "FILE: '"},
         {{"eeprom", "--device", "DEV", "format", "extra"}, "not expected"},
     }},
    {"Demo",
     {
         {{"demo", "--keep", ""}, "--keep must not be empty"},
         {{"demo", "--keep", "TEXT"}, "must be a new or empty folder"},
         {{"demo", "--keep", "PAY"}, "must be a new or empty folder"},
         {{"demo", "--keep", "UNDERFILE"}, "--keep: cannot make"},
         {{"demo", "extra"}, "not expected"},
     }},
    {"Fpga",
     {
         {{"fpga"}, "a subcommand is needed"},
         {{"fpga", "assemble"}, "unknown subcommand 'assemble'"},
         {{"fpga", "asm", "MISSING", "OUT"}, "no file"},
         {{"fpga", "asm", "DIR", "OUT"}, "is a folder"},
         {{"fpga", "asm", "TEXT", "OUT"}, "line 1"},
         {{"fpga", "asm", "TEXT", ""}, "OUT: no file given"},
         {{"fpga", "disasm", "MISSING"}, "no file"},
         {{"fpga", "disasm", ""}, "no file given"},
         {{"fpga", "data"}, "a subcommand is needed"},
         {{"fpga", "data", "make", "OUT"}, "give either --single or one or more --dataset"},
         {{"fpga", "data", "make", "--single", "", "OUT"}, "--single must not be empty"},
         {{"fpga", "data", "make", "--single", "MISSING", "OUT"}, "no file"},
         {{"fpga", "data", "make", "--single", "DIR", "OUT"}, "is a folder"},
         {{"fpga", "data", "make", "--single", "REC", ""}, "OUT: no file given"},
         {{"fpga", "data", "make", "--single", "REC", "REC"}, "the same file"},
         {{"fpga", "data", "make", "--single", "REC", "--dataset", "1=REC", "OUT"},
          "give either --single"},
         {{"fpga", "data", "make", "--dataset", "x=REC", "OUT"}, "not a number"},
         {{"fpga", "data", "make", "--dataset", "256=REC", "OUT"}, "out of range"},
         {{"fpga", "data", "make", "--dataset", "1=REC", "--dataset", "1=REC", "OUT"}, "twice"},
         {{"fpga", "data", "dump", "MISSING"}, "no file"},
         {{"fpga", "data", "dump", "SED", "--block", "0"}, "a block of 0 bytes"},
         {{"fpga", "data", "dump", "SED", "--block", ""}, "--block must not be empty"},
         {{"fpga", "data", "dump", "SED", "--block", "99999999999999999999"}, "out of range"},
         {{"fpga", "run", "--device", "DEV", "MISSING", ""}, "no file"},
         {{"fpga", "run", "--device", "DEV", "DIR", ""}, "is a folder"},
         {{"fpga", "run", "--device", "DEV", "TEXT", "MISSING"}, "no file"},
         {{"fpga", "run", "--device", "NODEV", "TEXT", ""}, "not a simulated printer"},
         {{"fpga", "status", "--device", ""}, "--device must not be empty"},
         {{"fpga", "status", "--device", "NODEV"}, "not a simulated printer"},
         {{"fpga", "status", "--device", "NODEV", "--json"}, "not a simulated printer"},
     }},
    {"Periph",
     {
         {{"periph"}, "a subcommand is needed"},
         {{"periph", "wrap"}, "IN is required"},
         {{"periph", "wrap", "MISSING", "OUT"}, "IN: no file"},
         {{"periph", "wrap", "DIR", "OUT"}, "IN: '"},
         {{"periph", "wrap", "TEXT", "DIR"}, "OUT: '"},
         {{"periph", "wrap", "TEXT", "TEXT"}, "the same file"},
         {{"periph", "show"}, "give FILE or --device"},
         {{"periph", "show", "MISSING"}, "no file"},
         {{"periph", "show", "DIR", "--json"}, "no file"},
         {{"periph", "show", "--device", ""}, "--device must not be empty"},
         {{"periph", "show", "--device", "NODEV", "--json"}, "not a simulated printer"},
         {{"periph", "show", "TEXT", "--device", "DEV"}, "give FILE or --device"},
     }},
    {"Props",
     {
         {{"props"}, "a subcommand is needed"},
         {{"props", "dump"}, "FILE is required"},
         {{"props", "dump", ""}, "no file"},
         {{"props", "dump", "MISSING", "--json"}, "no file"},
         {{"props", "dump", "DIR"}, "no file"},
         {{"props", "verify", "MISSING"}, "no file"},
         {{"props", "verify", "DIR"}, "no file"},
         {{"props", "show", "--device", ""}, "--device must not be empty"},
         {{"props", "show", "--device", "NODEV", "--json"}, "not a simulated printer"},
         {{"props", "legacy"}, "a subcommand is needed"},
         {{"props", "legacy", "make", "MISSING", "OUT"}, "no file"},
         {{"props", "legacy", "make", "DIR", "OUT"}, "is a folder"},
         {{"props", "legacy", "make", "TEXT", "DIR"}, "OUT: '"},
         {{"props", "legacy", "make", "TEXT", "TEXT"}, "the same file"},
         {{"props", "legacy", "check", "MISSING"}, "no file"},
         {{"props", "legacy", "check", "UNDERFILE"}, "no file"},
     }},
};

class BadInputs : public testing::TestWithParam<size_t> {};

TEST_P(BadInputs, SayWhatIsWrongInOneLineAndChangeNothing) {
    const Group& group = kGroups[GetParam()];
    TempDevice scratch;
    TempDevice work;
    const Workspace w{work.Root() / "work"};
    Prepare(w, scratch.Root());
    if (HasFatalFailure())
        return;
    const std::map<std::string, std::string> before = fwtest::FolderStamps(work.Root());
    const std::map<std::string, std::string> beside = fwtest::FolderStamps(scratch.Root());

    for (const BadInput& c : group.cases) {
        std::vector<std::string> args;
        std::string shown = "fwsetup";
        bool json = false;
        for (const std::string& arg : c.args) {
            args.push_back(w.Expand(arg));
            shown += " " + (arg.empty() ? std::string("''") : arg);
            json = json || arg == "--json";
        }
        SCOPED_TRACE(shown);
        const fwtest::ToolRun run = RunFwsetup(args, scratch.Root());
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
        const std::vector<std::string> lines = fwtest::Lines(run.err);
        ASSERT_EQ(lines.size(), 1u) << run.err;
        EXPECT_EQ(lines[0].rfind("fwsetup: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
        if (json) {
            // The error as the one document, and nothing else.
            rapidjson::Document out;
            out.Parse(run.out.c_str());
            ASSERT_FALSE(out.HasParseError()) << run.out;
            ASSERT_TRUE(out.IsObject()) << run.out;
            EXPECT_EQ(out.MemberCount(), 1u) << run.out;
            EXPECT_TRUE(out.HasMember("error") && out["error"].IsString()) << run.out;
        } else {
            EXPECT_EQ(run.out, "");
        }
        EXPECT_EQ(fwtest::FolderStamps(work.Root()), before) << "the workspace changed";
        EXPECT_EQ(fwtest::FolderStamps(scratch.Root()), beside)
            << "something was left beside the run";
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, BadInputs,
                         testing::Range(size_t(0), sizeof(kGroups) / sizeof(kGroups[0])),
                         [](const testing::TestParamInfo<size_t>& info) {
                             return std::string(kGroups[info.param].name);
                         });

}  // namespace
