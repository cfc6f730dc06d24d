// Every command that writes a file for its user, against every kind of thing
// that may stand where its output goes: a FIFO, a device node, a link to a
// file of a canary folder, a folder, the command's own input (by name and by
// a second name), a file of the simulated printer, a missing folder. None of
// them is written through, replaced or left half written; the canary folder
// outside comes through unchanged. A plain file there is replaced whole, with
// its permission bits.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "run_fwsetup.h"
#include "sim/kernel_image.h"
#include "sim/payload.h"
#include "support/host_files.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

// The files of one run: the inputs every command may read, and a printer.
struct Workspace {
    fs::path root;
    fs::path printer() const { return root / "printer"; }
    fs::path text() const { return root / "in" / "text.json"; }
    fs::path payload() const { return root / "in" / "payload.lz4"; }
    fs::path image() const { return root / "in" / "nk.bin"; }
    fs::path record() const { return root / "in" / "record.bin"; }
    fs::path out() const { return root / "out" / "result"; }
};

void Prepare(const Workspace& w) {
    fwtest::WriteHostFile(w.text(), "{\"text\": \"input of the command\"}");
    sim::PackPayloadFile(w.text(), w.payload());
    std::vector<uint8_t> record(64, 0x5A);
    fwtest::WriteHostFile(w.record(), std::string(record.begin(), record.end()));
    sim::KernelImagePlan plan;
    plan.start = 0x80200000;
    plan.stampMarker = true;
    plan.records.push_back({plan.start, record});
    const std::vector<uint8_t> image = sim::BuildKernelImage(plan);
    fwtest::WriteHostFile(w.image(), std::string(image.begin(), image.end()));
    fs::create_directories(w.root / "out");
}

// ---- the commands ------------------------------------------------------------

struct Command {
    const char* name;
    bool device;  // works on the printer (which then must exist)
    // Its arguments with out as the output; input receives the input that
    // OUT is checked against.
    std::vector<std::string> (*args)(const Workspace& w, const fs::path& out, fs::path& input);
};

const Command kCommands[] = {
    {"PayloadPack", false,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.text();
         return std::vector<std::string>{"payload", "pack", input.string(), out.string()};
     }},
    {"PayloadUnpack", false,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.payload();
         return std::vector<std::string>{"payload", "unpack", input.string(), out.string()};
     }},
    {"NkbinMake", false,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.record();
         return std::vector<std::string>{
             "nkbin",          "make",     "-o",
             out.string(),     "--start",  "0x80200000",
             "--stamp-marker", "--record", "0x80200000=" + input.string()};
     }},
    {"NkbinFlatten", false,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.image();
         return std::vector<std::string>{"nkbin", "flatten", input.string(), out.string()};
     }},
    {"NkbinFlattenDigestFile", false,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.image();
         return std::vector<std::string>{"nkbin",         "flatten",
                                         input.string(),  (w.root / "out" / "flat").string(),
                                         "--digest-file", out.string()};
     }},
    {"PeriphWrap", false,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.text();
         return std::vector<std::string>{"periph", "wrap", input.string(), out.string()};
     }},
    {"FpgaDataMake", false,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.record();
         return std::vector<std::string>{"fpga",     "data",         "make",
                                         "--single", input.string(), out.string()};
     }},
    {"EepromReadRegion", true,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.printer() / "hw" / "eeprom.bin";
         return std::vector<std::string>{"eeprom",      "--device", w.printer().string(),
                                         "read-region", "0",        out.string()};
     }},
    {"EepromDumpHeader", true,
     [](const Workspace& w, const fs::path& out, fs::path& input) {
         input = w.printer() / "hw" / "eeprom.bin";
         return std::vector<std::string>{"eeprom", "--device", w.printer().string(), "dump-header",
                                         out.string()};
     }},
};

// ---- what stands at OUT ------------------------------------------------------

enum class Plant {
    kNothing,        // written
    kPlainFile,      // replaced, its mode kept
    kFifo,           // refused
    kDeviceNode,     // refused (a character device like /dev/null; needs root to make)
    kLinkToCanary,   // refused
    kFolder,         // refused
    kMissingFolder,  // refused
    kTheInput,       // refused
    kSecondName,     // refused: a hard link to the input
    kPrinterFile,    // refused: hw/eeprom.bin of the printer the command works on
};

const char* PlantName(Plant plant) {
    switch (plant) {
        case Plant::kNothing:
            return "Nothing";
        case Plant::kPlainFile:
            return "PlainFile";
        case Plant::kFifo:
            return "Fifo";
        case Plant::kDeviceNode:
            return "DeviceNode";
        case Plant::kLinkToCanary:
            return "LinkToCanary";
        case Plant::kFolder:
            return "Folder";
        case Plant::kMissingFolder:
            return "MissingFolder";
        case Plant::kTheInput:
            return "TheInput";
        case Plant::kSecondName:
            return "SecondNameOfTheInput";
        case Plant::kPrinterFile:
            return "PrinterFile";
    }
    return "?";
}

