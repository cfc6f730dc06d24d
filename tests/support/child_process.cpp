#include "support/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fwtest {
namespace {

// Failures recorded for the running test, so that the child reports only its own.
int FailedParts() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (!test)
        return 0;
    const testing::TestResult* result = test->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i) {
        if (result->GetTestPartResult(i).failed())
            ++failed;
    }
    return failed;
}

}  // namespace

std::string ChildOutcome::Describe() const {
    if (exited)
        return "exit code " + std::to_string(exitCode);
    if (signal == SIGALRM)
        return "stopped by the guard (it hung)";
    return "ended by signal " + std::to_string(signal);
}

ChildOutcome RunInChild(const std::function<void()>& body, unsigned guardSeconds) {
    ChildOutcome outcome;
    fflush(stdout);
    fflush(stderr);
    const int before = FailedParts();
    const pid_t child = fork();
    if (child < 0) {
        ADD_FAILURE() << "fork failed: " << std::strerror(errno);
        return outcome;
    }
    if (child == 0) {
        signal(SIGALRM, SIG_DFL);
        alarm(guardSeconds);
        body();
        fflush(stdout);
        fflush(stderr);
        // No exit handlers: they belong to the test process.
        _exit(FailedParts() > before ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace fwtest
