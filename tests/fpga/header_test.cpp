// The algorithm file's header: every tag, the id, version, depth and checksum
// checks, the place where the data file is opened, and what a refused header
// leaves of the hardware.
#include <functional>

#include "engine_fixture.h"

namespace fpgatest {
namespace {

struct HeaderCase {
    const char* name;
    std::function<void(Bytes&)> patchItems;  // on items 1..15, before the checksum
    std::function<void(Bytes&)> patchFile;   // on the finished header
    int expected;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

void Set(Bytes& bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
}

class HeaderCheck : public EngineTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderCheck, GivesItsResultAndClosesTheHardware) {
    const HeaderCase& c = GetParam();
    Bytes items = Header().Items();
    if (c.patchItems)
        c.patchItems(items);
    Bytes file = Finish(items);
    if (c.patchFile)
        c.patchFile(file);
    EXPECT_EQ(Run(file + Wait(7) + kEndOfAlgorithm), c.expected);
    if (c.expected == 2) {
        EXPECT_EQ(Inner(), Calls({"wait 7"}));
    } else {
        // Once InitHardware succeeded, a refused header still closes it.
        EXPECT_EQ(link.calls, Calls({"init", "close"}));
    }
}

const HeaderCase kHeaderCases[] = {
    {"Valid", nullptr, nullptr, 2},
    {"IdTagWrong", [](Bytes& b) { Set(b, 0, 0xA3); }, nullptr, -6},
    {"VersionTagWrong", [](Bytes& b) { Set(b, 5, 0xA4); }, nullptr, -6},
    {"BufferSizeTagWrong", [](Bytes& b) { Set(b, 9, 0xA5); }, nullptr, -6},
    {"DepthTagWrong", [](Bytes& b) { Set(b, 11, 0xA4); }, nullptr, -6},
    {"MaskSizeTagWrong", [](Bytes& b) { Set(b, 13, 0xA7); }, nullptr, -6},
    {"ChannelTagWrong", [](Bytes& b) { Set(b, 15, 0xA6); }, nullptr, -6},
    {"CompressionTagWrong", [](Bytes& b) { Set(b, 17, 0xA8); }, nullptr, -6},
    {"CompressionTagA0", [](Bytes& b) { Set(b, 17, 0xA0); }, nullptr, 2},
    {"ChecksumTagWrong", nullptr, [](Bytes& b) { Set(b, 19, 0xA9); }, -6},
    {"StreamStartWrong", nullptr, [](Bytes& b) { Set(b, 22, 0x61); }, -6},
    {"Version400", [](Bytes& b) { Set(b, 6, 4); }, nullptr, 2},
    {"Version000", [](Bytes& b) { Set(b, 6, 0); }, nullptr, 2},
    {"Version500", [](Bytes& b) { Set(b, 6, 5); }, nullptr, -3},
    {"Version310", [](Bytes& b) { Set(b, 6, 3), Set(b, 7, 1); }, nullptr, -3},
    {"Version401", [](Bytes& b) { Set(b, 8, 1); }, nullptr, -3},
    {"Depth3", [](Bytes& b) { Set(b, 12, 3); }, nullptr, 2},
    {"Depth4", [](Bytes& b) { Set(b, 12, 4); }, nullptr, -6},
    {"ChecksumFFFF", nullptr, [](Bytes& b) { Set(b, 20, 0xFF), Set(b, 21, 0xFF); }, 2},
    {"ChecksumHighFF", nullptr, [](Bytes& b) { Set(b, 20, 0xFF); }, 2},
    {"ChecksumLowFF", nullptr, [](Bytes& b) { Set(b, 21, 0xFF); }, 2},
    {"ChecksumHighWrong", nullptr, [](Bytes& b) { b.at(20) ^= 0x01; }, -4},
    {"ChecksumLowWrong", nullptr, [](Bytes& b) { b.at(21) ^= 0x80; }, -4},
    {"ChecksumLowWrongHighFF", nullptr, [](Bytes& b) { Set(b, 20, 0xFF), b.at(21) ^= 1; }, -4},
    // A version refused and a wrong tag after it: the version is met first.
    {"VersionBeforeLaterTag", [](Bytes& b) { Set(b, 6, 9), Set(b, 9, 0); }, nullptr, -3},
};

INSTANTIATE_TEST_SUITE_P(Header, HeaderCheck, ::testing::ValuesIn(kHeaderCases),
                         [](const ::testing::TestParamInfo<HeaderCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EngineTest, ChecksumCoversTheCommentBlocks) {
    Header header;
    header.comments = {"made by hand", std::string("\x01\xA0\xFF", 3)};
    const Bytes items = header.Items();
    EXPECT_EQ(Run(Finish(items) + kEndOfAlgorithm), 2);
    // The sum of the items without the comments does not match.
    Header bare;
    const uint16_t withoutComments = Checksum(bare.Items());
    ASSERT_NE(withoutComments, Checksum(items));
    EXPECT_EQ(Run(Finish(items, withoutComments) + kEndOfAlgorithm), -4);
}

TEST_F(EngineTest, ChecksumIsTheLow16BitsOfA32BitSum) {
    // Enough 0xFF comment bytes to carry the sum past 16 bits.
    Header header;
    header.comments = {std::string(300, '\xFF')};
    const Bytes items = header.Items();
    uint32_t sum = 0;
    for (uint8_t b : items)
        sum += b;
    ASSERT_GT(sum, 0xFFFFu);
    EXPECT_EQ(Run(Finish(items, int(sum & 0xFFFF)) + kEndOfAlgorithm), 2);
}

TEST_F(EngineTest, AlgorithmIdMustMatchUnlessAnyIsAsked) {
    Header header;
    header.id = 0x12345678;
    device.WriteBytes(kAlgorithmPath, Algorithm(kEndOfAlgorithm, header));
    SetFpgaFiles(kAlgorithmPath, "");
    EXPECT_EQ(RunAlgorithm(0x12345678), 2);
    EXPECT_EQ(RunAlgorithm(0x12345679), -6);
    EXPECT_EQ(RunAlgorithm(0x78563412), -6);
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), 2);
}

TEST_F(EngineTest, EveryCutHeaderIsAFormatError) {
    Header header;
    header.comments = {"c"};
    const Bytes file = Finish(header.Items());
    for (size_t size = 0; size < file.size(); ++size) {
        SCOPED_TRACE(size);
        link.calls.clear();
        EXPECT_EQ(Run(Bytes(file.begin(), file.begin() + long(size))), -6);
        EXPECT_EQ(link.calls, Calls({"init", "close"}));
    }
}

TEST_F(EngineTest, DataFileIsOpenedAfterTheChannel) {
    // A missing data file is found before a wrong compression tag ...
    Bytes items = Header().Items();
    items.at(17) = 0x00;
    device.WriteBytes(kAlgorithmPath, Finish(items));
    SetFpgaFiles(kAlgorithmPath, "\\UpgradeTemp\\missing.sed");
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), -2);
    // ... but after a wrong channel tag.
    items = Header().Items();
    items.at(15) = 0x00;
    device.WriteBytes(kAlgorithmPath, Finish(items));
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), -6);
}

