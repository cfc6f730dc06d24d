// The host file functions reproduce the printer's file semantics inside DEVICE/fs.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/device_root.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;
using fwtest::TempDevice;
using fwtest::W;

namespace {

// The names of a host folder's entries, sorted.
std::set<std::string> HostNames(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void WriteHardware(const TempDevice& device, const std::string& name, const std::string& text) {
    std::ofstream out(device.Hw() / name, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
}

std::vector<std::pair<std::string, uint32_t>> Search(const std::string& pattern) {
    std::vector<std::pair<std::string, uint32_t>> found;
    platform::FindData entry;
    std::unique_ptr<platform::FileSearch> search = platform::FindFirstFile(W(pattern), entry);
    if (!search)
        return found;
    do {
        std::string name;
        EXPECT_TRUE(platform::host::Utf16ToUtf8(entry.name, name));
        found.emplace_back(name, entry.attributes);
    } while (search->Next(entry));
    return found;
}

TEST(PlatformFiles, AttributesFollowCaseInsensitiveLookup) {
    TempDevice device;
    device.Write("/Boot/nk.bin", "image");
    device.Write("/Boot/Sub/x", "");
    struct Case {
        const char* path;
        uint32_t attributes;
    };
    const Case cases[] = {
        {"\\boot\\nk.bin", platform::kFileAttributeNormal},
        {"\\BOOT\\NK.BIN", platform::kFileAttributeNormal},
        {"/boot/NK.bin", platform::kFileAttributeNormal},
        {"\\boot\\sub\\..\\.\\nk.bin", platform::kFileAttributeNormal},
        {"\\boot", platform::kFileAttributeDirectory},
        {"\\BOOT\\", platform::kFileAttributeDirectory},
        {"\\", platform::kFileAttributeDirectory},
        {"\\boot\\nk.bin\\", platform::kFileAttributeNormal},
        {"\\boot\\missing", platform::kInvalidFileAttributes},
        {"\\missing\\nk.bin", platform::kInvalidFileAttributes},
        {"\\boot\\nk.bin\\below", platform::kInvalidFileAttributes},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::GetFileAttributes(W(c.path)), c.attributes) << c.path;
    }
}

TEST(PlatformFiles, NewEntriesKeepTheCaseGivenInsideExistingFolders) {
    TempDevice device;
    device.MakeDir("/Store");
    ASSERT_TRUE(platform::CreateDirectory(W("\\STORE\\NewFolder")));
    EXPECT_TRUE(fs::is_directory(device.Fs() / "Store" / "NewFolder"));
    EXPECT_EQ(HostNames(device.Fs()), (std::set<std::string>{"Store"}));

    std::unique_ptr<platform::FileBuffer> out =
        platform::OpenFileBuffer(W("\\store\\newfolder\\Data.BIN"), std::ios::out);
    ASSERT_NE(out, nullptr);
    std::ostream(out.get()) << "abc";
    EXPECT_TRUE(out->Close());
    EXPECT_EQ(device.Read("/Store/NewFolder/Data.BIN"), "abc");

    // A second folder differing only in case is the same folder.
    EXPECT_FALSE(platform::CreateDirectory(W("\\store\\NEWFOLDER")));
    EXPECT_EQ(HostNames(device.Fs() / "Store"), (std::set<std::string>{"NewFolder"}));
}

// Whatever ".." a path holds, writes land inside DEVICE/fs.
TEST(PlatformFiles, DotDotNeverLeavesTheDeviceFileSystem) {
    TempDevice device;
    device.Write("/src.txt", "payload");
    EXPECT_TRUE(platform::CreateDirectory(W("\\..\\..\\..\\esc-dir")));
    EXPECT_TRUE(platform::CopyFile(W("\\src.txt"), W("..\\..\\esc-copy"), true));
    EXPECT_TRUE(platform::MoveFile(W("\\esc-copy"), W("/../../../../esc-moved")));
    EXPECT_NE(platform::OpenFileBuffer(W("\\esc-dir\\..\\..\\..\\esc-stream"), std::ios::out),
              nullptr);

    EXPECT_EQ(HostNames(device.Root()), (std::set<std::string>{"fs", "hw"}));
    EXPECT_EQ(HostNames(device.Fs()),
              (std::set<std::string>{"esc-dir", "esc-moved", "esc-stream", "src.txt"}));
    // The root itself can be neither removed nor moved.
    ASSERT_TRUE(platform::RemoveDirectory(W("\\esc-dir")));
    EXPECT_FALSE(platform::RemoveDirectory(W("\\..")));
    EXPECT_FALSE(platform::MoveFile(W("\\"), W("\\elsewhere")));
    EXPECT_TRUE(fs::is_directory(device.Fs()));
}

TEST(PlatformFiles, SymbolicLinksAreRefused) {
    TempDevice device;
    const fs::path outside = device.Root() / "outside";
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, device.Fs() / "link");
    fs::create_symlink(outside / "target.txt", device.Fs() / "filelink");
    device.Write("/src.txt", "x");

    EXPECT_EQ(platform::GetFileAttributes(W("\\link")), platform::kInvalidFileAttributes);
    EXPECT_FALSE(platform::CreateDirectory(W("\\LINK\\made")));
    EXPECT_FALSE(platform::CopyFile(W("\\src.txt"), W("\\link\\copy"), false));
    EXPECT_FALSE(platform::CopyFile(W("\\src.txt"), W("\\filelink"), false));
    EXPECT_FALSE(platform::MoveFile(W("\\src.txt"), W("\\link\\moved")));
    EXPECT_EQ(platform::OpenFileBuffer(W("\\filelink"), std::ios::out), nullptr);
    EXPECT_FALSE(platform::DeleteFile(W("\\filelink")));
    platform::FindData first;
    EXPECT_EQ(platform::FindFirstFile(W("\\link\\*"), first), nullptr);
    // Searches leave links out.
    EXPECT_EQ(Search("\\*"), (std::vector<std::pair<std::string, uint32_t>>{
                                 {"src.txt", platform::kFileAttributeNormal}}));

    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(device.Fs() / "filelink")));
}

