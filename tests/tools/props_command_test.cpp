// fwsetup props dump and props verify, end to end through the built binary,
// on archives the module wrote and on damaged ones.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>

#include "properties/json_property_archiver.h"
#include "properties/string_property.h"
#include "run_fwsetup.h"
#include "runtime/thread_factory.h"
#include "support/md5_hex.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::Lines;
using fwtest::RunFwsetup;
using fwtest::TempDevice;

const std::string kHeader("\xB3\xEC\x09\x9A\x22\x92\x48\xFA\x83\xD0\x06\x84\x0B\xC9\x91\x02", 16);

std::string Image(const std::string& text, uint32_t length) {
    std::string image = kHeader;
    for (int i = 0; i < 4; ++i)
        image += char((length >> (8 * i)) & 0xFF);
    return image + text;
}
std::string Image(const std::string& text) {
    return Image(text, uint32_t(text.size()));
}

using fwtest::Md5Hex;

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The JSON document a run printed; it must be exactly one valid UTF-8 document.
rapidjson::Document ParseOutput(const std::string& out) {
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(
        out.c_str());
    EXPECT_FALSE(document.HasParseError()) << out;
    EXPECT_EQ(Lines(out).size(), 1u) << out;
    return document;
}

class PropsCommand : public testing::Test {
  protected:
    fs::path Scratch() const { return device_.Root(); }
    fs::path ArchiveFile() const { return device_.Fs() / "store" / "Properties.json"; }

    // An archive the module writes: two properties saved by its saver.
    void WriteWithTheModule() {
        device_.MakeDir("store");
        auto factory = std::make_shared<ThreadFactory>(253);
        JsonPropertyArchiver archive(u"/Store/Properties.json", factory, 253);
        archive.StoreProperty(std::make_shared<StringProperty>(
            "1234", "F3F63980-CA50-466F-9CA7-545D2B10468B", "Previous Firmware Driver Build Number",
            "222D688A-1554-4C0E-B7A0-0BC377EF4071", "Product Info"));
        archive.StoreProperty(
            std::make_shared<StringProperty>("a \"quoted\"\ttext", "id-2", "second", "g", "group"));
        ASSERT_TRUE(archive.WaitForSaves());
    }

    TempDevice device_;
};

TEST_F(PropsCommand, DumpReadsAnArchiveTheModuleWrote) {
    WriteWithTheModule();
    const fwtest::ToolRun run =
        RunFwsetup({"props", "dump", ArchiveFile().string(), "--json"}, Scratch());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const rapidjson::Document out = ParseOutput(run.out);
    ASSERT_TRUE(out.IsObject());
    EXPECT_TRUE(out["headerIsArchiveHeader"].GetBool());
    EXPECT_TRUE(out["lengthOk"].GetBool());
    EXPECT_TRUE(out["loaded"].GetBool());
    EXPECT_EQ(out["trailingBytes"].GetUint64(), 0u);
    EXPECT_EQ(out["size"].GetUint64(), fs::file_size(ArchiveFile()));
    EXPECT_EQ(out["length"].GetUint64(), fs::file_size(ArchiveFile()) - 20);
    const rapidjson::Value& entries = out["entries"];
    ASSERT_EQ(entries.Size(), 2u);
    EXPECT_STREQ(entries[0]["Name"].GetString(), "F3F63980-CA50-466F-9CA7-545D2B10468B");
    EXPECT_STREQ(entries[0]["NameString"].GetString(), "Previous Firmware Driver Build Number");
    EXPECT_STREQ(entries[0]["GroupString"].GetString(), "Product Info");
    EXPECT_STREQ(entries[0]["Value"].GetString(), "1234");
    EXPECT_STREQ(entries[1]["Value"].GetString(), "a \"quoted\"\ttext");
    EXPECT_TRUE(out["document"]["Properties"].IsArray());

    // The text form has a row per entry.
    const fwtest::ToolRun text = RunFwsetup({"props", "dump", ArchiveFile().string()}, Scratch());
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find(" 0 F3F63980-CA50-466F-9CA7-545D2B10468B"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find(" 1 id-2"), std::string::npos) << text.out;
}

