// The upgrade UI and upgrade series end to end through the built binary:
// `fwsetup ui watch` sees what a failing package reports while its installer
// stays halted, and `fwsetup upgrade` stops a series at the failing package.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/host/device_root.h"
#include "run_fwsetup.h"
#include "sim/upgrade_ui.h"
#include "support/temp_device.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;

// How long a step may take before the test gives up on it (a bound for a hung
// program, not a timing expectation).
const std::chrono::seconds kPatience(60);

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// bin/fwsetup running in the background, its output in a file; killed and
// reaped when the object goes, if it is still running.
class Background {
  public:
    Background(const std::vector<std::string>& args, const fs::path& output) : output_(output) {
        std::vector<std::string> argv = {std::string(FWSETUP_BIN_DIR) + "/fwsetup"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (std::string& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, cargv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background() {
        if (Running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
        }
    }

    bool Started() const { return pid_ > 0; }
    bool Running() {
        if (pid_ <= 0 || ended_)
            return false;
        if (waitpid(pid_, &status_, WNOHANG) == pid_)
            ended_ = true;
        return !ended_;
    }
    // Waits for the end within the patience; the exit status, -1 otherwise.
    int Wait() {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (Running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    std::string Output() const { return ReadText(output_); }

  private:
    fs::path output_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

class UpgradeUi : public testing::Test {
  protected:
    void SetUp() override {
        const fwtest::ToolRun run = RunFwsetup({"device", "init", Printer().string()}, Scratch());
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    const fs::path& Scratch() const { return scratch_.Root(); }
    fs::path Printer() const { return scratch_.Root() / "printer"; }
    fs::path Ring() const { return Printer() / "hw/named/Global/UPGRADE_SHARED_MEMORY"; }

    // A package whose nested cabinet cannot be installed: its payload is not
    // an LZ4 block stream, so the loader is handed a broken cabinet.
    fs::path FailingPackage() const {
        const fs::path pkg = Scratch() / "pkg-broken";
        fs::create_directories(pkg / "files/UpgradeTemp");
        fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so", pkg / "setup.so",
                      fs::copy_options::overwrite_existing);
        std::ofstream(pkg / "files/UpgradeTemp/QuorinpackageLayout.lz4") << "not a payload";
        return pkg;
    }

    // A package whose cabinet installs boot\<name>.txt.
    fs::path GoodPackage(const std::string& name) const {
        const fs::path payload = Scratch() / ("payload-" + name);
        fs::create_directories(payload / "boot");
        std::ofstream(payload / "boot" / (name + ".txt")) << name;
        const fs::path pkg = Scratch() / ("pkg-" + name);
        const fwtest::ToolRun run =
            RunFwsetup({"package", "make", "--layout", "QuorinpackageLayout", "--module",
                        (fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so").string(),
                        "--payload", payload.string(), "-o", pkg.string()},
                       Scratch());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return pkg;
    }

    // Waits until a UI serves the printer's channel.
    bool WaitForListeningUi() const {
        platform::host::SetDeviceRoot(Printer().string());
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        bool listening = false;
        while (!(listening = sim::UpgradeUiIsListening()) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        platform::host::SetDeviceRoot(Scratch().string());
        return listening;
    }

  private:
    fwtest::TempDevice scratch_;
};

TEST_F(UpgradeUi, WatcherSeesTheFailedCabinetAndTheInstallerStaysHalted) {
    const fs::path pkg = FailingPackage();
    Background watch(
        {"ui", "watch", "--device", Printer().string(), "--count", "1", "--timeout", "120"},
        Scratch() / "watch.out");
    ASSERT_TRUE(watch.Started());
    ASSERT_TRUE(WaitForListeningUi());

    Background install({"install", "--device", Printer().string(), pkg.string()},
                       Scratch() / "install.out");
    ASSERT_TRUE(install.Started());
    EXPECT_EQ(watch.Wait(), 0);
    EXPECT_EQ(Lines(watch.Output()), std::vector<std::string>{"27 SetupStepFailed"});
    // The report halts the installer for good: it never gets to print what
    // Install_Exit returned. (The pause gives one that wrongly returned the
    // time to show it.)
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(install.Running());
    EXPECT_EQ(install.Output().find("Install_Exit returned"), std::string::npos)
        << install.Output();
}

TEST_F(UpgradeUi, WithoutWatcherTheInstallerReturnsAndNothingIsWritten) {
    const fwtest::ToolRun run = RunFwsetup(
        {"install", "--device", Printer().string(), FailingPackage().string()}, Scratch());
    // A failed cabinet does not change Install_Exit's result.
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Install_Exit returned 0"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(Ring()));
}

TEST_F(UpgradeUi, WatchEndsAtItsTimeoutAndRefusesBadArguments) {
    const fwtest::ToolRun quiet =
        RunFwsetup({"ui", "watch", "--device", Printer().string(), "--timeout", "0.2"}, Scratch());
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out, "");

    const std::vector<std::vector<std::string>> bad = {
        {"ui", "watch", "--device", Printer().string(), "--count", "0"},
        {"ui", "watch", "--device", Printer().string(), "--count", "x"},
        {"ui", "watch", "--device", Printer().string(), "--timeout", "-1"},
        {"ui", "watch", "--device", (Scratch() / "nowhere").string(), "--timeout", "1"},
        {"upgrade", "--device", Printer().string(), (Scratch() / "no-package").string()},
        {"upgrade", "--device", (Scratch() / "nowhere").string(), Scratch().string()},
    };
    for (const std::vector<std::string>& args : bad) {
        const fwtest::ToolRun run = RunFwsetup(args, Scratch());
        EXPECT_EQ(run.exitCode, 2) << args[1] << " " << args.back();
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    }
}

TEST_F(UpgradeUi, SeriesStopsAtTheFailingPackageAndSaysWhy) {
    const fs::path one = GoodPackage("one");
    const fs::path broken = FailingPackage();
    const fs::path two = GoodPackage("two");
    const fwtest::ToolRun run = RunFwsetup(
        {"upgrade", "--device", Printer().string(), one.string(), broken.string(), two.string()},
        Scratch());
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;

    std::vector<std::string> packageLines;
    for (const std::string& line : Lines(run.out)) {
        if (line.rfind("[", 0) == 0)
            packageLines.push_back(line);
    }
    ASSERT_EQ(packageLines.size(), 3u) << run.out;
    EXPECT_EQ(packageLines[0], "[1/3] " + one.string() + ": installed");
    EXPECT_EQ(packageLines[1].rfind("[2/3] " + broken.string() + ": reported a failure", 0), 0u)
        << packageLines[1];
    EXPECT_NE(packageLines[1].find("27 SetupStepFailed"), std::string::npos) << packageLines[1];
    EXPECT_EQ(packageLines[2], "[3/3] " + two.string() + ": not run");
    EXPECT_EQ(Lines(run.out).back().rfind("upgrade stopped at package 2 of 3", 0), 0u) << run.out;

    EXPECT_TRUE(fs::exists(Printer() / "fs/boot/one.txt"));
    EXPECT_FALSE(fs::exists(Printer() / "fs/boot/two.txt"));
}

TEST_F(UpgradeUi, SeriesOfGoodPackagesInstallsThemAll) {
    const fs::path one = GoodPackage("one");
    const fs::path two = GoodPackage("two");
    const fwtest::ToolRun run = RunFwsetup(
        {"upgrade", "--device", Printer().string(), one.string(), two.string()}, Scratch());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(Lines(run.out).back(), "upgrade complete: 2 package(s) installed");
    EXPECT_EQ(ReadText(Printer() / "fs/boot/one.txt"), "one");
    EXPECT_EQ(ReadText(Printer() / "fs/boot/two.txt"), "two");
}

}  // namespace
