// --json, end to end through the built binary: each command prints exactly one
// JSON document on stdout, read back here with RapidJSON and held against what
// happened; errors are {"error": "..."} with exit 2.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_fwsetup.h"
#include "support/host_files.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::TempDevice;
using fwtest::ToolRun;

// stdout as one JSON object; a failure when it holds anything else.
rapidjson::Document ParseDocument(const ToolRun& run) {
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(run.out.c_str());
    EXPECT_FALSE(document.HasParseError()) << "stdout: " << run.out << "\nstderr: " << run.err;
    if (document.HasParseError() || !document.IsObject())
        document.Parse("{}");
    return document;
}

std::string Text(const rapidjson::Value& object, const char* member) {
    if (!object.IsObject() || !object.HasMember(member) || !object[member].IsString())
        return "<no string " + std::string(member) + ">";
    return object[member].GetString();
}

int64_t Number(const rapidjson::Value& object, const char* member) {
    if (!object.IsObject() || !object.HasMember(member) || !object[member].IsInt64())
        return -1;
    return object[member].GetInt64();
}

bool Flag(const rapidjson::Value& object, const char* member, bool otherwise) {
    if (!object.IsObject() || !object.HasMember(member) || !object[member].IsBool())
        return otherwise;
    return object[member].GetBool();
}

const rapidjson::Value& Array(const rapidjson::Value& object, const char* member) {
    static const rapidjson::Value empty(rapidjson::kArrayType);
    if (!object.IsObject() || !object.HasMember(member) || !object[member].IsArray())
        return empty;
    return object[member];
}

