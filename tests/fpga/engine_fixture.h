// A temporary device with the FPGA package's two files, and the engine run
// against a scripted link.
#ifndef FWSETUP_TESTS_FPGA_ENGINE_FIXTURE_H
#define FWSETUP_TESTS_FPGA_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fpga/fpga_engine.h"
#include "fpga_test_support.h"
#include "support/temp_device.h"

namespace fpgatest {

const char kAlgorithmPath[] = "\\UpgradeTemp\\algo.sea";
const char kDataPath[] = "\\UpgradeTemp\\data.sed";

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override { SetFpgaLink(&link); }
    void TearDown() override { SetFpgaLink(nullptr); }

    // Runs algorithm with data as the data file (any id accepted).
    int Run(const Bytes& algorithm, const Bytes& data = SingleData({})) {
        device.WriteBytes(kAlgorithmPath, algorithm);
        device.WriteBytes(kDataPath, data);
        SetFpgaFiles(kAlgorithmPath, kDataPath);
        return RunAlgorithm(0xFFFFFFFF);
    }
    // Runs algorithm with no data file named.
    int RunWithoutData(const Bytes& algorithm) {
        device.WriteBytes(kAlgorithmPath, algorithm);
        SetFpgaFiles(kAlgorithmPath, "");
        return RunAlgorithm(0xFFFFFFFF);
    }
    // Runs a stream after the default header.
    int RunStream(const Bytes& stream, const Bytes& data = SingleData({})) {
        return Run(Algorithm(stream), data);
    }

    // The calls between "init" and "close", checking that both are there.
    std::vector<std::string> Inner() const {
        EXPECT_GE(link.calls.size(), 2u);
        if (link.calls.size() < 2)
            return {};
        EXPECT_EQ(link.calls.front(), "init");
        EXPECT_EQ(link.calls.back(), "close");
        return std::vector<std::string>(link.calls.begin() + 1, link.calls.end() - 1);
    }

    fwtest::TempDevice device;
    ScriptedLink link;
};

typedef std::vector<std::string> Calls;

}  // namespace fpgatest

#endif
