// The archive under power cuts: a save of a changed archive, a backup, and a
// restore from the backup, each cut at every counted file operation in turn;
// after each cut a fresh load in a new process gives exactly the old values or
// the new ones, never older ones from the backup and never none.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "fileutil/md5.h"
#include "properties/archive_fixture.h"
#include "support/power_cut.h"

namespace {

using fwtest::ArchiveImage;
using fwtest::EntryJson;
using fwtest::MakeString;
using fwtest::Md5Hex;
using fwtest::PowerCut;

const char16_t kPath[] = u"/Store/Properties.json";
const std::string kFile = "store/Properties.json";

std::string Doc(const std::string& x) {
    return "{\"Properties\":[" + EntryJson("x", "", "g", "", x) + "," +
           EntryJson("y", "", "g", "", "kept") + "]}";
}

// No thread runs in the test's own process: every archive lives in a child.
class ArchivePowerCut : public ::testing::Test {
  protected:
    ArchivePowerCut() { std::ofstream(device_.Hw() / "avail-phys") << (1ull << 32); }

    void Reset() {
        std::filesystem::remove_all(device_.Fs() / "store");
        device_.MakeDir("store");
    }
    void WritePair(const std::string& file, const std::string& sidecar, const std::string& text) {
        device_.Write(file, ArchiveImage(text));
        device_.Write(sidecar, Md5Hex(ArchiveImage(text)));
    }
    // The value of x a fresh load gives, "-" when it fails; y must be kept.
    static std::string LoadX() {
        auto factory = std::make_shared<ThreadFactory>(253);
        JsonPropertyArchiver archive(kPath, factory, 253);
        if (!archive.Load())
            return "-";
        NString x, y;
        archive.GetPropertyValue(MakeString("", "x", "g"), x);
        archive.GetPropertyValue(MakeString("", "y", "g"), y);
        EXPECT_EQ(y, "kept");
        return x;
    }
    // The run under test: load, change x to "new", wait for the save.
    static void LoadChangeAndSave() {
        auto factory = std::make_shared<ThreadFactory>(253);
        JsonPropertyArchiver archive(kPath, factory, 253);
        archive.Load();
        archive.StoreProperty(MakeString("new", "x", "g"));
        archive.WaitForSaves();
    }
    // After a cut, x is the value before the save or "new"; without one, "new".
    static void ExpectOldOrNew(const PowerCut& cut, const std::string& old) {
        const std::string x = LoadX();
        if (cut.happened())
            EXPECT_TRUE(x == old || x == "new") << x;
        else
            EXPECT_EQ(x, "new");
    }
    // Records the kind of each cut in a host file beside the device (checks run in children).
    void Record(const PowerCut& cut) {
        if (cut.happened())
            std::ofstream(device_.Root() / "kinds", std::ios::app) << cut.kind << "\n";
    }
    std::set<std::string> Kinds() {
        std::set<std::string> kinds;
        std::ifstream in(device_.Root() / "kinds");
        for (std::string kind; std::getline(in, kind);)
            kinds.insert(kind);
        return kinds;
    }
    void ExpectNoPendingFiles() {
        for (const auto& entry : std::filesystem::directory_iterator(device_.Fs() / "store"))
            EXPECT_NE(entry.path().extension(), ".tmp") << "left over: " << entry.path();
    }

    fwtest::TempDevice device_;
};

TEST_F(ArchivePowerCut, ASaveLeavesTheOldValuesOrTheNewOnes) {
    const uint64_t cuts = fwtest::ForEachPowerCut(
        device_,
        [&] {
            Reset();
            WritePair(kFile, kFile + ".MD5", Doc("old"));
            WritePair(kFile + ".bak", kFile + ".MD5.bak", Doc("older"));
        },
        LoadChangeAndSave,
        [&](const PowerCut& cut) {
            Record(cut);
            ExpectOldOrNew(cut, "old");
            ExpectNoPendingFiles();
        });
    EXPECT_GT(cuts, 0u);
    RecordProperty("cuts", static_cast<int>(cuts));
    EXPECT_EQ(Kinds(), (std::set<std::string>{"open", "write", "flush", "move", "delete"}));
}

TEST_F(ArchivePowerCut, ABackupLeavesAWholeBackupPairOldOrNew) {
    const uint64_t cuts = fwtest::ForEachPowerCut(
        device_,
        [&] {
            Reset();
            WritePair(kFile, kFile + ".MD5", Doc("current"));
            WritePair(kFile + ".bak", kFile + ".MD5.bak", Doc("older"));
        },
        [&] {
            auto factory = std::make_shared<ThreadFactory>(253);
            JsonPropertyArchiver archive(kPath, factory, 253);
            archive.Load();
            archive.Backup();
        },
        [&](const PowerCut& cut) {
            Record(cut);
            EXPECT_EQ(LoadX(), "current");
            // Whichever pair the backup holds, it is whole: with the archive
            // damaged, the load takes it.
            device_.Write(kFile + ".MD5", Md5Hex("damaged"));
            const std::string x = LoadX();
            if (cut.happened())
                EXPECT_TRUE(x == "older" || x == "current") << x;
            else
                EXPECT_EQ(x, "current");
        });
    EXPECT_GT(cuts, 0u);
    RecordProperty("cuts", static_cast<int>(cuts));
    EXPECT_EQ(Kinds(), (std::set<std::string>{"copy", "flush", "move", "delete"}));
}

TEST_F(ArchivePowerCut, ARestoreFromTheBackupAndASaveAfterIt) {
    const uint64_t cuts = fwtest::ForEachPowerCut(
        device_,
        [&] {
            Reset();
            device_.Write(kFile, ArchiveImage(Doc("damaged")));
            device_.Write(kFile + ".MD5", Md5Hex("something else"));
            WritePair(kFile + ".bak", kFile + ".MD5.bak", Doc("backup"));
        },
        LoadChangeAndSave,
        [&](const PowerCut& cut) {
            Record(cut);
            ExpectOldOrNew(cut, "backup");
            ExpectNoPendingFiles();
        });
    EXPECT_GT(cuts, 0u);
    RecordProperty("cuts", static_cast<int>(cuts));
}

}  // namespace
