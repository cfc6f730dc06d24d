// No name that reaches the simulated printer leads out of DEVICE: device paths
// with ".." (which stops at the root, as on the printer), absolute host paths
// and NULs given to the module's file calls, the programs it starts and their
// command lines, the names of shared objects, the names inside a cabinet, the
// files the EEPROM handler copies, and a link inside a package. DEVICE lies in
// a folder next to a canary folder named like the device's own \boot, so that
// every ".." too many would land in the canary: the canary, and everything
// else beside DEVICE, must come through unchanged.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "eeprom/wec_eeprom_handler.h"
#include "package/file_stream.h"
#include "platform/files.h"
#include "platform/host/device_root.h"
#include "platform/named_objects.h"
#include "platform/process.h"
#include "sim/cabinet.h"
#include "sim/device.h"
#include "sim/installer.h"
#include "sim/kernel_image.h"
#include "support/child_process.h"
#include "support/host_files.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::W;

// TOP holds DEVICE and, beside it, the canary folder TOP/boot.
struct Env {
    fs::path top;
    fs::path device() const { return top / "device"; }
    fs::path canary() const { return top / "boot"; }
    fs::path inFs(const std::string& relative) const { return device() / "fs" / relative; }
};

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> SmallImage() {
    sim::KernelImagePlan plan;
    plan.start = 0x80200000;
    plan.length = 0x1000;
    plan.stampMarker = true;
    plan.records.push_back({plan.start, std::vector<uint8_t>(0x100, 0x5A)});
    return sim::BuildKernelImage(plan);
}

// A printer, and in the canary every file a way out would reach: a secret, a
// cabinet, an image, a coprocessor image and a program that leaves a mark
// when it runs.
void Prepare(const Env& env) {
    sim::InitDevice(env.device(), sim::DeviceOptions(), FWSETUP_BIN_DIR);
    fs::copy_file(fs::path(FWSETUP_BIN_DIR) / "fwsetup-sim-stm32upgrader",
                  env.inFs("UpgradeTemp/STM32Upgrader"));
    fwtest::WriteHostFile(env.inFs("src.bin"), "source");
    fwtest::WriteHostFile(env.canary() / "secret.txt", "canary\n");
    fwtest::WriteHostFile(env.canary() / "ble.bin", "VERSION=1.2\nfirmware");
    const std::vector<uint8_t> image = SmallImage();
    fwtest::WriteHostFile(env.canary() / "nk.bin", std::string(image.begin(), image.end()));
    sim::WriteCabinet({{"boot\\x.json", Bytes("{}")}}, env.canary() / "p.cab");
    fwtest::WriteHostFile(env.canary() / "prog",
                          "#!/bin/sh\necho ran > '" + (env.canary() / "ran").string() + "'\n");
}

bool Started(const std::string& program, const std::string& commandLine) {
    std::unique_ptr<platform::Process> process =
        platform::CreateProcess(W(program), W(commandLine));
    uint32_t code = 1;
    return process && process->Wait() && process->GetExitCode(code) && code == 0;
}

bool Write(const WString& path) {
    FileStream stream(path, StreamMode::Write | StreamMode::Truncate);
    const uint8_t byte = 'x';
    return stream.Write(&byte, 1) == 1;
}

bool Read(const WString& path) {
    FileStream stream(path, StreamMode::Read);
    return stream.IsGood();
}

// A device path with a NUL before a climb: the part after the NUL must not count.
WString WithNul() {
    WString path = W("\\boot\\a");
    path.push_back(u'\0');
    return path + W("\\..\\..\\..\\boot\\secret.txt");
}

struct Way {
    const char* name;
    bool (*run)(const Env& env);
    bool done;            // whether the operation goes through (inside DEVICE)
    const char* landsAt;  // the file it makes below DEVICE/fs when done; null: none
};

