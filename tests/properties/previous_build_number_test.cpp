// The previous build number: where it comes from, how it is cut out of a
// version, and what Create leaves in the property files.
#include "properties/previous_build_number_property_creator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "properties/archive_fixture.h"

namespace {

using fwtest::ArchiveImage;
using fwtest::ArchiveTest;
using fwtest::EntryJson;
using fwtest::LegacyFile;
using fwtest::Md5Hex;
namespace creator = PreviousBuildNumberPropertyCreator;

const char kJson[] = "UpgradeTemp/prevUpgrade.json";
const char kIni[] = "boot/qtlibs_version.ini";
const std::string kDriver = "B80EB2EA-4F49-423A-875C-8ACB1ACB9734";

std::string BuildNumberEntry(const std::string& value) {
    return EntryJson("F3F63980-CA50-466F-9CA7-545D2B10468B",
                     "Previous Firmware Driver Build Number",
                     "222D688A-1554-4C0E-B7A0-0BC377EF4071", "Product Info", value);
}

std::string Doc(const std::string& entries) {
    return "{\"Properties\":[" + entries + "]}";
}

std::string Description(const std::string& files) {
    return "{\"Files\":" + files + "}";
}

std::string Component(const std::string& id, const std::string& version) {
    return "{\"componentIdGUID\":\"" + id + "\",\"componentVersion\":\"" + version + "\"}";
}

class PreviousBuildNumberTest : public ArchiveTest {
  protected:
    ino_t Inode(const std::string& file) const {
        struct stat st;
        return stat(device_.Host(file).c_str(), &st) == 0 ? st.st_ino : 0;
    }
};

TEST(GetLastPartAfterDot, CutsAfterTheLastDot) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"5.9.6.1234", "1234"},
        {"1.2", "2"},
        {"1234", ""},
        {"1.2.", ""},
        {".", ""},
        {"", ""},
        {".7", "7"},
        {"Error", ""},
        {"a.b c", "b c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(creator::GetLastPartAfterDot(c.first), c.second) << c.first;
}

TEST_F(PreviousBuildNumberTest, ReadIniValueTakesTheQuotedTextOfTheFirstLineWithTheKey) {
    struct Case {
        const char* what;
        std::string ini;
        std::string value;
    };
    const std::vector<Case> cases = {
        {"plain", "QtBuildNumber=\"5.9.6.1234\"\n", "5.9.6.1234"},
        {"spaces and a carriage return", "[Qt]\r\nQtBuildNumber = \"5.9.6.1234\"\r\n",
         "5.9.6.1234"},
        {"the key anywhere in the line", "OldQtBuildNumberX=\"1.2\"", "1.2"},
        {"the first line that mentions it decides",
         "; QtBuildNumber is set below\nQtBuildNumber=\"5.9.6.1234\"", "Error"},
        {"a later line is not looked at once one holds the key",
         "QtBuildNumber=\"1.1\"\nQtBuildNumber=\"2.2\"", "1.1"},
        {"the key but no quote", "QtBuildNumber=5.9.6.1234\n", "Error"},
        {"a quote but no end", "QtBuildNumber=\"5.9.6.1234\n", "5.9.6.1234"},
        {"an empty quote", "QtBuildNumber=\"\"\n", "Error"},
        {"a backslash at the end", "QtBuildNumber=\"5.9\\\"", "5.9"},
        {"the key without '='", "QtBuildNumber \"5.9\"", "Error"},
        {"no key", "Other=\"1.2\"", "Error"},
        {"case matters", "qtbuildnumber=\"1.2\"", "Error"},
        {"an empty file", "", "Error"},
        {"NUL bytes", std::string("QtBuildNumber=\"5.\0.7\"", 21), std::string("5.\0.7", 5)},
    };
    for (const Case& c : cases) {
        device_.Write(kIni, c.ini);
        EXPECT_EQ(ReadIniValue(u"\\boot\\qtlibs_version.ini", "QtBuildNumber"), c.value) << c.what;
    }
    EXPECT_EQ(ReadIniValue(u"\\boot\\missing.ini", "QtBuildNumber"), "Error");
}

