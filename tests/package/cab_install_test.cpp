// The CAB loader stand-in behind InstallCab, the payload and package tools, and
// the whole road of a package: payload -> nested cabinet -> files on the printer.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/lz4_decompressor.h"
#include "package/process_executor.h"
#include "setup/install_hooks.h"
#include "sim/cabinet.h"
#include "sim/payload.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::TempDevice;
using fwtest::W;
typedef std::vector<uint8_t> Bytes;

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Firmware-like contents: a repeating table with a counter, compressible but not trivially.
Bytes FirmwareLike(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>((i * 7) ^ (i >> 9) ^ (i % 251));
    return data;
}

class CabInstall : public testing::Test {
  protected:
    void SetUp() override {
        device_.MakeDir("\\Windows");
        device_.MakeDir("\\UpgradeTemp");
        device_.MakeDir("\\BOOT");
        const fs::path loader = device_.Host("\\Windows\\wceldcmd.exe");
        fs::copy_file(fs::path(FWSETUP_BIN_DIR) / "fwsetup-sim-wceldcmd", loader);
        chmod(loader.c_str(), 0755);
    }

    // A cabinet of entries as bytes.
    Bytes Cabinet(const std::vector<sim::CabinetEntry>& entries) {
        const fs::path file = device_.Hw() / "made.cab";
        sim::WriteCabinet(entries, file);
        Bytes bytes = ReadHostFile(file);
        fs::remove(file);
        return bytes;
    }

