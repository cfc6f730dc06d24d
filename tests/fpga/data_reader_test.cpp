// The data file reader on its own: both file forms, compressed blocks, the
// restart, resume and rewind of datasets, and what it refuses.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "fpga/fpga_data_reader.h"
#include "support/temp_device.h"

namespace fpgatest {
namespace {

// A transfer: dataset id and its size in bits.
struct Transfer {
    uint8_t id;
    uint32_t bits;
};

class ReaderTest : public ::testing::Test {
  protected:
    bool Open(const Bytes& file) {
        device.WriteBytes(kDataPath, file);
        reader.SetFileName(kDataPath);
        return reader.OpenDataFile();
    }
    // The bytes one transfer gets, in hexadecimal, with "!" where a byte was missing.
    std::string Take(Transfer transfer) {
        reader.BeginTransfer();
        std::string text;
        for (uint32_t i = 0; i < (transfer.bits + 7) / 8; ++i) {
            uint8_t byte;
            if (!reader.GetDataByte(transfer.id, transfer.bits, byte))
                return text + "!";
            text += Hex(&byte, 1);
        }
        return text;
    }
    std::string Take(const std::vector<Transfer>& transfers) {
        std::string text;
        for (const Transfer& t : transfers)
            text += (text.empty() ? "" : " ") + Take(t);
        return text;
    }