// Plants what the case needs and returns the OUT to give.
fs::path PlantAt(const Workspace& w, Plant plant, const fs::path& input, const fs::path& canary) {
    const fs::path out = w.out();
    switch (plant) {
        case Plant::kNothing:
            break;
        case Plant::kPlainFile:
            fwtest::WriteHostFile(out, "an older result");
            chmod(out.c_str(), 0600);
            break;
        case Plant::kFifo:
            EXPECT_EQ(mkfifo(out.c_str(), 0666), 0);
            break;
        case Plant::kDeviceNode:
            if (mknod(out.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                return fs::path();
            break;
        case Plant::kLinkToCanary:
            fs::create_symlink(canary / "canary.txt", out);
            break;
        case Plant::kFolder:
            fs::create_directory(out);
            break;
        case Plant::kMissingFolder:
            return w.root / "missing" / "result";
        case Plant::kTheInput:
            return input;
        case Plant::kSecondName:
            fs::create_hard_link(input, out);
            break;
        case Plant::kPrinterFile:
            return w.printer() / "hw" / "eeprom.bin";
    }
    return out;
}

typedef std::tuple<size_t, Plant> Case;

class ToolOutputs : public testing::TestWithParam<Case> {};

TEST_P(ToolOutputs, AreWrittenWholeOrNotAtAll) {
    const Command& command = kCommands[std::get<0>(GetParam())];
    const Plant plant = std::get<1>(GetParam());
    TempDevice scratch;
    TempDevice canaryFolder;
    const fs::path canary = canaryFolder.Root() / "canary";
    fwtest::WriteHostFile(canary / "canary.txt", "canary\n");
    const Workspace w{scratch.Root() / "work"};
    Prepare(w);
    if (command.device) {
        const fwtest::ToolRun init =
            RunFwsetup({"device", "init", w.printer().string()}, scratch.Root());
        ASSERT_EQ(init.exitCode, 0) << init.err;
    }
    fs::path input;
    command.args(w, w.out(), input);
    const fs::path out = PlantAt(w, plant, input, canary);
    if (out.empty())
        GTEST_SKIP() << "cannot make a device node here (not root)";
    const std::map<std::string, std::string> canaryBefore =
        fwtest::FolderInventory(canaryFolder.Root());
    const std::map<std::string, std::string> inputsBefore = fwtest::FolderInventory(w.root / "in");
    const std::string printerBefore =
        command.device ? fwtest::ReadHostFile(w.printer() / "hw" / "eeprom.bin") : std::string();
    struct stat before;
    const bool existed = lstat(out.c_str(), &before) == 0;

    fs::path unused;
    const fwtest::ToolRun run = RunFwsetup(command.args(w, out, unused), scratch.Root());

    const bool writes = plant == Plant::kNothing || plant == Plant::kPlainFile;
    EXPECT_EQ(run.exitCode, writes ? 0 : 2) << run.err;
    if (!writes) {
        EXPECT_EQ(fwtest::Lines(run.err).size(), 1u) << run.err;
        struct stat after;
        EXPECT_EQ(lstat(out.c_str(), &after) == 0, existed);
        if (existed) {
            EXPECT_EQ(after.st_ino, before.st_ino) << "OUT was replaced";
            EXPECT_EQ(after.st_mode, before.st_mode);
        }
    } else {
        struct stat after;
        ASSERT_EQ(lstat(out.c_str(), &after), 0);
        EXPECT_TRUE(S_ISREG(after.st_mode));
        EXPECT_NE(fwtest::ReadHostFile(out), "an older result");
        if (plant == Plant::kPlainFile) {
            EXPECT_EQ(after.st_mode & 07777, 0600u);
        }
    }
    EXPECT_EQ(fwtest::FolderInventory(canaryFolder.Root()), canaryBefore) << "the canary changed";
    EXPECT_EQ(fwtest::FolderInventory(w.root / "in"), inputsBefore) << "an input changed";
    if (command.device) {
        EXPECT_EQ(fwtest::ReadHostFile(w.printer() / "hw" / "eeprom.bin"), printerBefore);
    }
    EXPECT_FALSE(fs::exists(w.root / "missing"));
    // Nothing half written is left beside OUT.
    for (const auto& entry : fs::directory_iterator(w.root / "out")) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
}

std::vector<Case> AllCases() {
    const Plant kPlants[] = {Plant::kNothing,       Plant::kPlainFile,    Plant::kFifo,
                             Plant::kDeviceNode,    Plant::kLinkToCanary, Plant::kFolder,
                             Plant::kMissingFolder, Plant::kTheInput,     Plant::kSecondName,
                             Plant::kPrinterFile};
    std::vector<Case> cases;
    for (size_t c = 0; c < sizeof(kCommands) / sizeof(kCommands[0]); ++c) {
        for (Plant plant : kPlants) {
            // Only a command that works on the printer knows which files are its own.
            if (plant != Plant::kPrinterFile || kCommands[c].device)
                cases.emplace_back(c, plant);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Commands, ToolOutputs, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(kCommands[std::get<0>(info.param)].name) + "_" +
                                    PlantName(std::get<1>(info.param));
                         });

// A write that fails half-way (a file size limit, which binds root too) leaves
// the older OUT and nothing beside it.
TEST(ToolOutputFailure, LeavesTheOlderFileAndNothingElse) {
    TempDevice scratch;
    const Workspace w{scratch.Root() / "work"};
    Prepare(w);
    std::string big(256 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char((i * 2654435761u) >> 13);
    fwtest::WriteHostFile(w.text(), big);
    sim::PackPayloadFile(w.text(), w.payload());
    fwtest::WriteHostFile(w.out(), "an older result");

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const struct rlimit limit = {128 * 1024, saved.rlim_max};
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const fwtest::ToolRun run =
        RunFwsetup({"payload", "unpack", w.payload().string(), w.out().string()}, scratch.Root());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);

    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_EQ(fwtest::ReadHostFile(w.out()), "an older result");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(w.root / "out"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"result"});
}

}  // namespace
