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
//
// Exit codes are 32-bit values. On the host a program reports one by its exit
// status (0..255), or by writing a decimal number into the file named by the
// environment variable FWSETUP_EXIT_CODE_FILE, which then takes precedence
// (that is how 259 or 9997 are reported). A program killed by signal N reports
// 128 + N, as a shell would show it; that is never 0 or 259, so it always counts
// as a failure.
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
//
// On the host the program is the executable at the mapped device path. It gets
// the command line, UTF-8, as its one argument (argv[1], not split), the
// environment of the caller plus FWSETUP_DEVICE (the absolute device folder) and
// FWSETUP_EXIT_CODE_FILE, and no open files besides standard input and output.
// The program is never left behind as a zombie, also when its Process is
// destroyed while it still runs.
std::unique_ptr<Process> CreateProcess(const WString& program, const WString& commandLine);

}  // namespace platform

#endif
