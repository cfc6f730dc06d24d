// Programs of the device as host processes.
//
// A started program is never a child of the caller. CreateProcess forks an
// intermediate process that forks a supervisor and exits at once; the caller
// reaps the intermediate straight away, and the supervisor, now an orphan that
// the system reaps, starts the program, waits for it and reports over a pipe:
//
//   supervisor -> caller: 'S' once the program runs, or 'F' when it could not
//                         be started (then the pipe closes);
//                         later 4 bytes, the program's exit code (host byte order).
//
// So a Process that is destroyed while its program runs leaves no zombie and no
// thread behind: the supervisor still waits for the program, removes the exit
// code file and ends on its own. The code between fork and exec calls only
// async-signal-safe functions, because the caller may have other threads.
//
// On the printer any file can be started; a host program needs its execute
// bits, which files arriving on the device (from a cabinet, by a copy) need
// not have. So the host's own rules never decide what starts:
// - a file beginning with "#!" is a script: its interpreter line is read here,
//   as the host's kernel would read it (the interpreter, then at most one
//   argument: the rest of the line), and the interpreter is started with
//   that argument, the script's host path and the command line;
// - any other file is copied into an anonymous memory file (memfd) with
//   execute bits, which is started (fexecve): a host binary runs, and a file
//   that is no program fails to start.
// The program file is found and opened without following links (safe_files.h).
//
// When the environment variable FWSETUP_RUN_LOG names a file (the installer
// stand-in sets it while it runs a module), one line is appended to it for
// every program the caller tried to start: "exit N PROGRAM" once its exit
// code is known, "unknown PROGRAM" when it ended without one, and
// "not-started PROGRAM" when it did not start. PROGRAM is the device path or
// name as given. Started programs do not get the variable.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/host/device_root.h"
#include "platform/host/power_cut.h"
#include "platform/host/safe_files.h"

extern char** environ;

namespace platform {
namespace {

const char kStarted = 'S';
const char kNotStarted = 'F';

// Everything the forked processes need, prepared before the fork so that they
// never allocate.
struct Launch {
    Launch() : programFd(-1) {}
    ~Launch() {
        if (programFd >= 0)
            close(programFd);
    }

