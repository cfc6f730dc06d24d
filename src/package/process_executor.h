// Starting programs and judging them by their exit codes; CAB installation.
#ifndef FWSETUP_PACKAGE_PROCESS_EXECUTOR_H
#define FWSETUP_PACKAGE_PROCESS_EXECUTOR_H

#include "platform/types.h"

namespace ProcessExecutor {

// 0 when the program could not be started, ended with 0, or still runs (259);
// otherwise its exit code.
int ExecuteProcess(const WString& program, const WString& arguments, bool wait);
// The same, and started tells whether the program was started at all: the only
// way to tell a program that could not be started from one that ended with 0.
int ExecuteProcess(const WString& program, const WString& arguments, bool wait, bool& started);

}  // namespace ProcessExecutor

// True when the program started and its exit code, read successfully, is 0 or 259.
bool RunProcess(WString program, WString arguments, bool wait);

// Installs a CAB with the platform's CAB loader; the CAB is deleted afterwards
// in every case. True when the loader succeeded.
bool InstallCab(const WString& cabPath, bool wait);

#endif
