// fwsetup install, end to end through the built binary: the package's files
// arrive, the hooks' clean-ups run, and bad inputs are refused cleanly.
#include <gtest/gtest.h>

#include <fstream>

#include "run_fwsetup.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A scratch folder with a fresh printer in it.
class InstallCommand : public testing::Test {
  protected:
    void SetUp() override {
        const fwtest::ToolRun run = RunFwsetup({"device", "init", Printer().string()}, Scratch());
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    const fs::path& Scratch() const { return scratch_.Root(); }
    fs::path Printer() const { return scratch_.Root() / "printer"; }
    fs::path OnPrinter(const std::string& rel) const { return Printer() / "fs" / rel; }

    // PKG with the layout's module as setup.so and the given files under files/.
    fs::path MakePackage(const std::string& layout,
                         const std::vector<std::pair<std::string, std::string>>& files) {
        const fs::path pkg = Scratch() / ("pkg-" + layout);
        fs::create_directories(pkg / "files");
        fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / (layout + ".so"), pkg / "setup.so");
        for (const auto& file : files)
            WriteFile(pkg / "files" / file.first, file.second);
        return pkg;
    }

  private:
    TempDevice scratch_;
};

struct CleanupCase {
    const char* layout;
    std::vector<std::pair<std::string, std::string>> before;   // on the printer first
    std::vector<std::pair<std::string, std::string>> package;  // PKG/files
    std::vector<std::pair<std::string, std::string>> after;    // expected contents afterwards
    std::vector<std::string> gone;                             // expected to be gone
};

const CleanupCase kCleanupCases[] = {
    // The old application folder (in another letter case) is cleared before the
    // new files arrive, which make it anew in the package's case; the package's
    // BOOT\ lands in the existing boot\.
    {"QuorinVEXOAppsPackageLayout",
     {{"boot/VexoApps/Old.exe", "old"}, {"boot/VexoApps/Label.exe", "old label"}},
     {{"BOOT/VEXOApps/Label.exe", "new label"}},
     {{"boot/VEXOApps/Label.exe", "new label"}},
     {"boot/VexoApps", "BOOT"}},
    {"QuorinQtCommonPackageLayout",
     {{"boot/OCControls/a.qml", "old"},
      {"boot/OCScreens/b.qml", "old"},
      {"boot/OCSupport/c.ts", "old"},
      {"boot/OCThemes/d.qss", "kept"}},
     {{"boot/OCScreens/new.qml", "new"}},
     {{"boot/OCScreens/new.qml", "new"}, {"boot/OCThemes/d.qss", "kept"}},
     {"boot/OCControls", "boot/OCSupport", "boot/OCScreens/b.qml"}},
};

TEST_F(InstallCommand, CleansUpThenCopiesThePackageFiles) {
    for (const CleanupCase& c : kCleanupCases) {
        SCOPED_TRACE(c.layout);
        for (const auto& file : c.before)
            WriteFile(OnPrinter(file.first), file.second);
        const fs::path pkg = MakePackage(c.layout, c.package);

        const fwtest::ToolRun run =
            RunFwsetup({"install", "--device", Printer().string(), pkg.string()}, Scratch());
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("Install_Exit returned 0"), std::string::npos) << run.out;

        for (const auto& file : c.after) {
            std::ifstream in(OnPrinter(file.first), std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), file.second)
                << file.first;
        }
        for (const std::string& path : c.gone)
            EXPECT_FALSE(fs::exists(OnPrinter(path))) << path;
        // Nothing moved aside remains in the boot folder.
        for (const auto& entry : fs::directory_iterator(OnPrinter("boot"))) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.find_first_of("0123456789") == std::string::npos) << name;
        }
    }
}

// Install_Exit's 1 (here: the operating-system package without a kernel image) is exit 1.
TEST_F(InstallCommand, FailedPackageActionIsExitOne) {
    const fs::path pkg = MakePackage("QuorinOSPackageLayout", {});
    const fwtest::ToolRun run =
        RunFwsetup({"install", "--device", Printer().string(), pkg.string()}, Scratch());
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("Install_Exit returned 1"), std::string::npos) << run.out;
}

// The copy overwrites what is there, matching names without regard to case.
TEST_F(InstallCommand, ModuleCanBeGivenSeparately) {
    WriteFile(OnPrinter("store/NOTE.txt"), "old note");
    const fs::path pkg = Scratch() / "bare";
    WriteFile(pkg / "files" / "Store" / "note.TXT", "new note");
    const fs::path module = fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so";
    const fwtest::ToolRun run = RunFwsetup(
        {"install", "--device", Printer().string(), "--module", module.string(), pkg.string()},
        Scratch());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    std::ifstream in(OnPrinter("store/NOTE.txt"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new note");
    EXPECT_FALSE(fs::exists(OnPrinter("Store")));
    EXPECT_FALSE(fs::exists(OnPrinter("store/note.TXT")));
}

// Bad inputs: exit 2 with one line on stderr, and the package's files never arrive.
TEST_F(InstallCommand, RefusesBadInputsWithOneLine) {
    const fs::path good = MakePackage("QuorinpackageLayout", {{"store/arrived.txt", "x"}});
    const std::string printer = Printer().string();

    auto packageWithModule = [&](const std::string& name, const std::string& moduleBytes) {
        const fs::path pkg = Scratch() / name;
        WriteFile(pkg / "files" / "store" / "arrived.txt", "x");
        WriteFile(pkg / "setup.so", moduleBytes);
        return pkg.string();
    };
    const fs::path partial = Scratch() / "partial";
    WriteFile(partial / "files" / "store" / "arrived.txt", "x");
    fs::copy_file(FWSETUP_PARTIAL_MODULE, partial / "setup.so");
    const fs::path noModule = Scratch() / "no-module";
    WriteFile(noModule / "files" / "store" / "arrived.txt", "x");
    const fs::path noFiles = Scratch() / "no-files";
    fs::create_directories(noFiles);
    fs::copy_file(good / "setup.so", noFiles / "setup.so");
    const fs::path notDevice = Scratch() / "not-a-device";
    fs::create_directories(notDevice);

    const std::vector<std::vector<std::string>> cases = {
        {"install"},
        {"install", good.string()},
        {"install", "--device", printer},
        {"install", "--device", "", good.string()},
        {"install", "--device", (Scratch() / "missing").string(), good.string()},
        {"install", "--device", notDevice.string(), good.string()},
        {"install", "--device", printer, (Scratch() / "missing").string()},
        {"install", "--device", printer, noFiles.string()},
        {"install", "--device", printer, noModule.string()},
        {"install", "--device", printer, partial.string()},
        {"install", "--device", printer, packageWithModule("text", "not a shared library\n")},
        {"install", "--device", printer, packageWithModule("empty", "")},
        {"install", "--device", printer, "--module", Scratch().string(), good.string()},
        {"install", "--device", printer, good.string(), good.string()},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const std::string& a : args)
            shown += a + " ";
        const fwtest::ToolRun run = RunFwsetup(args, Scratch());
        EXPECT_EQ(run.exitCode, 2) << shown << "\n" << run.out << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << shown << "\n" << run.err;
        EXPECT_FALSE(fs::exists(OnPrinter("store/arrived.txt"))) << shown;
    }
}

}  // namespace
