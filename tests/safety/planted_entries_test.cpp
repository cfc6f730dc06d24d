// Every way into a simulated printer, against every kind of entry that may be
// planted where it expects a regular file or a folder: links (to a file, to a
// folder, dangling, to a device node), a FIFO, a socket, a folder, and a link
// in place of a folder on the way. Each case runs in a child process under a
// guard (a FIFO must not hang anything) and next to a canary folder outside
// the device, which must come through unchanged; so must the planted entry.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app.h"
#include "eeprom/eeprom_layout.h"
#include "eeprom/eeprom_reader.h"
#include "eeprom/wec_eeprom_handler.h"
#include "package/file_stream.h"
#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/named_objects.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "sim/cabinet.h"
#include "sim/device.h"
#include "sim/eeprom_setup.h"
#include "sim/installer.h"
#include "sim/kernel_image.h"
#include "sim/snapshot.h"
#include "support/child_process.h"
#include "support/host_files.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::TempDevice;
using fwtest::W;

// A folder of its own in the temporary folder, removed afterwards.
class Scratch {
  public:
    Scratch() {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-safety-XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~Scratch() { fwtest::RemoveTree(root_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const fs::path& Root() const { return root_; }

  private:
    fs::path root_;
};

// What was planted, as lstat and readlink see it.
std::string Describe(const fs::path& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "absent";
    std::error_code ec;
    if (S_ISLNK(st.st_mode))
        return "link to " + fs::read_symlink(path, ec).string();
    return "mode " + std::to_string(st.st_mode & S_IFMT);
}

// ---- what is planted ---------------------------------------------------------

enum class Plant {
    kLinkToFile,
    kLinkToFolder,
    kDanglingLink,
    kLinkToDeviceNode,
    kFifo,
    kSocket,
    kFolder,
    kLinkOnTheWay,  // the folder on the way is a link to the canary
};

const char* PlantName(Plant plant) {
    switch (plant) {
        case Plant::kLinkToFile:
            return "LinkToFile";
        case Plant::kLinkToFolder:
            return "LinkToFolder";
        case Plant::kDanglingLink:
            return "DanglingLink";
        case Plant::kLinkToDeviceNode:
            return "LinkToDevNull";
        case Plant::kFifo:
            return "Fifo";
        case Plant::kSocket:
            return "Socket";
        case Plant::kFolder:
            return "Folder";
        case Plant::kLinkOnTheWay:
            return "LinkOnTheWay";
    }
    return "?";
}

bool MakeSocket(const fs::path& path) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.string().size() >= sizeof address.sun_path)
        return false;
    std::strcpy(address.sun_path, path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

// ---- the ways in ---------------------------------------------------------------

struct Env {
    fs::path device;   // DEVICE
    fs::path scratch;  // a folder outside it for the test's own files
};

bool RunProgram(const std::string& program, const std::string& commandLine) {
    std::unique_ptr<platform::Process> process =
        platform::CreateProcess(W(program), W(commandLine));
    uint32_t code = 1;
    return process && process->Wait() && process->GetExitCode(code) && code == 0;
}

void PlaceProgram(const Env& env, const std::string& hostProgram, const std::string& at) {
    fs::create_directories((env.device / at).parent_path());
    fs::copy_file(fs::path(FWSETUP_BIN_DIR) / hostProgram, env.device / at,
                  fs::copy_options::overwrite_existing);
}

void MakeBoot(const Env& env) {
    fs::create_directories(env.device / "fs/boot");
    fwtest::WriteHostFile(env.device / "fs/src.bin", "source");
}

void MakeEeprom(const Env& env) {
    fs::create_directories(env.device / "fs/boot");
    sim::SetUpEeprom(env.device, sim::DeviceOptions());
}

void MakeDriverKey(const Env& env) {
    fwtest::WriteHostFile(env.device / "fs/boot/EEPromUtilDriver.dll", "driver");
    fwtest::WriteHostFile(
        env.device / "hw/registry.json",
        "{\"HKEY_LOCAL_MACHINE\\\\Drivers\\\\EEpromUtil\": {\"Dll\": "
        "\"\\\\boot\\\\EEPromUtilDriver.dll\", \"Prefix\": \"EPM\", \"Index\": 1}}\n");
}

void MakeImagingTool(const Env& env) {
    PlaceProgram(env, "fwsetup-sim-nfimager", "fs/Windows/nfimager.exe");
    sim::KernelImagePlan plan;
    plan.start = 0x80200000;
    plan.length = 0x1000;
    plan.stampMarker = true;
    plan.records.push_back({plan.start, std::vector<uint8_t>(0x100, 0x5A)});
    const std::vector<uint8_t> image = sim::BuildKernelImage(plan);
    fwtest::WriteHostFile(env.device / "fs/boot/nk.bin", std::string(image.begin(), image.end()));
}

void MakeUpgrader(const Env& env) {
    PlaceProgram(env, "fwsetup-sim-stm32upgrader", "fs/UpgradeTemp/STM32Upgrader");
    fwtest::WriteHostFile(env.device / "fs/UpgradeTemp/ble.bin", "VERSION=1.2\nfirmware");
}

void MakeCabinet(const Env& env) {
    PlaceProgram(env, "fwsetup-sim-wceldcmd", "fs/Windows/wceldcmd.exe");
    fs::create_directories(env.device / "fs/boot");
    const std::string text = "{\"from\": \"the cabinet\"}";
    fs::create_directories(env.device / "fs/UpgradeTemp");
    sim::WriteCabinet({{"boot\\x.json", std::vector<uint8_t>(text.begin(), text.end())}},
                      env.device / "fs/UpgradeTemp/p.cab");
}

void MakePackage(const Env& env) {
    fs::create_directories(env.device / "fs/boot");
    fwtest::WriteHostFile(env.scratch / "pkg/files/boot/pkg.txt", "from the package");
    fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so",
                  env.scratch / "pkg/setup.so");
}

void MakeNewPrinterFolder(const Env& env) {
    fs::create_directories(env.device / "newprinter");
}

void MakeRegionFile(const Env& env) {
    MakeEeprom(env);
    fwtest::WriteHostFile(env.scratch / "region.json", "{\"a\": 1}");
}

void Nothing(const Env&) {}

bool ReadStream(const Env&) {
    FileStream stream(W("\\boot\\data.bin"), StreamMode::Read);
    return stream.IsGood();
}

bool WriteStream(const Env&) {
    FileStream stream(W("\\boot\\data.bin"), StreamMode::Write | StreamMode::Truncate);
    const uint8_t byte = 'x';
    return stream.Write(&byte, 1) == 1;
}

bool CopyOnto(const Env&) {
    return platform::CopyFile(W("\\src.bin"), W("\\boot\\copy.bin"), false);
}

bool MoveInto(const Env&) {
    return platform::MoveFile(W("\\src.bin"), W("\\boot\\moved.bin"));
}

bool DeleteIt(const Env&) {
    return platform::DeleteFile(W("\\boot\\old.bin"));
}

bool MakeFolder(const Env&) {
    return platform::CreateDirectory(W("\\boot\\new"));
}

bool ReadBoardId(const Env&) {
    return EEPromReader::ReadBoardId() != EEPromReader::kUnreadableBoardId;
}

bool WriteBoardId(const Env&) {
    WecEEPromHandler handler;
    return handler.IsOpen() &&
           handler.WriteHeaderWord(static_cast<int>(EEPromLayout::kBoardIdPosition), W("7"), 10);
}

bool CreateKey(const Env&) {
    platform::RegKey key = platform::kNullRegKey;
    if (platform::RegCreateKeyEx(platform::kHKeyLocalMachine, W("Drivers\\Test"), key, 0) !=
        platform::kErrorSuccess)
        return false;
    platform::RegCloseKey(key);
    return true;
}

bool Activate(const Env&) {
    return platform::ActivateDeviceEx(W("Drivers\\EEpromUtil")) != platform::kNullDeviceHandle;
}

bool MapRing(const Env&) {
    return platform::CreateFileMapping(W("Global\\UPGRADE_SHARED_MEMORY"), 444) != nullptr;
}

bool ReadClock(const Env&) {
    return platform::Time64() != -1;
}

bool ReadFreeSpace(const Env&) {
    uint64_t free = 0;
    return platform::GetDiskFreeSpaceEx(W("\\"), &free, nullptr, nullptr);
}

bool ReadMemory(const Env&) {
    return platform::AvailablePhysicalMemory() != 0;
}

bool Flash(const Env&) {
    return RunProgram("\\Windows\\nfimager.exe", "-w -f \\boot\\nk.bin -s 1");
}

bool UpgradeCoprocessor(const Env&) {
    return RunProgram("\\UpgradeTemp\\STM32Upgrader", "-AH \\UpgradeTemp\\ble.bin");
}

bool LoadCabinet(const Env&) {
    return RunProgram("\\Windows\\wceldcmd.exe", " /delete 0 /nouninstall \\UpgradeTemp\\p.cab");
}

bool Install(const Env& env) {
    sim::InstallOptions options;
    options.device = env.device;
    options.package = env.scratch / "pkg";
    const sim::InstallResult result = sim::InstallPackage(options);
    for (const std::string& copied : result.copiedFiles) {
        if (copied == "\\boot\\pkg.txt")
            return true;
    }
    return false;
}

bool InitPrinter(const Env& env) {
    try {
        sim::InitDevice(env.device / "newprinter", sim::DeviceOptions(), FWSETUP_BIN_DIR);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool WriteRegionWithTheTool(const Env& env) {
    std::vector<std::string> args = {"fwsetup",
                                     "eeprom",
                                     "--device",
                                     env.device.string(),
                                     "write-region",
                                     "0",
                                     (env.scratch / "region.json").string()};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    return fwsetup::Main(static_cast<int>(argv.size()), argv.data()) == fwsetup::kExitOk;
}

bool Snapshot(const Env& env) {
    const sim::DeviceSnapshot snapshot = sim::TakeSnapshot(env.device);
    const auto planted = snapshot.find("fs/boot/planted");
    // Whatever was planted is recorded, never read as a file.
    return planted == snapshot.end() || planted->second.kind != sim::SnapshotEntry::kFile;
}

// The staging name the eeprom tool once used, in the process that runs it.
std::string OldStagingName() {
    return "fs/fwsetup-eeprom-" + std::to_string(getpid()) + ".staging";
}

struct Way {
    const char* name;
    const char* target;    // relative to DEVICE; null: OldStagingName()
    const char* onTheWay;  // the folder on the way that kLinkOnTheWay replaces; null: none
    void (*prepare)(const Env&);
    bool (*run)(const Env&);
    bool doneWhenPlanted;  // whether the operation goes through with the target planted
    bool doneOnTheWay;     // ... and with the folder on the way a link
};

const Way kWays[] = {
    {"FileStreamRead", "fs/boot/data.bin", "fs/boot", MakeBoot, ReadStream, false, false},
    {"FileStreamWrite", "fs/boot/data.bin", "fs/boot", MakeBoot, WriteStream, false, false},
    {"CopyFile", "fs/boot/copy.bin", "fs/boot", MakeBoot, CopyOnto, false, false},
    {"MoveFile", "fs/boot/moved.bin", "fs/boot", MakeBoot, MoveInto, false, false},
    {"DeleteFile", "fs/boot/old.bin", "fs/boot", MakeBoot, DeleteIt, false, false},
    {"CreateDirectory", "fs/boot/new", "fs/boot", MakeBoot, MakeFolder, false, false},
    {"BoardId", "hw/eeprom.bin", "hw", MakeEeprom, ReadBoardId, false, false},
    {"EepromWrite", "hw/eeprom.bin", "hw", MakeEeprom, WriteBoardId, false, false},
    {"Registry", "hw/registry.json", "hw", Nothing, CreateKey, false, false},
    {"LoadedDrivers", "hw/drivers.json", "hw", MakeDriverKey, Activate, false, false},
    {"NamedMapping", "hw/named/Global/UPGRADE_SHARED_MEMORY", "hw/named/Global", Nothing, MapRing,
     false, false},
    {"Clock", "hw/clock", "hw", Nothing, ReadClock, false, false},
    {"FreeBytes", "hw/free-bytes", "hw", Nothing, ReadFreeSpace, false, false},
    {"AvailPhys", "hw/avail-phys", "hw", Nothing, ReadMemory, false, false},
    {"ImagingToolSlot", "hw/flash/slot1.nb0", "hw/flash", MakeImagingTool, Flash, false, false},
    {"ImagingToolImage", "fs/boot/nk.bin", "fs/boot", MakeImagingTool, Flash, false, false},
    {"UpgraderFirmware", "hw/ble/firmware.bin", "hw/ble", MakeUpgrader, UpgradeCoprocessor, false,
     false},
    {"UpgraderLog", "hw/ble/upgrader.log", "hw/ble", MakeUpgrader, UpgradeCoprocessor, false,
     false},
    // Anything but a file there is no forced exit code: the upgrader goes on.
    {"UpgraderForcedCode", "hw/ble/force-exit-code", "hw/ble", MakeUpgrader, UpgradeCoprocessor,
     true, false},
    {"UpgraderImage", "fs/UpgradeTemp/ble.bin", "fs/UpgradeTemp", MakeUpgrader, UpgradeCoprocessor,
     false, false},
    {"CabinetTarget", "fs/boot/x.json", "fs/boot", MakeCabinet, LoadCabinet, false, false},
    {"CabinetFile", "fs/UpgradeTemp/p.cab", "fs/UpgradeTemp", MakeCabinet, LoadCabinet, false,
     false},
    {"InstallerCopy", "fs/boot/pkg.txt", "fs/boot", MakePackage, Install, false, false},
    {"DeviceInitFs", "newprinter/fs", nullptr, MakeNewPrinterFolder, InitPrinter, false, false},
    {"DeviceInitHw", "newprinter/hw", nullptr, MakeNewPrinterFolder, InitPrinter, false, false},
    // The tool's staging file is a new one of its own: what sits at the old
    // name is passed by; without its file system the tool fails.
    {"EepromToolStaging", nullptr, "fs", MakeRegionFile, WriteRegionWithTheTool, true, false},
    // The snapshot records what was planted without following or reading it.
    {"Snapshot", "fs/boot/planted", "fs/boot", MakeBoot, Snapshot, true, true},
};

std::string CaseName(const testing::TestParamInfo<std::tuple<size_t, Plant>>& info) {
    return std::string(kWays[std::get<0>(info.param)].name) + "_" +
           PlantName(std::get<1>(info.param));
}

class PlantedEntries : public testing::TestWithParam<std::tuple<size_t, Plant>> {};

// Plants the entry (in the child) and returns where it is, for the check.
fs::path PlantIt(const Env& env, const Way& way, Plant plant, const fs::path& canary) {
    const std::string target = way.target ? way.target : OldStagingName();
    if (plant == Plant::kLinkOnTheWay) {
        const fs::path folder = env.device / way.onTheWay;
        const std::string rest = fs::path(target).lexically_relative(way.onTheWay).string();
        // Following the link would reach a file of the canary's.
        fwtest::WriteHostFile(canary / rest, "canary file in place of " + rest + "\n");
        fs::remove_all(folder);
        fs::create_directories(folder.parent_path());
        fs::create_directory_symlink(canary, folder);
        return folder;
    }
    const fs::path at = env.device / target;
    fs::create_directories(at.parent_path());
    fs::remove_all(at);
    switch (plant) {
        case Plant::kLinkToFile:
            fs::create_symlink(canary / "canary.txt", at);
            break;
        case Plant::kLinkToFolder:
            fs::create_directory_symlink(canary, at);
            break;
        case Plant::kDanglingLink:
            fs::create_symlink(canary / "absent", at);
            break;
        case Plant::kLinkToDeviceNode:
            fs::create_symlink("/dev/null", at);
            break;
        case Plant::kFifo:
            EXPECT_EQ(mkfifo(at.c_str(), 0666), 0);
            break;
        case Plant::kSocket:
            EXPECT_TRUE(MakeSocket(at)) << at;
            break;
        case Plant::kFolder:
            fs::create_directory(at);
            break;
        case Plant::kLinkOnTheWay:
            break;
    }
    return at;
}

TEST_P(PlantedEntries, LeadNowhereOutsideAndHangNothing) {
    const Way& way = kWays[std::get<0>(GetParam())];
    const Plant plant = std::get<1>(GetParam());
    TempDevice device;
    Scratch scratch;
    Scratch canaryFolder;
    const fs::path canary = canaryFolder.Root() / "canary";
    fwtest::WriteHostFile(canary / "canary.txt", "canary\n");
    fwtest::WriteHostFile(canary / "sub" / "inner.txt", "inner\n");
    const Env env{device.Root(), scratch.Root()};

    const bool expected = plant == Plant::kLinkOnTheWay ? way.doneOnTheWay : way.doneWhenPlanted;
    const fwtest::ChildOutcome outcome = fwtest::RunInChild(
        [&] {
            way.prepare(env);
            const fs::path planted = PlantIt(env, way, plant, canary);
            const std::map<std::string, std::string> before =
                fwtest::FolderInventory(canaryFolder.Root());
            const std::string plantedBefore = Describe(planted);
            EXPECT_EQ(way.run(env), expected);
            EXPECT_EQ(Describe(planted), plantedBefore) << "the planted entry changed";
            EXPECT_EQ(fwtest::FolderInventory(canaryFolder.Root()), before) << "the canary changed";
        },
        60);
    EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
}

// Every way against every kind, except a link in place of a folder where the
// only folder on the way is the device folder itself, which its user chose.
std::vector<std::tuple<size_t, Plant>> AllCases() {
    const Plant kPlants[] = {Plant::kLinkToFile,       Plant::kLinkToFolder, Plant::kDanglingLink,
                             Plant::kLinkToDeviceNode, Plant::kFifo,         Plant::kSocket,
                             Plant::kFolder,           Plant::kLinkOnTheWay};
    std::vector<std::tuple<size_t, Plant>> cases;
    for (size_t way = 0; way < sizeof(kWays) / sizeof(kWays[0]); ++way) {
        for (Plant plant : kPlants) {
            if (plant != Plant::kLinkOnTheWay || kWays[way].onTheWay)
                cases.emplace_back(way, plant);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Ways, PlantedEntries, testing::ValuesIn(AllCases()), CaseName);

}  // namespace