TEST_F(PropsCommand, DumpReportsDamagedArchivesAsValidJson) {
    struct Case {
        const char* what;
        std::string bytes;
        bool lengthOk;
        bool loaded;
        int entries;
    };
    const std::string deep = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    const std::vector<Case> cases = {
        {"empty", "", false, false, 0},
        {"half a header", kHeader.substr(0, 8), false, false, 0},
        {"no whole length", kHeader + "\x05\x00", false, false, 0},
        {"length 0", Image("{}", 0), false, false, 0},
        {"length past the end", Image("{}", 9), false, false, 0},
        {"bytes after the text", Image("{}", 2) + "junk", true, true, 0},
        {"not JSON", Image("{\"Properties\":"), true, false, 0},
        {"root an array", Image("[1,2]"), true, false, 0},
        {"nested 100000 deep", Image(deep), true, false, 0},
        {"not UTF-8", Image("{\"Properties\":[{\"Name\":\"\xff\xfe\",\"Value\":\"\xc3\"}]}"), true,
         true, 1},
        {"properties not an array", Image("{\"Properties\":{}}"), true, true, 0},
    };
    const fs::path file = Scratch() / "archive.json";
    for (const Case& c : cases) {
        WriteFile(file, c.bytes);
        const fwtest::ToolRun run =
            RunFwsetup({"props", "dump", file.string(), "--json"}, Scratch());
        EXPECT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
        const rapidjson::Document out = ParseOutput(run.out);
        ASSERT_TRUE(out.IsObject()) << c.what;
        EXPECT_EQ(out["lengthOk"].GetBool(), c.lengthOk) << c.what;
        EXPECT_EQ(out["loaded"].GetBool(), c.loaded) << c.what;
        EXPECT_EQ(out["loadError"].IsString(), c.lengthOk && !c.loaded) << c.what;
        EXPECT_EQ(out["entries"].Size(), rapidjson::SizeType(c.entries)) << c.what;
        // The text form copes as well.
        const fwtest::ToolRun text = RunFwsetup({"props", "dump", file.string()}, Scratch());
        EXPECT_EQ(text.exitCode, 0) << c.what << ": " << text.err;
        EXPECT_EQ(text.signal, 0) << c.what;
    }
}

TEST_F(PropsCommand, DumpRefusesWhatIsNotAFile) {
    for (const std::string& file : {(Scratch() / "missing").string(), Scratch().string()}) {
        const fwtest::ToolRun json = RunFwsetup({"props", "dump", file, "--json"}, Scratch());
        EXPECT_EQ(json.exitCode, 2) << file;
        const rapidjson::Document out = ParseOutput(json.out);
        ASSERT_TRUE(out.IsObject() && out.HasMember("error")) << json.out;
        EXPECT_TRUE(out["error"].IsString());
        const fwtest::ToolRun text = RunFwsetup({"props", "dump", file}, Scratch());
        EXPECT_EQ(text.exitCode, 2) << file;
        EXPECT_EQ(Lines(text.err).size(), 1u) << text.err;
    }
}

