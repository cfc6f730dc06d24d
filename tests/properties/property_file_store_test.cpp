// PropertyFileStore: the legacy file reader, and the start-up load with its
// migration, override merge and backup, in their order.
#include "properties/property_file_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileutil/string_operation.h"
#include "properties/archive_fixture.h"

namespace {

using fwtest::ArchiveImage;
using fwtest::ArchiveTest;
using fwtest::EntryJson;
using fwtest::LegacyFile;
using fwtest::MakeString;
using fwtest::Md5Hex;

const char16_t kMain[] = u"/Store/Properties.ini";
const char16_t kOverride[] = u"/Store/PropertiesOverride.ini";
const std::string kLegacy = "store/Properties.ini";
const std::string kOverrideFile = "store/PropertiesOverride.json";

std::string Doc(const std::string& entries) {
    return "{\"Properties\":[" + entries + "]}";
}

class PropertyFileStoreTest : public ArchiveTest {
  protected:
    std::unique_ptr<PropertyFileStore> NewStore() {
        return std::unique_ptr<PropertyFileStore>(
            new PropertyFileStore(factory_, 253, kMain, kOverride));
    }
    // Load with an empty registry index.
    bool LoadStore(PropertyFileStore& store) {
        PropertyIndex index;
        return store.Load(index, kMain, kOverride);
    }
};

TEST_F(PropertyFileStoreTest, ReadLegacyFileFollowsTheLineGrammar) {
    struct Case {
        const char* what;
        std::string file;
        bool result;
        LegacyEntries entries;
        std::string archive;  // the main archive's document afterwards
    };
    const std::string longValue(100000, 'v');
    const std::vector<Case> cases = {
        {"two lines",
         LegacyFile("g1:i1|G1:N1=v1\ng2:i2|G2:N2=v2"),
         true,
         {{"g1:i1", {"g1:i1|G1:N1", "v1"}}, {"g2:i2", {"g2:i2|G2:N2", "v2"}}},
         Doc(EntryJson("i1", "N1", "g1", "G1", "v1") + "," +
             EntryJson("i2", "N2", "g2", "G2", "v2"))},
        {"carriage returns",
         LegacyFile("g:i|G:N=v\r\ng:j|G:M=w\r"),
         true,
         {{"g:i", {"g:i|G:N", "v\r"}}, {"g:j", {"g:j|G:M", "w\r"}}},
         Doc(EntryJson("i", "N", "g", "G", "v") + "," + EntryJson("j", "M", "g", "G", "w"))},
        {"a trailing empty line",
         LegacyFile("g:i|G:N=v\n"),
         false,
         {{"g:i", {"g:i|G:N", "v"}}},
         Doc(EntryJson("i", "N", "g", "G", "v"))},
        {"a repeated key",
         LegacyFile("g:i|G:N=1\ng:i|G:N=2"),
         true,
         {{"g:i", {"g:i|G:N", "2"}}},
         Doc(EntryJson("i", "N", "g", "G", "1") + "," + EntryJson("i", "N", "g", "G", "2"))},
        {"= and : in the value",
         LegacyFile("g:i|G:N=a=b:c"),
         true,
         {{"g:i", {"g:i|G:N", "a=b:c"}}},
         Doc(EntryJson("i", "N", "g", "G", "a=b:c"))},
        {"an empty value",
         LegacyFile("g:i|G:N="),
         true,
         {{"g:i", {"g:i|G:N", ""}}},
         Doc(EntryJson("i", "N", "g", "G", ""))},
        {"an empty id",
         LegacyFile("g:|G:N=v"),
         true,
         {{"g:", {"g:|G:N", "v"}}},
         Doc(EntryJson("", "N", "g", "G", "v"))},
        {"no ':' in the key or the names",
         LegacyFile("key|names=v"),
         true,
         {{"key", {"key|names", "v"}}},
         Doc(EntryJson("", "", "key", "names", "v"))},
        {"a line without '=' last",
         LegacyFile("g:i|G:N=v\ng:j|G:N"),
         false,
         {{"g:i", {"g:i|G:N", "v"}}},
         Doc(EntryJson("i", "N", "g", "G", "v"))},
        {"a line without '|' first",
         LegacyFile("junk\ng:i|G:N=v"),
         true,
         {{"g:i", {"g:i|G:N", "v"}}},
         Doc(EntryJson("i", "N", "g", "G", "v"))},
        {"'|' first", LegacyFile("|G:N=v"), false, {}, "{}"},
        {"'=' only before the '|'", LegacyFile("g=i|G:N"), false, {}, "{}"},
        {"a 100000-character value",
         LegacyFile("g:i|G:N=" + longValue),
         true,
         {{"g:i", {"g:i|G:N", longValue}}},
         Doc(EntryJson("i", "N", "g", "G", longValue))},
        {"a NUL byte in the value",
         LegacyFile(std::string("g:i|G:N=a\0b", 11)),
         true,
         {{"g:i", {"g:i|G:N", std::string("a\0b", 3)}}},
         Doc(EntryJson("i", "N", "g", "G", "a"))},
        {"a wrong CRC", LegacyFile("g:i|G:N=v") + "x", false, {}, "{}"},
        {"a CRC of the wrong byte order",
         [] {
             std::string f = LegacyFile("g:i|G:N=v");
             std::swap(f[f.size() - 1], f[f.size() - 2]);
             return f;
         }(),
         false,
         {},
         "{}"},
        {"an empty file", "", false, {}, "{}"},
        {"two bytes", LegacyFile(""), false, {}, "{}"},
        {"one line of one byte", LegacyFile("x"), false, {}, "{}"},
    };
    for (const Case& c : cases) {
        device_.Write(kLegacy, c.file);
        auto store = NewStore();
        store->MainArchive().HoldSaves();
        LegacyEntries entries;
        EXPECT_EQ(store->ReadLegacyFile(kMain, entries), c.result) << c.what;
        EXPECT_EQ(entries, c.entries) << c.what;
        EXPECT_EQ(TextOf(store->MainArchive()), c.archive) << c.what;
    }
    std::filesystem::remove(device_.Host(kLegacy));
    auto store = NewStore();
    LegacyEntries entries;
    EXPECT_FALSE(store->ReadLegacyFile(kMain, entries));
}

TEST_F(PropertyFileStoreTest, AValidLegacyFileIsMigratedAndConsumedAfterItIsSaved) {
    device_.Write(kLegacy, LegacyFile("g:i|G:N=one\r\ng:j|G:M=two"));
    device_.Write(kLegacy + ".bak", "an older copy");
    // An archive already there is replaced by the migrated one.
    WriteArchive(Doc(EntryJson("old", "", "g", "", "gone")));
    {
        auto store = NewStore();
        EXPECT_TRUE(LoadStore(*store));
        const PropertyLoadOutcome& outcome = store->Outcome();
        EXPECT_TRUE(outcome.legacyRead);
        EXPECT_TRUE(outcome.legacyConsumed);
        EXPECT_FALSE(outcome.archiveLoaded);
        EXPECT_TRUE(outcome.backupRefreshed);
    }
    const std::string image = ArchiveImage(
        Doc(EntryJson("i", "N", "g", "G", "one") + "," + EntryJson("j", "M", "g", "G", "two")));
    const std::map<std::string, std::string> expected = {
        {"Properties.json", image},
        {"Properties.json.MD5", Md5Hex(image)},
        {"Properties.json.bak", image},
        {"Properties.json.MD5.bak", Md5Hex(image)}};
    EXPECT_EQ(StoreFiles(), expected);
}

TEST_F(PropertyFileStoreTest, DamagedLegacyFilesAndTheArchive) {
    const std::string good = LegacyFile("g:i|G:N=from legacy");
    const std::string damaged = good.substr(0, good.size() - 1) + "?";
    const std::string archive = Doc(EntryJson("i", "N", "g", "G", "from archive"));
    struct Case {
        const char* what;
        const char* legacy;  // null: absent
        const char* legacyBak;
        bool archive;
        bool loaded;
        std::string value;  // of g:i in the document afterwards
        bool legacyLeft;    // the legacy file and its .bak are still there
    };
    const std::vector<Case> cases = {
        {"wrong CRC, no .bak, archive", "damaged", nullptr, true, true, "from archive", false},
        {"wrong CRC, no .bak, no archive", "damaged", nullptr, false, false, "", true},
        {"wrong CRC, valid .bak", "damaged", "good", true, true, "from legacy", false},
        {"wrong CRC, damaged .bak, archive", "damaged", "damaged", true, true, "from archive",
         false},
        {"no legacy file, only .bak", nullptr, "good", true, true, "from legacy", false},
        {"no legacy file, archive", nullptr, nullptr, true, true, "from archive", false},
        {"nothing at all", nullptr, nullptr, false, false, "", false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(device_.Fs() / "store");
        device_.MakeDir("store");
        auto contents = [&](const char* what) {
            return std::string(what) == "good" ? good : damaged;
        };
        if (c.legacy)
            device_.Write(kLegacy, contents(c.legacy));
        if (c.legacyBak)
            device_.Write(kLegacy + ".bak", contents(c.legacyBak));
        if (c.archive)
            WriteArchive(archive);
        const auto before = StoreFiles();
        auto store = NewStore();
        EXPECT_EQ(LoadStore(*store), c.loaded) << c.what;
        NString value;
        store->MainArchive().GetPropertyValue(MakeString("", "i", "g"), value);
        EXPECT_EQ(value, c.value) << c.what;
        EXPECT_EQ(device_.Exists(kLegacy) || device_.Exists(kLegacy + ".bak"), c.legacyLeft)
            << c.what;
        if (!c.loaded) {
            EXPECT_EQ(StoreFiles(), before) << c.what;  // nothing deleted or written
        }
    }
}

TEST_F(PropertyFileStoreTest, TheOverrideIsMergedIntoExistingEntriesAndConsumed) {
    struct Case {
        const char* what;
        std::string override;  // the override archive's file
        bool withSidecar;
        bool loaded;
        std::string after;  // the main document
    };
    const std::string overrideDoc = Doc(EntryJson("i", "other name", "g", "", "overridden") + "," +
                                        EntryJson("new", "", "g", "", "not in main"));
    const std::string main =
        Doc(EntryJson("i", "N", "g", "G", "main") + "," + EntryJson("j", "M", "g", "G", "kept"));
    const std::string merged = Doc(EntryJson("i", "N", "g", "G", "overridden") + "," +
                                   EntryJson("j", "M", "g", "G", "kept"));
    const std::vector<Case> cases = {
        {"a whole override", ArchiveImage(overrideDoc), true, true, merged},
        {"an override without sidecar", ArchiveImage(overrideDoc), false, false, main},
        {"an override that is not an archive", "garbage", true, false, main},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(device_.Fs() / "store");
        device_.MakeDir("store");
        WriteArchive(main);
        device_.Write(kOverrideFile, c.override);
        if (c.withSidecar)
            device_.Write(kOverrideFile + ".MD5", Md5Hex(c.override));
        {
            auto store = NewStore();
            ASSERT_TRUE(LoadStore(*store)) << c.what;
            EXPECT_TRUE(store->Outcome().overrideFound) << c.what;
            EXPECT_EQ(store->Outcome().overrideLoaded, c.loaded) << c.what;
            EXPECT_TRUE(store->Outcome().overrideConsumed) << c.what;
            EXPECT_EQ(TextOf(store->MainArchive()), c.after) << c.what;
        }
        EXPECT_FALSE(device_.Exists(kOverrideFile)) << c.what;
        EXPECT_FALSE(device_.Exists(kOverrideFile + ".MD5")) << c.what;
        // The merged archive is on file, and so is its backup.
        EXPECT_EQ(device_.Read(kFile), ArchiveImage(c.after)) << c.what;
        EXPECT_EQ(device_.Read(std::string(kFile) + ".bak"), ArchiveImage(c.after)) << c.what;
    }
}

// The legacy file and the override are consumed only once the archive that
// holds their values has been written: a save that fails keeps them.
TEST_F(PropertyFileStoreTest, NothingIsConsumedWhileItsValuesAreNotSaved) {
    device_.Write(kLegacy, LegacyFile("g:i|G:N=legacy"));
    device_.Write(kOverrideFile, ArchiveImage(Doc(EntryJson("i", "", "g", "", "override"))));
    device_.Write(kOverrideFile + ".MD5", Md5Hex(device_.Read(kOverrideFile)));
    device_.MakeDir("store/Properties.json.tmp");  // no save can be made
    {
        auto store = NewStore();
        EXPECT_TRUE(LoadStore(*store));
        EXPECT_FALSE(store->Outcome().legacyConsumed);
        EXPECT_FALSE(store->Outcome().overrideConsumed);
    }
    EXPECT_TRUE(device_.Exists(kLegacy));
    EXPECT_TRUE(device_.Exists(kOverrideFile));
    EXPECT_TRUE(device_.Exists(kOverrideFile + ".MD5"));

    // Once the archive can be written, both are taken in and consumed.
    std::filesystem::remove(device_.Host("store/Properties.json.tmp"));
    {
        auto store = NewStore();
        EXPECT_TRUE(LoadStore(*store));
        EXPECT_TRUE(store->Outcome().legacyConsumed);
        EXPECT_TRUE(store->Outcome().overrideConsumed);
    }
    EXPECT_EQ(device_.Read(kFile), ArchiveImage(Doc(EntryJson("i", "N", "g", "G", "override"))));
}

TEST_F(PropertyFileStoreTest, LegacyValuesGoToRegisteredPropertiesOrAreKeptAside) {
    device_.Write(kLegacy, LegacyFile("g:i|G:N=registered\r\ng:j|G:M=alone\ng:|G:=group line"));
    auto registered = MakeString("initial", "i", "g");
    auto sameGroup = MakeString("untouched", "k", "g");
    PropertyIndex index;
    index.insert(std::make_pair(MakeKey("i", "g"), std::shared_ptr<Property>(registered)));
    index.insert(std::make_pair(MakeKey("", "g"), std::shared_ptr<Property>(registered)));
    index.insert(std::make_pair(MakeKey("k", "g"), std::shared_ptr<Property>(sameGroup)));
    index.insert(std::make_pair(MakeKey("", "g"), std::shared_ptr<Property>(sameGroup)));
    int notified = 0;
    registered->AddValueChangedListener([&](std::shared_ptr<Property>) { ++notified; });
    sameGroup->AddValueChangedListener([&](std::shared_ptr<Property>) { ++notified; });
    auto store = NewStore();
    ASSERT_TRUE(store->Load(index, kMain, kOverride));
    // The raw value, its carriage return included, and no event.
    EXPECT_EQ(registered->GetValue(), "registered\r");
    EXPECT_EQ(sameGroup->GetValue(), "untouched");
    EXPECT_EQ(notified, 0);
    const auto aside = store->LegacyProperties();
    ASSERT_EQ(aside.size(), 2u);
    const std::shared_ptr<Property> alone = aside.at("g:j");
    EXPECT_EQ(alone->Id(), "j");
    EXPECT_EQ(alone->GroupId(), "g");
    EXPECT_EQ(alone->Name(), "");
    EXPECT_EQ(alone->ToString(), "alone");
    EXPECT_EQ(aside.at("g:")->ToString(), "group line");
}

}  // namespace
