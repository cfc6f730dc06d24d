// Runs the built fwsetup binary and collects what it printed.
#ifndef FWSETUP_TESTS_TOOLS_RUN_FWSETUP_H
#define FWSETUP_TESTS_TOOLS_RUN_FWSETUP_H

#include <filesystem>
#include <string>
#include <vector>

namespace fwtest {

struct ToolRun {
    int exitCode = -1;  // -1 when the program did not exit normally
    int signal = 0;     // the signal that ended it, if any
    std::string out;
    std::string err;
};

// Runs bin/fwsetup with args; its output goes through files in scratch (an
// existing folder). A run that takes longer than a minute is killed (signal set).
ToolRun RunFwsetup(const std::vector<std::string>& args, const std::filesystem::path& scratch);

// Lines of text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace fwtest

#endif
