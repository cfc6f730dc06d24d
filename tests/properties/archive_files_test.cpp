// What a replacement of the archive pair left when it was cut, and what the
// next load makes of it: every state the replacement passes through.
#include "properties/archive_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileutil/md5.h"
#include "properties/archive_fixture.h"

namespace {

using fwtest::ArchiveImage;
using fwtest::ArchiveTest;
using fwtest::EntryJson;
using fwtest::MakeString;
using fwtest::Md5Hex;

const std::string kOld =
    ArchiveImage("{\"Properties\":[" + EntryJson("x", "", "g", "", "old") + "]}");
const std::string kNew =
    ArchiveImage("{\"Properties\":[" + EntryJson("x", "", "g", "", "new") + "]}");

class ArchiveFilesTest : public ArchiveTest {
  protected:
    // The value of x after a fresh load ("-" when the load fails).
    std::string Loaded() {
        auto archive = NewArchive();
        archive->HoldSaves();
        if (!archive->Load())
            return "-";
        NString text;
        archive->GetPropertyValue(MakeString("", "x", "g"), text);
        return text;
    }
};

TEST_F(ArchiveFilesTest, LoadFinishesOrDiscardsAReplacementCutAtAnyStep) {
    // The files present, by suffix of Properties.json ("" is the archive itself).
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        const char* loaded;
    };
    const std::string oldDigest = Md5Hex(kOld);
    const std::string newDigest = Md5Hex(kNew);
    const std::vector<Case> cases = {
        {"before any pending file", {{"", kOld}, {".MD5", oldDigest}}, "old"},
        {"pending archive cut short",
         {{"", kOld}, {".MD5", oldDigest}, {".tmp", kNew.substr(0, 30)}},
         "old"},
        {"pending archive whole, no pending sidecar",
         {{"", kOld}, {".MD5", oldDigest}, {".tmp", kNew}},
         "old"},
        {"pending sidecar empty",
         {{"", kOld}, {".MD5", oldDigest}, {".tmp", kNew}, {".MD5.tmp", ""}},
         "old"},
        {"pending sidecar cut short",
         {{"", kOld}, {".MD5", oldDigest}, {".tmp", kNew}, {".MD5.tmp", newDigest.substr(0, 12)}},
         "old"},
        {"pending pair whole",
         {{"", kOld}, {".MD5", oldDigest}, {".tmp", kNew}, {".MD5.tmp", newDigest}},
         "new"},
        {"archive deleted", {{".MD5", oldDigest}, {".tmp", kNew}, {".MD5.tmp", newDigest}}, "new"},
        {"archive and sidecar deleted", {{".tmp", kNew}, {".MD5.tmp", newDigest}}, "new"},
        {"pending archive moved in", {{"", kNew}, {".MD5.tmp", newDigest}}, "new"},
        {"pending sidecar left over beside a whole pair",
         {{"", kOld}, {".MD5", oldDigest}, {".MD5.tmp", newDigest}},
         "old"},
        {"done", {{"", kNew}, {".MD5", newDigest}}, "new"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(device_.Fs() / "store");
        device_.MakeDir("store");
        for (const auto& file : c.files)
            device_.Write(std::string(kFile) + file.first, file.second);
        EXPECT_EQ(Loaded(), c.loaded) << c.what;
        // Only the whole pair is left.
        const std::map<std::string, std::string> whole = {
            {"Properties.json", c.loaded == std::string("new") ? kNew : kOld},
            {"Properties.json.MD5", c.loaded == std::string("new") ? newDigest : oldDigest}};
        EXPECT_EQ(StoreFiles(), whole) << c.what;
        // Settling again changes nothing.
        EXPECT_EQ(Loaded(), c.loaded) << c.what;
    }
}

// The backup pair goes through the same steps; a load that needs the backup
// finishes a cut replacement of it first.
TEST_F(ArchiveFilesTest, ACutBackupIsSettledBeforeItIsUsed) {
    device_.Write(kFile, kNew);
    device_.Write(std::string(kFile) + ".MD5", Md5Hex("damaged"));
    device_.Write(std::string(kFile) + ".bak.tmp", kOld);
    device_.Write(std::string(kFile) + ".MD5.bak.tmp", Md5Hex(kOld));
    EXPECT_EQ(Loaded(), "old");
    EXPECT_EQ(device_.Read(std::string(kFile) + ".bak"), kOld);
    EXPECT_EQ(device_.Read(kFile), kOld);
    EXPECT_EQ(StoreFiles().size(), 4u);
}

TEST_F(ArchiveFilesTest, ReplaceWithCopyRefusesASourceThatIsNotWhole) {
    device_.Write("store/a", kNew);
    device_.Write("store/a.MD5", Md5Hex(kOld));
    device_.Write("store/b", kOld);
    device_.Write("store/b.MD5", Md5Hex(kOld));
    const ArchiveFiles::FilePair a(u"/store/a", u"/store/a.MD5");
    const ArchiveFiles::FilePair b(u"/store/b", u"/store/b.MD5");
    const auto before = StoreFiles();
    EXPECT_FALSE(ArchiveFiles::ReplaceWithCopy(b, a));
    EXPECT_EQ(StoreFiles(), before);
    EXPECT_TRUE(ArchiveFiles::ReplaceWithCopy(a, b));
    EXPECT_EQ(device_.Read("store/a"), kOld);
    EXPECT_EQ(device_.Read("store/a.MD5"), Md5Hex(kOld));
    EXPECT_TRUE(ArchiveFiles::IsWhole(a));
}

}  // namespace
