// The algorithm text form: exact bytes, round trips through the disassembler,
// and the assembler's refusals.
#include <gtest/gtest.h>

#include <random>

#include "engine_fixture.h"
#include "sim/fpga_algorithm_text.h"

namespace fpgatest {
namespace {

using sim::AssembleFpgaAlgorithm;
using sim::DisassembleFpgaAlgorithm;

const std::string kHeaderText =
    "id 0x01020304\n"
    "version 4 0 0\n"
    "buffer_size 16\n"
    "nesting 3\n"
    "mask_size 8\n"
    "channel 0\n"
    "compression 0\n"
    "checksum auto\n"
    "begin\n";
const int kHeaderLines = 9;

// Every opcode, at the main level, in transactions and in nested bodies.
const std::string kSample = R"(# a sample of everything
comment "sample"
comment "\x01\xff\"\\"
id 0xcafe0001
version 4 0 0
buffer_size 16
nesting 3
mask_size 8
channel 5
compression 0
checksum auto
begin
comment "stream"
start_transaction
  transmit 32 inline e0 00 00 00
  receive 32
  mask ff ff ff 00
  inline_data 01 2b 10 00
  run_clock 3
  wait 2
  comment "in a transaction"
  reset_data
end_transaction
nop_count 0
run_clock 7
wait 100000
loop 20
  start_transaction
  transmit 8 inline 3c
  receive 8
  inline_data 00
  end_transaction
end_loop
start_transaction
transmit 8 inline 70
repeat 2
  transmit 12 dataset
end_repeat
transmit 16 inline aabb
inline_data
end_transaction
reset_data
repeat 2
  repeat 2
    loop 2
      comment "verify"
      start_transaction
      receive 12
      checked_dataset_data
      end_transaction
    end_loop
  end_repeat
end_repeat
start_transaction
receive 16
dataset_data
transmit 8 dataset
dataset_data
end_transaction
end_transaction
end_of_algorithm
)";

TEST(AlgorithmText, WritesTheBytesOfTheFormat) {
    const Bytes expected =
        Algorithm(TransmitInline(12, {0xAB, 0xC0}) + Bytes{op::kEnd} + Wait(300) +
                  Bytes{0x13, 0x88, 0x00, op::kEnd} + kEndOfAlgorithm);
    EXPECT_EQ(
        AssembleFpgaAlgorithm(kHeaderText + "00002a: transmit 12 inline ab c0  # an offset label\n"
                                            "end_transaction\n"
                                            "wait 300\n"
                                            "receive [88 00]\n"
                                            "end_transaction\n"
                                            "end_of_algorithm\n"),
        expected);
}

TEST(AlgorithmText, HeaderLinesMatchTheirItems) {
    Header header;
    header.comments = {"made by hand", std::string("\x01\xA0", 2)};
    header.id = 0xCAFE0001;
    header.version[0] = 3;
    header.depth = 2;
    header.channel = 9;
    Bytes items = header.Items();
    const std::string text =
        "comment \"made by hand\"\ncomment \"\\x01\\xa0\"\nid 0xcafe0001\nversion 3 0 0\n"
        "buffer_size 16\nnesting 2\nmask_size 8\nchannel 9\ncompression 0\nchecksum auto\nbegin\n"
        "end_of_algorithm\n";
    EXPECT_EQ(AssembleFpgaAlgorithm(text), Finish(items) + kEndOfAlgorithm);
    // The other compression tag and a checksum given as it is.
    items = Header().Items();
    items.at(17) = 0xA0;
    std::string other = kHeaderText;
    other.replace(other.find("compression 0"), 13, "compression 0 tag 0xa0");
    other.replace(other.find("checksum auto"), 13, "checksum 0xff12");
    EXPECT_EQ(AssembleFpgaAlgorithm(other + "end_of_algorithm\n"),
              Finish(items, 0xFF12) + kEndOfAlgorithm);
}

TEST(AlgorithmText, DisassemblyAssemblesToTheSameBytes) {
    const Bytes file = AssembleFpgaAlgorithm(kSample);
    const std::string text = DisassembleFpgaAlgorithm(file);
    EXPECT_EQ(AssembleFpgaAlgorithm(text), file);
    // Everything is shown as opcodes, not as raw bytes.
    EXPECT_EQ(text.find("bytes "), std::string::npos) << text;
    EXPECT_NE(text.find("000000: comment \"sample\""), std::string::npos) << text;
    EXPECT_NE(text.find("      checked_dataset_data"), std::string::npos) << text;
}

TEST(AlgorithmText, AnyFileRoundTripsThroughTheDisassembler) {
    // The sample with bytes changed, cut or added at random, and some
    // deliberately odd files: whatever the engine makes of them, the text gives
    // the same bytes back, written as opcodes wherever that is possible.
    const Bytes sample = AssembleFpgaAlgorithm(kSample);
    std::vector<Bytes> files = {
        {},
        Bytes{0xA0, 0x01},
        Algorithm(Bytes{op::kWait, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01} + kEndOfAlgorithm),
        Algorithm(RepeatBody(1, Wait(0x42)) + kEndOfAlgorithm),
        Algorithm(RepeatBody(1, TransmitInline(8, {0x01}) + Bytes{op::kStart}) + kEndOfAlgorithm),
        Algorithm(RepeatBody(1, TransmitInline(16, {0xA0, 0xA1})) + kEndOfAlgorithm),
        Algorithm(kEndOfAlgorithm + Bytes{0x10, 0x99}),
        Algorithm(Receive(8) + Bytes{op::kMask, 0x0F} + TransmitDataset(8)),
    };
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        Bytes file = sample;
        const int changes = 1 + int(random() % 4);
        for (int k = 0; k < changes; ++k) {
            const size_t at = random() % file.size();
            switch (random() % 4) {
                case 0:
                    file[at] = uint8_t(random());
                    break;
                case 1:
                    file.resize(at);
                    break;
                case 2:
                    file.insert(file.begin() + long(at), uint8_t(random()));
                    break;
                default:
                    file[at] = uint8_t(0x40 + random() % 5);  // marker values
                    break;
            }
            if (file.empty())
                break;
        }
        files.push_back(file);
    }
    for (const Bytes& file : files) {
        const std::string text = DisassembleFpgaAlgorithm(file);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find("shown as bytes only"), std::string::npos);
        EXPECT_EQ(AssembleFpgaAlgorithm(text), file);
    }
}