    // The files below fs/, as "path=contents" lines, apart from the loader.
    std::vector<std::string> DeviceFiles() {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(device_.Fs())) {
            if (!entry.is_regular_file())
                continue;
            const std::string rel = entry.path().lexically_relative(device_.Fs()).generic_string();
            if (rel == "Windows/wceldcmd.exe")
                continue;
            const Bytes data = ReadHostFile(entry.path());
            files.push_back(rel + "=" + std::string(data.begin(), data.end()));
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    const std::vector<sim::CabinetEntry> kEntries = {
        {"boot\\settings.json", ToBytes("{\"dpi\":300}")},
        {"store\\fonts\\Mono.ttf", ToBytes("font bytes")},
        {"root.txt", ToBytes("")},
    };

    TempDevice device_;
};

TEST_F(CabInstall, ValidCabinetIsInstalledAtItsDevicePaths) {
    device_.WriteBytes("\\UpgradeTemp\\Pkg One.Cab", Cabinet(kEntries));
    device_.Write("\\BOOT\\settings.json", "old");
    EXPECT_TRUE(InstallCab(W("\\upgradetemp\\pkg one.cab"), true));
    EXPECT_EQ(DeviceFiles(),
              (std::vector<std::string>{"BOOT/settings.json={\"dpi\":300}",
                                        "root.txt=", "store/fonts/Mono.ttf=font bytes"}));
}

struct BadCabinet {
    const char* name;
    Bytes (*make)(const Bytes& good);
};

void PrintTo(const BadCabinet& c, std::ostream* os) {
    *os << c.name;
}

class CabInstallRefused : public CabInstall, public testing::WithParamInterface<BadCabinet> {};

TEST_P(CabInstallRefused, NothingIsInstalledAndTheLoaderFails) {
    device_.WriteBytes("\\UpgradeTemp\\p.Cab", GetParam().make(Cabinet(kEntries)));
    EXPECT_FALSE(InstallCab(W("\\UpgradeTemp\\p.Cab"), true));
    EXPECT_TRUE(DeviceFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CabInstallRefused,
    testing::Values(
        BadCabinet{"empty", [](const Bytes&) { return Bytes(); }},
        BadCabinet{"not_a_cabinet", [](const Bytes&) { return ToBytes("plain text, no cabinet"); }},
        BadCabinet{"cut_short",
                   [](const Bytes& good) { return Bytes(good.begin(), good.end() - 7); }},
        BadCabinet{"header_only",
                   [](const Bytes& good) { return Bytes(good.begin(), good.begin() + 36); }},
        BadCabinet{"damaged_data",
                   [](const Bytes& good) {
                       Bytes bad = good;
                       bad[bad.size() - 3] ^= 0x40;
                       return bad;
                   }},
        BadCabinet{"trailing_bytes",
                   [](const Bytes& good) {
                       Bytes bad = good;
                       bad.push_back(0);
                       return bad;
                   }}),
    [](const testing::TestParamInfo<BadCabinet>& info) { return std::string(info.param.name); });

TEST_F(CabInstall, NamesThatAreNotPlainRelativePathsInstallNothing) {
    for (const char* name : {"..\\escape.txt", "boot\\..\\..\\escape.txt", "boot\\\\x.txt",
                             "\\abs.txt", "c:\\x.txt", "boot\\"}) {
        SCOPED_TRACE(name);
        std::vector<sim::CabinetEntry> entries = kEntries;
        entries.push_back({name, ToBytes("bad")});
        device_.WriteBytes("\\UpgradeTemp\\p.Cab", Cabinet(entries));
        EXPECT_FALSE(InstallCab(W("\\UpgradeTemp\\p.Cab"), true));
        EXPECT_TRUE(DeviceFiles().empty());
        EXPECT_FALSE(fs::exists(device_.Root() / "escape.txt"));
    }
}

TEST_F(CabInstall, AFileWhereTheCabinetNeedsAFolderInstallsNothing) {
    device_.Write("\\store", "a file, not a folder");
    device_.WriteBytes("\\UpgradeTemp\\p.Cab", Cabinet(kEntries));
    EXPECT_FALSE(InstallCab(W("\\UpgradeTemp\\p.Cab"), true));
    EXPECT_EQ(DeviceFiles(), (std::vector<std::string>{"store=a file, not a folder"}));
}

TEST_F(CabInstall, LoaderRefusesABadCommandLine) {
    device_.WriteBytes("\\UpgradeTemp\\p.Cab", Cabinet(kEntries));
    for (const char* line :
         {"", " /delete 0 /nouninstall ", "/delete 0 /nouninstall \\UpgradeTemp\\p.Cab",
          " /delete 1 /nouninstall \\UpgradeTemp\\p.Cab"}) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(RunProcess(W("\\Windows\\wceldcmd.exe"), W(line), true));
    }
    EXPECT_TRUE(RunProcess(W("\\Windows\\wceldcmd.exe"),
                           W(" /delete 0 /nouninstall \\UpgradeTemp\\p.Cab"), true));
}

// Payloads made by the pack tool: every block within the format's limits, and
// decoded by the module's decoder to the very bytes that went in.
TEST_F(CabInstall, PackedPayloadsRoundTripThroughTheDecoder) {
    for (size_t size : {size_t(0), size_t(5), size_t(8192), size_t(100000)}) {
        SCOPED_TRACE(size);
        const Bytes data = FirmwareLike(size);
        const Bytes payload = sim::PackPayload(data);
        size_t at = 0;
        while (at < payload.size()) {
            ASSERT_LE(at + 4, payload.size());
            const int32_t length =
                static_cast<int32_t>(payload[at] | (payload[at + 1] << 8) |
                                     (payload[at + 2] << 16) | (payload[at + 3] << 24));
            ASSERT_GT(length, 0);
            ASSERT_LE(length, kLz4MaxCompressedBlockSize);
            at += 4 + static_cast<size_t>(length);
        }
        EXPECT_EQ(at, payload.size());
        device_.WriteBytes("\\p.lz4", payload);
        ASSERT_TRUE(DecompressLz4File(W("\\p.lz4"), W("\\p.bin"), true));
        const Bytes out = ReadHostFile(device_.Host("\\p.bin"));
        EXPECT_TRUE(out == data);
    }
}

// The whole road of a package on the printer: a multi-block payload holding a
// real cabinet, unpacked by Install_Exit and installed by the loader stand-in.
TEST_F(CabInstall, InstallExitUnpacksAndInstallsTheNestedCabinet) {
    std::vector<sim::CabinetEntry> entries = kEntries;
    entries.push_back({"boot\\firmware\\image.bin", FirmwareLike(300000)});
    device_.WriteBytes("\\UpgradeTemp\\QuorinpackageLayout.lz4",
                       sim::PackPayload(Cabinet(entries)));
    std::ofstream(device_.Hw() / "free-bytes") << "52428800";

    EXPECT_EQ(setup::RunInstallExit(W("QuorinpackageLayout")), 0);

    EXPECT_EQ(ReadHostFile(device_.Host("\\BOOT\\firmware\\image.bin")), FirmwareLike(300000));
    EXPECT_EQ(ReadHostFile(device_.Host("\\store\\fonts\\Mono.ttf")), ToBytes("font bytes"));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\QuorinpackageLayout.lz4"));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\QuorinpackageLayout.Cab"));
    EXPECT_FALSE(device_.Exists("\\BOOT\\QuorinpackageLayout.Cab"));
}