    fwtest::TempDevice device;
    FpgaDataReader reader;
};

struct ReadCase {
    const char* name;
    Bytes file;
    std::vector<Transfer> transfers;
    std::string expected;  // the transfers' bytes, separated by spaces
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class Reading : public ReaderTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(Reading, DeliversTheBytes) {
    ASSERT_TRUE(Open(GetParam().file));
    EXPECT_EQ(Take(GetParam().transfers), GetParam().expected);
}

const uint8_t A = 0x27, B = 0x04;

std::string HexOf(const Bytes& bytes) {
    return Hex(bytes.data(), bytes.size());
}

const ReadCase kSingle[] = {
    {"AnyIdGetsTheNextBytes",
     SingleData({1, 2, 3, 4, 5}),
     {{A, 16}, {B, 12}, {9, 8}, {A, 8}},
     "0102 0304 05 !"},
    {"CommentBeforeTheMode", Bytes{0xA0, 0x00, 0x01, 0xAA, 0xA1, 0x00, 0x55}, {{A, 8}}, "55"},
    {"PlainModeKeepsBlockTypeBytes", SingleData({0x01, 0xFF, 0x03}), {{A, 24}}, "01ff03"},
    {"Type0Block", SingleData({0x00, 0xAA, 0xBB}, 0x01), {{A, 16}}, "aabb"},
    {"Type1RunsOfFF", SingleData({0x01, 0xFF, 0x03, 0x12}, 0x01), {{A, 32}}, "ffffff12"},
    {"Type2RunsOf00", SingleData({0x02, 0x00, 0x02, 0xAB, 0xFF}, 0x01), {{A, 32}}, "0000abff"},
    {"Type1Keeps00", SingleData({0x01, 0x00, 0xFF, 0x01}, 0x01), {{A, 16}}, "00ff"},
    {"RunLongerThanItsBlockIsCut",
     SingleData({0x01, 0xFF, 0x05, 0x00, 0x77}, 0x01),
     {{A, 16}, {A, 8}},
     "ffff 77"},
    {"OneBlockPerTransfer",
     SingleData({0x00, 0x11, 0x22, 0x02, 0x00, 0x03}, 0x01),
     {{A, 16}, {B, 20}},
     "1122 000000"},
    {"PartialTransferSpansWholeBytes", SingleData({0x00, 0x11, 0x22}, 0x01), {{A, 9}}, "1122"},
    {"UnknownBlockType", SingleData({0x03, 0x11}, 0x01), {{A, 8}}, "!"},
    {"RunCountZero", SingleData({0x01, 0xFF, 0x00, 0x11}, 0x01), {{A, 16}}, "!"},
    {"BlockCutByTheEnd", SingleData({0x00, 0x11}, 0x01), {{A, 16}}, "11!"},
    {"RunCountCutByTheEnd", SingleData({0x02, 0x00}, 0x01), {{A, 8}}, "!"},
};
INSTANTIATE_TEST_SUITE_P(Single, Reading, ::testing::ValuesIn(kSingle),
                         [](const ::testing::TestParamInfo<ReadCase>& info) {
                             return std::string(info.param.name);
                         });

const Bytes k1234{0x01, 0x02, 0x03, 0x04};
const Bytes kAbc{0xAA, 0xBB, 0xCC};

const ReadCase kMultiple[] = {
    {"DatasetRestartsOnceAllWentOut",
     MultiData({{A, k1234, 4}}),
     {{A, 16}, {A, 16}, {A, 16}},
     "0102 0304 0102"},
    {"RestartWithinATransfer", MultiData({{A, kAbc, 3}}), {{A, 32}}, "aabbccaa"},
    {"EachDatasetFromItsAddress",
     MultiData({{A, k1234, 4}, {B, kAbc, 3}}),
     {{B, 24}, {A, 16}},
     "aabbcc 0102"},
    {"SwitchingResumesWhereADatasetStopped",
     MultiData({{A, k1234, 4}, {B, kAbc, 3}}),
     {{A, 8}, {B, 8}, {A, 16}, {B, 16}, {A, 8}},
     "01 aa 0203 bbcc 04"},
    {"AddressBeforeThePosition",
     MultiData({{A, k1234, 4}, {B, kAbc, 3}}, {1, 0}),
     {{A, 32}, {B, 24}, {A, 8}},
     "01020304 aabbcc 01"},
    {"SizeSmallerThanTheStoredData", MultiData({{A, k1234, 2}}), {{A, 24}}, "010201"},
    {"UnknownId", MultiData({{A, k1234, 4}}), {{B, 8}}, "!"},
    {"SizeZero", MultiData({{A, k1234, 0}}), {{A, 8}}, "!"},
    {"EmptyTable", MultiData({}), {{A, 8}}, "!"},
    {"DatasetBeyondTheEnd",
     Bytes{0xAA, 0x01, 0xAB, A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00},
     {{A, 8}},
     "!"},
    {"DataCutByTheEnd",
     Bytes{0xAA, 0x01, 0xAB, A, 0x00, 0x03, 0x00, 0, 0, 0, 0, 0xEE, 0xEE, 0x01},
     {{A, 24}},
     "01!"},
    {"SizeAsAVarint",
     MultiData({{A, Repeat(0x5A, 200), 200}}),
     {{A, 1600}, {A, 8}},
     HexOf(Repeat(0x5A, 200)) + " 5a"},
    {"CompressedDatasetResumedAfterASwitch",
     MultiData(
         {{A, {0x01, 0xFF, 0x02, 0x00, 0x12, 0x34, 0x02, 0x00, 0x02}, 6, 0x01}, {B, kAbc, 3}}),
     {{A, 16}, {B, 8}, {A, 16}, {B, 8}, {A, 16}, {A, 16}},
     "ffff aa 1234 bb 0000 ffff"},
    {"CompressedRestartWithinATransferStartsABlock",
     MultiData({{A, {0x00, 0xAA, 0xBB}, 2, 0x05}}),
     {{A, 24}},
     "aabbaa"},
};
INSTANTIATE_TEST_SUITE_P(Multiple, Reading, ::testing::ValuesIn(kMultiple),
                         [](const ::testing::TestParamInfo<ReadCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ReaderTest, ResumeTableKeepsFiveDatasets) {
    std::vector<TestDataset> datasets;
    for (uint8_t id = 1; id <= 6; ++id)
        datasets.push_back({id, {uint8_t(id * 16), uint8_t(id * 16 + 1), uint8_t(id * 16 + 2)}, 3});
    ASSERT_TRUE(Open(MultiData(datasets)));
    EXPECT_EQ(Take({{1, 8}, {2, 8}, {3, 8}, {4, 8}, {5, 8}, {6, 8}}), "10 20 30 40 50 60");
    // The sixth found no free slot: it starts again; the others go on.
    EXPECT_EQ(Take({{1, 8}, {2, 8}, {3, 8}, {4, 8}, {5, 8}, {6, 8}}), "11 21 31 41 51 60");
    // A dataset read to its end frees its slot; the sixth takes it once it runs again.
    EXPECT_EQ(Take({{1, 8}, {6, 8}, {2, 8}, {6, 8}}), "12 60 22 61");
}

TEST_F(ReaderTest, RewindStartsEveryDatasetAgain) {
    ASSERT_TRUE(Open(MultiData({{A, k1234, 4}, {B, kAbc, 3}})));
    EXPECT_EQ(Take({{A, 16}, {B, 8}}), "0102 aa");
    EXPECT_TRUE(reader.RewindData());
    EXPECT_EQ(Take({{B, 8}, {A, 8}}), "aa 01");
}

TEST_F(ReaderTest, RewindInTheMiddleOfTheCurrentDatasetStartsItAgain) {
    // The dataset in use is the first entry: without a new seek the next byte
    // would come from right after the table.
    ASSERT_TRUE(Open(MultiData({{A, k1234, 4}})));
    EXPECT_EQ(Take({A, 16}), "0102");
    EXPECT_TRUE(reader.RewindData());
    EXPECT_EQ(Take({A, 16}), "0102");
}

TEST_F(ReaderTest, RewindOfASingleDatasetSkipsTheCommentAndMode) {
    ASSERT_TRUE(Open(Bytes{0xA0, 0x33, 0xA1, 0x01, 0x00, 0x10, 0x01, 0x02, 0xFF, 0x02}));
    EXPECT_EQ(Take({{A, 8}, {A, 16}}), "10 02ff");
    EXPECT_TRUE(reader.RewindData());
    EXPECT_EQ(Take({A, 8}), "10");
}

TEST_F(ReaderTest, WithoutAFileNameNothingIsRead) {
    reader.SetFileName("");
    EXPECT_FALSE(reader.IsFileNamed());
    EXPECT_TRUE(reader.OpenDataFile());
    EXPECT_EQ(Take({A, 8}), "!");
    EXPECT_FALSE(reader.RewindData());
}

TEST_F(ReaderTest, OpeningAgainStartsOver) {
    ASSERT_TRUE(Open(MultiData({{A, k1234, 4}})));
    EXPECT_EQ(Take({A, 16}), "0102");
    reader.CloseDataFile();
    EXPECT_EQ(Take({A, 8}), "!");
    EXPECT_FALSE(reader.RewindData());
    ASSERT_TRUE(reader.OpenDataFile());
    EXPECT_EQ(Take({A, 8}), "01");
    // A file that is refused leaves nothing open.
    ASSERT_FALSE(Open(Bytes{0x07}));
    EXPECT_EQ(Take({A, 8}), "!");
}

TEST_F(ReaderTest, TableOfSixteenIsReadAndSeventeenRefused) {
    std::vector<TestDataset> datasets;
    for (uint8_t id = 1; id <= 16; ++id)
        datasets.push_back({id, {id}, 1});
    ASSERT_TRUE(Open(MultiData(datasets)));
    EXPECT_EQ(Take({{16, 8}, {1, 8}}), "10 01");
    datasets.push_back({17, {17}, 1});
    EXPECT_FALSE(Open(MultiData(datasets)));
}

// Through the engine: which opcode takes which dataset, and the rewind.
TEST_F(EngineTest, OpcodesTakeTheirDatasets) {
    const Bytes data = MultiData({{0x04, {0x41, 0x42}, 2}, {0x27, {0x71, 0x72, 0x73}, 3}});
    const Bytes stream = TransmitDataset(8) + Bytes{op::kDataset, op::kEnd} + Receive(8) +
                         Bytes{op::kChecked, op::kEnd} + Bytes{op::kReset} + TransmitDataset(16) +
                         Bytes{op::kEnd} + Receive(8) + Bytes{op::kDataset, op::kEnd} +
                         kEndOfAlgorithm;
    link.answers = {{0x72}, {0x00}};
    EXPECT_EQ(RunStream(stream, data), 2);
    EXPECT_EQ(Inner(),
              Calls({"tx 71", "tx 41", "end", "rx 1", "end", "tx 7172", "end", "rx 1", "end"}));
    // The checked read-back compared with 0x72: a wrong answer fails.
    link.calls.clear();
    link.answers = {{0x73}, {0x00}};
    EXPECT_EQ(RunStream(stream, data), -20);
}

}  // namespace
}  // namespace fpgatest
