// PreviousBuildNumberPropertyCreator::Create under power cuts, on a printer with
// a legacy property file and an override: cut at every counted file operation
// in turn; after each cut a fresh Create in a new process ends with every value
// saved before the cut, the build number recorded, and a whole backup pair.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

#include "fileutil/md5.h"
#include "properties/archive_fixture.h"
#include "properties/previous_build_number_property_creator.h"
#include "support/power_cut.h"

namespace {

using fwtest::ArchiveImage;
using fwtest::EntryJson;
using fwtest::LegacyFile;
using fwtest::MakeString;
using fwtest::Md5Hex;
using fwtest::PowerCut;

const std::string kBuildId = "F3F63980-CA50-466F-9CA7-545D2B10468B";
const std::string kBuildGroup = "222D688A-1554-4C0E-B7A0-0BC377EF4071";

class CreatePowerCut : public ::testing::Test {
  protected:
    CreatePowerCut() { std::ofstream(device_.Hw() / "avail-phys") << (1ull << 32); }

    // The printer before the operating-system package: a legacy file, an
    // override for one of its entries, and the upgrade description.
    void Prepare() {
        std::filesystem::remove_all(device_.Fs());
        device_.Write("UpgradeTemp/prevUpgrade.json",
                      "{\"Files\":[{\"componentIdGUID\":\"B80EB2EA-4F49-423A-875C-8ACB1ACB9734\","
                      "\"componentVersion\":\"3.1.4.5678\"}]}");
        device_.Write("store/Properties.ini",
                      LegacyFile("g:speed|Printing:Print Speed=4\r\ng:dark|Printing:Darkness=10"));
        device_.Write("store/Properties.ini.bak", LegacyFile("g:speed|Printing:Print Speed=3"));
        const std::string override =
            ArchiveImage("{\"Properties\":[" + EntryJson("dark", "", "g", "", "12") + "]}");
        device_.Write("store/PropertiesOverride.json", override);
        device_.Write("store/PropertiesOverride.json.MD5", Md5Hex(override));
    }

    // The main archive's values by "Name" after a plain load; empty when it does not load.
    static std::map<std::string, std::string> Values(const char16_t* path) {
        auto factory = std::make_shared<ThreadFactory>(253);
        JsonPropertyArchiver archive(path, factory, 253);
        std::map<std::string, std::string> values;
        if (!archive.Load())
            return values;
        for (const char* id : {"speed", "dark"}) {
            NString text;
            if (archive.GetPropertyValue(MakeString("", id, "g"), text))
                values[id] = text;
        }
        NString text;
        if (archive.GetPropertyValue(MakeString("", kBuildId, kBuildGroup), text))
            values["build"] = text;
        return values;
    }

    std::set<std::string> StoreNames() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(device_.Fs() / "store"))
            names.insert(entry.path().filename().string());
        return names;
    }

    fwtest::TempDevice device_;
};

TEST_F(CreatePowerCut, AFreshCreateAfterAnyCutEndsWithEveryValue) {
    const std::map<std::string, std::string> all = {
        {"speed", "4"}, {"dark", "12"}, {"build", "5678"}};
    std::set<std::string> kinds;
    const uint64_t cuts = fwtest::ForEachPowerCut(
        device_, [&] { Prepare(); }, [] { PreviousBuildNumberPropertyCreator::Create(); },
        [&](const PowerCut& cut) {
            if (cut.happened())
                std::ofstream(device_.Root() / "kinds", std::ios::app) << cut.kind << "\n";
            // What the cut left: the legacy file, or an archive holding its values.
            const bool legacyLeft = device_.Exists("store/Properties.ini");
            const std::map<std::string, std::string> left = Values(u"/Store/Properties.json");
            if (!legacyLeft) {
                EXPECT_EQ(left.count("speed"), 1u) << "the legacy file went before its values";
                // Without the override the merged value is on file.
                if (!device_.Exists("store/PropertiesOverride.json")) {
                    EXPECT_EQ(left.at("dark"), "12");
                }
            }
            PreviousBuildNumberPropertyCreator::Create();
            EXPECT_EQ(Values(u"/Store/Properties.json"), all);
            // The backup pair is whole and loads on its own.
            EXPECT_TRUE(VerifyWithSidecar(u"/Store/Properties.json.bak",
                                          u"/Store/Properties.json.MD5.bak"));
            EXPECT_EQ(StoreNames(),
                      (std::set<std::string>{"Properties.json", "Properties.json.MD5",
                                             "Properties.json.bak", "Properties.json.MD5.bak"}));
        });
    EXPECT_GT(cuts, 20u);
    RecordProperty("cuts", static_cast<int>(cuts));
    std::ifstream in(device_.Root() / "kinds");
    for (std::string kind; std::getline(in, kind);)
        kinds.insert(kind);
    for (const char* kind : {"open", "write", "flush", "move", "copy", "delete"})
        EXPECT_EQ(kinds.count(kind), 1u) << kind;
}

}  // namespace
