// Ferrow packages end to end: the nested cabinet stages boot files under \store;
// board 18 takes them as its boot files, every other board discards them with
// the job handler's property files. The package never fails.
#include <gtest/gtest.h>

#include "printer.h"

namespace actionstest {
namespace {

const char* const kLayout = "QuorinFerrowPackageLayout";

struct StagedFile {
    const char* staged;
    const char* boot;
    bool bootDeletedFirst;  // deleted before the copies, even when nothing is staged for it
};

const StagedFile kFiles[] = {
    {"\\store\\boot.txt", "\\boot\\boot.txt", true},
    {"\\store\\boot.txt.md5", "\\boot\\boot.txt.md5", true},
    {"\\store\\ProductRegistry.json", "\\boot\\ProductRegistry.json", true},
    {"\\store\\systemfeatures.json", "\\boot\\systemfeatures.json", false},
};
const int kFileCount = sizeof(kFiles) / sizeof(kFiles[0]);
const unsigned kAllStaged = (1u << kFileCount) - 1;

const char* const kJobHandlerFiles[] = {
    "\\store\\JobHandlerProperties.json",
    "\\store\\JobHandlerProperties.json.bak",
    "\\store\\JobHandlerProperties.json.MD5",
    "\\store\\JobHandlerProperties.json.MD5.bak",
};
// A file of \store that no board's step touches.
const char* const kOtherStoreFile = "\\store\\JobHandlerProperties.txt";

std::string StagedText(int i) {
    return std::string("staged ") + kFiles[i].staged;
}
std::string OldBootText(int i) {
    return std::string("earlier firmware's ") + kFiles[i].boot;
}
bool IsStaged(unsigned mask, int i) {
    return (mask & (1u << i)) != 0;
}

// The printer holds an earlier firmware's boot files and job-handler property
// files; the package stages the files of stagedMask (bit i: kFiles[i]).
fs::path MakeFerrowPackage(const Printer& printer, unsigned stagedMask) {
    for (int i = 0; i < kFileCount; ++i)
        printer.Write(kFiles[i].boot, OldBootText(i));
    for (const char* file : kJobHandlerFiles)
        printer.Write(file, std::string("job handler property file ") + file);
    printer.Write(kOtherStoreFile, "other");
    PackageBuilder builder(printer.Work(), kLayout);
    builder.AddPayloadFile("\\boot\\FerrowPackage.txt", "the package's own file");
    for (int i = 0; i < kFileCount; ++i) {
        if (IsStaged(stagedMask, i))
            builder.AddPayloadFile(kFiles[i].staged, StagedText(i));
    }
    return builder.Make();
}

void ExpectJobHandlerFilesKept(const Printer& printer, bool kept) {
    for (const char* file : kJobHandlerFiles)
        EXPECT_EQ(kept, printer.Exists(file)) << file;
    EXPECT_EQ("other", printer.Read(kOtherStoreFile));
}

struct StagedCase {
    const char* name;
    unsigned staged;
};

std::ostream& operator<<(std::ostream& out, const StagedCase& c) {
    return out << c.name;
}

class FerrowOnBoard18 : public ::testing::TestWithParam<StagedCase> {};

// A staged file replaces its boot file and leaves \store; a boot file without a
// staged one is gone when it is among the first three, kept otherwise.
TEST_P(FerrowOnBoard18, StagedFilesBecomeTheBootFiles) {
    const StagedCase& c = GetParam();
    Printer printer(18);
    const CommandResult install = printer.Install(MakeFerrowPackage(printer, c.staged));
    EXPECT_EQ(0, install.exitCode) << install.output;
    EXPECT_EQ("the package's own file", printer.Read("\\boot\\FerrowPackage.txt"));
    for (int i = 0; i < kFileCount; ++i) {
        SCOPED_TRACE(kFiles[i].boot);
        EXPECT_FALSE(printer.Exists(kFiles[i].staged));
        if (IsStaged(c.staged, i)) {
            EXPECT_EQ(StagedText(i), printer.Read(kFiles[i].boot));
        } else if (kFiles[i].bootDeletedFirst) {
            EXPECT_FALSE(printer.Exists(kFiles[i].boot));
        } else {
            EXPECT_EQ(OldBootText(i), printer.Read(kFiles[i].boot));
        }
    }
    ExpectJobHandlerFilesKept(printer, true);
}

INSTANTIATE_TEST_SUITE_P(Staged, FerrowOnBoard18,
                         ::testing::Values(StagedCase{"All", kAllStaged}, StagedCase{"None", 0},
                                           StagedCase{"OnlyBootTxt", 1u << 0},
                                           StagedCase{"OnlySystemFeatures", 1u << 3},
                                           StagedCase{"AllButTheDigest", kAllStaged & ~(1u << 1)}),
                         [](const ::testing::TestParamInfo<StagedCase>& info) {
                             return std::string(info.param.name);
                         });

enum Blocker {
    kReadOnly,         // the old boot file is read-only: neither deleted nor overwritten
    kReadOnlyCurrent,  // ... and already holds the staged bytes
    kFolder,           // a folder stands at the boot file's name
};

struct BlockedCase {
    const char* name;
    int file;
    Blocker blocker;
};

std::ostream& operator<<(std::ostream& out, const BlockedCase& c) {
    return out << c.name;
}

class FerrowBlockedCopy : public ::testing::TestWithParam<BlockedCase> {};

// A staged file whose copy did not take its place stays staged for the next
// run; the other files are taken, and the package still does not fail.
TEST_P(FerrowBlockedCopy, KeepsTheStagedFileUnlessItsCopyIsInPlace) {
    const BlockedCase& c = GetParam();
    Printer printer(18);
    const fs::path package = MakeFerrowPackage(printer, kAllStaged);
    const std::string boot = kFiles[c.file].boot;
    if (c.blocker == kFolder) {
        fs::remove(printer.Host(boot));
        fs::create_directories(printer.Host(boot));
    } else {
        if (c.blocker == kReadOnlyCurrent)
            printer.Write(boot, StagedText(c.file));
        fs::permissions(printer.Host(boot), fs::perms::owner_write, fs::perm_options::remove);
    }

    const CommandResult install = printer.Install(package);
    EXPECT_EQ(0, install.exitCode) << install.output;
    for (int i = 0; i < kFileCount; ++i) {
        SCOPED_TRACE(kFiles[i].boot);
        if (i != c.file) {
            EXPECT_EQ(StagedText(i), printer.Read(kFiles[i].boot));
            EXPECT_FALSE(printer.Exists(kFiles[i].staged));
        }
    }
    switch (c.blocker) {
        case kReadOnly:
            EXPECT_EQ(OldBootText(c.file), printer.Read(boot));
            EXPECT_EQ(StagedText(c.file), printer.Read(kFiles[c.file].staged));
            break;
        case kReadOnlyCurrent:
            EXPECT_EQ(StagedText(c.file), printer.Read(boot));
            EXPECT_FALSE(printer.Exists(kFiles[c.file].staged));
            break;
        case kFolder:
            EXPECT_TRUE(fs::is_directory(printer.Host(boot)));
            EXPECT_EQ(StagedText(c.file), printer.Read(kFiles[c.file].staged));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blockers, FerrowBlockedCopy,
    ::testing::Values(BlockedCase{"ReadOnlyBootTxt", 0, kReadOnly},
                      BlockedCase{"ReadOnlySystemFeatures", 3, kReadOnly},
                      BlockedCase{"ReadOnlyRegistryAlreadyCurrent", 2, kReadOnlyCurrent},
                      BlockedCase{"FolderAtTheDigest", 1, kFolder}),
    [](const ::testing::TestParamInfo<BlockedCase>& info) { return std::string(info.param.name); });

struct OtherBoardCase {
    BoardId board;
    unsigned staged;
};

std::ostream& operator<<(std::ostream& out, const OtherBoardCase& c) {
    return out << BoardName(c.board);
}

class FerrowOnOtherBoards : public ::testing::TestWithParam<OtherBoardCase> {};

// The staged files and the job handler's property files go; \boot is untouched.
TEST_P(FerrowOnOtherBoards, DiscardsTheStagedFiles) {
    const OtherBoardCase& c = GetParam();
    Printer printer(c.board);
    const CommandResult install = printer.Install(MakeFerrowPackage(printer, c.staged));
    EXPECT_EQ(0, install.exitCode) << install.output;
    for (int i = 0; i < kFileCount; ++i) {
        SCOPED_TRACE(kFiles[i].boot);
        EXPECT_FALSE(printer.Exists(kFiles[i].staged));
        EXPECT_EQ(OldBootText(i), printer.Read(kFiles[i].boot));
    }
    ExpectJobHandlerFilesKept(printer, false);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, FerrowOnOtherBoards,
    ::testing::Values(OtherBoardCase{8, kAllStaged}, OtherBoardCase{17, kAllStaged},
                      OtherBoardCase{19, kAllStaged}, OtherBoardCase{21, kAllStaged},
                      OtherBoardCase{kUnreadable, kAllStaged}, OtherBoardCase{20, 0}),
    [](const ::testing::TestParamInfo<OtherBoardCase>& info) {
        return BoardName(info.param.board) + (info.param.staged ? "" : "NothingStaged");
    });

}  // namespace
}  // namespace actionstest