TEST_F(PropsCommand, VerifyChecksTheSidecarAsTheModuleDoes) {
    WriteWithTheModule();
    const std::string image = ArchiveFile().string();
    const std::string bytes = [&] {
        std::ifstream in(ArchiveFile(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    struct Case {
        const char* what;
        const char* sidecarName;  // null: no sidecar
        std::string sidecar;
        int exitCode;
    };
    std::string upper = Md5Hex(bytes);
    for (char& c : upper)
        c = char(toupper(c));
    const std::vector<Case> cases = {
        {"as the module wrote it", "Properties.json.MD5", Md5Hex(bytes), 0},
        {"upper-case digits", "Properties.json.MD5", upper, 0},
        {"a comment line and a file name", "Properties.json.MD5",
         "/ digest\n" + Md5Hex(bytes) + "  Properties.json\n", 0},
        {"sidecar named in lower case", "properties.json.md5", Md5Hex(bytes), 0},
        {"another digest", "Properties.json.MD5", Md5Hex(bytes + "x"), 1},
        {"empty sidecar", "Properties.json.MD5", "", 1},
        {"a carriage return after the digest", "Properties.json.MD5", Md5Hex(bytes) + "\r\n", 1},
        {"no sidecar", nullptr, "", 1},
    };
    for (const Case& c : cases) {
        for (const char* name : {"Properties.json.MD5", "properties.json.md5"})
            fs::remove(ArchiveFile().parent_path() / name);
        if (c.sidecarName)
            WriteFile(ArchiveFile().parent_path() / c.sidecarName, c.sidecar);
        const fwtest::ToolRun run = RunFwsetup({"props", "verify", image}, Scratch());
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.out << run.err;
        EXPECT_EQ(Lines(run.out).size(), 1u) << c.what;
    }
    const fwtest::ToolRun missing =
        RunFwsetup({"props", "verify", (Scratch() / "missing").string()}, Scratch());
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(Lines(missing.err).size(), 1u);
}

// ---- legacy make and check ---------------------------------------------------

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Entries in a folder other than the given ones (left-over temporary files).
std::vector<std::string> Others(const fs::path& folder, const std::vector<std::string>& known) {
    std::vector<std::string> others;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end())
            others.push_back(name);
    }
    return others;
}

TEST_F(PropsCommand, LegacyMakeAddsTheCrcAndCheckReadsItAsTheModuleDoes) {
    const fs::path in = Scratch() / "in.txt";
    const fs::path out = Scratch() / "Properties.ini";
    struct Case {
        const char* what;
        std::string text;
        int checkExit;
        size_t rows;  // entry rows that check prints
    };
    const std::vector<Case> cases = {
        {"two lines", "g:a|G:A=1\r\ng:b|G:B=2", 0, 2},
        {"a trailing line feed", "g:a|G:A=1\n", 1, 1},
        {"no property line", "just text", 1, 0},
    };
    for (const Case& c : cases) {
        WriteFile(in, c.text);
        const fwtest::ToolRun make =
            RunFwsetup({"props", "legacy", "make", in.string(), out.string()}, Scratch());
        ASSERT_EQ(make.exitCode, 0) << c.what << ": " << make.err;
        const std::string bytes = ReadFile(out);
        ASSERT_EQ(bytes.substr(0, bytes.size() - 2), c.text) << c.what;
        const fwtest::ToolRun check =
            RunFwsetup({"props", "legacy", "check", out.string()}, Scratch());
        EXPECT_EQ(check.exitCode, c.checkExit) << c.what << ": " << check.out;
        EXPECT_NE(check.out.find(": matches"), std::string::npos) << check.out;
        EXPECT_EQ(Lines(check.out).size(), 4 + (c.rows ? c.rows + 1 : 0)) << c.what << check.out;
    }
    // The check value of the CRC.
    WriteFile(in, "123456789");
    ASSERT_EQ(
        RunFwsetup({"props", "legacy", "make", in.string(), out.string()}, Scratch()).exitCode, 0);
    EXPECT_EQ(ReadFile(out), std::string("123456789\xC2\x44"));
    // A damaged CRC.
    WriteFile(out, "g:a|G:A=1xx");
    const fwtest::ToolRun damaged =
        RunFwsetup({"props", "legacy", "check", out.string()}, Scratch());
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_NE(damaged.out.find("does not match"), std::string::npos) << damaged.out;
    EXPECT_EQ(Others(Scratch(), {"in.txt", "Properties.ini", "fs", "hw"}),
              std::vector<std::string>{});
}

TEST_F(PropsCommand, LegacyMakeRefusesOutputsThatAreInputsOrNoRegularFiles) {
    const fs::path in = Scratch() / "in.txt";
    WriteFile(in, "g:a|G:A=1");
    fs::create_hard_link(in, Scratch() / "hard.txt");
    fs::create_symlink(in, Scratch() / "link.txt");
    fs::create_directory(Scratch() / "folder");
    const std::vector<std::vector<std::string>> cases = {
        {in.string(), in.string()},
        {in.string(), (Scratch() / "hard.txt").string()},
        {in.string(), (Scratch() / "link.txt").string()},
        {in.string(), (Scratch() / "folder").string()},
        {in.string(), (Scratch() / "missing" / "out").string()},
        {(Scratch() / "missing.txt").string(), (Scratch() / "out.ini").string()},
        {Scratch().string(), (Scratch() / "out.ini").string()},
    };
    for (const auto& c : cases) {
        const fwtest::ToolRun run = RunFwsetup({"props", "legacy", "make", c[0], c[1]}, Scratch());
        EXPECT_EQ(run.exitCode, 2) << c[0] << " -> " << c[1];
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    }
    EXPECT_EQ(ReadFile(in), "g:a|G:A=1");
    EXPECT_FALSE(fs::exists(Scratch() / "out.ini"));
    EXPECT_EQ(Others(Scratch(), {"in.txt", "hard.txt", "link.txt", "folder", "fs", "hw"}),
              std::vector<std::string>{});
    EXPECT_EQ(RunFwsetup({"props", "legacy", "check", (Scratch() / "folder").string()}, Scratch())
                  .exitCode,
              2);
}

// ---- show and the operating-system package end to end ---------------------------

class PropsOnAPrinter : public testing::Test {
  protected:
    void SetUp() override {
        const fwtest::ToolRun run = RunFwsetup({"device", "init", Printer().string()}, Scratch());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        WriteFile(Scratch() / "legacy.txt",
                  "g:speed|Printing:Print Speed=4\r\ng:dark|Printing:Darkness=10");
        ASSERT_EQ(RunFwsetup({"props", "legacy", "make", (Scratch() / "legacy.txt").string(),
                              OnPrinter("store/Properties.ini").string()},
                             Scratch())
                      .exitCode,
                  0);
        const std::string override =
            Image("{\"Properties\":[{\"Name\":\"dark\",\"Group\":\"g\",\"Value\":\"12\"}]}");
        WriteFile(OnPrinter("store/PropertiesOverride.json"), override);
        WriteFile(OnPrinter("store/PropertiesOverride.json.MD5"), Md5Hex(override));
    }
    const fs::path& Scratch() const { return scratch_.Root(); }
    fs::path Printer() const { return scratch_.Root() / "printer"; }
    fs::path OnPrinter(const std::string& rel) const { return Printer() / "fs" / rel; }
    std::map<std::string, std::string> StoreFiles() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(OnPrinter("store")))
            files[entry.path().filename().string()] = ReadFile(entry.path());
        return files;
    }
    // The value of each entry of a "entries" array, by "Name".
    static std::map<std::string, std::string> Values(const rapidjson::Value& entries) {
        std::map<std::string, std::string> values;
        for (const auto& entry : entries.GetArray())
            values[entry["Name"].GetString()] = entry["Value"].GetString();
        return values;
    }

  private:
    TempDevice scratch_;
};

