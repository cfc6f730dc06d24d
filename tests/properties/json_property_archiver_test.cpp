// JsonPropertyArchiver: the entry operations, the saver and the files it
// writes, Load with its digest and backup paths, Backup.
#include "properties/json_property_archiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "properties/archive_fixture.h"
#include "properties/bool_property.h"

namespace {

using fwtest::ArchiveImage;
using fwtest::ArchiveTest;
using fwtest::EntryJson;
using fwtest::MakeString;
using fwtest::Md5Hex;

const std::string kGroupA = "99A61D40-20CE-41EA-A579-EB92C6ED94C6";
const std::string kGroupB = "222D688A-1554-4C0E-B7A0-0BC377EF4071";
const std::string kIdX = "F3F63980-CA50-466F-9CA7-545D2B10468B";
const std::string kIdY = "CD31503F-4949-40E1-BA2C-B2A88CF420F0";

std::string Doc(const std::string& entries) {
    return "{\"Properties\":[" + entries + "]}";
}

std::string X(const std::string& value) {
    return EntryJson(kIdX, "name of " + kIdX, kGroupA, "name of " + kGroupA, value);
}
std::string Y(const std::string& value) {
    return EntryJson(kIdY, "name of " + kIdY, kGroupA, "name of " + kGroupA, value);
}

class JsonPropertyArchiverTest : public ArchiveTest {
  protected:
    // The value a fresh archive loaded from the files gives the property (or "-" when
    // the load fails, "?" when the property has no entry).
    std::string Reloaded(const std::shared_ptr<Property>& property) {
        auto archive = NewArchive();
        if (!archive->Load())
            return "-";
        NString text;
        return archive->GetPropertyValue(property, text) ? text : "?";
    }
};

TEST_F(JsonPropertyArchiverTest, SaveWritesTheImageAndItsDigestAndNothingElse) {
    auto x = MakeString("1234", kIdX, kGroupA);
    {
        auto archive = NewArchive();
        EXPECT_TRUE(archive->StoreProperty(x));
        EXPECT_TRUE(archive->WaitForSaves());
    }
    const std::string image = ArchiveImage(Doc(X("1234")));
    const std::map<std::string, std::string> expected = {{"Properties.json", image},
                                                         {"Properties.json.MD5", Md5Hex(image)}};
    EXPECT_EQ(StoreFiles(), expected);
    EXPECT_EQ(Reloaded(x), "1234");
}

TEST_F(JsonPropertyArchiverTest, StorePropertyAppendsThenUpdatesInPlace) {
    auto x = MakeString("a", kIdX, kGroupA);
    auto y = MakeString("b", kIdY, kGroupA);
    auto flag = std::make_shared<BoolProperty>(true, kIdX, "flag", kGroupB, "other group");
    auto archive = NewArchive();
    archive->StoreProperty(x);
    archive->StoreProperty(y);
    archive->StoreProperty(flag);
    x->SetValue("c");
    archive->StoreProperty(x);
    flag->SetValue(false);
    archive->StoreProperty(flag);
    EXPECT_EQ(TextOf(*archive), Doc(X("c") + "," + Y("b") + "," +
                                    EntryJson(kIdX, "flag", kGroupB, "other group", "False")));
    // The same id in another group is another entry; a null property is refused.
    EXPECT_FALSE(archive->StoreProperty(nullptr));
}

TEST_F(JsonPropertyArchiverTest, OtherMembersAreWrittenBackAndValueIsAddedWhenMissing) {
    WriteArchive("{\"Version\":3,\"Properties\":[{\"Name\":\"" + kIdX +
                 "\",\"Extra\":[1,{}],\"Group\":\"" + kGroupA + "\"}],\"Tail\":null}");
    auto archive = NewArchive();
    ASSERT_TRUE(archive->Load());
    archive->StoreProperty(MakeString("v", kIdX, kGroupA));
    EXPECT_EQ(TextOf(*archive), "{\"Version\":3,\"Properties\":[{\"Name\":\"" + kIdX +
                                    "\",\"Extra\":[1,{}],\"Group\":\"" + kGroupA +
                                    "\",\"Value\":\"v\"}],\"Tail\":null}");
}

// Which elements of "Properties" belong to x, and what GetPropertyValue gives.
TEST_F(JsonPropertyArchiverTest, EntriesOfOtherShapesNeverMatch) {
    struct Case {
        const char* what;
        std::string properties;
        bool found;
        std::string value;
    };
    const std::string name = "\"Name\":\"" + kIdX + "\"";
    const std::string group = "\"Group\":\"" + kGroupA + "\"";
    const std::vector<Case> cases = {
        {"the entry", "[{" + name + "," + group + ",\"Value\":\"v\"}]", true, "v"},
        {"value a number", "[{" + name + "," + group + ",\"Value\":7}]", true, ""},
        {"value missing", "[{" + name + "," + group + "}]", true, ""},
        {"value with a zero byte", "[{" + name + "," + group + ",\"Value\":\"a\\u0000b\"}]", true,
         std::string("a\0b", 3)},
        {"name missing", "[{" + group + ",\"Value\":\"v\"}]", false, ""},
        {"group missing", "[{" + name + ",\"Value\":\"v\"}]", false, ""},
        {"name a number", "[{\"Name\":1," + group + ",\"Value\":\"v\"}]", false, ""},
        {"group an object", "[{" + name + ",\"Group\":{},\"Value\":\"v\"}]", false, ""},
        {"name in lower case",
         "[{\"Name\":\"f3f63980-ca50-466f-9ca7-545d2b10468b\"," + group + ",\"Value\":\"v\"}]",
         false, ""},
        {"name with a zero byte after it",
         "[{\"Name\":\"" + kIdX + "\\u0000\"," + group + ",\"Value\":\"v\"}]", false, ""},
        {"elements not objects first",
         "[1,\"x\",null,[],{" + name + "," + group + ",\"Value\":\"w\"}]", true, "w"},
        {"the first of two",
         "[{" + name + "," + group + ",\"Value\":\"1\"},{" + name + "," + group +
             ",\"Value\":\"2\"}]",
         true, "1"},
        {"properties an object", "{\"a\":{" + name + "," + group + ",\"Value\":\"v\"}}", false, ""},
        {"properties a string", "\"x\"", false, ""},
    };
    auto x = MakeString("", kIdX, kGroupA);
    for (const Case& c : cases) {
        WriteArchive("{\"Properties\":" + c.properties + "}");
        auto archive = NewArchive();
        ASSERT_TRUE(archive->Load()) << c.what;
        NString text = "left over";
        EXPECT_EQ(archive->GetPropertyValue(x, text), c.found) << c.what;
        EXPECT_EQ(text, c.value) << c.what;
    }
}

TEST_F(JsonPropertyArchiverTest, PropertiesThatIsNotAnArrayIsReplacedToKeepEntries) {
    WriteArchive("{\"Properties\":{\"a\":1},\"Other\":\"kept\"}");
    auto archive = NewArchive();
    ASSERT_TRUE(archive->Load());
    archive->StoreProperty(MakeString("v", kIdX, kGroupA));
    EXPECT_EQ(TextOf(*archive), "{\"Properties\":[" + X("v") + "],\"Other\":\"kept\"}");
}

TEST_F(JsonPropertyArchiverTest, AddEntryAppendsDuplicatesAndTheFirstIsUsed) {
    auto archive = NewArchive();
    auto x = MakeString("", kIdX, kGroupA);
    archive->AddEntry(kIdX, kGroupA, "name of " + kGroupA, "name of " + kIdX, "first");
    archive->AddEntry(kIdX, kGroupA, "name of " + kGroupA, "name of " + kIdX, "second");
    NString text;
    EXPECT_TRUE(archive->GetPropertyValue(x, text));
    EXPECT_EQ(text, "first");
    x->SetValue("third");
    archive->StoreProperty(x);
    EXPECT_EQ(TextOf(*archive), Doc(X("third") + "," + X("second")));
    // Texts are cut at their first zero byte.
    archive->AddEntry(kIdY, kGroupA, "g", std::string("n\0m", 3), std::string("v\0w", 3));
    EXPECT_EQ(TextOf(*archive),
              Doc(X("third") + "," + X("second") + "," + EntryJson(kIdY, "n", kGroupA, "g", "v")));
}

TEST_F(JsonPropertyArchiverTest, UpdateEntryChangesTheFirstMatchOnly) {
    struct Case {
        const char* what;
        std::string entry;
        bool found;
        std::string after;
    };
    const std::string nameX = "\"Name\":\"" + kIdX + "\"";
    const std::string group = "\"Group\":\"" + kGroupA + "\"";
    const std::vector<Case> cases = {
        {"a match", "{" + nameX + "," + group + ",\"Value\":\"new\"}", true,
         Doc(X("new") + "," + X("twin") + "," + Y("y"))},
        {"other group", "{" + nameX + ",\"Group\":\"" + kGroupB + "\",\"Value\":\"new\"}", false,
         Doc(X("old") + "," + X("twin") + "," + Y("y"))},
        {"value a number", "{" + nameX + "," + group + ",\"Value\":1}", false,
         Doc(X("old") + "," + X("twin") + "," + Y("y"))},
        {"no value", "{" + nameX + "," + group + "}", false,
         Doc(X("old") + "," + X("twin") + "," + Y("y"))},
        {"not an object", "[1]", false, Doc(X("old") + "," + X("twin") + "," + Y("y"))},
    };
    for (const Case& c : cases) {
        WriteArchive(Doc(X("old") + "," + X("twin") + "," + Y("y")));
        auto archive = NewArchive();
        ASSERT_TRUE(archive->Load());
        rapidjson::Document entry;
        entry.Parse(c.entry.c_str());
        EXPECT_EQ(archive->UpdateEntry(entry), c.found) << c.what;
        EXPECT_EQ(TextOf(*archive), c.after) << c.what;
    }
}

// Which operations request a save: a fresh archive with no file writes one
// only after an operation that may change the document.
TEST_F(JsonPropertyArchiverTest, OperationsThatMayChangeTheDocumentRequestASave) {
    struct Case {
        const char* what;
        void (*run)(JsonPropertyArchiver& archive);
        bool saves;
    };
    const Case cases[] = {
        {"GetPropertyValue",
         [](JsonPropertyArchiver& a) {
             NString text;
             a.GetPropertyValue(MakeString("", kIdX, kGroupA), text);
         },
         false},
        {"FindEntry and EnsurePropertiesArray",
         [](JsonPropertyArchiver& a) {
             a.EnsurePropertiesArray();
             a.FindEntry(*MakeString("", kIdX, kGroupA), a.GetDocument()["Properties"]);
         },
         false},
        {"UpdateEntry without a counterpart",
         [](JsonPropertyArchiver& a) {
             rapidjson::Document entry;
             entry.Parse(("{\"Name\":\"" + kIdX + "\",\"Group\":\"\",\"Value\":\"\"}").c_str());
             EXPECT_FALSE(a.UpdateEntry(entry));
         },
         true},
        {"AddEntry", [](JsonPropertyArchiver& a) { a.AddEntry("i", "g", "", "", ""); }, true},
        {"StoreProperty",
         [](JsonPropertyArchiver& a) { a.StoreProperty(MakeString("", kIdX, kGroupA)); }, true},
    };
    for (const Case& c : cases) {
        {
            auto archive = NewArchive();
            c.run(*archive);
            archive->WaitForSaves();
        }
        EXPECT_EQ(device_.Exists(kFile), c.saves) << c.what;
        std::filesystem::remove(device_.Host(kFile));
        std::filesystem::remove(device_.Host(std::string(kFile) + ".MD5"));
    }
}

TEST_F(JsonPropertyArchiverTest, MergeFromChangesOnlyEntriesThatExistInBoth) {
    WriteArchive(Doc(X("main x") + "," + Y("main y")));
    WritePair("store/PropertiesOverride.json",
              ArchiveImage("{\"Properties\":[" +
                           EntryJson(kIdY, "another name", kGroupA, "another group", "override y") +
                           "," + EntryJson(kIdX, "", kGroupB, "", "other group") +
                           ",7,{\"Name\":\"" + kIdX + "\"}]}"));
    auto archive = NewArchive();
    auto override = NewArchive(u"/Store/PropertiesOverride.json");
    ASSERT_TRUE(archive->Load());
    ASSERT_TRUE(override->Load());
    const std::string overrideText = TextOf(*override);
    archive->MergeFrom(*override);
    // Only the value is taken; the main entry keeps its names.
    EXPECT_EQ(TextOf(*archive), Doc(X("main x") + "," + Y("override y")));
    EXPECT_EQ(TextOf(*override), overrideText);
    archive->MergeFrom(*archive);
    EXPECT_EQ(TextOf(*archive), Doc(X("main x") + "," + Y("override y")));
    EXPECT_TRUE(archive->WaitForSaves());
    EXPECT_EQ(Reloaded(MakeString("", kIdY, kGroupA)), "override y");
}

TEST_F(JsonPropertyArchiverTest, ASaveRequestedTogetherWithTheStopIsStillWritten) {
    for (int round = 0; round < 20; ++round) {
        const std::string value = "round " + std::to_string(round);
        {
            auto archive = NewArchive();
            archive->Load();
            archive->StoreProperty(MakeString(value, kIdX, kGroupA));
        }
        ASSERT_EQ(Reloaded(MakeString("", kIdX, kGroupA)), value);
    }
}

TEST_F(JsonPropertyArchiverTest, SaverEventsTellTheLastSave) {
    auto archive = NewArchive(u"/Missing/Properties.json");  // a folder that does not exist
    EventFlags& events = archive->SaverEvents();
    archive->AddEntry("i", "g", "", "", "");
    EXPECT_FALSE(archive->WaitForSaves());
    EXPECT_TRUE(events.IsSet(PropertyArchiverBase::kSaveFailed));
    EXPECT_FALSE(events.IsSet(PropertyArchiverBase::kSaveWritten));
    device_.MakeDir("Missing");
    archive->AddEntry("i", "g", "", "", "");
    EXPECT_TRUE(archive->WaitForSaves());
    EXPECT_TRUE(events.IsSet(PropertyArchiverBase::kSaveWritten));
    EXPECT_FALSE(events.IsSet(PropertyArchiverBase::kSaveFailed));
    EXPECT_FALSE(events.IsSet(PropertyArchiverBase::kSaverStopped));
}

// A save that cannot be made leaves the archive pair as it was: the next load
// gives the values saved before, not an emptied file and not the backup's.
TEST_F(JsonPropertyArchiverTest, AFailedSaveLeavesTheOldPair) {
    WriteArchive(Doc(X("saved")));
    WriteBackup(Doc(X("older")));
    // The pending file cannot be created where a folder of its name stands.
    device_.MakeDir("store/Properties.json.tmp");
    const auto before = StoreFiles();
    {
        auto archive = NewArchive();
        ASSERT_TRUE(archive->Load());
        archive->StoreProperty(MakeString("unsaved", kIdX, kGroupA));
        EXPECT_FALSE(archive->WaitForSaves());
    }
    EXPECT_EQ(StoreFiles(), before);
    EXPECT_EQ(Reloaded(MakeString("", kIdX, kGroupA)), "saved");
}

TEST_F(JsonPropertyArchiverTest, AHoldKeepsTheSaverFromWritingUntilReleased) {
    WriteArchive(Doc(X("on file")));
    {
        auto archive = NewArchive();
        archive->HoldSaves();
        archive->AddEntry(kIdY, kGroupA, "", "", "added before the load");
        // The load decides: the file wins over the change made before it.
        ASSERT_TRUE(archive->Load());
        archive->ReleaseSaves();
        EXPECT_TRUE(archive->WaitForSaves());
    }
    EXPECT_EQ(device_.Read(kFile), ArchiveImage(Doc(X("on file"))));

    // A hold still on when the archive goes: the change is written all the same.
    {
        auto archive = NewArchive();
        ASSERT_TRUE(archive->Load());
        archive->HoldSaves();
        archive->StoreProperty(MakeString("held", kIdX, kGroupA));
    }
    EXPECT_EQ(Reloaded(MakeString("", kIdX, kGroupA)), "held");
}

// ---- Load ------------------------------------------------------------------

TEST_F(JsonPropertyArchiverTest, LoadChecksTheDigestAndFallsBackToAWholeBackup) {
    const std::string good = ArchiveImage(Doc(X("main")));
    const std::string backup = ArchiveImage(Doc(X("backup")));
    const std::string badText = ArchiveImage("{\"Properties\":", 14);
    struct Case {
        const char* what;
        const char* archive;  // null: absent
        const char* sidecar;
        const char* backupArchive;
        const char* backupSidecar;
        std::string loaded;  // the value of x after the load ("-": the load failed)
        // What the four files hold afterwards (null: absent).
        const char* archiveAfter;
        const char* sidecarAfter;
    };
    // "good", "backup", "bad": the images above; "digest:..." the MD5 of one of
    // them; anything else is written as it stands.
    const std::vector<Case> cases = {
        {"a whole pair", "good", "digest:good", "backup", "digest:backup", "main", "good",
         "digest:good"},
        {"no sidecar: the backup is not consulted", "good", nullptr, "backup", "digest:backup", "-",
         "good", nullptr},
        {"digest mismatch, whole backup", "good", "digest:backup", "backup", "digest:backup",
         "backup", "backup", "digest:backup"},
        {"upper-case digest", "good", "DIGEST:good", nullptr, nullptr, "main", "good",
         "DIGEST:good"},
        {"empty sidecar, whole backup", "good", "", "backup", "digest:backup", "backup", "backup",
         "digest:backup"},
        {"digest mismatch, no backup sidecar", "good", "digest:backup", "backup", nullptr, "-",
         "good", "digest:backup"},
        {"digest mismatch, damaged backup", "good", "digest:backup", "backup", "digest:good", "-",
         nullptr, nullptr},
        {"sidecar without archive, whole backup", nullptr, "digest:good", "backup", "digest:backup",
         "backup", "backup", "digest:backup"},
        {"sidecar without archive, no backup", nullptr, "digest:good", nullptr, nullptr, "-",
         nullptr, "digest:good"},
        {"matching digest, unreadable text, whole backup", "bad", "digest:bad", "backup",
         "digest:backup", "backup", "backup", "digest:backup"},
        {"matching digest, unreadable text, no backup", "bad", "digest:bad", nullptr, nullptr, "-",
         "bad", "digest:bad"},
        {"nothing at all", nullptr, nullptr, nullptr, nullptr, "-", nullptr, nullptr},
    };
    auto contents = [&](const char* what) -> std::string {
        const std::string w = what;
        const std::map<std::string, std::string> images = {
            {"good", good}, {"backup", backup}, {"bad", badText}};
        if (w.rfind("digest:", 0) == 0)
            return Md5Hex(images.at(w.substr(7)));
        if (w.rfind("DIGEST:", 0) == 0) {
            std::string upper = Md5Hex(images.at(w.substr(7)));
            for (char& ch : upper)
                ch = static_cast<char>(toupper(ch));
            return upper;
        }
        return images.count(w) ? images.at(w) : w;
    };
    const std::string base = kFile;
    const std::string names[4] = {base, base + ".MD5", base + ".bak", base + ".MD5.bak"};
    for (const Case& c : cases) {
        std::filesystem::remove_all(device_.Fs() / "store");
        device_.MakeDir("store");
        const char* given[4] = {c.archive, c.sidecar, c.backupArchive, c.backupSidecar};
        for (int i = 0; i < 4; ++i) {
            if (given[i])
                device_.Write(names[i], contents(given[i]));
        }
        auto archive = NewArchive();
        archive->HoldSaves();  // the change below must not reach the files under test
        archive->AddEntry("kept", "", "", "", "");
        const std::string before = TextOf(*archive);
        const bool loaded = archive->Load();
        EXPECT_EQ(loaded, c.loaded != "-") << c.what;
        if (loaded) {
            NString text;
            EXPECT_TRUE(archive->GetPropertyValue(MakeString("", kIdX, kGroupA), text)) << c.what;
            EXPECT_EQ(text, c.loaded) << c.what;
        } else {
            EXPECT_EQ(TextOf(*archive), before) << c.what;  // a failed load keeps the document
        }
        const char* after[4] = {c.archiveAfter, c.sidecarAfter, c.backupArchive, c.backupSidecar};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(device_.Exists(names[i]), after[i] != nullptr) << c.what << ": " << names[i];
            if (after[i]) {
                EXPECT_EQ(device_.Read(names[i]), contents(after[i])) << c.what << ": " << names[i];
            }
        }
    }
}