TEST_F(PreviousBuildNumberTest, TheUpgradeDescriptionGivesTheDriverComponentsBuildNumber) {
    struct Case {
        const char* what;
        std::string json;
        std::string number;
    };
    const std::vector<Case> cases = {
        {"the component", Description("[" + Component(kDriver, "3.1.4.5678") + "]"), "5678"},
        {"after other components",
         Description("[" + Component("OTHER", "1.1") + ",7,null," + Component(kDriver, "2.9") +
                     "]"),
         "9"},
        {"the first matching element decides",
         Description("[" + Component(kDriver, "1234") + "," + Component(kDriver, "1.2") + "]"), ""},
        {"a version ending in a dot", Description("[" + Component(kDriver, "1.2.") + "]"), ""},
        {"the id in lower case",
         Description("[" + Component("b80eb2ea-4f49-423a-875c-8acb1acb9734", "1.2") + "]"), ""},
        {"a version that is a number",
         Description("[{\"componentIdGUID\":\"" + kDriver + "\",\"componentVersion\":1.5}]"), ""},
        {"no version", Description("[{\"componentIdGUID\":\"" + kDriver + "\"}]"), ""},
        {"an id that is a number",
         Description("[{\"componentIdGUID\":5,\"componentVersion\":\"1.2\"}]"), ""},
        {"no such component", Description("[" + Component("OTHER", "1.2") + "]"), ""},
        {"Files an object", Description("{\"a\":" + Component(kDriver, "1.2") + "}"), ""},
        {"Files a string", Description("\"1.2\""), ""},
        {"no Files", "{\"files\":[]}", ""},
        {"a root array", "[" + Component(kDriver, "1.2") + "]", ""},
        {"not JSON", "{\"Files\":[", ""},
        {"an empty file", "", ""},
        {"nested far too deep", "{\"Files\":[" + std::string(100000, '[') + "]}", ""},
    };
    for (const Case& c : cases) {
        device_.Write(kJson, c.json);
        EXPECT_EQ(creator::GetBuildNumberFromUpgradeJson(), c.number) << c.what;
    }
}

