// ProgramFpga: the run with any algorithm id and the files deleted whatever
// the outcome; and the link the engine uses.
#include "engine_fixture.h"

namespace fpgatest {
namespace {

const char kTempConfig[] = "\\UpgradeTemp\\tempPeripheralConfigFile.json";

class ProgramFpgaTest : public EngineTest {
  protected:
    void WriteFiles(const Bytes& algorithm) {
        device.WriteBytes(kAlgorithmPath, algorithm);
        device.WriteBytes(kDataPath, SingleData({0x5A}));
        device.Write(kTempConfig, "{}");
    }
    void ExpectFilesGone() {
        EXPECT_FALSE(device.Exists(kAlgorithmPath));
        EXPECT_FALSE(device.Exists(kDataPath));
        EXPECT_FALSE(device.Exists(kTempConfig));
        EXPECT_TRUE(device.Exists("\\UpgradeTemp"));
    }
};

TEST_F(ProgramFpgaTest, SuccessRunsTheAlgorithmAndDeletesTheFiles) {
    Header header;
    header.id = 0xCAFE0001;  // any id is accepted
    WriteFiles(Algorithm(TransmitDataset(8) + Bytes{op::kEnd} + kEndOfAlgorithm, header));
    EXPECT_TRUE(ProgramFpga(kAlgorithmPath, kDataPath));
    EXPECT_EQ(link.calls, Calls({"init", "tx 5a", "end", "close"}));
    ExpectFilesGone();
}

TEST_F(ProgramFpgaTest, FailureStillDeletesTheFiles) {
    WriteFiles(Algorithm(Receive(8) + Bytes{op::kInline, 0x00, op::kEnd} + kEndOfAlgorithm));
    link.answers = {{0x01}};
    EXPECT_FALSE(ProgramFpga(kAlgorithmPath, kDataPath));
    ExpectFilesGone();
}

TEST_F(ProgramFpgaTest, FailedHardwareStillDeletesTheFiles) {
    WriteFiles(Algorithm(kEndOfAlgorithm));
    link.initResult = false;
    EXPECT_FALSE(ProgramFpga(kAlgorithmPath, kDataPath));
    ExpectFilesGone();
}

TEST_F(ProgramFpgaTest, WithoutADataFile) {
    device.WriteBytes(kAlgorithmPath, Algorithm(Wait(3) + kEndOfAlgorithm));
    EXPECT_TRUE(ProgramFpga(kAlgorithmPath, ""));
    EXPECT_EQ(link.calls, Calls({"init", "wait 3", "close"}));
    EXPECT_FALSE(device.Exists(kAlgorithmPath));
}

TEST_F(ProgramFpgaTest, EveryRunStartsAfresh) {
    // A first run stops in the middle of a dataset and a transaction with a mask.
    WriteFiles(Algorithm(Receive(8) + Bytes{op::kMask, 0x00} + TransmitDataset(8)));
    EXPECT_FALSE(ProgramFpga(kAlgorithmPath, kDataPath));
    link.calls.clear();
    WriteFiles(Algorithm(TransmitDataset(8) + Receive(8) + Bytes{op::kInline, 0x00, op::kEnd} +
                         kEndOfAlgorithm));
    link.answers = {{0x01}};
    EXPECT_FALSE(ProgramFpga(kAlgorithmPath, kDataPath));
    EXPECT_EQ(link.calls, Calls({"init", "tx 5a", "rx 1", "end", "close"}));
}

TEST(FpgaLinkSeam, SetFpgaLinkReplacesTheDefaultUntilReset) {
    ScriptedLink link;
    EXPECT_EQ(&CurrentFpgaLink(), &DefaultFpgaLink());
    SetFpgaLink(&link);
    EXPECT_EQ(&CurrentFpgaLink(), &link);
    SetFpgaLink(nullptr);
    EXPECT_EQ(&CurrentFpgaLink(), &DefaultFpgaLink());
}

}  // namespace
}  // namespace fpgatest