TEST(PlatformFiles, PathsWithNulOrBrokenUtf16AreRefused) {
    TempDevice device;
    const WString withNul(u"\\a\0b", 4);
    const WString brokenSurrogate = {u'\\', char16_t(0xD800), u'x'};
    for (const WString& path : {withNul, brokenSurrogate}) {
        EXPECT_FALSE(platform::CreateDirectory(path));
        EXPECT_EQ(platform::GetFileAttributes(path), platform::kInvalidFileAttributes);
        EXPECT_EQ(platform::OpenFileBuffer(path, std::ios::out), nullptr);
    }
    EXPECT_FALSE(platform::RemoveNarrow(std::string("\\a\xff", 3)));
    EXPECT_TRUE(fs::is_empty(device.Fs()));
}

TEST(PlatformFiles, NamesThePrinterCannotHoldAreRefused) {
    TempDevice device;
    device.Write("/src.txt", "x");
    for (const char* name : {"\\a*b", "\\a?b", "\\a:b", "\\a|b", "\\a<b", "\\a\"b", "\\a\tb"}) {
        EXPECT_FALSE(platform::CreateDirectory(W(name))) << name;
        EXPECT_FALSE(platform::CopyFile(W("\\src.txt"), W(name), false)) << name;
        EXPECT_FALSE(platform::MoveFile(W("\\src.txt"), W(name))) << name;
    }
    EXPECT_EQ(HostNames(device.Fs()), (std::set<std::string>{"src.txt"}));
}

