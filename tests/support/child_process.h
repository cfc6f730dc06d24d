// Runs a piece of a test in a fresh child process (fork), so that what it does
// to its process (a power cut that stops every file call, a hang on a FIFO)
// stays there. A guard ends a child that takes too long, so that a regression
// fails the test instead of hanging it.
#ifndef FWSETUP_TESTS_SUPPORT_CHILD_PROCESS_H
#define FWSETUP_TESTS_SUPPORT_CHILD_PROCESS_H

#include <functional>
#include <string>

namespace fwtest {

struct ChildOutcome {
    bool exited = false;  // ended by _exit, not by a signal
    int exitCode = -1;    // 0: the body ran without a test failure
    int signal = 0;       // the signal that ended it (SIGALRM: the guard)
    bool Passed() const { return exited && exitCode == 0; }
    std::string Describe() const;
};

// Runs body in a child process and waits for it. The child ends with 0 when
// body added no test failure, 1 when it did (the failures are printed by the
// child), and is ended by SIGALRM after guardSeconds.
ChildOutcome RunInChild(const std::function<void()>& body, unsigned guardSeconds = 60);

}  // namespace fwtest

#endif
