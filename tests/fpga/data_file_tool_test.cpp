// Data files written by the toolkit: exact bytes, and what the module's reader
// and the dump make of them.
#include <gtest/gtest.h>

#include <random>

#include "engine_fixture.h"
#include "fpga/fpga_data_reader.h"
#include "sim/file_digest.h"
#include "sim/fpga_data_file.h"

namespace fpgatest {
namespace {

using sim::FpgaDataPlan;
using sim::FpgaDatasetPlan;

TEST(DataFileTool, EncodesBlocks) {
    const Bytes ones{0xFF, 0xFF, 0xFF, 0x12};
    EXPECT_EQ(sim::EncodeFpgaBlock(ones.data(), ones.size(), 1), Bytes({0x01, 0xFF, 0x03, 0x12}));
    EXPECT_EQ(sim::EncodeFpgaBlock(ones.data(), ones.size(), 2),
              Bytes({0x02, 0xFF, 0xFF, 0xFF, 0x12}));
    EXPECT_EQ(sim::EncodeFpgaBlock(ones.data(), ones.size(), 0),
              Bytes({0x00, 0xFF, 0xFF, 0xFF, 0x12}));
    // A run longer than a count byte takes several pairs.
    const Bytes zeros(300, 0x00);
    EXPECT_EQ(sim::EncodeFpgaBlock(zeros.data(), zeros.size(), 2),
              Bytes({0x02, 0x00, 0xFF, 0x00, 0x2D}));
}

TEST(DataFileTool, WritesTheBytesOfTheFormat) {
    FpgaDataPlan single;
    single.hasComment = true;
    single.comment = "c";
    single.datasets = {FpgaDatasetPlan{0, {0x01, 0x02}}};
    EXPECT_EQ(sim::BuildFpgaDataFile(single), Bytes({0xA0, 0x63, 0xA1, 0x00, 0x01, 0x02}));
    single.hasComment = false;
    single.datasets[0].blockBytes = 1;
    single.datasets[0].blockType = 0;
    EXPECT_EQ(sim::BuildFpgaDataFile(single), Bytes({0x01, 0x00, 0x01, 0x00, 0x02}));

    FpgaDataPlan table;
    table.single = false;
    table.datasets = {FpgaDatasetPlan{0x27, {0xAA, 0xBB}}, FpgaDatasetPlan{0x04, {0xCC}}};
    EXPECT_EQ(sim::BuildFpgaDataFile(table),
              Bytes({0xAA, 0x02, 0xAB, 0x27, 0x00, 0x02, 0x00, 0, 0, 0, 0,    0xAB,
                     0x04, 0x00, 0x01, 0x00, 0,    0,    0,    8, 0, 0, 0xAA, 0xBB,
                     0,    0,    0,    0,    0,    0,    0xCC, 0, 0, 0, 0}));
}

TEST(DataFileTool, RefusesPlansTheFormatCannotHold) {
    FpgaDataPlan plan;
    plan.single = false;
    for (int id = 1; id <= 17; ++id)
        plan.datasets.push_back(FpgaDatasetPlan{uint8_t(id), {0x00}});
    EXPECT_THROW(sim::BuildFpgaDataFile(plan), sim::FpgaDataError);
    plan.datasets = {FpgaDatasetPlan{0, {0x00}}};
    EXPECT_THROW(sim::BuildFpgaDataFile(plan), sim::FpgaDataError);
    plan.datasets = {FpgaDatasetPlan{4, {0x00}}, FpgaDatasetPlan{4, {0x01}}};
    EXPECT_THROW(sim::BuildFpgaDataFile(plan), sim::FpgaDataError);
    plan.hasComment = true;
    plan.comment = "\xA1";
    plan.datasets = {FpgaDatasetPlan{4, {0x00}}};
    EXPECT_THROW(sim::BuildFpgaDataFile(plan), sim::FpgaDataError);
}

// Configuration-like bytes: runs of 0xff and 0x00 between others.
Bytes ConfigurationBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        const unsigned kind = random() % 4;
        const size_t run = 1 + random() % 40;
        for (size_t i = 0; i < run && bytes.size() < size; ++i)
            bytes.push_back(kind == 0 ? 0xFF : kind == 1 ? 0x00 : uint8_t(random()));
    }
    return bytes;
}

class ReaderOfToolFiles : public ::testing::Test {
  protected:
    void Open(const FpgaDataPlan& plan) {
        file = sim::BuildFpgaDataFile(plan);
        device.WriteBytes(kDataPath, file);
        reader.SetFileName(kDataPath);
        ASSERT_TRUE(reader.OpenDataFile());
    }
    // A transfer of bytes bytes from dataset id.
    Bytes Take(uint8_t id, uint32_t bytes) {
        reader.BeginTransfer();
        Bytes out;
        for (uint32_t i = 0; i < bytes; ++i) {
            uint8_t byte;
            if (!reader.GetDataByte(id, bytes * 8, byte))
                break;
            out.push_back(byte);
        }
        return out;
    }

