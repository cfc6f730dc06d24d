// The opcodes of the main level and of a transaction: what each asks of the
// link, its errors, and the exact order of the link calls.
#include "engine_fixture.h"

namespace fpgatest {
namespace {

struct StreamCase {
    const char* name;
    Bytes stream;
    Bytes data;  // the data file; empty: none named
    std::vector<Bytes> answers;
    int expected;
    Calls calls;  // between "init" and "close"
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class Stream : public EngineTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(Stream, AsksTheLinkAndEndsAsExpected) {
    const StreamCase& c = GetParam();
    link.answers.assign(c.answers.begin(), c.answers.end());
    const int result =
        c.data.empty() ? RunWithoutData(Algorithm(c.stream)) : RunStream(c.stream, c.data);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(Inner(), c.calls);
}

std::string CaseName(const ::testing::TestParamInfo<StreamCase>& info) {
    return info.param.name;
}

const Bytes kNoData;  // no data file named
const Bytes kData1234 = SingleData({0x12, 0x34});
const Bytes kEnd{op::kEnd};
const Bytes kStart{op::kStart};

// The main level, outside any transaction.
const StreamCase kMainLevel[] = {
    {"StartTransactionPassesTheChannel", kStart + kEndOfAlgorithm, kNoData, {}, 2, {"start 0"}},
    {"EndTransaction", kEnd + kEndOfAlgorithm, kNoData, {}, 2, {"end"}},
    {"RunClockIsOnlyRead",
     Bytes{op::kRunClock} + Varint(300) + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {}},
    {"RunClockZero", Bytes{op::kRunClock, 0x00} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"NopCountZeroAllowed",
     Bytes{op::kNopCount, 0x00, op::kNopCount, 0x85, 0x01} + Wait(1) + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"wait 1"}},
    {"Wait", Wait(1000) + kEndOfAlgorithm, kNoData, {}, 2, {"wait 1000"}},
    {"WaitZero", Bytes{op::kWait, 0x00} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"WaitVarintCutByTheEnd", Bytes{op::kWait, 0x80}, kNoData, {}, -11, {}},
    {"ResetData",
     Bytes{op::kReset} + TransmitDataset(8) + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     2,
     {"tx 12", "end"}},
    {"ResetDataWithoutADataFile", Bytes{op::kReset} + kEndOfAlgorithm, kNoData, {}, -12, {}},
    {"CommentSkipped",
     Bytes{op::kComment, 0x10, 0x61, 0x99, 0xA1} + Wait(2) + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"wait 2"}},
    {"CommentWithoutItsEnd", Bytes{op::kComment, 0x61, 0x10}, kNoData, {}, -11, {}},
    {"EndOfAlgorithmIgnoresWhatFollows", kEndOfAlgorithm + Bytes{0x99, 0x99}, kNoData, {}, 2, {}},
    {"NoEndOfAlgorithm", Wait(3), kNoData, {}, -11, {"wait 3"}},
    {"EmptyStream", {}, kNoData, {}, -11, {}},
    {"UnknownOpcode", Bytes{0x99} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"StreamStartAgain", Bytes{0x60} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"StrayEndRepeat", Bytes{op::kEndRepeat} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"StrayEndLoop", Bytes{op::kEndLoop} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"MaskOutsideATransaction", Bytes{op::kMask, 0xFF} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"InlineDataOutsideATransaction", Bytes{op::kInline} + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"DatasetDataOutsideATransaction",
     Bytes{op::kDataset} + kEndOfAlgorithm,
     kData1234,
     {},
     -11,
     {}},
    {"CheckedDataOutsideATransaction",
     Bytes{op::kChecked} + kEndOfAlgorithm,
     kData1234,
     {},
     -11,
     {}},
};
INSTANTIATE_TEST_SUITE_P(MainLevel, Stream, ::testing::ValuesIn(kMainLevel), CaseName);

// Transactions.
const StreamCase kTransactions[] = {
    {"TransmitInline12BitsSendsTwoBytes",
     kStart + TransmitInline(12, {0xAB, 0xC0}) + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"start 0", "tx abc0", "end"}},
    {"TransmitDataset16BitsUnchanged",
     TransmitDataset(16) + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     2,
     {"tx 1234", "end"}},
    {"TransmitDataset12BitsLeadsWithFourOnes",
     TransmitDataset(12) + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     2,
     {"tx f123", "end"}},
    {"TransmitDataset1BitOfThreeBytes",
     TransmitDataset(17) + kEnd + kEndOfAlgorithm,
     SingleData({0x81, 0x42, 0xC3}),
     {},
     2,
     {"tx ff0285", "end"}},
    {"TransmitBitsZero",
     Bytes{op::kTransmit, 0x00, 0x22} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     -11,
     {}},
    {"TransmitUnknownSource",
     Bytes{op::kTransmit, 0x08, 0x25, 0x00} + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     -11,
     {}},
    {"TransmitInlineCutByTheEnd",
     Bytes{op::kTransmit, 0x18, 0x22, 0x01, 0x02},
     kNoData,
     {},
     -11,
     {}},
    {"TransmitDatasetWithoutData",
     TransmitDataset(24) + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     -2,
     {}},
    {"ReceiveBitsZero", Bytes{op::kReceive, 0x00} + kEnd + kEndOfAlgorithm, kNoData, {}, -11, {}},
    {"InlineCompareMatches",
     Receive(8) + Bytes{op::kInline, 0x5A} + kEnd + kEndOfAlgorithm,
     kNoData,
     {{0x5A}},
     2,
     {"rx 1", "end"}},
    {"InlineCompareMismatchFailsAtTheEnd",
     Receive(8) + Bytes{op::kInline, 0x5A} + kEnd + Wait(1) + kEndOfAlgorithm,
     kNoData,
     {{0x5B}},
     -20,
     {"rx 1", "end"}},
    {"InlinePartialIgnoresTheLowBits",
     Receive(4) + Bytes{op::kInline, 0x50} + kEnd + kEndOfAlgorithm,
     kNoData,
     {{0x5F}},
     2,
     {"rx 1", "end"}},
    {"InlinePartialComparesTheHighBits",
     Receive(4) + Bytes{op::kInline, 0x50} + kEnd + kEndOfAlgorithm,
     kNoData,
     {{0x4F}},
     -20,
     {"rx 1", "end"}},
    {"InlinePartialOnlyInTheLastByte",
     Receive(12) + Bytes{op::kInline, 0x12, 0x30} + kEnd + kEndOfAlgorithm,
     kNoData,
     {{0x13, 0x3F}},
     -20,
     {"rx 2", "end"}},
    {"InlineMaskedMatches",
     Receive(16) + Bytes{op::kMask, 0xF0, 0x0F, op::kInline, 0x12, 0x34} + kEnd + kEndOfAlgorithm,
     kNoData,
     {{0x1F, 0xF4}},
     2,
     {"rx 2", "end"}},
    {"InlineMaskedMismatch",
     Receive(16) + Bytes{op::kMask, 0xF0, 0x0F, op::kInline, 0x12, 0x34} + kEnd + kEndOfAlgorithm,
     kNoData,
     {{0x02, 0x34}},
     -20,
     {"rx 2", "end"}},
    {"InlineExpectedCutByTheEnd",
     Receive(16) + Bytes{op::kInline, 0x12},
     kNoData,
     {{0x12}},
     -11,
     {"rx 2"}},
    {"MaskStaysForTheRestOfTheTransaction",
     Receive(8) + Bytes{op::kMask, 0x0F} + Receive(8) + Bytes{op::kInline, 0x05} + kEnd +
         kEndOfAlgorithm,
     kNoData,
     {{0xF5}},
     2,
     {"rx 1", "end"}},
    {"ANewTransactionHasNoMask",
     Receive(8) + Bytes{op::kMask, 0x0F} + kEnd + Receive(8) + Bytes{op::kInline, 0x05} + kEnd +
         kEndOfAlgorithm,
     kNoData,
     {{0xF5}},
     -20,
     {"end", "rx 1", "end"}},
    {"BytesBeyondTheMaskAreComparedInFull",
     Receive(8) + Bytes{op::kMask, 0x00} + Receive(16) + Bytes{op::kInline, 0x12, 0x34} + kEnd +
         kEndOfAlgorithm,
     kNoData,
     {{0xEE, 0x35}},
     -20,
     {"rx 2", "end"}},
    {"MaskOf1024BitsIsRead",
     Receive(1024) + Bytes{op::kMask} + Repeat(0x00, 128) + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"end"}},
    {"MismatchesCountPerTransaction",
     Receive(8) + Bytes{op::kInline, 0x01} + Receive(8) + Bytes{op::kInline, 0x02} + kEnd +
         kEndOfAlgorithm,
     kNoData,
     {{0x01}, {0x03}},
     -20,
     {"rx 1", "rx 1", "end"}},
    {"InlineDataWithoutReceiveSendsTheDataAgain",
     TransmitInline(16, {0xAA, 0xBB}) + Bytes{op::kInline} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"tx aabb", "tx aabb", "end"}},
    {"InlineDataWithoutEarlierDataSendsZeros",
     TransmitDataset(16) + Bytes{op::kInline} + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     2,
     {"tx 1234", "tx 0000", "end"}},
    {"TransmitEndsAPendingReceive",
     Receive(8) + TransmitInline(8, {0x01}) + Bytes{op::kInline} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"tx 01", "tx 01", "end"}},
    {"DatasetCompareMismatchIsNotCounted",
     Receive(16) + Bytes{op::kDataset} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0x12, 0x35}},
     2,
     {"rx 2", "end"}},
    {"CheckedCompareMatches",
     Receive(16) + Bytes{op::kChecked} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0x12, 0x34}},
     2,
     {"rx 2", "end"}},
    {"CheckedCompareLastWholeByteDiffers",
     Receive(16) + Bytes{op::kChecked} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0x12, 0x35}},
     -20,
     {"rx 2", "end"}},
    {"CheckedComparePartialMatchesTopBits",
     Receive(12) + Bytes{op::kChecked} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0x12, 0x3F}},
     2,
     {"rx 2", "end"}},
    {"CheckedComparePartialMismatch",
     Receive(12) + Bytes{op::kChecked} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0x12, 0x24}},
     -20,
     {"rx 2", "end"}},
    {"CheckedCompareMasked",
     Receive(16) + Bytes{op::kMask, 0xFF, 0x00, op::kChecked} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0x12, 0x99}},
     2,
     {"rx 2", "end"}},
    {"CheckedCompareMaskedAndPartial",
     Receive(12) + Bytes{op::kMask, 0x0F, 0x3F, op::kChecked} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0xF2, 0xF0}},
     2,
     {"rx 2", "end"}},
    {"CheckedCompareWithoutData",
     Receive(24) + Bytes{op::kChecked} + kEnd + kEndOfAlgorithm,
     kData1234,
     {{0x12, 0x34, 0x56}},
     -2,
     {"rx 3"}},
    {"DatasetDataWithoutReceiveTransmits",
     TransmitInline(12, {0x00, 0x00}) + Bytes{op::kDataset} + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     2,
     {"tx 0000", "tx f123", "end"}},
    {"ResetDataInATransactionIgnoresAFailure",
     TransmitInline(8, {0x01}) + Bytes{op::kReset} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"tx 01", "end"}},
    {"ResetDataInATransactionRewinds",
     TransmitDataset(8) + Bytes{op::kReset} + TransmitDataset(8) + kEnd + kEndOfAlgorithm,
     kData1234,
     {},
     2,
     {"tx 12", "tx 12", "end"}},
    {"WaitInATransaction",
     TransmitInline(8, {0x01}) + Wait(5) + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"tx 01", "wait 5", "end"}},
    {"WaitZeroInATransaction",
     TransmitInline(8, {0x01}) + Bytes{op::kWait, 0x00} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     -11,
     {"tx 01"}},
    {"RunClockInATransaction",
     TransmitInline(8, {0x01}) + Bytes{op::kRunClock, 0x02} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"tx 01", "end"}},
    {"RunClockZeroInATransaction",
     TransmitInline(8, {0x01}) + Bytes{op::kRunClock, 0x00} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     -11,
     {"tx 01"}},
    {"CommentInATransaction",
     TransmitInline(8, {0x01}) + Bytes{op::kComment, 0x1F, 0xA1} + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     2,
     {"tx 01", "end"}},
    {"MainLevelOpcodeInATransactionInTheFile",
     TransmitInline(8, {0x01}) + kStart + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     -11,
     {"tx 01"}},
    {"LoopInATransactionInTheFile",
     TransmitInline(8, {0x01}) + LoopBody(1, Wait(1)) + kEnd + kEndOfAlgorithm,
     kNoData,
     {},
     -11,
     {"tx 01"}},
    {"EndOfAlgorithmInATransactionInTheFile",
     TransmitInline(8, {0x01}) + kEndOfAlgorithm,
     kNoData,
     {},
     -11,
     {"tx 01"}},
    {"FileEndsInATransaction", TransmitInline(8, {0x01}), kNoData, {}, -11, {"tx 01"}},
    {"RepeatInATransactionSendsInOneSelection",
     kStart + TransmitInline(8, {0xC0}) + RepeatBody(2, TransmitDataset(8)) + kEnd +
         kEndOfAlgorithm,
     kData1234,
     {},
     2,
     {"start 0", "tx c0", "tx 12", "tx 34", "end"}},
    {"RepeatInATransactionKeepsItsState",
     Receive(8) + RepeatBody(1, TransmitInline(8, {0x77})) + Bytes{op::kInline, 0x42} + kEnd +
         kEndOfAlgorithm,
     kNoData,
     {{0x42}},
     2,
     {"tx 77", "rx 1", "end"}},
    {"RepeatInATransactionFailing",
     TransmitInline(8, {0x01}) + RepeatBody(1, Receive(8) + Bytes{op::kInline, 0x00}) + kEnd +
         kEndOfAlgorithm,
     kNoData,
     {{0x01}},
     -20,
     {"tx 01", "rx 1"}},
};
INSTANTIATE_TEST_SUITE_P(Transaction, Stream, ::testing::ValuesIn(kTransactions), CaseName);

