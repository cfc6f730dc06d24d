// Repeat and loop bodies: counts, nesting, the bytewise scan for their end,
// the body buffer, and how a body's result travels.
#include "engine_fixture.h"

namespace fpgatest {
namespace {

struct BodyCase {
    const char* name;
    Bytes stream;
    std::vector<Bytes> answers;
    int expected;
    Calls calls;  // between "init" and "close"
};

void PrintTo(const BodyCase& c, std::ostream* os) {
    *os << c.name;
}

class Body : public EngineTest, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(Body, RunsAsExpected) {
    const BodyCase& c = GetParam();
    link.answers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(RunStream(c.stream, SingleData({0x11, 0x22, 0x33, 0x44})), c.expected);
    EXPECT_EQ(Inner(), c.calls);
}

// One status poll: select, ask, read one byte, expect 0x00, deselect.
const Bytes kPoll =
    Bytes{op::kStart} + TransmitInline(8, {0x3C}) + Receive(8) + Bytes{op::kInline, 0x00, op::kEnd};
const Calls kPollCalls = {"start 0", "tx 3c", "rx 1", "end"};

Calls Times(int n, const Calls& calls) {
    Calls out;
    for (int i = 0; i < n; ++i)
        out.insert(out.end(), calls.begin(), calls.end());
    return out;
}

Calls Then(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const BodyCase kBodies[] = {
    {"RepeatRunsCountTimes",
     RepeatBody(3, Wait(1)) + kEndOfAlgorithm,
     {},
     2,
     {"wait 1", "wait 1", "wait 1"}},
    {"RepeatCountZero", RepeatBody(0, Wait(1)) + kEndOfAlgorithm, {}, -11, {}},
    {"RepeatCountCutByTheEnd", Bytes{op::kRepeat, 0x83}, {}, -11, {}},
    {"RepeatEmptyBody", RepeatBody(5, {}) + Wait(2) + kEndOfAlgorithm, {}, 2, {"wait 2"}},
    {"RepeatStopsAtTheFirstFailure",
     RepeatBody(3, kPoll) + kEndOfAlgorithm,
     {{0x00}, {0x01}},
     -20,
     Times(2, kPollCalls)},
    {"RepeatBodyWithAFormatError",
     RepeatBody(2, Wait(1) + Bytes{0x99}) + kEndOfAlgorithm,
     {},
     -11,
     {"wait 1"}},
    {"RepeatBodyWithoutItsEnd", Bytes{op::kRepeat, 0x02} + Wait(1), {}, -11, {}},
    {"LoopSucceedsAtTheThirdTry",
     LoopBody(3, kPoll) + Wait(9) + kEndOfAlgorithm,
     {{0x80}, {0x80}, {0x00}},
     2,
     Then(Times(3, kPollCalls), {"wait 9"})},
    {"LoopStopsAtTheFirstSuccess", LoopBody(5, kPoll) + kEndOfAlgorithm, {{0x00}}, 2, kPollCalls},
    {"LoopFailingEveryTry",
     LoopBody(3, kPoll) + Wait(9) + kEndOfAlgorithm,
     {{0x80}, {0x80}, {0x80}},
     -14,
     Times(3, kPollCalls)},
    {"LoopCountZero", LoopBody(0, kPoll) + kEndOfAlgorithm, {}, -11, {}},
    // Whatever makes a try fail, the loop tries again and then reports its own failure.
    {"LoopBodyWithAFormatErrorTriesAgain",
     LoopBody(2, Wait(1) + Bytes{0x99}) + kEndOfAlgorithm,
     {},
     -14,
     {"wait 1", "wait 1"}},
    {"NestedRepeats",
     RepeatBody(2, RepeatBody(3, Wait(1))) + kEndOfAlgorithm,
     {},
     2,
     Times(6, {"wait 1"})},
    {"ThreeLevels",
     RepeatBody(2, LoopBody(1, RepeatBody(2, Wait(4)))) + kEndOfAlgorithm,
     {},
     2,
     Times(4, {"wait 4"})},
    {"FourLevelsAreTooDeep",
     RepeatBody(1, RepeatBody(1, RepeatBody(1, RepeatBody(1, Wait(1))))) + kEndOfAlgorithm,
     {},
     -11,
     {}},
    {"FourLevelsInATransactionAreTooDeep",
     RepeatBody(1,
                RepeatBody(1, TransmitInline(8, {0x01}) + RepeatBody(1, RepeatBody(1, Wait(1))))) +
         kEndOfAlgorithm,
     {},
     -11,
     {}},
    {"LoopInsideLoopRetriesTheOuter",
     LoopBody(2, Wait(5) + LoopBody(2, kPoll)) + kEndOfAlgorithm,
     {{0x80}, {0x80}, {0x80}, {0x00}},
     2,
     Then(Then({"wait 5"}, Times(2, kPollCalls)), Then({"wait 5"}, Times(2, kPollCalls)))},
    {"EndRepeatClosesALoop",
     Bytes{op::kLoop, 0x01} + Wait(1) + Bytes{op::kEndRepeat} + kEndOfAlgorithm,
     {},
     -11,
     {}},
    {"EndLoopClosesARepeat",
     Bytes{op::kRepeat, 0x01} + Wait(1) + Bytes{op::kEndLoop} + kEndOfAlgorithm,
     {},
     -11,
     {}},
    {"InnerMarkersMustMatch",
     Bytes{op::kRepeat, 0x01, op::kLoop, 0x01, op::kEndRepeat} + Wait(1) + Bytes{op::kEndRepeat} +
         kEndOfAlgorithm,
     {},
     -11,
     {}},
    {"CommentsInABodyAreDropped",
     RepeatBody(2, Bytes{op::kComment, 0x42, 0x44, 0x41, 0xA1} + Wait(1)) + kEndOfAlgorithm,
     {},
     2,
     {"wait 1", "wait 1"}},
    // The scan is bytewise: a wait of 0x42 ms ends the body after the wait's opcode.
    {"AnOperandByteWithAMarkerValueEndsTheBody",
     RepeatBody(1, Wait(0x42)) + kEndOfAlgorithm,
     {},
     -11,
     {}},
    {"EndOfAlgorithmEndsOnlyTheBody",
     RepeatBody(2, Wait(1) + kEndOfAlgorithm + Wait(2)) + Wait(3) + kEndOfAlgorithm,
     {},
     2,
     {"wait 1", "wait 1", "wait 3"}},
    {"TransactionEndsWithTheBody",
     Bytes{op::kStart} + RepeatBody(2, TransmitDataset(16)) + Bytes{op::kEnd} + kEndOfAlgorithm,
     {},
     2,
     {"start 0", "tx 1122", "tx 3344", "end"}},
    {"TransactionEndedByTheBodyKeepsItsMismatch",
     LoopBody(2, Receive(8) + Bytes{op::kInline, 0x00}) + kEndOfAlgorithm,
     {{0x01}, {0x02}},
     -14,
     {"rx 1", "rx 1"}},
    // Inside a body an opcode of the main level ends the transaction and is skipped.
    {"MainLevelOpcodeEndsATransactionInABody",
     RepeatBody(1, TransmitInline(8, {0x01}) + Bytes{op::kStart} + Wait(6)) + kEndOfAlgorithm,
     {},
     2,
     {"tx 01", "wait 6"}},
    {"EndOfAlgorithmInATransactionInABodyIsSkipped",
     RepeatBody(1, TransmitInline(8, {0x01}) + kEndOfAlgorithm + Wait(6)) + kEndOfAlgorithm,
     {},
     2,
     {"tx 01", "wait 6"}},
    {"UnknownOpcodeEndsATransactionInABody",
     RepeatBody(1, TransmitInline(8, {0x01}) + Bytes{0x99} + Wait(6)) + kEndOfAlgorithm,
     {},
     2,
     {"tx 01", "wait 6"}},
    {"OperandCutByTheEndOfTheBody",
     RepeatBody(1, TransmitInline(16, {0x01})) + kEndOfAlgorithm,
     {},
     -11,
     {}},
};
INSTANTIATE_TEST_SUITE_P(Bodies, Body, ::testing::ValuesIn(kBodies),
                         [](const ::testing::TestParamInfo<BodyCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EngineTest, ResetDataFailingInABodyEndsTheRun) {
    EXPECT_EQ(
        RunWithoutData(Algorithm(RepeatBody(2, Bytes{op::kReset} + Wait(1)) + kEndOfAlgorithm)),
        -12);
    EXPECT_EQ(Inner(), Calls());
}

TEST_F(EngineTest, BodyOf1024BytesFitsAndOf1025DoesNot) {
    // A no-operation count of 0 is two bytes; a wait closes the body.
    Bytes body;
    for (int i = 0; i < 510; ++i)
        body = body + Bytes{op::kNopCount, 0x00};
    body = body + Wait(1) + Bytes{op::kNopCount, 0x00};
    ASSERT_EQ(body.size(), 1024u);
    EXPECT_EQ(RunStream(RepeatBody(2, body) + kEndOfAlgorithm), 2);
    EXPECT_EQ(Inner(), Calls({"wait 1", "wait 1"}));
    link.calls.clear();
    // Comment bytes do not count.
    EXPECT_EQ(RunStream(RepeatBody(1, body + Bytes{op::kComment, 1, 2, 3, 0xA1}) + kEndOfAlgorithm),
              2);
    link.calls.clear();
    EXPECT_EQ(RunStream(RepeatBody(1, body + Bytes{0x15}) + kEndOfAlgorithm), -11);
    EXPECT_EQ(Inner(), Calls());
}

}  // namespace
}  // namespace fpgatest