TEST_F(PreviousBuildNumberTest, TheUpgradeDescriptionComesBeforeTheIniFile) {
    struct Case {
        const char* what;
        const char* json;  // null: absent
        const char* ini;
        std::string number;
    };
    const std::string goodJson = Description("[" + Component(kDriver, "3.1.4.5678") + "]");
    const std::string noDriver = Description("[" + Component("OTHER", "3.1") + "]");
    const std::vector<Case> cases = {
        {"both", goodJson.c_str(), "QtBuildNumber=\"5.9.6.1234\"", "5678"},
        {"a description without the component, and an ini", noDriver.c_str(),
         "QtBuildNumber=\"5.9.6.1234\"", ""},
        {"only the ini", nullptr, "QtBuildNumber = \"5.9.6.1234\"\r\n", "1234"},
        {"only an ini with a version without a dot", nullptr, "QtBuildNumber=\"1234\"", ""},
        {"only an ini without the key", nullptr, "Other=\"1.2\"", ""},
        {"neither", nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(device_.Host(kJson));
        std::filesystem::remove(device_.Host(kIni));
        if (c.json)
            device_.Write(kJson, c.json);
        if (c.ini)
            device_.Write(kIni, c.ini);
        EXPECT_EQ(creator::GetBuildNumber(), c.number) << c.what;
    }
}

TEST_F(PreviousBuildNumberTest, CreateWritesTheArchiveWithTheNumber) {
    device_.Write(kIni, "QtBuildNumber=\"5.9.6.1234\"\n");
    creator::Create();
    const std::string image = ArchiveImage(Doc(BuildNumberEntry("1234")));
    const std::map<std::string, std::string> expected = {{"Properties.json", image},
                                                         {"Properties.json.MD5", Md5Hex(image)}};
    EXPECT_EQ(StoreFiles(), expected);

    // Stored already: the archive is not rewritten (same file, same bytes).
    const ino_t inode = Inode(kFile);
    creator::Create();
    EXPECT_EQ(Inode(kFile), inode);
    EXPECT_EQ(device_.Read(kFile), image);
    // The backup pair taken by that load equals the archive.
    EXPECT_EQ(device_.Read(std::string(kFile) + ".bak"), image);

    // A new number replaces the stored one.
    device_.Write(kIni, "QtBuildNumber=\"5.9.6.1300\"\n");
    creator::Create();
    EXPECT_EQ(device_.Read(kFile), ArchiveImage(Doc(BuildNumberEntry("1300"))));
}

TEST_F(PreviousBuildNumberTest, WithoutANumberNothingIsTouched) {
    WriteArchive("{\"broken\":");
    device_.Write("store/Properties.ini", LegacyFile("g:i|G:N=v"));
    const auto before = StoreFiles();
    device_.Write(kJson, Description("[]"));
    device_.Write(kIni, "QtBuildNumber=\"5.9.6.1234\"\n");
    creator::Create();
    EXPECT_EQ(StoreFiles(), before);
}

TEST_F(PreviousBuildNumberTest, CreateOnDamagedArchivesWithAndWithoutBackups) {
    const std::string other = EntryJson("id", "N", "g", "G", "kept");
    struct Case {
        const char* what;
        std::string archive;  // the archive file; its sidecar does not match
        bool backup;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"a damaged archive with a backup", ArchiveImage(Doc(other)) + "x", true,
         Doc(other + "," + BuildNumberEntry("1234"))},
        {"a damaged archive without a backup", ArchiveImage(Doc(other)) + "x", false,
         Doc(BuildNumberEntry("1234"))},
        {"an archive cut short, with a backup", ArchiveImage(Doc(other)).substr(0, 30), true,
         Doc(other + "," + BuildNumberEntry("1234"))},
    };
    device_.Write(kIni, "QtBuildNumber=\"5.9.6.1234\"\n");
    for (const Case& c : cases) {
        std::filesystem::remove_all(device_.Fs() / "store");
        device_.MakeDir("store");
        device_.Write(kFile, c.archive);
        device_.Write(std::string(kFile) + ".MD5", Md5Hex(ArchiveImage(Doc(other))));
        if (c.backup)
            WriteBackup(Doc(other));
        creator::Create();
        EXPECT_EQ(device_.Read(kFile), ArchiveImage(c.after)) << c.what;
        EXPECT_EQ(device_.Read(std::string(kFile) + ".MD5"), Md5Hex(ArchiveImage(c.after)))
            << c.what;
    }
}

TEST_F(PreviousBuildNumberTest, CreateMigratesTheLegacyFileAndMergesTheOverride) {
    device_.Write(kJson, Description("[" + Component(kDriver, "3.1.4.5678") + "]"));
    device_.Write(
        "store/Properties.ini",
        LegacyFile("g:speed|Printing:Print Speed=4\r\ng:dark|Printing:Darkness=10\r\n"
                   "222D688A-1554-4C0E-B7A0-0BC377EF4071:F3F63980-CA50-466F-9CA7-"
                   "545D2B10468B|Product Info:Previous Firmware Driver Build Number=1000"));
    const std::string override = ArchiveImage(Doc(EntryJson("dark", "", "g", "", "12") + "," +
                                                  EntryJson("unknown", "", "g", "", "dropped")));
    device_.Write("store/PropertiesOverride.json", override);
    device_.Write("store/PropertiesOverride.json.MD5", Md5Hex(override));
    creator::Create();
    const std::string migrated =
        Doc(EntryJson("speed", "Print Speed", "g", "Printing", "4") + "," +
            EntryJson("dark", "Darkness", "g", "Printing", "12") + "," + BuildNumberEntry("5678"));
    // The backup holds the archive as it stood after the merge, before the number.
    const std::string backup =
        Doc(EntryJson("speed", "Print Speed", "g", "Printing", "4") + "," +
            EntryJson("dark", "Darkness", "g", "Printing", "12") + "," + BuildNumberEntry("1000"));
    const std::map<std::string, std::string> expected = {
        {"Properties.json", ArchiveImage(migrated)},
        {"Properties.json.MD5", Md5Hex(ArchiveImage(migrated))},
        {"Properties.json.bak", ArchiveImage(backup)},
        {"Properties.json.MD5.bak", Md5Hex(ArchiveImage(backup))}};
    EXPECT_EQ(StoreFiles(), expected);
}

}  // namespace