TEST_F(EngineTest, ExactLinkCallsOfAProgramAndVerifyRun) {
    Header header;
    header.channel = 3;
    const Bytes stream = kStart + TransmitInline(8, {0x3C}) + Receive(32) +
                         Bytes{op::kInline, 0x01, 0x2B, 0x10, 0x43} + kEnd + Wait(20) + kStart +
                         TransmitInline(32, {0x46, 0x00, 0x00, 0x00}) + kEnd + kStart +
                         TransmitInline(8, {0x70}) + TransmitDataset(16) + kEnd + kStart +
                         TransmitInline(8, {0x73}) + Receive(16) + Bytes{op::kChecked} + kEnd +
                         kEndOfAlgorithm;
    link.answers = {{0x01, 0x2B, 0x10, 0x43}, {0xAB, 0xCD}};
    EXPECT_EQ(Run(Algorithm(stream, header), SingleData({0xAB, 0xCD, 0xEF, 0x01})), -20);
    // Only the read-back of the dataset compares with the dataset's next bytes,
    // which follow the two that were sent.
    EXPECT_EQ(link.calls, Calls({"init", "start 3", "tx 3c", "rx 4", "end", "wait 20", "start 3",
                                 "tx 46000000", "end", "start 3", "tx 70", "tx abcd", "end",
                                 "start 3", "tx 73", "rx 2", "end", "close"}));
}