// Every cut of a valid archive, each with a matching digest: the load fails
// and falls back to the backup, or fails without one; never a crash.
TEST_F(JsonPropertyArchiverTest, ArchivesCutAtEveryByte) {
    const std::string image = ArchiveImage(Doc(X("whole")));
    for (size_t length = 0; length < image.size(); ++length) {
        for (bool withBackup : {false, true}) {
            std::filesystem::remove_all(device_.Fs() / "store");
            device_.MakeDir("store");
            fwtest::ArchiveTest::WritePair(kFile, image.substr(0, length));
            if (withBackup)
                WriteBackup(Doc(X("backup")));
            auto archive = NewArchive();
            const bool loaded = archive->Load();
            EXPECT_EQ(loaded, withBackup) << length;
            NString text;
            archive->GetPropertyValue(MakeString("", kIdX, kGroupA), text);
            EXPECT_EQ(text, withBackup ? "backup" : "") << length;
        }
    }
}

TEST_F(JsonPropertyArchiverTest, LengthsAndTextsTheLoadRefuses) {
    const std::string fits = "{\"a\":\"" + std::string(992, 'x') + "\"}";
    const std::string above = "{\"a\":\"" + std::string(993, 'x') + "\"}";
    struct Case {
        const char* what;
        std::string image;
        bool loads;
        uint64_t available = 1ull << 32;
    };
    // 4000 bytes available: the limit is 1000 bytes.
    const std::vector<Case> cases = {
        {"at the limit", ArchiveImage(fits), true, 4000},
        {"above the limit", ArchiveImage(above), false, 4000},
        {"length 0", ArchiveImage("{}", 0), false},
        {"length past the end", ArchiveImage("{}", 3), false},
        {"length 0xFFFFFFFF", ArchiveImage("{}", 0xFFFFFFFFu), false},
        {"other header bytes", std::string(16, 'z') + ArchiveImage("{}").substr(16), true},
        {"root an array", ArchiveImage("[]"), false},
        {"root a string", ArchiveImage("\"s\""), false},
        {"nested 64 deep",
         ArchiveImage("{\"a\":" + std::string(63, '[') + std::string(63, ']') + "}"), true},
        {"nested 65 deep",
         ArchiveImage("{\"a\":" + std::string(64, '[') + std::string(64, ']') + "}"), false},
        {"nested 100000 deep",
         ArchiveImage("{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}"),
         false},
    };
    for (const Case& c : cases) {
        SetAvailable(c.available);
        WritePair(kFile, c.image);
        auto archive = NewArchive();
        EXPECT_EQ(archive->Load(), c.loads) << c.what;
        EXPECT_EQ(device_.Read(kFile), c.image) << c.what;  // no backup: nothing is touched
    }
}

