#include "package/process_executor.h"

#include <cstdint>
#include <memory>

#include "fileutil/file_operation.h"
#include "platform/process.h"

namespace {

const char16_t kCabLoader[] = u"\\Windows\\wceldcmd.exe";
// The loader's arguments; the CAB path follows directly, unquoted.
const char16_t kCabLoaderArguments[] = u" /delete 0 /nouninstall ";

// Starts program, waits for it when asked and reads its exit code. False when
// it could not be started or its exit code could not be read.
bool StartAndQuery(const WString& program, const WString& arguments, bool wait, bool& started,
                   uint32_t& exitCode) {
    std::unique_ptr<platform::Process> process = platform::CreateProcess(program, arguments);
    started = process.get() != nullptr;
    if (!started)
        return false;
    if (wait)
        process->Wait();
    return process->GetExitCode(exitCode);
}

}  // namespace

namespace ProcessExecutor {

int ExecuteProcess(const WString& program, const WString& arguments, bool wait) {
    bool started = false;
    return ExecuteProcess(program, arguments, wait, started);
}

int ExecuteProcess(const WString& program, const WString& arguments, bool wait, bool& started) {
    started = false;
    uint32_t exitCode = 0;
    // An exit code that cannot be read is a plain failure, 1.
    if (!StartAndQuery(program, arguments, wait, started, exitCode))
        return started ? 1 : 0;
    if (exitCode == 0 || exitCode == platform::kStillActive)
        return 0;
    return static_cast<int>(exitCode);
}

}  // namespace ProcessExecutor

bool RunProcess(WString program, WString arguments, bool wait) {
    bool started = false;
    uint32_t exitCode = 0;
    if (!StartAndQuery(program, arguments, wait, started, exitCode))
        return false;
    return exitCode == 0 || exitCode == platform::kStillActive;
}

bool InstallCab(const WString& cabPath, bool wait) {
    const WString arguments = WString(kCabLoaderArguments) + cabPath;
    const bool ok = RunProcess(kCabLoader, arguments, wait);
    FileOperation::RemoveFile(cabPath);
    return ok;
}