TEST_F(PropsOnAPrinter, ShowTellsTheLoadWithoutChangingThePrinter) {
    const auto before = StoreFiles();
    const fwtest::ToolRun run =
        RunFwsetup({"props", "show", "--device", Printer().string(), "--json"}, Scratch());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const rapidjson::Document out = ParseOutput(run.out);
    ASSERT_TRUE(out.IsObject());
    EXPECT_TRUE(out["legacy"]["reads"].GetBool());
    EXPECT_FALSE(out["archive"]["loads"].GetBool());
    const rapidjson::Value& load = out["load"];
    EXPECT_TRUE(load["loaded"].GetBool());
    EXPECT_TRUE(load["legacyMigrated"].GetBool());
    EXPECT_TRUE(load["overrideMerged"].GetBool());
    EXPECT_FALSE(load["backupUsed"].GetBool());
    const std::map<std::string, std::string> expected = {{"speed", "4"}, {"dark", "12"}};
    EXPECT_EQ(Values(out["entries"]), expected);
    EXPECT_EQ(StoreFiles(), before);

    const fwtest::ToolRun text =
        RunFwsetup({"props", "show", "--device", Printer().string()}, Scratch());
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(RunFwsetup({"props", "show", "--device", (Scratch() / "nothing").string()}, Scratch())
                  .exitCode,
              2);
}

