// The installer stand-in as one careful installer: one installation per
// printer at a time (a second one fails at once, and a killed one leaves the
// printer free), a copy that a full volume or a kill cannot turn into a
// fragment, and a summary that names the steps that reported code 27.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "run_fwsetup.h"
#include "sim/installer.h"
#include "support/child_process.h"
#include "support/host_files.h"
#include "support/temp_device.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Waits (bounded, so that a regression fails instead of hanging) for a file.
bool AppearsSoon(const fs::path& file) {
    for (int i = 0; i < 6000; ++i) {
        if (fs::exists(file))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// `fwsetup install` started in the background.
class BackgroundInstall {
  public:
    BackgroundInstall(const fs::path& device, const fs::path& package) {
        std::vector<std::string> args = {std::string(FWSETUP_BIN_DIR) + "/fwsetup", "install",
                                         "--device", device.string(), package.string()};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BackgroundInstall() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }
    void Kill() { kill(pid_, SIGKILL); }
    // The exit status; -1 when it did not exit by itself.
    int Wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
};

class InstallSafety : public testing::Test {
  protected:
    void SetUp() override {
        const fwtest::ToolRun run = RunFwsetup({"device", "init", Printer().string()}, Scratch());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        fwtest::WriteHostFile(canary_.Root() / "canary.txt", "canary\n");
    }
    void TearDown() override {
        EXPECT_EQ(fwtest::ReadHostFile(canary_.Root() / "canary.txt"), "canary\n");
    }

    const fs::path& Scratch() const { return scratch_.Root(); }
    fs::path Printer() const { return scratch_.Root() / "printer"; }
    fs::path OnPrinter(const std::string& rel) const { return Printer() / "fs" / rel; }

    // A package of the generic layout (its nested cabinet is whatever the
    // payload decodes to) with files below files/.
    fs::path Package(const std::string& name,
                     const std::vector<std::pair<std::string, std::string>>& files) {
        const fs::path pkg = Scratch() / name;
        fs::create_directories(pkg / "files");
        fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / "QuorinpackageLayout.so", pkg / "setup.so");
        for (const auto& file : files)
            fwtest::WriteHostFile(pkg / "files" / file.first, file.second);
        return pkg;
    }

    // The CAB loader replaced by a script that says when it runs and waits to
    // be let go; it points a link at the canary to show nothing follows it.
    void SlowLoader() {
        fwtest::WriteHostFile(
            OnPrinter("Windows/wceldcmd.exe"),
            "#!/bin/sh\n"
            ": > \"$FWSETUP_DEVICE/hw/loader-started\"\n"
            "while [ ! -e \"$FWSETUP_DEVICE/hw/loader-release\" ]; do sleep 0.01; done\n"
            "exit 0\n");
    }
    fs::path Started() const { return Printer() / "hw" / "loader-started"; }
    void Release() const { fwtest::WriteHostFile(Printer() / "hw" / "loader-release", ""); }

    TempDevice scratch_;
    TempDevice canary_;
};

TEST_F(InstallSafety, ASecondInstallationOnTheSamePrinterFailsAtOnce) {
    SlowLoader();
    const fs::path first = Package("first", {{"boot/first.txt", "first"}});
    const fs::path second = Package("second", {{"boot/second.txt", "second"}});
    BackgroundInstall running(Printer(), first);
    ASSERT_TRUE(AppearsSoon(Started()));

    const fwtest::ToolRun refused =
        RunFwsetup({"install", "--device", Printer().string(), second.string()}, Scratch());
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(fwtest::Lines(refused.err).size(), 1u) << refused.err;
    EXPECT_TRUE(refused.out.empty()) << refused.out;
    EXPECT_FALSE(fs::exists(OnPrinter("boot/second.txt")));

    Release();
    EXPECT_EQ(running.Wait(), 0);
    EXPECT_EQ(fwtest::ReadHostFile(OnPrinter("boot/first.txt")), "first");
    // Once it is over, the next one goes through.
    const fwtest::ToolRun next =
        RunFwsetup({"install", "--device", Printer().string(), second.string()}, Scratch());
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(fwtest::ReadHostFile(OnPrinter("boot/second.txt")), "second");
}

TEST_F(InstallSafety, AKilledInstallationLeavesThePrinterFree) {
    SlowLoader();
    const fs::path first = Package("first", {{"boot/first.txt", "first"}});
    BackgroundInstall running(Printer(), first);
    ASSERT_TRUE(AppearsSoon(Started()));
    running.Kill();
    EXPECT_EQ(running.Wait(), -1);
    Release();

    const fs::path second = Package("second", {{"boot/second.txt", "second"}});
    const fwtest::ToolRun next =
        RunFwsetup({"install", "--device", Printer().string(), second.string()}, Scratch());
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(fwtest::ReadHostFile(OnPrinter("boot/second.txt")), "second");
}

// The volume fills up, or the installer is killed, while it copies a file
// over an older one (a file size limit makes both happen at the same write,
// and binds root too): the older file stays whole and nothing is left beside it.
TEST_F(InstallSafety, AFullVolumeOrAKillMidCopyLeavesTheOlderFile) {
    std::string big(64 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 131);
    const fs::path pkg = Package("big", {{"boot/data.bin", big}});
    struct Case {
        const char* name;
        bool killed;
    };
    for (const Case& c : {Case{"full volume", false}, Case{"killed", true}}) {
        SCOPED_TRACE(c.name);
        fwtest::WriteHostFile(OnPrinter("boot/data.bin"), "the older file");
        const std::vector<std::string> before = Names(OnPrinter("boot"));
        const fwtest::ChildOutcome outcome = fwtest::RunInChild([&] {
            if (c.killed)
                signal(SIGXFSZ, [](int) { raise(SIGKILL); });
            else
                signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {16 * 1024, 16 * 1024};
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
            sim::InstallOptions options;
            options.device = Printer();
            options.package = pkg;
            const sim::InstallResult result = sim::InstallPackage(options);
            EXPECT_EQ(result.failedFiles.size(), 1u);
        });
        if (c.killed)
            EXPECT_EQ(outcome.signal, SIGKILL) << outcome.Describe();
        else
            EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
        EXPECT_EQ(fwtest::ReadHostFile(OnPrinter("boot/data.bin")), "the older file");
        EXPECT_EQ(Names(OnPrinter("boot")), before);
    }
}

struct SummaryCase {
    const char* name;
    const char* layout;
    bool payload;  // a nested cabinet that installs
    int exitCode;
    const char* reported;  // what the summary's last line names; null: "(done)"
};

const SummaryCase kSummaryCases[] = {
    {"CabinetInstalled", "QuorinpackageLayout", true, 0, nullptr},
    // Without a payload the nested cabinet is empty: the loader refuses it and
    // the module goes on, so the installer still exits 0.
    {"CabinetRejected", "QuorinpackageLayout", false, 0, "installing the nested cabinet"},
    // The operating-system package without its kernel image fails its action too.
    {"CabinetRejectedAndActionFailed", "QuorinOSPackageLayout", false, 1,
     "installing the nested cabinet (\\Windows\\wceldcmd.exe exited 1); the package's action"},
};

class InstallSummary : public InstallSafety, public testing::WithParamInterface<SummaryCase> {};

TEST_P(InstallSummary, NamesTheStepsThatReportedCode27) {
    const SummaryCase& c = GetParam();
    const fs::path pkg = Scratch() / "pkg";
    if (c.payload) {
        fwtest::WriteHostFile(Scratch() / "payload" / "boot" / "from-cabinet.txt", "nested");
        const fwtest::ToolRun made =
            RunFwsetup({"package", "make", "--layout", c.layout, "--module",
                        (fs::path(FWSETUP_MODULES_DIR) / (std::string(c.layout) + ".so")).string(),
                        "--payload", (Scratch() / "payload").string(), "-o", pkg.string()},
                       Scratch());
        ASSERT_EQ(made.exitCode, 0) << made.err;
    } else {
        fs::create_directories(pkg / "files");
        fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / (std::string(c.layout) + ".so"),
                      pkg / "setup.so");
    }
    const fwtest::ToolRun run =
        RunFwsetup({"install", "--device", Printer().string(), pkg.string()}, Scratch());
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    const std::vector<std::string> lines = fwtest::Lines(run.out);
    ASSERT_FALSE(lines.empty());
    const std::string& last = lines.back();
    if (!c.reported) {
        EXPECT_NE(last.find("(done)"), std::string::npos) << last;
        EXPECT_EQ(fwtest::ReadHostFile(OnPrinter("boot/from-cabinet.txt")), "nested");
    } else {
        EXPECT_EQ(last.find("(done)"), std::string::npos) << last;
        EXPECT_NE(last.find("code 27"), std::string::npos) << last;
        EXPECT_NE(last.find(c.reported), std::string::npos) << last;
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, InstallSummary, testing::ValuesIn(kSummaryCases),
                         [](const testing::TestParamInfo<SummaryCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