TEST(PlatformFiles, EveryCallFailsWithoutADeviceRoot) {
    unsetenv("FWSETUP_DEVICE");
    platform::host::SetDeviceRoot(std::string());
    uint64_t free = 7;
    platform::FindData first;
    EXPECT_EQ(platform::GetFileAttributes(W("\\")), platform::kInvalidFileAttributes);
    EXPECT_FALSE(platform::CreateDirectory(W("\\fwsetup-no-device")));
    EXPECT_FALSE(platform::SetFileAttributes(W("\\"), platform::kFileAttributeNormal));
    EXPECT_FALSE(platform::GetDiskFreeSpaceEx(W("\\"), &free, nullptr, nullptr));
    EXPECT_EQ(free, 7u);
    EXPECT_EQ(platform::FindFirstFile(W("\\*"), first), nullptr);
    EXPECT_EQ(platform::OpenFileBuffer(W("\\fwsetup-no-device"), std::ios::out), nullptr);
    EXPECT_FALSE(fs::exists("fs/fwsetup-no-device"));
    EXPECT_FALSE(fs::exists("fwsetup-no-device"));
}

TEST(PlatformFiles, ReadOnlyFileResistsDeletionUntilAttributesAreNormal) {
    TempDevice device;
    device.Write("/boot/ro.txt", "keep");
    device.Write("/boot/other.txt", "new");
    ASSERT_TRUE(platform::SetFileAttributes(W("\\BOOT\\RO.TXT"), platform::kFileAttributeReadOnly));
    EXPECT_EQ(platform::GetFileAttributes(W("\\boot\\ro.txt")), platform::kFileAttributeReadOnly);

    EXPECT_FALSE(platform::DeleteFile(W("\\boot\\ro.txt")));
    EXPECT_FALSE(platform::RemoveNarrow("\\boot\\ro.txt"));
    EXPECT_FALSE(platform::CopyFile(W("\\boot\\other.txt"), W("\\boot\\ro.txt"), false));
    EXPECT_EQ(platform::OpenFileBuffer(W("\\boot\\ro.txt"), std::ios::out | std::ios::app),
              nullptr);
    EXPECT_EQ(device.Read("/boot/ro.txt"), "keep");
    // Reading is fine.
    EXPECT_NE(platform::OpenFileBuffer(W("\\boot\\ro.txt"), std::ios::in), nullptr);

    ASSERT_TRUE(platform::SetFileAttributes(W("\\boot\\ro.txt"), platform::kFileAttributeNormal));
    EXPECT_EQ(platform::GetFileAttributes(W("\\boot\\ro.txt")), platform::kFileAttributeNormal);
    EXPECT_TRUE(platform::DeleteFile(W("\\boot\\ro.txt")));
    EXPECT_FALSE(device.Exists("/boot/ro.txt"));

    EXPECT_FALSE(platform::SetFileAttributes(W("\\boot\\missing"), platform::kFileAttributeNormal));
}

TEST(PlatformFiles, FileCallsRefuseFoldersAndFolderCallsRefuseFiles) {
    TempDevice device;
    device.MakeDir("/dir/full/inner");
    device.Write("/dir/file.txt", "x");
    device.MakeDir("/dir/empty");

    EXPECT_FALSE(platform::DeleteFile(W("\\dir\\empty")));
    EXPECT_FALSE(platform::RemoveNarrow("\\dir\\empty"));
    EXPECT_FALSE(platform::CopyFile(W("\\dir\\empty"), W("\\dir\\copy"), false));
    EXPECT_FALSE(platform::CopyFile(W("\\dir\\file.txt"), W("\\dir\\empty"), false));
    EXPECT_FALSE(platform::RemoveDirectory(W("\\dir\\file.txt")));
    EXPECT_FALSE(platform::RemoveDirectory(W("\\dir\\full")));
    EXPECT_FALSE(platform::DeleteFile(W("\\dir\\missing")));
    EXPECT_FALSE(platform::RemoveDirectory(W("\\dir\\missing")));
    EXPECT_EQ(HostNames(device.Host("/dir")), (std::set<std::string>{"empty", "file.txt", "full"}));

    // A read-only folder resists removal until its attributes are normal.
    ASSERT_TRUE(platform::SetFileAttributes(W("\\dir\\empty"), platform::kFileAttributeReadOnly));
    EXPECT_EQ(platform::GetFileAttributes(W("\\dir\\empty")),
              platform::kFileAttributeDirectory | platform::kFileAttributeReadOnly);
    EXPECT_FALSE(platform::RemoveDirectory(W("\\dir\\empty")));
    ASSERT_TRUE(platform::SetFileAttributes(W("\\dir\\empty"), platform::kFileAttributeNormal));
    EXPECT_TRUE(platform::RemoveDirectory(W("\\DIR\\EMPTY")));

    EXPECT_TRUE(platform::DeleteFile(W("\\Dir\\File.txt")));
    EXPECT_FALSE(platform::CreateDirectory(W("\\nothere\\sub")));
    EXPECT_FALSE(device.Exists("/nothere"));
}

