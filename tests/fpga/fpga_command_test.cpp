// fwsetup fpga asm, disasm and data make / dump through the built binary:
// round trips, exit codes, and how outputs are written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "run_fwsetup.h"
#include "sim/file_digest.h"
#include "sim/fpga_algorithm_text.h"
#include "support/temp_device.h"

namespace fpgatest {
namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::ToolRun;

const char kText[] = R"(comment "made by a test"
id 0x00000001
version 4 0 0
buffer_size 16
nesting 2
mask_size 8
channel 0
compression 0
checksum auto
begin
start_transaction
  transmit 8 inline 70
  repeat 4
    transmit 128 dataset
  end_repeat
end_transaction
end_of_algorithm
)";

class FpgaCommand : public ::testing::Test {
  protected:
    fs::path Path(const std::string& name) const { return scratch_.Root() / name; }
    void WriteFile(const std::string& name, const std::string& contents) const {
        std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
        out << contents;
    }
    std::string ReadFile(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    ToolRun Run(const std::vector<std::string>& args) const {
        return RunFwsetup(args, scratch_.Hw());
    }
    // The entries of the scratch folder besides fs/ and hw/.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(scratch_.Root())) {
            const std::string name = entry.path().filename().string();
            if (name != "fs" && name != "hw")
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fwtest::TempDevice scratch_;
};

TEST_F(FpgaCommand, AsmDisasmAsmGivesTheSameBytes) {
    WriteFile("algo.txt", kText);
    ToolRun run = Run({"fpga", "asm", Path("algo.txt").string(), Path("algo.sea").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Run({"fpga", "disasm", Path("algo.sea").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    WriteFile("again.txt", run.out);
    EXPECT_NE(run.out.find("000000: comment \"made by a test\""), std::string::npos) << run.out;
    run = Run({"fpga", "asm", Path("again.txt").string(), Path("again.sea").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile("again.sea"), ReadFile("algo.sea"));
}

TEST_F(FpgaCommand, BadInputIsOneLineExit2AndNoOutput) {
    WriteFile("bad.txt", std::string(kText).replace(std::string(kText).find("128"), 3, "0"));
    WriteFile("old.sea", "old");
    const std::vector<std::vector<std::string>> runs = {
        {"fpga", "asm", Path("bad.txt").string(), Path("old.sea").string()},
        {"fpga", "asm", Path("none.txt").string(), Path("old.sea").string()},
        {"fpga", "disasm", Path("none.sea").string()},
        {"fpga", "disasm", scratch_.Root().string()},
        {"fpga", "data", "make", "--single", Path("none.bin").string(), Path("old.sea").string()},
        {"fpga", "data", "make", "--dataset", "0=" + Path("bad.txt").string(),
         Path("old.sea").string()},
        {"fpga", "data", "make", "--dataset", "4=" + Path("bad.txt").string() + ",block=0",
         Path("old.sea").string()},
        {"fpga", "data", "make", Path("old.sea").string()},
        {"fpga", "data", "dump", Path("none.sed").string()},
        {"fpga", "data", "dump", Path("bad.txt").string(), "--block", "x"},
    };
    for (const auto& args : runs) {
        const ToolRun run = Run(args);
        SCOPED_TRACE(args[1] + " " + args.back());
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(ReadFile("old.sea"), "old");
    }
    EXPECT_EQ(Entries(), std::vector<std::string>({"bad.txt", "old.sea"}));
}

TEST_F(FpgaCommand, OutputIsNeitherAnInputNorAFolder) {
    WriteFile("algo.txt", kText);
    fs::create_hard_link(Path("algo.txt"), Path("same.txt"));
    fs::create_directory(Path("folder"));
    for (const char* out : {"algo.txt", "same.txt", "folder"}) {
        const ToolRun run = Run({"fpga", "asm", Path("algo.txt").string(), Path(out).string()});
        EXPECT_EQ(run.exitCode, 2) << out;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    }
    EXPECT_EQ(ReadFile("algo.txt"), kText);
    EXPECT_TRUE(fs::is_directory(Path("folder")));
    WriteFile("rows.bin", "0123456789");
    const ToolRun run =
        Run({"fpga", "data", "make", "--dataset", "0x27=" + Path("rows.bin").string() + ",block=4",
             Path("rows.bin").string()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(ReadFile("rows.bin"), "0123456789");
}

TEST_F(FpgaCommand, AsmReplacesAnExistingOutputWhole) {
    WriteFile("algo.txt", kText);
    WriteFile("algo.sea", std::string(4096, 'x'));
    const ToolRun run = Run({"fpga", "asm", Path("algo.txt").string(), Path("algo.sea").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<uint8_t> expected = sim::AssembleFpgaAlgorithm(kText);
    EXPECT_EQ(ReadFile("algo.sea"), std::string(expected.begin(), expected.end()));
    EXPECT_EQ(Entries(), std::vector<std::string>({"algo.sea", "algo.txt"}));
}

TEST_F(FpgaCommand, DataMakeThenDump) {
    std::string rows;
    for (int i = 0; i < 64; ++i)
        rows += char(i % 3 == 0 ? 0xFF : i);
    WriteFile("rows.bin", rows);
    WriteFile("words.bin", std::string(12, '\0'));
    ToolRun run = Run({"fpga", "data", "make", "--comment", "demo", "--dataset",
                       "0x27=" + Path("rows.bin").string() + ",block=16,type=1", "--dataset",
                       "4=" + Path("words.bin").string(), Path("data.sed").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = Run({"fpga", "data", "dump", Path("data.sed").string(), "--block", "0x27=16"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("comment \"demo\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("dataset 0x27: 64 bytes, compressed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("type 1: 4"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("md5 " + sim::FileMd5Hex(Path("rows.bin"))), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("md5 " + sim::FileMd5Hex(Path("words.bin"))), std::string::npos)
        << run.out;

    run = Run({"fpga", "data", "make", "--single", Path("words.bin").string() + ",block=4,type=2",
               Path("single.sed").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile("single.sed"), std::string("\x01\x02\x00\x04\x02\x00\x04\x02\x00\x04", 10));
    run = Run({"fpga", "data", "dump", Path("single.sed").string(), "--block", "4", "--hex"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("000000: 00 00 00 00 00 00 00 00 00 00 00 00"), std::string::npos)
        << run.out;
    // A file the reader refuses.
    WriteFile("bad.sed", "\x07");
    run = Run({"fpga", "data", "dump", Path("bad.sed").string()});
    EXPECT_EQ(run.exitCode, 1) << run.out;
}

}  // namespace
}  // namespace fpgatest