TEST(AlgorithmText, DisassemblyExplainsWhereTheEngineStops) {
    struct Case {
        Bytes file;
        std::string remark;
    };
    Bytes badChecksum = Algorithm(kEndOfAlgorithm);
    badChecksum.at(21) ^= 1;
    const Case cases[] = {
        {Algorithm(Wait(1)), "the file ends before end_of_algorithm (result -11)"},
        {Algorithm(Bytes{0x99}), "the engine stops here: unknown opcode 0x99 (result -11)"},
        {badChecksum, "the engine refuses it (result -4)"},
        {Algorithm(RepeatBody(1, RepeatBody(1, RepeatBody(1, RepeatBody(1, {}))))),
         "opens a body nested too deep"},
        {Bytes{0xA2, 0x00}, "not an algorithm file the engine accepts"},
    };
    for (const Case& c : cases) {
        const std::string text = DisassembleFpgaAlgorithm(c.file);
        EXPECT_NE(text.find(c.remark), std::string::npos) << text;
    }
}

TEST(AlgorithmText, AssembledFileRunsInTheEngine) {
    const Bytes file = AssembleFpgaAlgorithm(kHeaderText +
                                             "start_transaction\n"
                                             "transmit 8 inline 70\n"
                                             "repeat 2\n"
                                             "  transmit 12 dataset\n"
                                             "end_repeat\n"
                                             "end_transaction\n"
                                             "loop 3\n"
                                             "  receive 8\n"
                                             "  mask f0\n"
                                             "  inline_data b0\n"
                                             "  end_transaction\n"
                                             "  wait 5\n"
                                             "end_loop\n"
                                             "end_of_algorithm\n");
    fwtest::TempDevice device;
    ScriptedLink link;
    SetFpgaLink(&link);
    device.WriteBytes(kAlgorithmPath, file);
    device.WriteBytes(kDataPath, SingleData({0x12, 0x34, 0x56, 0x78}));
    SetFpgaFiles(kAlgorithmPath, kDataPath);
    link.answers = {{0x00}, {0xB5}};
    EXPECT_EQ(RunAlgorithm(0xFFFFFFFF), 2);
    SetFpgaLink(nullptr);
    EXPECT_EQ(link.calls, Calls({"init", "start 0", "tx 70", "tx f123", "tx f567", "end", "rx 1",
                                 "end", "rx 1", "end", "wait 5", "close"}));
}

struct RefusalCase {
    const char* name;
    std::string stream;  // after the header
    int line;            // counted from the first stream line
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, NamesTheLine) {
    try {
        AssembleFpgaAlgorithm(kHeaderText + GetParam().stream);
        FAIL() << "assembled";
    } catch (const sim::FpgaTextError& e) {
        EXPECT_EQ(e.Line(), kHeaderLines + GetParam().line) << e.what();
    }
}

const std::string kEnd = "end_of_algorithm\n";