    std::string hostProgram;
    std::string interpreter;  // for a script: what is started
    std::string interpreterArgument;
    bool hasInterpreterArgument = false;
    int programFd;  // for anything else: the memory copy that is started
    std::string argument;
    std::string exitCodeFile;
    std::vector<std::string> environment;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

// Opens the regular file of a device program path; -1 when there is none.
int OpenProgramFile(const WString& devicePath, std::string& hostPath) {
    host::DeviceEntry entry;
    if (!host::ResolveDevicePath(devicePath, entry) || !entry.exists || !S_ISREG(entry.st.st_mode))
        return -1;
    hostPath = entry.hostPath;
    return host::OpenFileAt(entry.folder.Get(), entry.name, O_RDONLY);
}

// The program file for a device program path or a bare program name.
int ResolveProgram(const WString& program, std::string& hostPath) {
    if (program.empty())
        return -1;
    if (program.find(u'\\') != WString::npos || program.find(u'/') != WString::npos)
        return OpenProgramFile(program, hostPath);
    static const char16_t* const kSearchFolders[] = {u"\\Windows\\", u"\\"};
    for (size_t i = 0; i < sizeof(kSearchFolders) / sizeof(kSearchFolders[0]); ++i) {
        const int fd = OpenProgramFile(WString(kSearchFolders[i]) + program, hostPath);
        if (fd >= 0)
            return fd;
    }
    return -1;
}

// The longest interpreter line the host's kernel reads, its end included.
const size_t kInterpreterLineLimit = 256;

bool IsBlankByte(char c) {
    return c == ' ' || c == '\t';
}

// Reads "#!interpreter [argument]" as the host's kernel does; false when the
// file is not a script, or its line is empty or too long.
bool ReadInterpreterLine(int fd, Launch& launch, bool& isScript) {
    char head[kInterpreterLineLimit];
    ssize_t n;
    do {
        n = pread(fd, head, sizeof head, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return false;
    const std::string text(head, static_cast<size_t>(n));
    isScript = text.compare(0, 2, "#!") == 0;
    if (!isScript)
        return true;
    const size_t end = text.find('\n');
    if (end == std::string::npos && text.size() == sizeof head)
        return false;
    const std::string line = text.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    size_t at = 0;
    while (at < line.size() && IsBlankByte(line[at]))
        ++at;
    size_t stop = at;
    while (stop < line.size() && !IsBlankByte(line[stop]) && line[stop] != '\0')
        ++stop;
    launch.interpreter = line.substr(at, stop - at);
    at = stop;
    while (at < line.size() && IsBlankByte(line[at]))
        ++at;
    size_t last = line.size();
    while (last > at && IsBlankByte(line[last - 1]))
        --last;
    launch.interpreterArgument = line.substr(at, last - at);
    launch.hasInterpreterArgument = !launch.interpreterArgument.empty();
    return !launch.interpreter.empty() &&
           launch.interpreterArgument.find('\0') == std::string::npos;
}

// Asks for a memory file that may be started, where the kernel has the choice.
#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U
#endif

// A memory file with execute bits holding the program's bytes, open for
// reading only: a kernel may refuse to start a file that is open for writing.
int CopyIntoMemory(int fd) {
    host::UniqueFd copy(memfd_create("fwsetup-program", MFD_CLOEXEC | MFD_EXEC));
    if (!copy.Valid() && errno == EINVAL)
        copy.Reset(memfd_create("fwsetup-program", MFD_CLOEXEC));
    if (!copy.Valid() || fchmod(copy.Get(), 0700) != 0)
        return -1;
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        if (!host::WriteAllFd(copy.Get(), buffer, static_cast<size_t>(n)))
            return -1;
        at += n;
    }
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", copy.Get());
    const int readOnly = open(self, O_RDONLY | O_CLOEXEC);
    return readOnly >= 0 ? readOnly : copy.Release();
}

bool StartsWith(const char* text, const char* prefix) {
    while (*prefix) {
        if (*text++ != *prefix++)
            return false;
    }
    return true;
}

// A fresh empty file for the program's exit code, in $TMPDIR (or /tmp).
bool MakeExitCodeFile(std::string& path) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = (tmp && *tmp) ? std::string(tmp) : std::string("/tmp");
    pattern += "/fwsetup-exit-code-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    path.assign(&name[0]);
    return true;
}

bool PrepareLaunch(const WString& program, const WString& commandLine, Launch& launch) {
    host::UniqueFd file(ResolveProgram(program, launch.hostProgram));
    if (!file.Valid())
        return false;
    bool isScript = false;
    if (!ReadInterpreterLine(file.Get(), launch, isScript))
        return false;
    if (!isScript) {
        launch.programFd = CopyIntoMemory(file.Get());
        if (launch.programFd < 0)
            return false;
    }
    if (!host::Utf16ToUtf8(commandLine, launch.argument))
        return false;
    if (launch.argument.find('\0') != std::string::npos)
        return false;
    char* device = realpath(host::DeviceRoot().c_str(), nullptr);
    if (!device)
        return false;
    const std::string deviceDir(device);
    free(device);
    if (!MakeExitCodeFile(launch.exitCodeFile))
        return false;

    for (char** entry = environ; entry && *entry; ++entry) {
        // The run log is the caller's own: its programs do not write to it.
        if (StartsWith(*entry, "FWSETUP_DEVICE=") ||
            StartsWith(*entry, "FWSETUP_EXIT_CODE_FILE=") ||
            StartsWith(*entry, "FWSETUP_RUN_LOG=")) {
            continue;
        }
        launch.environment.push_back(*entry);
    }
    launch.environment.push_back("FWSETUP_DEVICE=" + deviceDir);
    launch.environment.push_back("FWSETUP_EXIT_CODE_FILE=" + launch.exitCodeFile);

    if (isScript) {
        launch.argv.push_back(&launch.interpreter[0]);
        if (launch.hasInterpreterArgument)
            launch.argv.push_back(&launch.interpreterArgument[0]);
    }
    launch.argv.push_back(&launch.hostProgram[0]);
    launch.argv.push_back(&launch.argument[0]);
    launch.argv.push_back(nullptr);
    for (size_t i = 0; i < launch.environment.size(); ++i) {
        launch.envp.push_back(&launch.environment[i][0]);
    }
    launch.envp.push_back(nullptr);
    return true;
}

// --- From here to the end of Supervise: forked processes, async-signal-safe only. ---

bool WriteAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Closes every descriptor from 3 up except keep and also (-1: none).
void CloseDescriptorsExcept(int keep, int also) {
    const int low = also >= 0 && also < keep ? also : keep;
    const int high = also >= 0 && also > keep ? also : keep;
    bool done = true;
    int from = 3;
    const int kept[2] = {low, high};
    for (int i = 0; i < 2; ++i) {
        if (kept[i] > from && close_range(static_cast<unsigned int>(from),
                                          static_cast<unsigned int>(kept[i]) - 1, 0) != 0)
            done = false;
        if (kept[i] + 1 > from)
            from = kept[i] + 1;
    }
    if (close_range(static_cast<unsigned int>(from), ~0u, 0) != 0)
        done = false;
    if (done)
        return;
    struct rlimit limit;
    int last = 65536;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < static_cast<rlim_t>(last)) {
        last = static_cast<int>(limit.rlim_cur);
    }
    for (int fd = 3; fd < last; ++fd) {
        if (fd != keep && fd != also)
            close(fd);
    }
}

void SetDisposition(int signalNumber, void (*handler)(int)) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

// The exit code written into the exit code file: decimal, optionally negative
// (a 32-bit code read as signed), white space around it allowed. Whatever the
// program left at that name, only a regular file is read, without blocking.
bool ReadExitCodeFile(const char* path, uint32_t& code) {
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    char text[64];
    size_t size = 0;
    for (;;) {
        const ssize_t n = read(fd, text + size, sizeof(text) - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size += static_cast<size_t>(n);
        if (size == sizeof(text))
            break;
    }
    close(fd);
    size_t i = 0;
    while (i < size && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    bool negative = false;
    if (i < size && text[i] == '-') {
        negative = true;
        ++i;
    }
    uint64_t value = 0;
    size_t digits = 0;
    while (i < size && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > (negative ? 0x80000000ull : 0xFFFFFFFFull))
            return false;
        ++i;
        ++digits;
    }
    while (i < size && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    if (digits == 0 || i != size)
        return false;
    code = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value))
                    : static_cast<uint32_t>(value);
    return true;
}

// The supervisor: starts the program, reports, waits for it and reports its code.
void Supervise(const Launch& launch, int report) {
    SetDisposition(SIGPIPE, SIG_IGN);  // a caller that stopped listening is no reason to die
    SetDisposition(SIGCHLD, SIG_DFL);  // waitpid must see the program end
    CloseDescriptorsExcept(report, launch.programFd);  // the program inherits no handles

    int execError[2];
    if (pipe2(execError, O_CLOEXEC) != 0) {
        unlink(launch.exitCodeFile.c_str());
        WriteAll(report, &kNotStarted, 1);
        return;
    }
    const pid_t child = fork();
    if (child < 0) {
        unlink(launch.exitCodeFile.c_str());
        WriteAll(report, &kNotStarted, 1);
        return;
    }
    if (child == 0) {
        close(execError[0]);
        SetDisposition(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (launch.programFd >= 0) {
            fexecve(launch.programFd, launch.argv.data(), launch.envp.data());
        } else {
            execve(launch.interpreter.c_str(), launch.argv.data(), launch.envp.data());
        }
        const int error = errno;
        WriteAll(execError[1], &error, sizeof(error));
        _exit(127);
    }
    close(execError[1]);
    int error = 0;
    ssize_t n;
    do {
        n = read(execError[0], &error, sizeof(error));
    } while (n < 0 && errno == EINTR);
    close(execError[0]);

    int status = 0;
    if (n > 0) {  // exec failed
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        unlink(launch.exitCodeFile.c_str());
        WriteAll(report, &kNotStarted, 1);
        return;
    }
    WriteAll(report, &kStarted, 1);

    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    uint32_t code = 1;
    if (waited == child && WIFSIGNALED(status)) {
        code = 128u + static_cast<uint32_t>(WTERMSIG(status));
    } else if (waited == child && WIFEXITED(status)) {
        code = static_cast<uint32_t>(WEXITSTATUS(status));
        uint32_t written;
        if (ReadExitCodeFile(launch.exitCodeFile.c_str(), written))
            code = written;
    }
    unlink(launch.exitCodeFile.c_str());
    WriteAll(report, &code, sizeof(code));
}

// --- End of the forked code. ---

// Appends "outcome program" to the run log, if there is one.
void LogRun(const std::string& outcome, const WString& program) {
    const char* log = getenv("FWSETUP_RUN_LOG");
    std::string name;
    if (!log || !*log || !host::Utf16ToUtf8(program, name))
        return;
    const int fd = open(log, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return;
    const std::string line = outcome + " " + name + "\n";
    host::WriteAllFd(fd, line.data(), line.size());
    close(fd);
}

class HostProcess : public Process {
  public:
    HostProcess(int report, const WString& program)
        : report_(report), ended_(false), codeKnown_(false), code_(0), program_(program) {}
    ~HostProcess() { close(report_); }

    bool Wait() {
        if (!ended_)
            ReadCode();
        return true;
    }

    bool GetExitCode(uint32_t& exitCode) {
        if (!ended_) {
            struct pollfd ready;
            ready.fd = report_;
            ready.events = POLLIN;
            ready.revents = 0;
            int n;
            do {
                n = poll(&ready, 1, 0);
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                return false;
            if (n == 0) {
                exitCode = kStillActive;
                return true;
            }
            ReadCode();
        }
        if (!codeKnown_)
            return false;
        exitCode = code_;
        return true;
    }

  private:
    // Blocks until the supervisor reports the exit code or goes away.
    void ReadCode() {
        uint32_t code = 0;
        char* bytes = reinterpret_cast<char*>(&code);
        size_t have = 0;
        while (have < sizeof(code)) {
            const ssize_t n = read(report_, bytes + have, sizeof(code) - have);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            have += static_cast<size_t>(n);
        }
        ended_ = true;
        codeKnown_ = have == sizeof(code);
        code_ = code;
        char outcome[32];
        snprintf(outcome, sizeof outcome, "exit %u", static_cast<unsigned>(code));
        LogRun(codeKnown_ ? outcome : "unknown", program_);
    }

    int report_;
    bool ended_;
    bool codeKnown_;
    uint32_t code_;
    WString program_;
};

}  // namespace

namespace {

std::unique_ptr<Process> Start(const WString& program, const WString& commandLine) {
    // A printer without power starts nothing.
    if (!host::PowerIsOn())
        return std::unique_ptr<Process>();
    Launch launch;
    if (!PrepareLaunch(program, commandLine, launch))
        return std::unique_ptr<Process>();

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        unlink(launch.exitCodeFile.c_str());
        return std::unique_ptr<Process>();
    }
    const pid_t intermediate = fork();
    if (intermediate == 0) {
        close(report[0]);
        const pid_t supervisor = fork();
        if (supervisor == 0) {
            Supervise(launch, report[1]);
            _exit(0);
        }
        _exit(supervisor < 0 ? 1 : 0);
    }
    close(report[1]);
    if (intermediate < 0) {
        close(report[0]);
        unlink(launch.exitCodeFile.c_str());
        return std::unique_ptr<Process>();
    }
    int status;
    while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }

    char answer = 0;
    ssize_t n;
    do {
        n = read(report[0], &answer, 1);
    } while (n < 0 && errno == EINTR);
    if (n != 1 || answer != kStarted) {
        close(report[0]);
        // The supervisor removes the file itself, unless it never ran.
        if (n != 1)
            unlink(launch.exitCodeFile.c_str());
        return std::unique_ptr<Process>();
    }
    return std::unique_ptr<Process>(new HostProcess(report[0], program));
}

}  // namespace

std::unique_ptr<Process> CreateProcess(const WString& program, const WString& commandLine) {
    std::unique_ptr<Process> process = Start(program, commandLine);
    if (!process)
        LogRun("not-started", program);
    return process;
}

}  // namespace platform