// ---- the command line ------------------------------------------------------

int Fwsetup(const std::string& arguments) {
    const std::string command =
        std::string(FWSETUP_BIN_DIR) + "/fwsetup " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

TEST_F(CabInstall, PayloadToolPacksAndUnpacksLeavingItsInput) {
    const fs::path work = device_.Root() / "work";
    fs::create_directories(work);
    const Bytes data = FirmwareLike(50000);
    std::ofstream(work / "in.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));

    ASSERT_EQ(Fwsetup("payload pack " + Quote(work / "in.bin") + " " + Quote(work / "p.lz4")), 0);
    ASSERT_EQ(Fwsetup("payload unpack " + Quote(work / "p.lz4") + " " + Quote(work / "out.bin")),
              0);
    EXPECT_TRUE(ReadHostFile(work / "out.bin") == data);
    EXPECT_TRUE(fs::exists(work / "p.lz4"));
    // Nothing of the temporary device is left next to the output.
    EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 3);

    EXPECT_EQ(Fwsetup("payload unpack " + Quote(work / "missing.lz4") + " " + Quote(work / "x")),
              2);
    EXPECT_EQ(Fwsetup("payload pack " + Quote(work / "in.bin") + " " + Quote(work / "in.bin")), 2);
    EXPECT_EQ(Fwsetup("payload pack " + Quote(work / "in.bin") + " " + Quote(work)), 2);
    EXPECT_EQ(Fwsetup("payload pack"), 2);
}

TEST_F(CabInstall, PackageMadeByTheToolInstallsThroughTheInstaller) {
    const fs::path work = device_.Root() / "work";
    fs::create_directories(work / "payload" / "boot");
    fs::create_directories(work / "payload" / "store" / "cfg");
    std::ofstream(work / "payload" / "boot" / "a.json") << "{\"a\":1}";
    std::ofstream(work / "payload" / "store" / "cfg" / "b.txt") << "bee";
    fs::create_directories(work / "extra" / "boot");
    std::ofstream(work / "extra" / "boot" / "extra.txt") << "copied by the installer";
    const std::string module = std::string(FWSETUP_MODULES_DIR) + "/QuorinpackageLayout.so";
    const fs::path pkg = work / "pkg";

    ASSERT_EQ(Fwsetup("package make --layout QuorinpackageLayout --module '" + module +
                      "' --payload " + Quote(work / "payload") + " --files " +
                      Quote(work / "extra") + " -o " + Quote(pkg)),
              0);
    EXPECT_TRUE(fs::is_regular_file(pkg / "setup.so"));
    EXPECT_TRUE(fs::is_regular_file(pkg / "files" / "UpgradeTemp" / "QuorinpackageLayout.lz4"));
    EXPECT_TRUE(fs::is_regular_file(pkg / "files" / "boot" / "extra.txt"));
    // A package is never made over an existing one.
    EXPECT_EQ(Fwsetup("package make --layout QuorinpackageLayout --module '" + module +
                      "' --payload " + Quote(work / "payload") + " -o " + Quote(pkg)),
              2);
    EXPECT_EQ(Fwsetup("package make --layout QuorinpackageLayout --module '" + module +
                      "' --payload " + Quote(work / "nothing") + " -o " + Quote(work / "pkg2")),
              2);
    EXPECT_FALSE(fs::exists(work / "pkg2"));

    ASSERT_EQ(Fwsetup("install --device " + Quote(device_.Root()) + " " + Quote(pkg)), 0);
    EXPECT_EQ(ReadHostFile(device_.Host("\\BOOT\\a.json")), ToBytes("{\"a\":1}"));
    EXPECT_EQ(ReadHostFile(device_.Host("\\store\\cfg\\b.txt")), ToBytes("bee"));
    EXPECT_EQ(ReadHostFile(device_.Host("\\BOOT\\extra.txt")), ToBytes("copied by the installer"));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\QuorinpackageLayout.lz4"));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\QuorinpackageLayout.Cab"));
}

}  // namespace
