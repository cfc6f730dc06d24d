// The power-cut injector: a cut at each counted file operation in turn leaves
// exactly what the printer keeps after losing power there (data flushed before,
// names changed before), and the process can do nothing with files afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "support/child_process.h"
#include "support/power_cut.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::PowerCut;
using fwtest::TempDevice;
using fwtest::W;

// Writes text through a file stream of the platform: one "open" when the
// stream creates or empties the file, one "write" when it hands the bytes over.
bool WriteThrough(const std::string& path, const std::string& text) {
    std::unique_ptr<platform::FileBuffer> file =
        platform::OpenFileBuffer(W(path), std::ios::out | std::ios::trunc);
    if (!file)
        return false;
    std::ostream out(file.get());
    out << text;
    out.flush();
    return file->Close() && out.good();
}

// The files of the scenario and what they hold; null: absent. "<dir>": a folder.
struct State {
    const char* a;
    bool aReadOnly;
    const char* b;
    const char* c;
    const char* d;
    const char* dir;
    const char* pre;
    const char* keep;
};

// The scenario, one counted operation per step; results are ignored, as a
// program that lost its power would never see them.
void Scenario() {
    WriteThrough("\\a.txt", "durable");                                           // 1 open, 2 write
    platform::FlushFile(W("\\a.txt"));                                            // 3 flush
    WriteThrough("\\b.txt", "lost");                                              // 4 open, 5 write
    platform::MoveFile(W("\\b.txt"), W("\\c.txt"));                               // 6 move
    platform::CopyFile(W("\\a.txt"), W("\\d.txt"), true);                         // 7 copy
    platform::SetFileAttributes(W("\\a.txt"), platform::kFileAttributeReadOnly);  // 8
    platform::CreateDirectory(W("\\dir"));                                        // 9 create-folder
    platform::DeleteFile(W("\\pre.txt"));                                         // 10 delete
    WriteThrough("\\keep.txt", "new");      // 11 open, 12 write
    platform::RemoveDirectory(W("\\dir"));  // 13 remove-folder
}

const char* const kKinds[] = {"open", "write", "flush",          "open",          "write",
                              "move", "copy",  "set-attributes", "create-folder", "delete",
                              "open", "write", "remove-folder"};

// What the device holds after a cut at operation N (row N-1), and after a run
// without a cut (the last row). A file's data counts once flushed; every change
// of names counts once its call returned.
const State kAfterCut[] = {
    {nullptr, false, nullptr, nullptr, nullptr, nullptr, "pre", "kept"},  // 1: nothing yet
    {"", false, nullptr, nullptr, nullptr, nullptr, "pre", "kept"},       // 2: a created
    {"", false, nullptr, nullptr, nullptr, nullptr, "pre", "kept"},       // 3: not flushed
    {"durable", false, nullptr, nullptr, nullptr, nullptr, "pre", "kept"},
    {"durable", false, "", nullptr, nullptr, nullptr, "pre", "kept"},
    {"durable", false, "", nullptr, nullptr, nullptr, "pre", "kept"},  // 6: b's data lost
    {"durable", false, nullptr, "", nullptr, nullptr, "pre", "kept"},
    {"durable", false, nullptr, "", "", nullptr, "pre", "kept"},  // 8: the copy's data lost
    {"durable", true, nullptr, "", "", nullptr, "pre", "kept"},
    {"durable", true, nullptr, "", "", "<dir>", "pre", "kept"},
    {"durable", true, nullptr, "", "", "<dir>", nullptr, "kept"},
    {"durable", true, nullptr, "", "", "<dir>", nullptr, "kept"},  // 12: emptied, not flushed
    {"durable", true, nullptr, "", "", "<dir>", nullptr, "kept"},  // 13: "new" not flushed
    {"durable", true, nullptr, "lost", "durable", nullptr, nullptr, "new"},  // no cut
};

std::string Describe(const char* value) {
    return value ? "\"" + std::string(value) + "\"" : std::string("absent");
}

void ExpectEntry(const TempDevice& device, const std::string& name, const char* expected) {
    const fs::path host = device.Host("\\" + name);
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(host, ec);
    std::string actual;
    const char* shown = nullptr;
    if (fs::is_directory(status)) {
        shown = "<dir>";
    } else if (fs::is_regular_file(status)) {
        std::ifstream in(host, std::ios::binary);
        actual.assign(std::istreambuf_iterator<char>(in), {});
        shown = actual.c_str();
    }
    EXPECT_EQ(Describe(shown), Describe(expected)) << name;
}

void ExpectState(const TempDevice& device, const State& state) {
    ExpectEntry(device, "a.txt", state.a);
    ExpectEntry(device, "b.txt", state.b);
    ExpectEntry(device, "c.txt", state.c);
    ExpectEntry(device, "d.txt", state.d);
    ExpectEntry(device, "dir", state.dir);
    ExpectEntry(device, "pre.txt", state.pre);
    ExpectEntry(device, "keep.txt", state.keep);
    if (state.a) {
        struct stat st;
        ASSERT_EQ(stat(device.Host("\\a.txt").c_str(), &st), 0);
        EXPECT_EQ((st.st_mode & S_IWUSR) == 0, state.aReadOnly) << "a.txt read-only";
    }
}