struct FailingCallCase {
    const char* name;
    int failCall;  // counted from "init" = 0
    int expected;
};

void PrintTo(const FailingCallCase& c, std::ostream* os) {
    *os << c.name;
}

class FailingCall : public EngineTest, public ::testing::WithParamInterface<FailingCallCase> {};

TEST_P(FailingCall, EndsTheRunAndClosesTheHardware) {
    // init, start, tx, rx, end, wait, close
    const Bytes stream = kStart + TransmitInline(8, {0x01}) + Receive(8) +
                         Bytes{op::kInline, 0x00} + kEnd + Wait(1) + kEndOfAlgorithm;
    link.answers = {{0x00}};
    link.failCall = GetParam().failCall;
    EXPECT_EQ(RunStream(stream), GetParam().expected);
    EXPECT_EQ(link.calls.back(), "close");
}

const FailingCallCase kFailingCalls[] = {
    {"StartTransaction", 1, -13}, {"TransmitBits", 2, -13}, {"ReceiveBits", 3, -13},
    {"EndTransaction", 4, -13},   {"WaitIsIgnored", 5, 2},  {"CloseHardware", 6, -13},
};
INSTANTIATE_TEST_SUITE_P(Link, FailingCall, ::testing::ValuesIn(kFailingCalls),
                         [](const ::testing::TestParamInfo<FailingCallCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EngineTest, FailingCloseTurnsAStreamErrorIntoMinus13) {
    link.closeResult = false;
    EXPECT_EQ(RunStream(Wait(1)), -13);
    EXPECT_EQ(Inner(), Calls({"wait 1"}));
}

TEST_F(EngineTest, DatasetBytesWithoutADataFileAreMinus2) {
    EXPECT_EQ(RunWithoutData(Algorithm(TransmitDataset(8) + kEnd + kEndOfAlgorithm)), -2);
}

// Inputs beyond the engine's fixed buffers are refused, never overrun.
struct LimitCase {
    const char* name;
    Bytes stream;
    int expected;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class Limit : public EngineTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(Limit, IsKept) {
    Bytes big(5000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i);
    link.answers = {Bytes(1024, 0x00)};
    EXPECT_EQ(RunStream(GetParam().stream, SingleData(big + big)), GetParam().expected);
    EXPECT_EQ(link.calls.back(), "close");
}

const LimitCase kLimits[] = {
    {"Inline5000Bytes", TransmitInline(40000, Repeat(0x5A, 5000)) + kEnd + kEndOfAlgorithm, 2},
    {"Inline5001Bytes", TransmitInline(40001, Repeat(0x5A, 5001)) + kEnd + kEndOfAlgorithm, -11},
    {"DatasetTransmit1024Bytes", TransmitDataset(8192) + kEnd + kEndOfAlgorithm, 2},
    {"DatasetTransmit1025Bytes", TransmitDataset(8193) + kEnd + kEndOfAlgorithm, -11},
    {"DatasetReceive1024Bytes", Receive(8192) + Bytes{op::kDataset} + kEnd + kEndOfAlgorithm, 2},
    {"DatasetReceive1025Bytes", Receive(8200) + Bytes{op::kDataset} + kEnd + kEndOfAlgorithm, -11},
    {"InlineReceive1024Bytes",
     Receive(8192) + Bytes{op::kInline} + Repeat(0x00, 1024) + kEnd + kEndOfAlgorithm, 2},
    {"InlineReceive1025Bytes",
     Receive(8200) + Bytes{op::kInline} + Repeat(0x00, 1025) + kEnd + kEndOfAlgorithm, -11},
    {"MaskOver1024Bits",
     Receive(1025) + Bytes{op::kMask} + Repeat(0x00, 129) + kEnd + kEndOfAlgorithm, -11},
};
INSTANTIATE_TEST_SUITE_P(Buffers, Limit, ::testing::ValuesIn(kLimits),
                         [](const ::testing::TestParamInfo<LimitCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace fpgatest
