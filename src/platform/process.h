// Starting programs on the device and reading their exit codes.
#ifndef FWSETUP_PLATFORM_PROCESS_H
#define FWSETUP_PLATFORM_PROCESS_H

#include <cstdint>
#include <memory>

#include "platform/types.h"

namespace platform {

// The exit code the platform reports while a process is still running.
const uint32_t kStillActive = 259;

// A started process (its process and thread handles); destroying it closes the
// handles without ending the process.
class Process {
public:
    virtual ~Process() {}
    // WaitForSingleObject without time-out.
    virtual bool Wait() = 0;
    // GetExitCodeProcess: kStillActive while the process runs.
    virtual bool GetExitCode(uint32_t& exitCode) = 0;
};

// CreateProcessW with program as the application name and commandLine as the
// command line (arguments only). program is a device path, or a bare name that
// is looked up in \Windows\ and then in the root. Null when nothing was started.
std::unique_ptr<Process> CreateProcess(const WString& program, const WString& commandLine);

}  // namespace platform

#endif
