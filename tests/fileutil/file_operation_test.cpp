// File operations and the folder clean-up, on a simulated printer.
#include "fileutil/file_operation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "fileutil/file_delete_handler.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;
using fwtest::TempDevice;
using fwtest::W;

namespace {

// Every path below a host folder, relative to it, folders with a trailing "/".
std::set<std::string> Tree(const fs::path& folder) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string relative = entry.path().lexically_relative(folder).string();
        if (entry.is_directory())
            relative += "/";
        paths.insert(relative);
    }
    return paths;
}

void WriteHardware(const TempDevice& device, const std::string& name, const std::string& text) {
    std::ofstream out(device.Hw() / name, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
}

// An application folder as packages leave it: nested folders, a read-only file
// and a dot-file directly inside.
void MakeAppFolder(const TempDevice& device) {
    device.Write("/apps/App/main.exe", "exe");
    device.Write("/apps/App/.settings", "dot");
    device.Write("/apps/App/locked.dat", "ro");
    device.SetReadOnly("/apps/App/locked.dat", true);
    device.Write("/apps/App/lib/a.dll", "a");
    device.Write("/apps/App/lib/deep/b.dll", "b");
    device.SetReadOnly("/apps/App/lib/deep/b.dll", true);
}

TEST(DeleteDirectoryContents, MovesAsideAndDeletesEverything) {
    TempDevice device;
    MakeAppFolder(device);
    device.Write("/apps/Other/keep.txt", "keep");

    FileDeleteHandler::DeleteDirectoryContents(W("\\apps\\APP"), W("\\apps\\App12425789"));
    EXPECT_EQ(Tree(device.Host("/apps")), (std::set<std::string>{"Other/", "Other/keep.txt"}));
}

TEST(DeleteDirectoryContents, DotFileInASubfolderKeepsThatSubfolderUnderTheNewName) {
    TempDevice device;
    MakeAppFolder(device);
    device.Write("/apps/App/lib/.keep", "");

    FileDeleteHandler::DeleteDirectoryContents(W("\\apps\\App"), W("\\apps\\App_old"));
    // The old name is free; what resisted stays under the new one. The second
    // pass stops at "lib", so the read-only file after it stays as well.
    EXPECT_EQ(Tree(device.Host("/apps")),
              (std::set<std::string>{"App_old/", "App_old/lib/", "App_old/lib/.keep",
                                     "App_old/locked.dat"}));
}

TEST(DeleteDirectoryContents, OccupiedNewNameDeletesInPlace) {
    TempDevice device;
    MakeAppFolder(device);
    device.Write("/apps/Taken/earlier.txt", "earlier");

    FileDeleteHandler::DeleteDirectoryContents(W("\\apps\\App"), W("\\apps\\TAKEN"));
    EXPECT_EQ(Tree(device.Host("/apps")), (std::set<std::string>{"Taken/", "Taken/earlier.txt"}));
}

TEST(DeleteDirectoryContents, OccupiedNewNameAndAResistingEntryKeepTheOldName) {
    TempDevice device;
    device.Write("/apps/App/x.txt", "x");
    device.Write("/apps/App/sub/.keep", "");
    device.MakeDir("/apps/Taken");

    FileDeleteHandler::DeleteDirectoryContents(W("\\apps\\App"), W("\\apps\\Taken"));
    EXPECT_EQ(Tree(device.Host("/apps")),
              (std::set<std::string>{"App/", "App/sub/", "App/sub/.keep", "Taken/"}));
}

TEST(DeleteDirectoryContents, EmptyMissingAndFileArguments) {
    TempDevice device;
    device.MakeDir("/apps/Empty");
    device.Write("/apps/file.txt", "file");

    FileDeleteHandler::DeleteDirectoryContents(W("\\apps\\Empty"), W("\\apps\\Empty1"));
    FileDeleteHandler::DeleteDirectoryContents(W("\\apps\\Missing"), W("\\apps\\Missing1"));
    FileDeleteHandler::DeleteDirectoryContents(W("\\apps\\file.txt"), W("\\apps\\file1"));
    EXPECT_EQ(Tree(device.Host("/apps")), (std::set<std::string>{"file.txt"}));
    EXPECT_EQ(device.Read("/apps/file.txt"), "file");
}

TEST(RemoveDirectoryTree, RemovesReadOnlyEntriesAndTheFolder) {
    TempDevice device;
    MakeAppFolder(device);
    // A dot-file directly inside would stop the removal.
    fs::remove(device.Host("/apps/App/.settings"));
    // The folder's own read-only attribute does not protect what it holds.
    device.SetReadOnly("/apps/App/lib", true);
    device.MakeDir("/apps/Empty");

    EXPECT_TRUE(FileOperation::RemoveDirectoryTree(W("\\apps\\app")));
    EXPECT_TRUE(FileOperation::RemoveDirectoryTree(W("\\apps\\Empty\\")));
    EXPECT_TRUE(fs::is_empty(device.Host("/apps")));
    EXPECT_FALSE(FileOperation::RemoveDirectoryTree(W("\\apps\\missing")));
}

TEST(RemoveDirectoryTree, StopsAtTheFirstEntryThatResists) {
    TempDevice device;
    // Entries come in byte order: "a" is emptied but kept for its dot-file, "z" is never reached.
    device.Write("/t/a/.keep", "");
    device.Write("/t/a/gone.txt", "");
    device.Write("/t/z/kept.txt", "");
    device.Write("/t/.top", "");

    EXPECT_FALSE(FileOperation::RemoveDirectoryTree(W("\\t")));
    EXPECT_EQ(Tree(device.Host("/t")),
              (std::set<std::string>{".top", "a/", "a/.keep", "z/", "z/kept.txt"}));
}

TEST(RemoveDirectoryTree, NeverDeletesAFile) {
    TempDevice device;
    device.Write("/t/file.txt", "data");
    EXPECT_FALSE(FileOperation::RemoveDirectoryTree(W("\\t\\file.txt")));
    EXPECT_EQ(device.Read("/t/file.txt"), "data");
}

TEST(ListDirectory, ListsEntriesOfOneLevelAsFullPaths) {
    TempDevice device;
    device.Write("/Data/b.txt", "");
    device.Write("/Data/.dot", "");
    device.Write("/Data/Sub/inner.txt", "");

    EXPECT_EQ(FileOperation::ListDirectory(W("\\data")),
              (std::vector<WString>{W("\\data\\.dot"), W("\\data\\Sub"), W("\\data\\b.txt")}));
    EXPECT_TRUE(FileOperation::ListDirectory(W("\\data\\sub\\inner.txt")).empty());
    EXPECT_TRUE(FileOperation::ListDirectory(W("\\missing")).empty());
    device.MakeDir("/Empty");
    EXPECT_TRUE(FileOperation::ListDirectory(W("\\Empty")).empty());
}

TEST(FileOperation, ExistenceAndFolderTests) {
    TempDevice device;
    device.Write("/boot/nk.bin", "");
    struct Case {
        const char* path;
        bool exists;
        bool directory;
    };
    const Case cases[] = {
        {"\\boot", true, true},
        {"\\BOOT\\", true, true},
        {"\\boot\\NK.BIN", true, false},
        {"\\boot\\missing", false, false},
        {"\\", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileOperation::FileExists(W(c.path)), c.exists) << c.path;
        EXPECT_EQ(FileOperation::IsDirectory(W(c.path)), c.directory) << c.path;
    }
}

TEST(FileOperation, AppendSeparator) {
    const std::pair<const char*, const char*> cases[] = {
        {"\\boot", "\\boot\\"}, {"\\boot\\", "\\boot\\"}, {"", "\\"},
        {"\\", "\\"},           {"/Store/", "/Store/\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileOperation::AppendSeparator(W(c.first)), W(c.second)) << c.first;
    }
}

TEST(FileOperation, ReplaceExtension) {
    struct Case {
        const char* path;
        const char* extension;
        const char* result;
    };
    const Case cases[] = {
        {"/Store/a.json", "bak", "/Store/a.bak"},
        {"\\boot\\nk", "md5", "\\boot\\nk"},
        {"\\dir.d\\file", "bak", "\\dir.bak"},
        {"\\boot\\nk.bin.md5", "bak", "\\boot\\nk.bin.bak"},
        {"\\boot\\file.", "bak", "\\boot\\file.bak"},
        {"\\boot\\a.json", "", "\\boot\\a."},
        {"", "bak", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileOperation::ReplaceExtension(W(c.path), W(c.extension)), W(c.result))
            << c.path;
    }
}

TEST(FileOperation, CopyFileToReportsWhetherTheDestinationExists) {
    TempDevice device;
    device.Write("/src.txt", "new");
    device.Write("/dst.txt", "old");

    EXPECT_TRUE(FileOperation::CopyFileTo(W("\\src.txt"), W("\\dst.txt"), false));
    EXPECT_EQ(device.Read("/dst.txt"), "old");
    EXPECT_TRUE(FileOperation::CopyFileTo(W("\\src.txt"), W("\\DST.TXT"), true));
    EXPECT_EQ(device.Read("/dst.txt"), "new");
    EXPECT_TRUE(FileOperation::CopyFileTo(W("\\src.txt"), W("\\fresh.txt"), false));
    EXPECT_EQ(device.Read("/fresh.txt"), "new");
    // A missing source still counts when the destination is there.
    EXPECT_TRUE(FileOperation::CopyFileTo(W("\\missing"), W("\\dst.txt"), true));
    EXPECT_FALSE(FileOperation::CopyFileTo(W("\\missing"), W("\\other.txt"), true));
    EXPECT_FALSE(device.Exists("/other.txt"));
}

TEST(FileOperation, RemoveMoveAndRename) {
    TempDevice device;
    device.Write("/a.txt", "a");
    device.Write("/b.txt", "b");
    device.Write("/ro.txt", "ro");
    device.SetReadOnly("/ro.txt", true);
    device.MakeDir("/dir");

    EXPECT_FALSE(FileOperation::RenameFile(W("\\a.txt"), W("\\B.TXT")));
    EXPECT_FALSE(FileOperation::MovePath(W("\\a.txt"), W("\\b.txt")));
    EXPECT_TRUE(FileOperation::RenameFile(W("\\a.txt"), W("\\dir\\a2.txt")));
    EXPECT_TRUE(FileOperation::MovePath(W("\\dir"), W("\\dir2")));
    EXPECT_EQ(device.Read("/dir2/a2.txt"), "a");

    EXPECT_FALSE(FileOperation::RemoveFile(W("\\dir2")));
    EXPECT_FALSE(FileOperation::RemoveFile(W("\\ro.txt")));
    EXPECT_FALSE(FileOperation::RemoveFileNarrow("\\ro.txt"));
    EXPECT_TRUE(FileOperation::RemoveFile(W("\\B.txt")));
    EXPECT_TRUE(FileOperation::RemoveFileNarrow("/DIR2/a2.txt"));
    EXPECT_EQ(Tree(device.Fs()), (std::set<std::string>{"dir2/", "ro.txt"}));
}

TEST(FileOperation, GetFreeSpaceWidensTheNarrowPath) {
    TempDevice device;
    device.MakeDir("/UpgradeTemp");
    WriteHardware(device, "free-bytes", "5000000000\n");

    uint64_t available = 0;
    uint64_t total = 0;
    EXPECT_TRUE(FileOperation::GetFreeSpace("\\upgradetemp\\", available, total));
    EXPECT_EQ(available, 5000000000ull);
    EXPECT_GE(total, available);

    // Failures leave the caller's values alone.
    available = 11;
    total = 12;
    EXPECT_FALSE(FileOperation::GetFreeSpace("\\missing\\", available, total));
    EXPECT_FALSE(FileOperation::GetFreeSpace("\\UpgradeTemp\xe9", available, total));
    WriteHardware(device, "free-bytes", "lots");
    EXPECT_FALSE(FileOperation::GetFreeSpace("\\UpgradeTemp\\", available, total));
    EXPECT_EQ(available, 11u);
    EXPECT_EQ(total, 12u);
}

TEST(GetCurrentTimeString, RawFieldsWithoutSeparators) {
    TempDevice device;
    const std::pair<const char*, const char*> cases[] = {
        {"2024-03-05T07:08:09Z", "12425789"},
        {"2024-11-30T23:59:58Z", "1241030235958"},
        {"1970-01-01T00:00:00Z", "7001000"},
        {"2000-01-01T00:00:00Z", "10001000"},
        // No readable time: an empty suffix.
        {"not a time", ""},
    };
    for (const auto& c : cases) {
        WriteHardware(device, "clock", c.first);
        EXPECT_EQ(GetCurrentTimeString(), W(c.second)) << c.first;
    }
}

}  // namespace