TEST_F(EngineTest, UnreadableDataFileIsResultMinus2) {
    const Bytes algorithm = Algorithm(kEndOfAlgorithm);
    const Bytes kBadDataFiles[] = {
        {},                                                      // empty
        {0x02, 0x00},                                            // unknown mode
        {0xA0, 0x41, 0x42},                                      // comment without its end
        {0xAA},                                                  // table without its count
        {0xAA, 0x01, 0xAC, 0x04, 0x00, 0x01, 0x00, 0, 0, 0, 0},  // entry without 0xAB
        {0xAA, 0x01, 0xAB, 0x04, 0x00, 0x01, 0x00, 0, 0},        // file ends in the entry
        {0xAA, 0x11},                                            // 17 datasets announced
    };
    for (const Bytes& data : kBadDataFiles) {
        SCOPED_TRACE(Hex(data.data(), data.size()));
        link.calls.clear();
        EXPECT_EQ(Run(algorithm, data), -2);
        EXPECT_EQ(link.calls, Calls({"init", "close"}));
    }
}

TEST_F(EngineTest, SixteenDatasetsAreAccepted) {
    std::vector<TestDataset> datasets;
    for (uint8_t id = 1; id <= 16; ++id)
        datasets.push_back({id, {id}, 1});
    EXPECT_EQ(Run(Algorithm(kEndOfAlgorithm), MultiData(datasets)), 2);
}

TEST_F(EngineTest, MissingAlgorithmFileIsMinus1AndClosesTheHardware) {
    SetFpgaFiles("\\UpgradeTemp\\none.sea", "");
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), -1);
    EXPECT_EQ(link.calls, Calls({"init", "close"}));
}

TEST_F(EngineTest, FailedInitHardwareStopsBeforeAnything) {
    link.initResult = false;
    EXPECT_EQ(Run(Algorithm(Wait(1) + kEndOfAlgorithm)), -5);
    EXPECT_EQ(link.calls, Calls({"init"}));
}

TEST_F(EngineTest, AFailingCloseAfterARefusedHeaderKeepsTheHeaderResult) {
    link.closeResult = false;
    Bytes file = Algorithm(kEndOfAlgorithm);
    file.at(20) ^= 1;
    EXPECT_EQ(Run(file), -4);
    EXPECT_EQ(link.calls, Calls({"init", "close"}));
}

TEST_F(EngineTest, FileNamesLongerThan63CharactersAreNotOpened) {
    // The name is not cut to 63 characters either: that file stays unread.
    const std::string longName = "\\UpgradeTemp\\" + std::string(64 - 13, 'a');
    const std::string cutName = longName.substr(0, 63);
    ASSERT_EQ(longName.size(), 64u);
    const Bytes algorithm = Algorithm(kEndOfAlgorithm);
    device.WriteBytes(longName, algorithm);
    device.WriteBytes(cutName, algorithm);
    SetFpgaFiles(longName, "");
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), -1);
    SetFpgaFiles(cutName, "");
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), 2);
    device.WriteBytes(kAlgorithmPath, algorithm);
    device.WriteBytes(longName, SingleData({}));
    SetFpgaFiles(kAlgorithmPath, longName);
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), -2);
}

}  // namespace
}  // namespace fpgatest