// A read-only folder cannot be removed, but the entries in it can change, and
// it stays read-only wherever it moves.
TEST(PlatformFiles, ReadOnlyFolderDoesNotProtectItsEntries) {
    TempDevice device;
    device.Write("/src.txt", "x");
    device.Write("/ro/old.txt", "old");
    device.MakeDir("/ro/emptysub");
    device.MakeDir("/dest");
    device.SetReadOnly("/ro", true);

    EXPECT_TRUE(platform::CopyFile(W("\\src.txt"), W("\\ro\\copy.txt"), true));
    EXPECT_TRUE(platform::CreateDirectory(W("\\ro\\made")));
    EXPECT_TRUE(platform::DeleteFile(W("\\ro\\old.txt")));
    EXPECT_TRUE(platform::RemoveDirectory(W("\\ro\\emptysub")));
    EXPECT_TRUE(platform::MoveFile(W("\\ro\\made"), W("\\ro\\Made2")));
    EXPECT_NE(platform::OpenFileBuffer(W("\\ro\\stream.txt"), std::ios::out), nullptr);

    EXPECT_TRUE(platform::MoveFile(W("\\ro"), W("\\dest\\moved")));
    const uint32_t kReadOnlyFolder =
        platform::kFileAttributeDirectory | platform::kFileAttributeReadOnly;
    EXPECT_EQ(platform::GetFileAttributes(W("\\dest\\moved")), kReadOnlyFolder);
    EXPECT_EQ(HostNames(device.Host("/dest/moved")),
              (std::set<std::string>{"Made2", "copy.txt", "stream.txt"}));
    EXPECT_TRUE(platform::RemoveDirectory(W("\\dest\\moved\\made2")));
    EXPECT_EQ(platform::GetFileAttributes(W("\\dest\\moved")), kReadOnlyFolder);
}

// MoveFile and Rename share the same rules.
struct MoveCall {
    const char* name;
    bool (*move)(const WString&, const WString&);
};

void PrintTo(const MoveCall& call, std::ostream* os) {
    *os << call.name;
}

class PlatformMove : public testing::TestWithParam<MoveCall> {};

TEST_P(PlatformMove, RefusesExistingDestinationsAndMissingSources) {
    TempDevice device;
    device.Write("/a/one.txt", "one");
    device.Write("/a/two.txt", "two");
    device.MakeDir("/a/folder");
    const auto move = GetParam().move;
    struct Case {
        const char* from;
        const char* to;
    };
    const Case refused[] = {
        {"\\a\\one.txt", "\\a\\two.txt"},     // existing file
        {"\\a\\one.txt", "\\A\\TWO.TXT"},     // existing file, other case
        {"\\a\\one.txt", "\\a\\folder"},      // existing folder
        {"\\a\\folder", "\\a\\two.txt"},      // folder onto a file
        {"\\a\\one.txt", "\\a\\one.txt"},     // itself
        {"\\a\\missing", "\\a\\new"},         // no source
        {"\\a\\one.txt", "\\b\\new"},         // no destination folder
        {"\\a\\folder", "\\a\\folder\\sub"},  // below itself
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(move(W(c.from), W(c.to))) << c.from << " -> " << c.to;
    }
    EXPECT_EQ(HostNames(device.Host("/a")),
              (std::set<std::string>{"folder", "one.txt", "two.txt"}));
    EXPECT_EQ(device.Read("/a/two.txt"), "two");
}

