#include "sim/upgrade_series.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/host/device_root.h"
#include "sim/upgrade_ui.h"

extern char** environ;

namespace sim {
namespace {

namespace fs = std::filesystem;

// How often the series looks at its installer while no code arrives.
const std::chrono::milliseconds kPollSlice(50);

// Makes the given device the process's device for the series, and puts the
// previous one back afterwards.
class DeviceRootScope {
  public:
    explicit DeviceRootScope(const fs::path& device) : previous_(platform::host::DeviceRoot()) {
        platform::host::SetDeviceRoot(device.string());
    }
    ~DeviceRootScope() { platform::host::SetDeviceRoot(previous_); }

  private:
    std::string previous_;
};

// A temporary file that takes an installer's output; removed with the object.
class OutputFile {
  public:
    OutputFile() {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-upgrade-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        fd_ = mkstemp(buffer.data());
        if (fd_ < 0)
            throw std::runtime_error("cannot make a temporary file for installer output");
        path_ = buffer.data();
    }
    ~OutputFile() {
        close(fd_);
        unlink(path_.c_str());
    }
    int fd() const { return fd_; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    int fd_;
    std::string path_;
};

// Starts `fwsetup install --device DEVICE PKG` with its output going to output.
// Returns the process id, or -1 with the reason in error.
pid_t StartInstaller(const fs::path& fwsetup, const fs::path& device, const fs::path& package,
                     const OutputFile& output, std::string& error) {
    std::vector<std::string> args = {fwsetup.string(), "install", "--device", device.string(),
                                     package.string()};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output.fd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.fd(), STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = "cannot start " + args[0] + ": " + strerror(rc);
        return -1;
    }
    return pid;
}

std::string CodesText(const std::vector<uint8_t>& codes) {
    std::string text;
    for (uint8_t code : codes) {
        if (!text.empty())
            text += ", ";
        text += ProgressCodeLine(code);
    }
    return text;
}

std::string ExitText(int status) {
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (code == 1)
            return "Install_Exit returned 1: the package's action failed (exit 1)";
        return "the installer failed with exit status " + std::to_string(code);
    }
    if (WIFSIGNALED(status)) {
        return "the installer died of signal " + std::to_string(WTERMSIG(status));
    }
    return "the installer ended abnormally";
}

// Installs one package while the UI watches.
void InstallOne(UpgradeUi& ui, const UpgradeSeriesOptions& options, PackageOutcome& outcome) {
    OutputFile output;
    std::string error;
    const pid_t pid =
        StartInstaller(options.fwsetup, options.device, outcome.package, output, error);
    if (pid < 0) {
        outcome.status = PackageStatus::kFailed;
        outcome.reason = error;
        return;
    }
    int status = 0;
    for (;;) {
        std::vector<uint8_t> codes = ui.WaitForCodes(kPollSlice);
        if (!codes.empty()) {
            // The module halts its thread after a report: the installer never
            // returns, so the series ends it as the UI would.
            outcome.codes = codes;
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) {
            outcome.codes = ui.ReadNewCodes();
            if (ended == pid && WIFEXITED(status))
                outcome.exitCode = WEXITSTATUS(status);
            break;
        }
    }
    outcome.output = output.Read();
    if (!outcome.codes.empty()) {
        outcome.status = PackageStatus::kReportedFailure;
        outcome.reason = "the setup module reported " + CodesText(outcome.codes) +
                         "; its installer was halted and has been ended";
    } else if (outcome.exitCode == 0) {
        outcome.status = PackageStatus::kInstalled;
    } else {
        outcome.status = PackageStatus::kFailed;
        outcome.reason = ExitText(status);
    }
}

}  // namespace

const char* PackageStatusText(PackageStatus status) {
    switch (status) {
        case PackageStatus::kInstalled:
            return "installed";
        case PackageStatus::kReportedFailure:
            return "reported a failure";
        case PackageStatus::kFailed:
            return "failed";
        case PackageStatus::kNotRun:
            return "not run";
    }
    return "unknown";
}

UpgradeSeriesResult RunUpgradeSeries(const UpgradeSeriesOptions& options) {
    DeviceRootScope root(options.device);
    UpgradeUi ui;
    UpgradeSeriesResult result;
    for (const fs::path& package : options.packages) {
        PackageOutcome outcome;
        outcome.package = package;
        result.packages.push_back(outcome);
    }
    for (size_t i = 0; i < result.packages.size(); ++i) {
        PackageOutcome& outcome = result.packages[i];
        InstallOne(ui, options, outcome);
        if (options.onPackage)
            options.onPackage(outcome);
        if (outcome.status != PackageStatus::kInstalled) {
            result.failed = i;
            break;
        }
    }
    return result;
}

}  // namespace sim