const Way kWays[] = {
    {"ReadAboveTheRoot", [](const Env&) { return Read(W("\\..\\..\\boot\\secret.txt")); }, false,
     nullptr},
    {"WriteAboveTheRoot", [](const Env&) { return Write(W("..\\..\\boot\\new.bin")); }, true,
     "boot/new.bin"},
    {"WriteWithSlashes", [](const Env&) { return Write(W("/../../boot/slash.bin")); }, true,
     "boot/slash.bin"},
    {"CopyFromAboveTheRoot",
     [](const Env&) {
         return platform::CopyFile(W("\\..\\..\\boot\\secret.txt"), W("\\copy.bin"), false);
     },
     false, nullptr},
    {"CopyToAboveTheRoot",
     [](const Env&) {
         return platform::CopyFile(W("\\src.bin"), W("\\..\\..\\boot\\copy.bin"), false);
     },
     true, "boot/copy.bin"},
    {"MoveFromAboveTheRoot",
     [](const Env&) {
         return platform::MoveFile(W("\\..\\..\\boot\\secret.txt"), W("\\moved.bin"));
     },
     false, nullptr},
    {"DeleteAboveTheRoot",
     [](const Env&) { return platform::DeleteFile(W("\\..\\..\\boot\\secret.txt")); }, false,
     nullptr},
    {"AttributesAboveTheRoot",
     [](const Env&) {
         return platform::GetFileAttributes(W("\\..\\..\\boot\\secret.txt")) !=
                platform::kInvalidFileAttributes;
     },
     false, nullptr},
    {"SearchAboveTheRoot",
     [](const Env&) {
         platform::FindData first;
         return platform::FindFirstFile(W("\\..\\..\\boot\\secret*"), first) != nullptr;
     },
     false, nullptr},
    {"ReadAbsoluteHostPath",
     [](const Env& env) { return Read(W((env.canary() / "secret.txt").string())); }, false,
     nullptr},
    {"WriteAbsoluteHostPath",
     [](const Env& env) { return Write(W((env.canary() / "absolute.bin").string())); }, false,
     nullptr},
    {"ReadPathWithNul", [](const Env&) { return Read(WithNul()); }, false, nullptr},
    {"WritePathWithNul", [](const Env&) { return Write(WithNul()); }, false, nullptr},
    {"ProgramAboveTheRoot", [](const Env&) { return Started("\\..\\..\\boot\\prog", ""); }, false,
     nullptr},
    {"ProgramAtAbsoluteHostPath",
     [](const Env& env) { return Started((env.canary() / "prog").string(), ""); }, false, nullptr},
    {"SharedObjectNameClimbs",
     [](const Env&) {
         return platform::CreateFileMapping(W("Global\\..\\..\\..\\..\\boot\\ring"), 64) != nullptr;
     },
     false, nullptr},
    {"CabinetAboveTheRoot",
     [](const Env&) {
         return Started("\\Windows\\wceldcmd.exe", " /delete 0 /nouninstall \\..\\..\\boot\\p.cab");
     },
     false, nullptr},
    {"CabinetMemberClimbs",
     [](const Env& env) {
         sim::WriteCabinet({{"boot\\ok.json", Bytes("{}")},
                            {"..\\..\\boot\\evil.json", Bytes("{\"evil\": true}")}},
                           env.inFs("UpgradeTemp/p.cab"));
         return Started("\\Windows\\wceldcmd.exe", " /delete 0 /nouninstall \\UpgradeTemp\\p.cab");
     },
     false, nullptr},
    {"ImageAboveTheRoot",
     [](const Env&) {
         return Started("\\Windows\\nfimager.exe", "-w -f \\..\\..\\boot\\nk.bin -s 1");
     },
     false, nullptr},
    {"CoprocessorImageAboveTheRoot",
     [](const Env&) {
         return Started("\\UpgradeTemp\\STM32Upgrader", "-AH \\..\\..\\boot\\ble.bin");
     },
     false, nullptr},
    {"EepromRegionFromAboveTheRoot",
     [](const Env&) {
         WecEEPromHandler handler;
         return handler.IsOpen() && handler.WriteRegionFromFile(1, W("\\..\\..\\boot\\secret.txt"));
     },
     false, nullptr},
    {"EepromRegionToAboveTheRoot",
     [](const Env&) {
         WecEEPromHandler handler;
         return handler.IsOpen() && handler.ReadRegionToFile(0, W("\\..\\..\\boot\\region0.bin"));
     },
     true, "boot/region0.bin"},
    {"EepromHeaderToAboveTheRoot",
     [](const Env&) {
         WecEEPromHandler handler;
         return handler.IsOpen() && handler.DumpHeader(W("..\\..\\..\\boot\\header.bin"));
     },
     true, "boot/header.bin"},
    {"LinkInAPackage",
     [](const Env& env) {
         const fs::path package = env.top / "device-side-package";
         fs::create_directories(package / "files" / "boot");
         fs::create_symlink(env.canary() / "secret.txt", package / "files" / "boot" / "link.txt");
         fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so",
                       package / "setup.so");
         sim::InstallOptions options;
         options.device = env.device();
         options.package = package;
         const sim::InstallResult result = sim::InstallPackage(options);
         fs::remove_all(package);
         for (const std::string& copied : result.copiedFiles) {
             if (copied == "\\boot\\link.txt")
                 return true;
         }
         return false;
     },
     false, nullptr},
};

// Everything below TOP except DEVICE.
std::map<std::string, std::string> Beside(const Env& env) {
    std::map<std::string, std::string> entries = fwtest::FolderInventory(env.top);
    for (auto it = entries.begin(); it != entries.end();) {
        if (it->first == "device" || it->first.rfind("device/", 0) == 0)
            it = entries.erase(it);
        else
            ++it;
    }
    return entries;
}

class PathContainment : public testing::TestWithParam<size_t> {};

TEST_P(PathContainment, StaysInsideTheDevice) {
    const Way& way = kWays[GetParam()];
    fwtest::TempDevice top;
    const Env env{top.Root() / "top"};
    const fwtest::ChildOutcome outcome = fwtest::RunInChild(
        [&] {
            Prepare(env);
            platform::host::SetDeviceRoot(env.device().string());
            const std::map<std::string, std::string> before = Beside(env);
            ASSERT_TRUE(before.count("boot/secret.txt"));
            EXPECT_EQ(way.run(env), way.done);
            EXPECT_EQ(Beside(env), before) << "something outside the device changed";
            if (way.landsAt) {
                EXPECT_TRUE(fs::is_regular_file(env.inFs(way.landsAt))) << way.landsAt;
            }
            EXPECT_FALSE(fs::exists(env.inFs("boot/secret.txt")));
            EXPECT_FALSE(fs::exists(env.inFs("boot/evil.json")));
            EXPECT_FALSE(fs::exists(env.inFs("boot/x.json")));
            EXPECT_FALSE(fs::exists(env.device() / "hw/flash/slot1.nb0"));
        },
        60);
    EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
}

INSTANTIATE_TEST_SUITE_P(Ways, PathContainment,
                         testing::Range(size_t(0), sizeof(kWays) / sizeof(kWays[0])),
                         [](const testing::TestParamInfo<size_t>& info) {
                             return std::string(kWays[info.param].name);
                         });

}  // namespace