TEST_P(PlatformMove, MovesFilesAndFoldersAndChangesCase) {
    TempDevice device;
    device.Write("/a/one.txt", "one");
    device.Write("/a/folder/inner.txt", "inner");
    device.SetReadOnly("/a/one.txt", true);
    const auto move = GetParam().move;

    EXPECT_TRUE(move(W("\\A\\One.txt"), W("\\a\\folder\\Moved.txt")));
    EXPECT_EQ(device.Read("/a/folder/Moved.txt"), "one");
    EXPECT_EQ(platform::GetFileAttributes(W("\\a\\folder\\moved.txt")),
              platform::kFileAttributeReadOnly);

    EXPECT_TRUE(move(W("\\a\\folder"), W("\\Renamed")));
    EXPECT_EQ(device.Read("/Renamed/inner.txt"), "inner");
    // A pure case change of the same entry is allowed and takes the case given.
    EXPECT_TRUE(move(W("\\renamed"), W("\\RENAMED")));
    EXPECT_EQ(HostNames(device.Fs()), (std::set<std::string>{"RENAMED", "a"}));
    EXPECT_TRUE(fs::is_empty(device.Host("/a")));
}

INSTANTIATE_TEST_SUITE_P(MoveFileAndRename, PlatformMove,
                         testing::Values(MoveCall{"MoveFile", &platform::MoveFile},
                                         MoveCall{"Rename", &platform::Rename}),
                         [](const testing::TestParamInfo<MoveCall>& info) {
                             return std::string(info.param.name);
                         });

TEST(PlatformFiles, CopyHonoursFailIfExistsAndCarriesReadOnly) {
    TempDevice device;
    device.Write("/src/data.bin", std::string("\0\x01\xff payload", 11));
    device.Write("/dst/old.bin", "old");

    EXPECT_FALSE(platform::CopyFile(W("\\src\\data.bin"), W("\\DST\\OLD.BIN"), true));
    EXPECT_EQ(device.Read("/dst/old.bin"), "old");
    EXPECT_TRUE(platform::CopyFile(W("\\src\\data.bin"), W("\\DST\\OLD.BIN"), false));
    EXPECT_EQ(device.Read("/dst/old.bin"), device.Read("/src/data.bin"));
    EXPECT_EQ(HostNames(device.Host("/dst")), (std::set<std::string>{"old.bin"}));

    EXPECT_FALSE(platform::CopyFile(W("\\src\\missing"), W("\\dst\\x"), false));
    EXPECT_FALSE(platform::CopyFile(W("\\src\\data.bin"), W("\\src\\data.bin"), false));
    EXPECT_FALSE(platform::CopyFile(W("\\src\\data.bin"), W("\\none\\x"), false));
    EXPECT_EQ(device.Read("/src/data.bin"), std::string("\0\x01\xff payload", 11));

    device.SetReadOnly("/src/data.bin", true);
    EXPECT_TRUE(platform::CopyFile(W("\\src\\data.bin"), W("\\dst\\ro.bin"), true));
    EXPECT_EQ(platform::GetFileAttributes(W("\\dst\\ro.bin")), platform::kFileAttributeReadOnly);
    // Now read-only itself, the copy resists being overwritten.
    device.SetReadOnly("/src/data.bin", false);
    EXPECT_FALSE(platform::CopyFile(W("\\src\\data.bin"), W("\\dst\\ro.bin"), false));
}