    fwtest::TempDevice device;
    FpgaDataReader reader;
    Bytes file;
};

TEST_F(ReaderOfToolFiles, SingleDatasetOfEachKind) {
    // Larger than the reader's read-ahead, which is 1 KiB.
    const Bytes data = ConfigurationBytes(5000, 1);
    const struct {
        uint32_t block;
        int type;
    } kinds[] = {{0, 0}, {16, 0}, {16, 1}, {16, 2}, {16, sim::kFpgaBlockSmallest}, {7, 1}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(std::to_string(kind.block) + "/" + std::to_string(kind.type));
        FpgaDataPlan plan;
        plan.datasets = {FpgaDatasetPlan{0, data, kind.block, kind.type}};
        Open(plan);
        const uint32_t transfer = kind.block ? kind.block : 16;
        Bytes delivered;
        while (delivered.size() < data.size()) {
            const Bytes part =
                Take(0x27, uint32_t(std::min<size_t>(transfer, data.size() - delivered.size())));
            ASSERT_FALSE(part.empty());
            delivered.insert(delivered.end(), part.begin(), part.end());
        }
        EXPECT_EQ(delivered, data);
        EXPECT_TRUE(Take(0x27, 1).empty());
    }
}

TEST_F(ReaderOfToolFiles, TableOfCompressedAndPlainDatasetsReadInTurns) {
    // Larger than the reader's read-ahead, so that switching seeks across it.
    const Bytes rows = ConfigurationBytes(3000, 2);
    const Bytes words = ConfigurationBytes(1000, 3);
    FpgaDataPlan plan;
    plan.single = false;
    plan.hasComment = true;
    plan.comment = "rows and words";
    plan.datasets = {FpgaDatasetPlan{0x27, rows, 16, sim::kFpgaBlockSmallest},
                     FpgaDatasetPlan{0x04, words}};
    Open(plan);
    Bytes gotRows, gotWords;
    while (gotRows.size() < rows.size()) {
        const Bytes part = Take(0x27, uint32_t(std::min<size_t>(16, rows.size() - gotRows.size())));
        ASSERT_FALSE(part.empty());
        gotRows.insert(gotRows.end(), part.begin(), part.end());
        const Bytes word = Take(0x04, 4);
        gotWords.insert(gotWords.end(), word.begin(), word.end());
    }
    EXPECT_EQ(gotRows, rows);
    const size_t taken = gotWords.size();
    ASSERT_EQ(taken, 4u * ((rows.size() + 15) / 16));
    EXPECT_EQ(gotWords, Bytes(words.begin(), words.begin() + long(taken)));
    // Both start again once read to their ends.
    EXPECT_EQ(Take(0x27, 16), Bytes(rows.begin(), rows.begin() + 16));
    EXPECT_EQ(Take(0x04, uint32_t(words.size() - taken)),
              Bytes(words.begin() + long(taken), words.end()));
    EXPECT_EQ(Take(0x04, 2), Bytes(words.begin(), words.begin() + 2));
    // A rewind starts both again.
    EXPECT_TRUE(reader.RewindData());
    EXPECT_EQ(Take(0x04, 3), Bytes(words.begin(), words.begin() + 3));
    EXPECT_EQ(Take(0x27, 16), Bytes(rows.begin(), rows.begin() + 16));

    // The dump decodes every dataset to the same bytes.
    bool valid = false;
    const std::string dump = sim::DumpFpgaDataFile(file, {{0x27, 16}}, false, valid);
    EXPECT_TRUE(valid) << dump;
    EXPECT_NE(dump.find("comment \"rows and words\""), std::string::npos) << dump;
    EXPECT_NE(dump.find("md5 " + sim::Md5Hex(rows)), std::string::npos) << dump;
    EXPECT_NE(dump.find("md5 " + sim::Md5Hex(words)), std::string::npos) << dump;
}

TEST(DataFileTool, DumpTellsWhatTheReaderRefuses) {
    const Bytes kBad[] = {
        {},
        {0x07},
        {0xAA, 0x11},
        {0xAA, 0x01, 0xAC},
        {0x01, 0x05, 0x00},                                                  // block type 5
        {0xAA, 0x01, 0xAB, 0x27, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0x01},  // data cut short
    };
    for (const Bytes& file : kBad) {
        bool valid = true;
        const std::string dump = sim::DumpFpgaDataFile(file, {{-1, 4}}, false, valid);
        EXPECT_FALSE(valid) << dump;
        EXPECT_NE(dump.find("invalid: "), std::string::npos) << dump;
    }
}

}  // namespace
}  // namespace fpgatest