const RefusalCase kRefusals[] = {
    {"WaitZero", "wait 0\n" + kEnd, 1},
    {"RunClockZero", "run_clock 0\n" + kEnd, 1},
    {"RepeatZero", "repeat 0\nend_repeat\n" + kEnd, 1},
    {"LoopZero", "loop 0\nend_loop\n" + kEnd, 1},
    {"TransmitZeroBits", "transmit 0 inline\nend_transaction\n" + kEnd, 1},
    {"InlineBytesMissing", "transmit 12 inline ab\nend_transaction\n" + kEnd, 1},
    {"UnknownSource", "transmit 8 data\nend_transaction\n" + kEnd, 1},
    {"MaskOutsideATransaction", "mask ff\n" + kEnd, 1},
    {"InlineDataOutsideATransaction", "inline_data\n" + kEnd, 1},
    {"ExpectedBytesMissing", "receive 16\ninline_data 00\nend_transaction\n" + kEnd, 2},
    {"BytesAfterATransmit", "transmit 8 inline 01\ninline_data 01\nend_transaction\n" + kEnd, 2},
    {"MaskOfTheWrongLength", "receive 8\nmask ff ff\nend_transaction\n" + kEnd, 2},
    {"MaskBeyond1024Bits", "receive 1032\nmask " + std::string(258, 'f') + "\n" + kEnd, 2},
    {"InlineBeyond5000Bytes",
     "transmit 40008 inline " + std::string(10002, '0') + "\nend_transaction\n" + kEnd, 1},
    {"DatasetTransmitBeyond1024Bytes", "transmit 8200 dataset\nend_transaction\n" + kEnd, 1},
    {"DatasetReceiveBeyond1024Bytes", "receive 8200\ndataset_data\nend_transaction\n" + kEnd, 2},
    {"StartInATransaction", "transmit 8 inline 01\nstart_transaction\n" + kEnd, 2},
    {"LoopInATransaction", "receive 8\nloop 1\nend_loop\n" + kEnd, 2},
    {"EndOfAlgorithmInATransaction", "receive 8\n" + kEnd, 2},
    {"SkippedInABodyTransaction",
     "repeat 1\ntransmit 8 inline 01\nnop_count 1\nend_repeat\n" + kEnd, 3},
    {"StrayEndRepeat", "end_repeat\n" + kEnd, 1},
    {"WrongEnd", "repeat 1\nend_loop\n" + kEnd, 2},
    {"FourLevels",
     "repeat 1\nrepeat 1\nloop 1\nrepeat 1\nend_repeat\nend_loop\nend_repeat\n" + kEnd, 4},
    {"MarkerValueInAnOperand", "repeat 1\nwait 66\nend_repeat\n" + kEnd, 2},
    {"MarkerValueInInlineData", "repeat 1\ntransmit 8 inline 44\nend_repeat\n" + kEnd, 2},
    {"CommentStartInAnOperand", "loop 1\ntransmit 8 inline a0\nend_loop\n" + kEnd, 2},
    {"BodyBeyond1024Bytes",
     "repeat 1\n" +
         [] {
             std::string lines;
             for (int i = 0; i < 513; ++i)
                 lines += "nop_count 0\n";
             return lines;
         }() +
         "end_repeat\n" + kEnd,
     515},
    {"NoEndOfAlgorithm", "wait 1\n", 1},
    {"FileEndsInATransaction", "receive 8\n", 1},
    {"BodyWithoutItsEnd", "repeat 2\nwait 1\n", 1},
    {"UnknownOpcode", "jump 3\n" + kEnd, 1},
    {"AfterEndOfAlgorithm", kEnd + "wait 1\n", 2},
    {"BadEncoding", "wait [80]\n" + kEnd, 1},
    {"EncodingOfTwoNumbers", "wait [05 00]\n" + kEnd, 1},
    {"CommentHoldingItsEnd", "comment \"a\\xa1\"\n" + kEnd, 1},
    {"TextWithoutItsQuote", "comment \"open\n" + kEnd, 1},
    {"NotHex", "transmit 8 inline 0g\nend_transaction\n" + kEnd, 1},
    {"CountBeyond32Bits", "wait 4294967296\n" + kEnd, 1},
};
INSTANTIATE_TEST_SUITE_P(Assembler, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(AlgorithmText, HeaderRefusals) {
    const struct {
        std::string text;
        int line;
    } cases[] = {
        {"version 4 0 0\n", 1},
        {"id 0x100000000\n", 1},
        {"id 1\nversion 4 0\n", 2},
        {"id 1\nversion 256 0 0\n", 2},
        {"comment \"x\"\nid 1\ncomment \"late\"\n", 3},
        {"id 1\nversion 4 0 0\nbuffer_size 1\nnesting 3\nmask_size 1\nchannel 0\n"
         "compression 0 tag 0xa1\n",
         7},
        {kHeaderText.substr(0, kHeaderText.find("checksum")) + "checksum 0x10000\n", 8},
        {kHeaderText.substr(0, kHeaderText.find("begin")), 8},
        {"bytes 00\nid 1\n", 2},
    };
    for (const auto& c : cases) {
        try {
            AssembleFpgaAlgorithm(c.text);
            ADD_FAILURE() << "assembled: " << c.text;
        } catch (const sim::FpgaTextError& e) {
            EXPECT_EQ(e.Line(), c.line) << c.text << "\n" << e.what();
        }
    }
    // Raw bytes alone are a file as they are; no item at all is an empty file.
    EXPECT_EQ(AssembleFpgaAlgorithm("bytes 01 02\nbytes 0304\n"), Bytes({1, 2, 3, 4}));
    EXPECT_EQ(AssembleFpgaAlgorithm("# nothing\n\n"), Bytes());
    // A comment alone is not a header.
    EXPECT_THROW(AssembleFpgaAlgorithm("comment \"x\"\n"), sim::FpgaTextError);
}

}  // namespace
}  // namespace fpgatest