TEST(PlatformFiles, SearchMatchesPatternsWithoutCaseInByteOrder) {
    TempDevice device;
    for (const char* name :
         {"/d/b.TXT", "/d/a.txt", "/d/noext", "/d/nk", "/d/nk.bin", "/d/.hidden", "/d/ab.txt"}) {
        device.Write(name, "");
    }
    device.MakeDir("/d/Sub");
    device.SetReadOnly("/d/ab.txt", true);
    const uint32_t kFile = platform::kFileAttributeNormal;
    using Found = std::vector<std::pair<std::string, uint32_t>>;
    const Found all = {{".hidden", kFile}, {"Sub", platform::kFileAttributeDirectory},
                       {"a.txt", kFile},   {"ab.txt", platform::kFileAttributeReadOnly},
                       {"b.TXT", kFile},   {"nk", kFile},
                       {"nk.bin", kFile},  {"noext", kFile}};
    struct Case {
        const char* pattern;
        Found found;
    };
    const std::vector<Case> cases = {
        {"\\d\\*", all},
        {"\\D\\*.*", all},
        {"/d/*.txt",
         {{"a.txt", kFile}, {"ab.txt", platform::kFileAttributeReadOnly}, {"b.TXT", kFile}}},
        {"\\d\\?.TxT", {{"a.txt", kFile}, {"b.TXT", kFile}}},
        {"\\d\\NK.*", {{"nk", kFile}, {"nk.bin", kFile}}},
        {"\\d\\*b*",
         {{"ab.txt", platform::kFileAttributeReadOnly},
          {"b.TXT", kFile},
          {"nk.bin", kFile},
          {"Sub", platform::kFileAttributeDirectory}}},
        {"\\d\\sub", {{"Sub", platform::kFileAttributeDirectory}}},
        {"\\d\\*.zip", {}},
        {"\\d\\", {}},
        {"\\missing\\*", {}},
        {"\\d\\nk\\*", {}},
    };
    for (const Case& c : cases) {
        Found expected = c.found;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Search(c.pattern), expected) << c.pattern;
    }
    // An empty folder yields nothing at all.
    platform::FindData first;
    EXPECT_EQ(platform::FindFirstFile(W("\\d\\sub\\*"), first), nullptr);
}

TEST(PlatformFiles, FreeBytesComeFromTheHardwareFile) {
    TempDevice device;
    device.MakeDir("/UpgradeTemp");
    struct Case {
        const char* text;
        bool ok;
        uint64_t free;
    };
    const Case cases[] = {
        {"52428800", true, 52428800},
        {" 4294967296\n", true, 4294967296ull},
        {"\t18446744073709551615\r\n", true, std::numeric_limits<uint64_t>::max()},
        {"0", true, 0},
        {"18446744073709551616", false, 0},
        {"", false, 0},
        {"\n", false, 0},
        {"12a", false, 0},
        {"-1", false, 0},
        {"+5", false, 0},
        {"1 2", false, 0},
        {"0x10", false, 0},
    };
    for (const Case& c : cases) {
        WriteHardware(device, "free-bytes", c.text);
        uint64_t available = 1;
        uint64_t total = 1;
        uint64_t totalFree = 1;
        EXPECT_EQ(
            platform::GetDiskFreeSpaceEx(W("\\upgradetemp\\"), &available, &total, &totalFree),
            c.ok)
            << '"' << c.text << '"';
        if (!c.ok)
            continue;
        EXPECT_EQ(available, c.free) << c.text;
        EXPECT_EQ(totalFree, c.free) << c.text;
        EXPECT_GE(total, c.free) << c.text;
    }
    WriteHardware(device, "free-bytes", "4294967296");
    uint64_t available = 0;
    EXPECT_TRUE(platform::GetDiskFreeSpaceEx(W("\\"), &available, nullptr, nullptr));
    EXPECT_EQ(available, 4294967296ull);
    EXPECT_FALSE(platform::GetDiskFreeSpaceEx(W("\\missing"), &available, nullptr, nullptr));
}