TEST_F(PropsOnAPrinter, TheOperatingSystemPackageMigratesAndRecordsTheBuildNumber) {
    WriteFile(OnPrinter("UpgradeTemp/prevUpgrade.json"),
              "{\"Files\":[{\"componentIdGUID\":\"B80EB2EA-4F49-423A-875C-8ACB1ACB9734\","
              "\"componentVersion\":\"3.1.4.5678\"}]}");
    const fs::path pkg = Scratch() / "pkg";
    fs::create_directories(pkg / "files");
    fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / "QuorinOSPackageLayout.so", pkg / "setup.so");
    // The package brings no payload and no kernel image: its action fails, after
    // Install_Init has done its part.
    const fwtest::ToolRun install =
        RunFwsetup({"install", "--device", Printer().string(), pkg.string()}, Scratch());
    EXPECT_EQ(install.exitCode, 1) << install.err;

    const auto files = StoreFiles();
    std::vector<std::string> names;
    for (const auto& file : files)
        names.push_back(file.first);
    EXPECT_EQ(names, (std::vector<std::string>{"Properties.json", "Properties.json.MD5",
                                               "Properties.json.MD5.bak", "Properties.json.bak"}));
    EXPECT_EQ(
        RunFwsetup({"props", "verify", OnPrinter("store/Properties.json").string()}, Scratch())
            .exitCode,
        0);
    const fwtest::ToolRun dump = RunFwsetup(
        {"props", "dump", OnPrinter("store/Properties.json").string(), "--json"}, Scratch());
    ASSERT_EQ(dump.exitCode, 0);
    const rapidjson::Document out = ParseOutput(dump.out);
    ASSERT_TRUE(out.IsObject());
    const std::map<std::string, std::string> expected = {
        {"speed", "4"}, {"dark", "12"}, {"F3F63980-CA50-466F-9CA7-545D2B10468B", "5678"}};
    EXPECT_EQ(Values(out["entries"]), expected);

    // A second run with the same number leaves the archive as it is.
    const std::string archive = files.at("Properties.json");
    EXPECT_EQ(
        RunFwsetup({"install", "--device", Printer().string(), pkg.string()}, Scratch()).exitCode,
        1);
    EXPECT_EQ(ReadFile(OnPrinter("store/Properties.json")), archive);
}

// Where the build number comes from, end to end: the operating-system package
// on printers without property files.
TEST(PropsBuildNumberSources, InstallRecordsTheNumberOfTheSourceThatCounts) {
    const std::string driver = "B80EB2EA-4F49-423A-875C-8ACB1ACB9734";
    const std::string json = "{\"Files\":[{\"componentIdGUID\":\"" + driver +
                             "\",\"componentVersion\":\"3.1.4.5678\"}]}";
    const std::string other =
        "{\"Files\":[{\"componentIdGUID\":\"OTHER\",\"componentVersion\":\"1.2\"}]}";
    const std::string ini = "QtBuildNumber = \"5.9.6.1234\"\r\n";
    struct Case {
        const char* what;
        std::string json;    // empty: no upgrade description
        std::string ini;     // empty: no ini file
        const char* number;  // null: no archive is written
    };
    const std::vector<Case> cases = {
        {"the description", json, "", "5678"},
        {"the description before the ini", json, ini, "5678"},
        {"a description without the component hides the ini", other, ini, nullptr},
        {"the ini alone", "", ini, "1234"},
        {"an ini version without a dot", "", "QtBuildNumber=\"1234\"", nullptr},
        {"neither", "", "", nullptr},
    };
    for (const Case& c : cases) {
        TempDevice scratch;
        const fs::path printer = scratch.Root() / "printer";
        ASSERT_EQ(RunFwsetup({"device", "init", printer.string()}, scratch.Root()).exitCode, 0);
        if (!c.json.empty())
            WriteFile(printer / "fs" / "UpgradeTemp" / "prevUpgrade.json", c.json);
        if (!c.ini.empty())
            WriteFile(printer / "fs" / "boot" / "qtlibs_version.ini", c.ini);
        const fs::path pkg = scratch.Root() / "pkg";
        fs::create_directories(pkg / "files");
        fs::copy_file(fs::path(FWSETUP_MODULES_DIR) / "QuorinOSPackageLayout.so", pkg / "setup.so");
        RunFwsetup({"install", "--device", printer.string(), pkg.string()}, scratch.Root());
        const fs::path archive = printer / "fs" / "store" / "Properties.json";
        ASSERT_EQ(fs::exists(archive), c.number != nullptr) << c.what;
        if (c.number) {
            EXPECT_NE(ReadFile(archive).find("\"Value\":\"" + std::string(c.number) + "\""),
                      std::string::npos)
                << c.what;
        } else {
            EXPECT_TRUE(fs::is_empty(printer / "fs" / "store")) << c.what;
        }
    }
}

}  // namespace