TEST_F(JsonPropertyArchiverTest, AMultiMegabyteValueRoundTrips) {
    std::string big(5u << 20, 'v');
    for (size_t i = 0; i < big.size(); i += 977)
        big[i] = static_cast<char>('a' + i % 26);
    {
        auto archive = NewArchive();
        archive->StoreProperty(MakeString(big, kIdX, kGroupA));
    }
    EXPECT_EQ(Reloaded(MakeString("", kIdX, kGroupA)), big);
}

// ---- Backup ----------------------------------------------------------------

TEST_F(JsonPropertyArchiverTest, BackupWaitsForRequestedSavesThenCopiesThePair) {
    auto archive = NewArchive();
    for (int round = 0; round < 10; ++round) {
        const std::string value = "round " + std::to_string(round);
        archive->StoreProperty(MakeString(value, kIdX, kGroupA));
        ASSERT_TRUE(archive->Backup());
        const std::string image = ArchiveImage(Doc(X(value)));
        ASSERT_EQ(device_.Read(std::string(kFile) + ".bak"), image);
        ASSERT_EQ(device_.Read(std::string(kFile) + ".MD5.bak"), Md5Hex(image));
    }
    EXPECT_EQ(StoreFiles().size(), 4u);  // no pending file is left
}

TEST_F(JsonPropertyArchiverTest, BackupNeverCopiesAPairThatDoesNotMatch) {
    struct Case {
        const char* what;
        bool archive;
        std::string sidecar;  // "-": absent
    };
    const std::string image = ArchiveImage(Doc(X("damaged")));
    const std::vector<Case> cases = {
        {"digest mismatch", true, Md5Hex("other")},
        {"no sidecar", true, "-"},
        {"no archive", false, Md5Hex(image)},
        {"nothing", false, "-"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(device_.Fs() / "store");
        device_.MakeDir("store");
        WriteBackup(Doc(X("good backup")));
        if (c.archive)
            device_.Write(kFile, image);
        if (c.sidecar != "-")
            device_.Write(std::string(kFile) + ".MD5", c.sidecar);
        const auto before = StoreFiles();
        auto archive = NewArchive();
        EXPECT_FALSE(archive->Backup()) << c.what;
        EXPECT_EQ(StoreFiles(), before) << c.what;
    }
}

}  // namespace
