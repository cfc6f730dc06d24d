// fwsetup fpga run and fpga status through the built binary: the module's
// engine over the simulated link, its results and exit codes, and the
// reference FPGA's state from one process to the next.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <fstream>

#include "run_fwsetup.h"
#include "sim/file_digest.h"
#include "sim/fpga_algorithm_text.h"
#include "sim/fpga_data_file.h"
#include "sim/reference_fpga_package.h"
#include "support/temp_device.h"

namespace linktest {
namespace {

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;
using fwtest::Lines;
using fwtest::ToolRun;

const char kHeader[] = R"(id 0x00000001
version 4 0 0
buffer_size 16
nesting 1
mask_size 16
channel 0
compression 0
checksum auto
begin
)";

class FpgaRunCommand : public ::testing::Test {
  protected:
    // A printer made by `device init` with the options given.
    void InitPrinter(const std::vector<std::string>& options = {"--board-id", "18"}) {
        std::vector<std::string> args = {"device", "init", Device().string()};
        args.insert(args.end(), options.begin(), options.end());
        const ToolRun init = Run(args);
        ASSERT_EQ(init.exitCode, 0) << init.err;
    }
    fs::path Device() const { return scratch_.Root() / "printer"; }
    fs::path Path(const std::string& name) const { return scratch_.Root() / name; }
    void WriteFile(const std::string& name, const Bytes& bytes) const {
        std::ofstream(Path(name), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    void WriteAlgorithm(const std::string& name, const std::string& stream) const {
        WriteFile(name, sim::AssembleFpgaAlgorithm(std::string(kHeader) + stream));
    }
    Bytes ReadFile(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    ToolRun Run(const std::vector<std::string>& args) const {
        return fwtest::RunFwsetup(args, scratch_.Hw());
    }
    ToolRun RunFpga(const std::string& algorithm, const std::string& data) const {
        return Run({"fpga", "run", "--device", Device().string(), algorithm, data});
    }
    // `fpga status --json`, parsed.
    rapidjson::Document Status() const {
        const ToolRun run = Run({"fpga", "status", "--device", Device().string(), "--json"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        rapidjson::Document status;
        status.Parse(run.out.c_str());
        EXPECT_TRUE(!status.HasParseError() && status.IsObject()) << run.out;
        if (status.HasParseError() || !status.IsObject())
            status.SetObject();
        return status;
    }
    // What the run left in \UpgradeTemp\.
    std::vector<std::string> UpgradeTemp() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Device() / "fs" / "UpgradeTemp"))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fwtest::TempDevice scratch_;
};

std::string LastLine(const std::string& text) {
    const std::vector<std::string> lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
}

TEST_F(FpgaRunCommand, ProgramsTheReferenceFpgaWhichKeepsItsStateAcrossProcesses) {
    InitPrinter();
    const sim::ReferenceFpgaPackageFiles files = sim::MakeReferenceFpgaPackageFiles(7, 0xA1B2C3D4);
    WriteFile("algo.sea", files.algorithm);
    WriteFile("data.sed", files.data);
    const rapidjson::Document fresh = Status();
    EXPECT_TRUE(fresh["fresh"].GetBool());
    EXPECT_FALSE(fresh["done"].GetBool());

    const ToolRun run = RunFpga(Path("algo.sea").string(), Path("data.sed").string());
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(LastLine(run.out), "result 2");
    EXPECT_EQ(ReadFile(Path("algo.sea")), files.algorithm);
    EXPECT_EQ(ReadFile(Path("data.sed")), files.data);
    EXPECT_TRUE(UpgradeTemp().empty());

    const rapidjson::Document status = Status();
    EXPECT_STREQ(status["model"].GetString(), "reference");
    EXPECT_STREQ(status["wiring"]["source"].GetString(), "default");
    EXPECT_EQ(status["wiring"]["spiModule"].GetInt(), 0);
    EXPECT_EQ(status["wiring"]["chipSelectPin"].GetInt(), 49);
    EXPECT_FALSE(status["fresh"].GetBool());
    EXPECT_EQ(status["id"].GetUint(), 0x0F9A2301u);
    EXPECT_EQ(status["status"].GetUint(), 0x08u);
    EXPECT_TRUE(status["done"].GetBool());
    EXPECT_FALSE(status["enabled"].GetBool());
    EXPECT_FALSE(status["error"].GetBool());
    EXPECT_EQ(status["rowsProgrammed"].GetUint(), sim::kReferenceFpgaImageRows);
    EXPECT_EQ(status["imageRows"].GetUint(), sim::kReferenceFpgaImageRows);
    EXPECT_EQ(status["imageBytes"].GetUint(), files.image.size());
    EXPECT_EQ(status["usercode"].GetUint(), 0xA1B2C3D4u);
    EXPECT_EQ(status["md5"].GetString(), sim::Md5Hex(files.image));

    // A later process reads back what the first one programmed.
    WriteAlgorithm("check.sea", R"(
start_transaction
transmit 8 inline 41
receive 32
inline_data a1 b2 c3 d4
end_transaction
start_transaction
transmit 24 inline 10 5a a5
end_transaction
start_transaction
transmit 24 inline 30 00 00
end_transaction
start_transaction
transmit 8 inline 40
repeat 2
  receive 128
  checked_dataset_data
end_repeat
end_transaction
end_of_algorithm
)");
    sim::FpgaDataPlan plan;
    plan.datasets.resize(1);
    plan.datasets[0].data.assign(files.image.begin(), files.image.begin() + 32);
    WriteFile("rows.sed", sim::BuildFpgaDataFile(plan));
    const ToolRun check = RunFpga(Path("check.sea").string(), Path("rows.sed").string());
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(LastLine(check.out), "result 2");
    // ENABLE stopped the image.
    EXPECT_FALSE(Status()["done"].GetBool());
}

// The engine's result as the last line, and the exit code it gives; the
// copies and the temporary configuration are gone whatever the result.
TEST_F(FpgaRunCommand, PrintsTheEnginesResult) {
    const struct {
        const char* name;
        std::vector<std::string> device;  // device init options
        const char* stream;               // null: a file that is no algorithm
        bool withData;
        int result;
    } cases[] = {
        {"verified",
         {"--board-id", "18"},
         "start_transaction\ntransmit 8 inline 01\nreceive 32\ninline_data 0f 9a 23 01\n"
         "end_transaction\nend_of_algorithm\n",
         true,
         2},
        {"another id",
         {"--board-id", "18"},
         "start_transaction\ntransmit 8 inline 01\nreceive 32\ninline_data 0f 9a 23 02\n"
         "end_transaction\nend_of_algorithm\n",
         true,
         -20},
        {"no EEPROM", {"--no-eeprom"}, "end_of_algorithm\n", true, -5},
        {"no region 0", {"--no-region0"}, "end_of_algorithm\n", true, -5},
        {"no data file", {}, "wait 1\nend_of_algorithm\n", false, 2},
        {"data needed but none",
         {},
         "start_transaction\ntransmit 8 dataset\nend_transaction\nend_of_algorithm\n",
         false,
         -2},
        {"not an algorithm", {}, nullptr, true, -6},
        // The last byte (end_of_algorithm) cut off.
        {"no end", {}, "wait 1\nend_of_algorithm\n", true, -11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Device());
        InitPrinter(c.device);
        if (c.stream) {
            Bytes algorithm = sim::AssembleFpgaAlgorithm(std::string(kHeader) + c.stream);
            if (c.result == -11)
                algorithm.pop_back();
            WriteFile("algo.sea", algorithm);
        } else {
            WriteFile("algo.sea", {0x12, 0x34});
        }
        WriteFile("data.sed", {0x00, 0x5A});
        const ToolRun run =
            RunFpga(Path("algo.sea").string(), c.withData ? Path("data.sed").string() : "");
        EXPECT_EQ(LastLine(run.out), "result " + std::to_string(c.result)) << run.err;
        EXPECT_EQ(run.exitCode, c.result == 2 ? 0 : 1);
        EXPECT_TRUE(UpgradeTemp().empty());
    }
}

TEST_F(FpgaRunCommand, RefusesMissingInputs) {
    InitPrinter();
    WriteAlgorithm("algo.sea", "end_of_algorithm\n");
    WriteFile("data.sed", {0x00});
    fs::create_directories(Path("folder"));
    const struct {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"no such algorithm", {Path("none.sea").string(), Path("data.sed").string()}},
        {"algorithm is a folder", {Path("folder").string(), Path("data.sed").string()}},
        {"no such data", {Path("algo.sea").string(), Path("none.sed").string()}},
        {"no DATA", {Path("algo.sea").string()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"fpga", "run", "--device", Device().string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun run = Run(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out.find("result"), std::string::npos) << run.out;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_TRUE(UpgradeTemp().empty());
    }
    const ToolRun notAPrinter =
        Run({"fpga", "run", "--device", Path("folder").string(), Path("algo.sea").string(), ""});
    EXPECT_EQ(notAPrinter.exitCode, 2);
}

TEST_F(FpgaRunCommand, StatusTellsTheModelAndWiring) {
    InitPrinter();
    fs::create_directories(Device() / "hw" / "fpga");
    std::ofstream(Device() / "hw" / "fpga" / "model") << "script\n";
    std::ofstream(Device() / "hw" / "fpga" / "wiring.json") << R"({"spiModule": 1})";
    rapidjson::Document status = Status();
    EXPECT_STREQ(status["model"].GetString(), "script");
    EXPECT_STREQ(status["wiring"]["source"].GetString(), "wiring.json");
    EXPECT_EQ(status["wiring"]["spiModule"].GetInt(), 1);
    EXPECT_EQ(status["wiring"]["chipSelectPin"].GetInt(), 49);
    EXPECT_TRUE(status["fresh"].GetBool());

    const ToolRun text = Run({"fpga", "status", "--device", Device().string()});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("wiring: SPI2: (module 1), selected by GPIO pin 49"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("state: not configured"), std::string::npos) << text.out;
}

TEST_F(FpgaRunCommand, StatusErrorsAreOneJsonDocument) {
    InitPrinter();
    fs::create_directories(Device() / "hw" / "fpga");
    std::ofstream(Device() / "hw" / "fpga" / "state.json") << "{\"done\": 1}";
    for (const fs::path& device : {Device(), Path("nowhere")}) {
        SCOPED_TRACE(device.string());
        const ToolRun run = Run({"fpga", "status", "--device", device.string(), "--json"});
        EXPECT_EQ(run.exitCode, 2);
        rapidjson::Document error;
        error.Parse(run.out.c_str());
        ASSERT_TRUE(!error.HasParseError() && error.IsObject()) << run.out;
        EXPECT_EQ(error.MemberCount(), 1u);
        EXPECT_TRUE(error.HasMember("error") && error["error"].IsString());
    }
}

}  // namespace
}  // namespace linktest
