#include "support/power_cut.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/child_process.h"

namespace fs = std::filesystem;

namespace fwtest {

PowerCut ReadPowerCut(const TempDevice& device) {
    PowerCut cut;
    std::ifstream in(device.Hw() / "power-cut-happened");
    if (!in)
        return cut;
    std::string line;
    std::getline(in, line);
    std::istringstream(line) >> cut.number >> cut.kind;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "path ") == 0)
            cut.path = line.substr(5);
    }
    return cut;
}

void SetPowerCutAfter(const TempDevice& device, uint64_t count) {
    std::error_code ec;
    if (count == 0) {
        fs::remove(device.Hw() / "power-cut-after", ec);
        return;
    }
    std::ofstream(device.Hw() / "power-cut-after") << count << "\n";
}

uint64_t ForEachPowerCut(const TempDevice& device, const std::function<void()>& prepare,
                         const std::function<void()>& run,
                         const std::function<void(const PowerCut&)>& check, uint64_t limit) {
    uint64_t cuts = 0;
    for (uint64_t count = 1; count <= limit; ++count) {
        std::error_code ec;
        SetPowerCutAfter(device, 0);
        fs::remove(device.Hw() / "power-cut-happened", ec);
        prepare();
        SetPowerCutAfter(device, count);
        const ChildOutcome ran = RunInChild(run);
        SetPowerCutAfter(device, 0);
        const PowerCut cut = ReadPowerCut(device);
        fs::remove(device.Hw() / "power-cut-happened", ec);
        if (!ran.Passed()) {
            ADD_FAILURE() << "the run with the power cut at operation " << count
                          << " failed: " << ran.Describe();
            return cuts;
        }
        if (cut.happened() && cut.number != count) {
            ADD_FAILURE() << "asked for a cut at operation " << count << ", got one at "
                          << cut.number << " (" << cut.kind << ")";
            return cuts;
        }
        const ChildOutcome checked = RunInChild([&] {
            SCOPED_TRACE(cut.happened() ? "power cut at operation " + std::to_string(count) + " (" +
                                              cut.kind + " " + cut.path + ")"
                                        : std::string("no power cut"));
            check(cut);
        });
        if (!checked.Passed()) {
            ADD_FAILURE() << "the check after the cut at operation " << count
                          << " failed: " << checked.Describe();
            return cuts;
        }
        if (!cut.happened())
            return cuts;
        ++cuts;
    }
    ADD_FAILURE() << "still cut after " << limit << " operations";
    return cuts;
}

}  // namespace fwtest