TEST(PlatformFiles, FreeBytesWithoutTheHardwareFileComeFromTheHost) {
    TempDevice device;
    uint64_t available = 0;
    uint64_t total = 0;
    uint64_t totalFree = 0;
    ASSERT_TRUE(platform::GetDiskFreeSpaceEx(W("\\"), &available, &total, &totalFree));
    EXPECT_GT(total, 0u);
    EXPECT_LE(available, totalFree);
    EXPECT_LE(totalFree, total);
}

TEST(PlatformFiles, FileStreamsOpenFilesOnly) {
    TempDevice device;
    device.Write("/boot/Data.bin", std::string("a\r\nb\0", 5));
    device.MakeDir("/boot/folder");

    std::unique_ptr<platform::FileBuffer> in =
        platform::OpenFileBuffer(W("\\BOOT\\DATA.BIN"), std::ios::in);
    ASSERT_NE(in, nullptr);
    std::string contents((std::istreambuf_iterator<char>(in.get())),
                         std::istreambuf_iterator<char>());
    EXPECT_EQ(contents, std::string("a\r\nb\0", 5));

    EXPECT_EQ(platform::OpenFileBuffer(W("\\boot\\folder"), std::ios::in), nullptr);
    EXPECT_EQ(platform::OpenFileBuffer(W("\\boot\\missing"), std::ios::in), nullptr);
    EXPECT_EQ(platform::OpenFileBuffer(W("\\none\\new.bin"), std::ios::out), nullptr);
    EXPECT_FALSE(device.Exists("/none"));
}

// Reads of any size, small ones through the stream's buffer and large ones
// straight into the caller's memory, give the file's bytes in order, and the
// position the stream reports stays true.
TEST(PlatformFiles, FileStreamReadsOfMixedSizesGiveTheBytesInOrder) {
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    const std::vector<std::vector<std::streamsize>> plans = {
        {200000},
        {1, 65536, 65535, 70000},
        {7, 8, 131072, 1000, 70000},
        {65536, 65536, 65536, 65536},
        {3, 199990, 100},
    };
    for (const std::vector<std::streamsize>& plan : plans) {
        TempDevice device;
        device.Write("/boot/big.bin", bytes);
        std::unique_ptr<platform::FileBuffer> in =
            platform::OpenFileBuffer(W("\\boot\\big.bin"), std::ios::in);
        ASSERT_NE(in, nullptr);
        std::string got;
        for (std::streamsize size : plan) {
            std::string piece(static_cast<size_t>(size), '\0');
            piece.resize(static_cast<size_t>(in->sgetn(&piece[0], size)));
            got += piece;
            EXPECT_EQ(in->pubseekoff(0, std::ios::cur, std::ios::in),
                      std::streampos(static_cast<std::streamoff>(got.size())));
        }
        ASSERT_EQ(got.size(), bytes.size()) << "plan starting " << plan.front();
        EXPECT_TRUE(got == bytes) << "plan starting " << plan.front();
    }

    // Reading on after a write in the middle of the file sees the write.
    TempDevice device;
    device.Write("/boot/big.bin", bytes);
    std::unique_ptr<platform::FileBuffer> file =
        platform::OpenFileBuffer(W("\\boot\\big.bin"), std::ios::in | std::ios::out);
    ASSERT_NE(file, nullptr);
    std::string head(10, '\0');
    ASSERT_EQ(file->sgetn(&head[0], 10), 10);
    ASSERT_EQ(file->sputn("XYZ", 3), 3);
    std::string rest(bytes.size(), '\0');
    rest.resize(
        static_cast<size_t>(file->sgetn(&rest[0], static_cast<std::streamsize>(rest.size()))));
    EXPECT_EQ(rest.size(), bytes.size() - 13);
    EXPECT_TRUE(head + "XYZ" + rest == bytes.substr(0, 10) + "XYZ" + bytes.substr(13));
}

}  // namespace