// After the cut nothing about files works any more, not even looking.
void ExpectPowerOff(platform::FileBuffer& openedBefore) {
    EXPECT_EQ(platform::GetFileAttributes(W("\\")), platform::kInvalidFileAttributes);
    platform::FindData first;
    EXPECT_EQ(platform::FindFirstFile(W("\\*"), first), nullptr);
    EXPECT_EQ(platform::OpenFileBuffer(W("\\keep.txt"), std::ios::in), nullptr);
    EXPECT_EQ(platform::OpenFileBuffer(W("\\late.txt"), std::ios::out), nullptr);
    EXPECT_FALSE(platform::CreateDirectory(W("\\late")));
    EXPECT_FALSE(platform::CopyFile(W("\\keep.txt"), W("\\late.txt"), false));
    EXPECT_FALSE(platform::FlushFile(W("\\keep.txt")));
    EXPECT_FALSE(platform::GetDiskFreeSpaceEx(W("\\"), nullptr, nullptr, nullptr));
    EXPECT_EQ(platform::CreateProcess(W("\\ok.exe"), W("")), nullptr);
    std::istream in(&openedBefore);
    EXPECT_EQ(in.get(), std::char_traits<char>::eof());
    EXPECT_TRUE(openedBefore.Failed());
}

TEST(PowerCut, EveryOperationInTurnLosesExactlyWhatWasNotDurable) {
    TempDevice device;
    std::vector<PowerCut> cuts;
    const uint64_t count = fwtest::ForEachPowerCut(
        device,
        [&] {
            fwtest::RemoveTree(device.Fs());
            fs::create_directories(device.Fs());
            device.Write("\\pre.txt", "pre");
            device.Write("\\keep.txt", "kept");
            device.Write("\\ok.exe", "#!/bin/sh\nexit 0\n");
            fs::permissions(device.Host("\\ok.exe"), fs::perms::owner_exec, fs::perm_options::add);
        },
        [&] {
            std::unique_ptr<platform::FileBuffer> reader =
                platform::OpenFileBuffer(W("\\pre.txt"), std::ios::in);
            ASSERT_NE(reader, nullptr);
            Scenario();
            if (fwtest::ReadPowerCut(device).happened()) {
                ExpectPowerOff(*reader);
            } else {
                // The power stayed on: the program starts.
                EXPECT_NE(platform::CreateProcess(W("\\ok.exe"), W("")), nullptr);
            }
        },
        [&](const PowerCut& cut) {
            const size_t row =
                cut.happened() ? cut.number - 1 : sizeof(kAfterCut) / sizeof(kAfterCut[0]) - 1;
            ASSERT_LT(row, sizeof(kAfterCut) / sizeof(kAfterCut[0]));
            if (cut.happened()) {
                EXPECT_EQ(cut.kind, kKinds[row]);
            }
            ExpectState(device, kAfterCut[row]);
        });
    EXPECT_EQ(count, sizeof(kKinds) / sizeof(kKinds[0]));
}

TEST(PowerCut, TheCutIsRecordedWithItsOperationAndPath) {
    TempDevice device;
    device.Write("\\x.txt", "x");
    fwtest::SetPowerCutAfter(device, 2);
    const fwtest::ChildOutcome outcome = fwtest::RunInChild([] {
        EXPECT_TRUE(platform::CreateDirectory(W("\\Made")));
        EXPECT_FALSE(platform::MoveFile(W("\\x.txt"), W("\\Made\\y.txt")));
        EXPECT_FALSE(platform::CreateDirectory(W("\\Other")));
    });
    EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
    const PowerCut cut = fwtest::ReadPowerCut(device);
    EXPECT_EQ(cut.number, 2u);
    EXPECT_EQ(cut.kind, "move");
    EXPECT_EQ(cut.path, "\\x.txt");
    EXPECT_TRUE(device.Exists("\\x.txt"));
    EXPECT_TRUE(device.Exists("\\Made"));
    EXPECT_FALSE(device.Exists("\\Other"));
}

// A count the injector cannot use leaves the power off from the start rather
// than letting a test run without its cut.
TEST(PowerCut, ACountThatIsNotACountMeansNoPowerAtAll) {
    for (const char* text : {"0", "x", "", "-1", "3 4"}) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        TempDevice device;
        device.Write("\\x.txt", "x");
        std::ofstream(device.Hw() / "power-cut-after") << text;
        const fwtest::ChildOutcome outcome = fwtest::RunInChild([] {
            EXPECT_EQ(platform::GetFileAttributes(W("\\x.txt")), platform::kInvalidFileAttributes);
            EXPECT_FALSE(platform::DeleteFile(W("\\x.txt")));
        });
        EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
        EXPECT_TRUE(device.Exists("\\x.txt"));
        const PowerCut cut = fwtest::ReadPowerCut(device);
        EXPECT_EQ(cut.number, 0u);
        EXPECT_EQ(cut.kind, "start");
    }
}

TEST(PowerCut, WithoutTheCountFileNothingIsCounted) {
    TempDevice device;
    const fwtest::ChildOutcome outcome = fwtest::RunInChild([] {
        for (int i = 0; i < 50; ++i) {
            const std::string name = "\\f" + std::to_string(i);
            EXPECT_TRUE(WriteThrough(name, "data"));
            EXPECT_TRUE(platform::DeleteFile(W(name)));
        }
    });
    EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
    EXPECT_FALSE(fs::exists(device.Hw() / "power-cut-happened"));
}

TEST(PlatformFlush, FlushesFilesOnly) {
    TempDevice device;
    device.Write("\\Store\\a.json", "{}");
    device.MakeDir("\\Store\\folder");
    EXPECT_TRUE(platform::FlushFile(W("\\store\\A.JSON")));
    EXPECT_FALSE(platform::FlushFile(W("\\store\\folder")));
    EXPECT_FALSE(platform::FlushFile(W("\\store\\missing")));
    EXPECT_FALSE(platform::FlushFile(W("\\")));
}

}  // namespace