class JsonOutput : public testing::Test {
  protected:
    void SetUp() override {
        const ToolRun run = RunFwsetup({"device", "init", Printer().string()}, Scratch());
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    const fs::path& Scratch() const { return scratch_.Root(); }
    fs::path Printer() const { return scratch_.Root() / "printer"; }
    ToolRun Run(const std::vector<std::string>& args) const { return RunFwsetup(args, Scratch()); }

    // A package whose cabinet installs boot\<name>.txt.
    fs::path GoodPackage(const std::string& name) const {
        fwtest::WriteHostFile(Scratch() / ("payload-" + name) / "boot" / (name + ".txt"), name);
        const fs::path pkg = Scratch() / ("pkg-" + name);
        const ToolRun run =
            Run({"package", "make", "--layout", "QuorinpackageLayout", "--module", Module(),
                 "--payload", (Scratch() / ("payload-" + name)).string(), "-o", pkg.string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return pkg;
    }
    // A package of layout without a payload: its nested cabinet is refused.
    fs::path EmptyPackage(const std::string& layout) const {
        const fs::path pkg = Scratch() / ("pkg-empty-" + layout);
        fs::create_directories(pkg / "files");
        fs::copy_file(Module(layout), pkg / "setup.so");
        return pkg;
    }
    // A package whose payload is no payload: the module reports code 27.
    fs::path BrokenPackage() const {
        const fs::path pkg = Scratch() / "pkg-broken";
        fwtest::WriteHostFile(pkg / "files/UpgradeTemp/QuorinpackageLayout.lz4", "not a payload");
        fs::copy_file(Module(), pkg / "setup.so");
        return pkg;
    }
    static std::string Module(const std::string& layout = "QuorinpackageLayout") {
        return (fs::path(FWSETUP_MODULES_DIR) / (layout + ".so")).string();
    }

  private:
    TempDevice scratch_;
};

// Bad arguments and inputs of every command that takes --json.
TEST_F(JsonOutput, ErrorsAreOneDocumentWithExit2) {
    const std::string printer = Printer().string();
    const std::string missing = (Scratch() / "missing").string();
    fwtest::WriteHostFile(Scratch() / "in-use" / "file", "x");
    const std::vector<std::vector<std::string>> cases = {
        {"eeprom", "--device", missing, "show", "--json"},
        {"nkbin", "check", missing, "--json"},
        {"nkbin", "check", "--json", "--no-such-option", missing},
        {"periph", "show", missing, "--json"},
        {"props", "dump", missing, "--json"},
        {"props", "show", "--device", missing, "--json"},
        {"fpga", "status", "--device", missing, "--json"},
        {"install", "--device", printer, missing, "--json"},
        {"install", "--device", missing, EmptyPackage("QuorinpackageLayout").string(), "--json"},
        {"upgrade", "--device", printer, missing, "--json"},
        {"demo", "--keep", (Scratch() / "in-use").string(), "--json"},
    };
    for (const std::vector<std::string>& args : cases) {
        const std::string what = args[0] + " " + args[1];
        const ToolRun run = Run(args);
        EXPECT_EQ(run.exitCode, 2) << what << ": " << run.out << run.err;
        const rapidjson::Document document = ParseDocument(run);
        EXPECT_EQ(document.MemberCount(), 1u) << what << ": " << run.out;
        const std::string error = Text(document, "error");
        EXPECT_FALSE(error.empty()) << what;
        ASSERT_EQ(Lines(run.err).size(), 1u) << what << ": " << run.err;
        EXPECT_NE(run.err.find(error), std::string::npos) << what << ": " << run.err;
    }
}

TEST_F(JsonOutput, EepromShowReportsTheHeaderDirectoryAndRegions) {
    const std::string printer = Printer().string();
    ASSERT_EQ(Run({"eeprom", "--device", printer, "set-board-id", "1234"}).exitCode, 0);
    fwtest::WriteHostFile(Scratch() / "region.bin", "ten bytes!");
    ASSERT_EQ(Run({"eeprom", "--device", printer, "write-region", "1",
                   (Scratch() / "region.bin").string()})
                  .exitCode,
              0);

    const ToolRun run = Run({"eeprom", "--device", printer, "show", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const rapidjson::Document shown = ParseDocument(run);
    EXPECT_EQ(Number(shown, "boardId"), 1234);
    EXPECT_TRUE(Flag(shown, "boardIdReadable", false));
    EXPECT_TRUE(Flag(shown, "formatted", false));
    EXPECT_EQ(Text(shown, "header").size(), 128u);  // 64 bytes in hex
    const rapidjson::Value& directory = Array(shown, "directory");
    ASSERT_EQ(directory.Size(), 3u) << run.out;
    int64_t offset = -1;
    for (const rapidjson::Value& region : Array(shown, "regions").GetArray()) {
        if (Number(region, "index") != 1)
            continue;
        EXPECT_EQ(Text(region, "status"), "ok");
        EXPECT_EQ(Number(region, "payloadLength"), 10);
        EXPECT_EQ(Number(region, "crc"), Number(region, "computedCrc"));
        offset = Number(region, "offset");
        EXPECT_EQ(Number(directory[1]["stored"], "offset"), offset);
    }
    ASSERT_GE(offset, 0) << "no region 1 in " << run.out;

    // A payload byte changed behind the CRC's back.
    {
        std::fstream eeprom(Printer() / "hw" / "eeprom.bin",
                            std::ios::binary | std::ios::in | std::ios::out);
        eeprom.seekp(offset + 2);
        eeprom.put('T');
    }
    const ToolRun bad = Run({"eeprom", "--device", printer, "show", "--json"});
    ASSERT_EQ(bad.exitCode, 0) << bad.err;
    const rapidjson::Document changed = ParseDocument(bad);
    bool seen = false;
    for (const rapidjson::Value& region : Array(changed, "regions").GetArray()) {
        if (Number(region, "index") == 1) {
            seen = true;
            EXPECT_EQ(Text(region, "status"), "badCrc");
            EXPECT_NE(Number(region, "crc"), Number(region, "computedCrc"));
        }
    }
    EXPECT_TRUE(seen) << bad.out;

    // No EEPROM to read: the failure is the document, the exit code stays 1.
    fs::remove(Printer() / "hw" / "eeprom.bin");
    const ToolRun gone = Run({"eeprom", "--device", printer, "show", "--json"});
    EXPECT_EQ(gone.exitCode, 1) << gone.out << gone.err;
    const rapidjson::Document failed = ParseDocument(gone);
    EXPECT_EQ(failed.MemberCount(), 1u) << gone.out;
    EXPECT_NE(Text(failed, "error").find("EEPROM"), std::string::npos) << gone.out;
}

struct ImageCase {
    const char* what;
    long flipAt;  // a byte of the built image to change; -1: none
    int exitCode;
    const char* refusedBy;  // null: valid
};

const ImageCase kImageCases[] = {
    {"valid", -1, 0, nullptr},
    {"record checksum broken", 15 + 12 + 100, 1, "module"},
    {"signature broken", 0, 1, "module"},
};

TEST_F(JsonOutput, NkbinCheckSaysWhetherAndWhyAnImageIsValid) {
    std::string data(4096, '\x5a');
    fwtest::WriteHostFile(Scratch() / "data.bin", data);
    const fs::path built = Scratch() / "nk.bin";
    const ToolRun made =
        Run({"nkbin", "make", "-o", built.string(), "--start", "0x80200000", "--record",
             "0x80200000=" + (Scratch() / "data.bin").string(), "--stamp-marker"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (const ImageCase& c : kImageCases) {
        std::string image = fwtest::ReadHostFile(built);
        if (c.flipAt >= 0)
            image[size_t(c.flipAt)] ^= 0x01;
        const fs::path file = Scratch() / "image.bin";
        fwtest::WriteHostFile(file, image);
        const ToolRun run = Run({"nkbin", "check", file.string(), "--json"});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.err;
        const rapidjson::Document document = ParseDocument(run);
        EXPECT_EQ(Number(document, "exitCode"), c.exitCode) << c.what;
        EXPECT_EQ(Text(document, "file"), file.string()) << c.what;
        EXPECT_EQ(Flag(document, "valid", c.refusedBy != nullptr), c.refusedBy == nullptr)
            << c.what;
        if (c.refusedBy) {
            EXPECT_EQ(Text(document, "refusedBy"), c.refusedBy) << c.what;
            EXPECT_FALSE(Text(document, "fault").empty()) << c.what;
        } else {
            EXPECT_TRUE(document["refusedBy"].IsNull()) << run.out;
            EXPECT_EQ(Text(document, "signature"), "B000FF");
            EXPECT_EQ(Number(document, "start"), 0x80200000);
            EXPECT_EQ(Number(document, "length"), 4096);
            EXPECT_EQ(Number(document, "records"), 1);
            EXPECT_EQ(Number(document, "endRecordOffset"), 15 + 12 + 4096);
        }
    }
}

struct InstallCase {
    const char* name;
    bool payload;  // a nested cabinet that installs
    const char* layout;
    int exitCode;
    size_t reportedSteps;        // steps that reported code 27
    unsigned cabinetLoaderExit;  // what \Windows\wceldcmd.exe exited with
};

const InstallCase kInstallCases[] = {
    {"CabinetInstalled", true, "QuorinpackageLayout", 0, 0, 0},
    {"CabinetRejected", false, "QuorinpackageLayout", 0, 1, 1},
    {"CabinetRejectedAndActionFailed", false, "QuorinOSPackageLayout", 1, 2, 1},
};

TEST_F(JsonOutput, InstallReportsTheHooksTheProgramsAndTheReportedSteps) {
    for (const InstallCase& c : kInstallCases) {
        const fs::path pkg = c.payload ? GoodPackage(c.name) : EmptyPackage(c.layout);
        const ToolRun run =
            Run({"install", "--json", "--device", Printer().string(), pkg.string()});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.out << run.err;
        const rapidjson::Document document = ParseDocument(run);
        EXPECT_EQ(Number(document, "exitCode"), c.exitCode) << c.name;
        EXPECT_EQ(Number(document, "exitResult"), c.exitCode) << c.name;
        EXPECT_EQ(Text(document, "package"), pkg.string()) << c.name;
        EXPECT_EQ(Array(document, "reportedSteps").Size(), c.reportedSteps) << c.name << run.out;
        const rapidjson::Value& codes = Array(document, "progressCodes");
        EXPECT_EQ(codes.Size(), c.reportedSteps) << c.name;
        for (const rapidjson::Value& code : codes.GetArray())
            EXPECT_EQ(code.GetInt(), 27) << c.name;
        for (const rapidjson::Value& step : Array(document, "reportedSteps").GetArray())
            EXPECT_EQ(Text(step, "codeName"), "SetupStepFailed") << c.name;
        bool loaderSeen = false;
        for (const rapidjson::Value& program : Array(document, "programs").GetArray()) {
            if (Text(program, "program") != "\\Windows\\wceldcmd.exe")
                continue;
            loaderSeen = true;
            EXPECT_TRUE(Flag(program, "started", false)) << c.name;
            EXPECT_EQ(Number(program, "exitCode"), c.cabinetLoaderExit) << c.name << run.out;
        }
        EXPECT_TRUE(loaderSeen) << c.name << ": " << run.out;
        // A package without a payload brings no files (its files/ is empty).
        const rapidjson::Value& copied = Array(document, "copiedFiles");
        EXPECT_EQ(copied.Size() > 0, c.payload) << c.name << ": " << run.out;
        for (const rapidjson::Value& file : copied.GetArray())
            EXPECT_EQ(file.GetString()[0], '\\') << c.name;
        if (c.payload) {
            EXPECT_EQ(fwtest::ReadHostFile(Printer() / "fs/boot" / (std::string(c.name) + ".txt")),
                      c.name);
        }
    }
}

struct SeriesCase {
    const char* name;
    std::vector<const char*> packages;  // "good" or "broken", in order
    int exitCode;
    std::vector<const char*> statuses;
    int64_t stoppedAt;  // -1: complete
};

const SeriesCase kSeriesCases[] = {
    {"AllGood", {"good", "good"}, 0, {"installed", "installed"}, -1},
    {"StopsAtTheBrokenOne",
     {"good", "broken", "good"},
     1,
     {"installed", "reportedFailure", "notRun"},
     1},
};

TEST_F(JsonOutput, UpgradeReportsEachPackagesOutcome) {
    for (const SeriesCase& c : kSeriesCases) {
        std::vector<std::string> args = {"upgrade", "--device", Printer().string(), "--json"};
        std::vector<std::string> packages;
        for (size_t i = 0; i < c.packages.size(); ++i) {
            packages.push_back(std::string(c.packages[i]) == "good"
                                   ? GoodPackage(std::string(c.name) + std::to_string(i)).string()
                                   : BrokenPackage().string());
            args.push_back(packages.back());
        }
        const ToolRun run = Run(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.out << run.err;
        const rapidjson::Document document = ParseDocument(run);
        EXPECT_EQ(Number(document, "exitCode"), c.exitCode) << c.name;
        EXPECT_EQ(Flag(document, "complete", c.stoppedAt >= 0), c.stoppedAt < 0) << c.name;
        if (c.stoppedAt >= 0) {
            EXPECT_EQ(Number(document, "stoppedAt"), c.stoppedAt) << c.name;
        } else {
            EXPECT_TRUE(document.HasMember("stoppedAt") && document["stoppedAt"].IsNull());
        }
        const rapidjson::Value& outcomes = Array(document, "packages");
        ASSERT_EQ(outcomes.Size(), c.statuses.size()) << c.name << ": " << run.out;
        for (size_t i = 0; i < c.statuses.size(); ++i) {
            const rapidjson::Value& outcome = outcomes[rapidjson::SizeType(i)];
            EXPECT_EQ(Text(outcome, "package"), packages[i]) << c.name << " " << i;
            EXPECT_EQ(Text(outcome, "status"), c.statuses[i]) << c.name << " " << i;
            const std::string status = c.statuses[i];
            EXPECT_EQ(Text(outcome, "reason").empty(), status == "installed" || status == "notRun")
                << c.name << " " << i;
            if (status == "installed") {
                EXPECT_EQ(Number(outcome, "exitCode"), 0) << c.name << " " << i;
            }
            const rapidjson::Value& codes = Array(outcome, "progressCodes");
            if (status == "reportedFailure") {
                ASSERT_EQ(codes.Size(), 1u) << run.out;
                EXPECT_EQ(codes[0].GetInt(), 27);
            } else {
                EXPECT_EQ(codes.Size(), 0u) << c.name << " " << i;
            }
        }
    }
}

TEST_F(JsonOutput, DemoReportsEachPrinterAndPackage) {
    const fs::path kept = Scratch() / "kept";
    const ToolRun run = Run({"demo", "--json", "--keep", kept.string()});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const rapidjson::Document document = ParseDocument(run);
    EXPECT_EQ(Number(document, "exitCode"), 0);
    EXPECT_TRUE(Flag(document, "complete", false));
    EXPECT_EQ(Text(document, "kept"), kept.string());
    const rapidjson::Value& printers = Array(document, "printers");
    ASSERT_EQ(printers.Size(), 3u) << run.out;
    EXPECT_EQ(Number(printers[1], "boardId"), 18);
    EXPECT_EQ(Text(printers[2], "product"), "OndrelSixHundredDpi");
    EXPECT_EQ(Array(printers[2], "packages").Size(), 1u);
    for (const rapidjson::Value& printer : printers.GetArray()) {
        EXPECT_TRUE(Flag(printer, "complete", false)) << Text(printer, "name");
        EXPECT_TRUE(fs::is_directory(Text(printer, "device"))) << Text(printer, "device");
        for (const rapidjson::Value& package : Array(printer, "packages").GetArray()) {
            EXPECT_EQ(Text(package, "status"), "installed") << Text(package, "name");
            EXPECT_FALSE(Text(package, "lookFor").empty());
        }
    }
    // The application package of the default printer replaces the label designer.
    bool designer = false;
    for (const rapidjson::Value& package : Array(printers[0], "packages").GetArray()) {
        if (Text(package, "layout") != "QuorinVEXOAppsPackageLayout")
            continue;
        for (const rapidjson::Value& change : Array(package, "changes").GetArray()) {
            if (Text(change, "path") == "fs/boot/VEXOApps/VexoLabel.exe") {
                designer = true;
                EXPECT_EQ(Text(change, "kind"), "changed");
            }
        }
    }
    EXPECT_TRUE(designer) << run.out.substr(0, 2000);
    EXPECT_EQ(fwtest::ReadHostFile(kept / "device/fs/boot/VEXOApps/VexoLabel.exe"),
              "label designer, build 5.0.2\n");
}

}  // namespace
