// Starting device programs: exit codes (259, 9997, signals), programs that do
// not exist, the command line as one argument, no zombies; InstallCab.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "package/process_executor.h"
#include "platform/process.h"
#include "support/child_process.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::TempDevice;
using fwtest::W;

class Processes : public testing::Test {
  protected:
    // A shell script at a device path, made executable.
    void Script(const std::string& devicePath, const std::string& body) {
        device_.Write(devicePath, "#!/bin/sh\n" + body);
        chmod(device_.Host(devicePath).c_str(), 0755);
    }

    std::string Hw(const std::string& name) {
        std::ifstream in(device_.Hw() / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Waits (bounded) until a file appears under hw/.
    bool AwaitHw(const std::string& name) {
        for (int i = 0; i < 400; ++i) {
            if (fs::exists(device_.Hw() / name))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }

    // The test process has no child left, finished or not.
    static bool NoChildren() {
        int status;
        return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
    }

    TempDevice device_;
};

// A program that runs until the test creates hw/go (or the device is gone),
// then records the exit code file's path and exits with 9997.
const char kGatedProgram[] =
    "while [ ! -e \"$FWSETUP_DEVICE/hw/go\" ] && [ -d \"$FWSETUP_DEVICE\" ]; do sleep 0.02; done\n"
    "printf '%s' \"$FWSETUP_EXIT_CODE_FILE\" > \"$FWSETUP_DEVICE/hw/code-file\"\n"
    "echo 9997 > \"$FWSETUP_EXIT_CODE_FILE\"\n"
    "touch \"$FWSETUP_DEVICE/hw/done\"\n";

struct ExitCase {
    const char* name;
    const char* body;
    int executeResult;  // ProcessExecutor::ExecuteProcess, waiting
    bool runResult;     // RunProcess, waiting
};

void PrintTo(const ExitCase& c, std::ostream* os) {
    *os << c.name;
}

class ProcessExitCodes : public Processes, public testing::WithParamInterface<ExitCase> {};

TEST_P(ProcessExitCodes, WaitingStartersJudgeTheExitCode) {
    Script("\\Windows\\tool.exe", GetParam().body);
    EXPECT_EQ(ProcessExecutor::ExecuteProcess(W("\\Windows\\tool.exe"), W(" -x"), true),
              GetParam().executeResult);
    EXPECT_EQ(RunProcess(W("\\Windows\\tool.exe"), W(" -x"), true), GetParam().runResult);
    EXPECT_TRUE(NoChildren());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ProcessExitCodes,
    testing::Values(
        ExitCase{"zero", "exit 0\n", 0, true}, ExitCase{"one", "exit 1\n", 1, false},
        ExitCase{"three", "exit 3\n", 3, false},
        ExitCase{"still_active_259", "echo 259 > \"$FWSETUP_EXIT_CODE_FILE\"\n", 0, true},
        ExitCase{"code_9997", "echo 9997 > \"$FWSETUP_EXIT_CODE_FILE\"\nexit 1\n", 9997, false},
        // The file, when it holds a number, wins over the exit status.
        ExitCase{"file_zero_status_one", "echo 0 > \"$FWSETUP_EXIT_CODE_FILE\"\nexit 1\n", 0, true},
        ExitCase{"file_not_a_number", "echo x > \"$FWSETUP_EXIT_CODE_FILE\"\nexit 4\n", 4, false},
        // Killed by SIGKILL: 128 + 9.
        ExitCase{"killed", "kill -9 $$\n", 137, false}),
    [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

TEST_F(Processes, StillRunningReports259AndTheCodeOnceItEnds) {
    Script("\\Windows\\gated.exe", kGatedProgram);
    std::unique_ptr<platform::Process> process =
        platform::CreateProcess(W("\\Windows\\gated.exe"), W(""));
    ASSERT_TRUE(process);
    uint32_t code = 0;
    ASSERT_TRUE(process->GetExitCode(code));
    EXPECT_EQ(code, platform::kStillActive);

    std::ofstream(device_.Hw() / "go").put('1');
    ASSERT_TRUE(process->Wait());
    ASSERT_TRUE(process->GetExitCode(code));
    EXPECT_EQ(code, 9997u);
    // The exit code file is gone once the program has been waited for.
    const std::string codeFile = Hw("code-file");
    ASSERT_FALSE(codeFile.empty());
    EXPECT_FALSE(fs::exists(codeFile));
    EXPECT_TRUE(NoChildren());
}

TEST_F(Processes, WithoutWaitingARunningProgramCountsAsSuccess) {
    Script("\\Windows\\gated.exe", kGatedProgram);
    EXPECT_EQ(ProcessExecutor::ExecuteProcess(W("\\Windows\\gated.exe"), W(""), false), 0);
    EXPECT_TRUE(RunProcess(W("\\Windows\\gated.exe"), W(""), false));

    // Both programs still run, their handles long closed: once they end,
    // nothing is left behind, neither a zombie nor an exit code file.
    std::ofstream(device_.Hw() / "go").put('1');
    ASSERT_TRUE(AwaitHw("done"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(NoChildren());
    EXPECT_FALSE(fs::exists(Hw("code-file")));
}

TEST_F(Processes, ProgramsThatCannotStart) {
    device_.Write("\\Windows\\text.exe", "echo this is text, not a program\n");
    device_.Write("\\Windows\\empty.exe", "");
    device_.Write("\\Windows\\bare.exe", "#!\nexit 0\n");
    Script("\\Windows\\broken.exe", "exit 0\n");
    device_.Write("\\Windows\\broken.exe", "#!/no/such/interpreter\n");
    device_.Write("\\Windows\\long.exe", "#!/bin/sh" + std::string(300, ' ') + "-e\nexit 0\n");
    device_.MakeDir("\\Windows\\folder.exe");
    // Links are not part of the printer's file system, whatever they lead to.
    Script("\\real.exe", "exit 0\n");
    fs::create_symlink(device_.Host("\\real.exe"), device_.Host("\\Windows\\link.exe"));
    for (const char* program :
         {"\\Windows\\missing.exe", "missing.exe", "\\Windows\\text.exe", "\\Windows\\empty.exe",
          "\\Windows\\bare.exe", "\\Windows\\broken.exe", "\\Windows\\long.exe",
          "\\Windows\\folder.exe", "\\Windows\\link.exe", "link.exe", ""}) {
        SCOPED_TRACE(program);
        EXPECT_EQ(platform::CreateProcess(W(program), W("")), nullptr);
        EXPECT_EQ(ProcessExecutor::ExecuteProcess(W(program), W(" a"), true), 0);
        EXPECT_FALSE(RunProcess(W(program), W(" a"), true));
    }
    EXPECT_TRUE(NoChildren());
}

// On the printer any file can be started: a program that arrived without host
// execute bits (from a cabinet, by a copy) runs all the same.
struct PermissionCase {
    const char* name;
    const char* hostProgram;  // a host binary copied onto the device; null: the script
    const char* script;
    int exitCode;
};

void PrintTo(const PermissionCase& c, std::ostream* os) {
    *os << c.name;
}

class ProgramsWithoutExecuteBits : public Processes,
                                   public testing::WithParamInterface<PermissionCase> {};

TEST_P(ProgramsWithoutExecuteBits, StartAsOnThePrinter) {
    const PermissionCase& c = GetParam();
    const std::string path = "\\Windows\\tool.exe";
    if (c.hostProgram) {
        std::ifstream in(c.hostProgram, std::ios::binary);
        ASSERT_TRUE(in.is_open()) << c.hostProgram;
        device_.Write(path, std::string(std::istreambuf_iterator<char>(in), {}));
    } else {
        device_.Write(path, c.script);
    }
    chmod(device_.Host(path).c_str(), 0644);
    EXPECT_EQ(ProcessExecutor::ExecuteProcess(W(path), W(" -x"), true), c.exitCode);
    // Nothing about the file changed on the way.
    struct stat st;
    ASSERT_EQ(stat(device_.Host(path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_TRUE(NoChildren());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ProgramsWithoutExecuteBits,
    testing::Values(
        PermissionCase{"script", nullptr, "#!/bin/sh\nexit 5\n", 5},
        // The interpreter line's one argument reaches the interpreter: with -e
        // the failing command ends the script.
        PermissionCase{"script_with_argument", nullptr, "#!/bin/sh -e\nfalse\nexit 0\n", 1},
        PermissionCase{"script_through_env", nullptr, "#!  /usr/bin/env   sh  \nexit 7\n", 7},
        PermissionCase{"script_sees_its_command_line", nullptr,
                       "#!/bin/sh\n[ \"$1\" = \" -x\" ] && exit 9\nexit 1\n", 9},
        PermissionCase{"binary_true", "/bin/true", nullptr, 0},
        PermissionCase{"binary_false", "/bin/false", nullptr, 1}),
    [](const testing::TestParamInfo<PermissionCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(Processes, BareNamesAreLookedUpInWindowsThenTheRoot) {
    Script("\\Windows\\first.exe", "exit 11\n");
    Script("\\first.exe", "exit 12\n");
    Script("\\second.exe", "exit 13\n");
    EXPECT_EQ(ProcessExecutor::ExecuteProcess(W("first.exe"), W(""), true), 11);
    EXPECT_EQ(ProcessExecutor::ExecuteProcess(W("SECOND.EXE"), W(""), true), 13);
    EXPECT_EQ(ProcessExecutor::ExecuteProcess(W("\\WINDOWS\\First.exe"), W(""), true), 11);
}

TEST_F(Processes, TheCommandLineArrivesAsOneArgumentWithTheDeviceFolder) {
    Script("\\Windows\\echo.exe",
           "printf '%s' \"$#\" > \"$FWSETUP_DEVICE/hw/argc\"\n"
           "printf '%s' \"$1\" > \"$FWSETUP_DEVICE/hw/argv1\"\n"
           "printf '%s' \"$FWSETUP_DEVICE\" > \"$FWSETUP_DEVICE/hw/device\"\n");
    const WString line = u" -w -f \\UpgradeTemp\\my file.bin  \"q\" \u00e4";
    EXPECT_TRUE(RunProcess(W("\\Windows\\echo.exe"), line, true));
    EXPECT_EQ(Hw("argc"), "1");
    EXPECT_EQ(Hw("argv1"), " -w -f \\UpgradeTemp\\my file.bin  \"q\" \xc3\xa4");
    EXPECT_EQ(fs::path(Hw("device")), fs::canonical(device_.Root()));

    EXPECT_TRUE(RunProcess(W("\\Windows\\echo.exe"), W(""), true));
    EXPECT_EQ(Hw("argc"), "1");
    EXPECT_EQ(Hw("argv1"), "");
}

// The exit code file is read only while it is a regular file: a program that
// put a FIFO there must not hang its caller, one that put a link there must
// not make it read another file. The guard fails the test instead of hanging.
TEST_F(Processes, AnExitCodeFileThatIsNoLongerAFileIsNotRead) {
    struct Case {
        const char* name;
        const char* body;
        int exitCode;
    };
    const Case cases[] = {
        {"fifo", "rm -f \"$FWSETUP_EXIT_CODE_FILE\"\nmkfifo \"$FWSETUP_EXIT_CODE_FILE\"\nexit 3\n",
         3},
        {"link",
         "printf 9 > \"$FWSETUP_DEVICE/hw/nine\"\nrm -f \"$FWSETUP_EXIT_CODE_FILE\"\n"
         "ln -s \"$FWSETUP_DEVICE/hw/nine\" \"$FWSETUP_EXIT_CODE_FILE\"\nexit 4\n",
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Script("\\Windows\\tool.exe", c.body);
        const fwtest::ChildOutcome outcome = fwtest::RunInChild(
            [&] {
                EXPECT_EQ(ProcessExecutor::ExecuteProcess(W("\\Windows\\tool.exe"), W(""), true),
                          c.exitCode);
            },
            20);
        EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
    }
}

TEST_F(Processes, DestroyingAHandleOfARunningProgramLeavesNoZombie) {
    Script("\\Windows\\gated.exe", kGatedProgram);
    platform::CreateProcess(W("\\Windows\\gated.exe"), W("")).reset();
    std::ofstream(device_.Hw() / "go").put('1');
    ASSERT_TRUE(AwaitHw("done"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(NoChildren());
    EXPECT_FALSE(fs::exists(Hw("code-file")));
}

// ---- InstallCab ------------------------------------------------------------

// A loader that records its command line and which CAB files existed while it
// ran, and exits with the code in hw/loader-exit.
const char kRecordingLoader[] =
    "printf '%s' \"$1\" > \"$FWSETUP_DEVICE/hw/loader-args\"\n"
    "ls \"$FWSETUP_DEVICE/fs/UpgradeTemp\" > \"$FWSETUP_DEVICE/hw/loader-saw\"\n"
    "exit $(cat \"$FWSETUP_DEVICE/hw/loader-exit\")\n";

struct LoaderCase {
    const char* exitCode;
    bool result;
};

void PrintTo(const LoaderCase& c, std::ostream* os) {
    *os << "exit " << c.exitCode;
}

class InstallCabTest : public Processes, public testing::WithParamInterface<LoaderCase> {};

TEST_P(InstallCabTest, RunsTheLoaderUnquotedAndDeletesTheCab) {
    Script("\\Windows\\wceldcmd.exe", kRecordingLoader);
    std::ofstream(device_.Hw() / "loader-exit") << GetParam().exitCode;
    device_.Write("\\UpgradeTemp\\My Package.Cab", "MSCF");

    EXPECT_EQ(InstallCab(W("\\UpgradeTemp\\My Package.Cab"), true), GetParam().result);
    EXPECT_EQ(Hw("loader-args"), " /delete 0 /nouninstall \\UpgradeTemp\\My Package.Cab");
    EXPECT_EQ(Hw("loader-saw"), "My Package.Cab\n");
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\My Package.Cab"));
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, InstallCabTest,
                         testing::Values(LoaderCase{"0", true}, LoaderCase{"1", false},
                                         LoaderCase{"2", false}));

TEST_F(Processes, InstallCabWithoutALoaderFailsAndDeletesTheCab) {
    device_.Write("\\UpgradeTemp\\p.Cab", "MSCF");
    EXPECT_FALSE(InstallCab(W("\\UpgradeTemp\\p.Cab"), true));
    EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\p.Cab"));
}

}  // namespace
