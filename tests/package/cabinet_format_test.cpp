// The CAB loader stand-in against cabinets written here byte by byte: what the
// cabinet format allows is installed (a data block without a checksum, MSZIP
// blocks that refer back past a short block into the folder's history), what
// it refuses installs nothing; and a member that cannot be written keeps the
// whole cabinet off the device.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "package/process_executor.h"
#include "support/child_process.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using fwtest::TempDevice;
using fwtest::W;
typedef std::vector<uint8_t> Bytes;

Bytes Random(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes data(size);
    for (uint8_t& byte : data)
        byte = uint8_t(random());
    return data;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

void Put16(Bytes& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void Put32(Bytes& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// ---- writing cabinets -----------------------------------------------------

// The format's checksum, written out independently of the loader's.
uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t sum = seed;
    const size_t words = size / 4;
    for (size_t w = 0; w < words; ++w)
        sum ^= uint32_t(data[4 * w]) | uint32_t(data[4 * w + 1]) << 8 |
               uint32_t(data[4 * w + 2]) << 16 | uint32_t(data[4 * w + 3]) << 24;
    const uint8_t* tail = data + 4 * words;
    switch (size % 4) {
        case 3:
            return sum ^ (uint32_t(tail[0]) << 16 | uint32_t(tail[1]) << 8 | tail[2]);
        case 2:
            return sum ^ (uint32_t(tail[0]) << 8 | tail[1]);
        case 1:
            return sum ^ tail[0];
    }
    return sum;
}

enum class Sum { kRight, kNone, kWrong };

struct Block {
    Bytes stored;           // what the block holds (for MSZIP: "CK" and the deflate stream)
    uint32_t uncompressed;  // its cbUncomp
    Sum sum = Sum::kRight;
};

struct Folder {
    uint16_t compression;  // 0 none, 1 MSZIP
    std::vector<Block> blocks;
};

struct File {
    std::string name;
    uint32_t size;
    uint32_t offset;
    uint16_t folder;
};

struct Layout {
    std::vector<Folder> folders;
    std::vector<File> files;
    uint8_t dataReserve = 0;  // with a reserve, the header says so (flag 4)
    int statedSizeDelta = 0;
};

Bytes WriteCabinet(const Layout& cab) {
    const bool reserve = cab.dataReserve != 0;
    const uint32_t header = 36 + (reserve ? 4 : 0);
    const uint32_t filesAt = header + 8 * uint32_t(cab.folders.size());
    Bytes files;
    for (const File& file : cab.files) {
        Put32(files, file.size);
        Put32(files, file.offset);
        Put16(files, file.folder);
        Put16(files, 0x5A21);  // date
        Put16(files, 0);       // time
        Put16(files, 0x20);    // attributes
        files.insert(files.end(), file.name.begin(), file.name.end());
        files.push_back(0);
    }
    uint32_t dataAt = filesAt + uint32_t(files.size());
    Bytes folders;
    Bytes data;
    for (const Folder& folder : cab.folders) {
        Put32(folders, dataAt + uint32_t(data.size()));
        Put16(folders, uint32_t(folder.blocks.size()));
        Put16(folders, folder.compression);
        for (const Block& block : folder.blocks) {
            Bytes sizes;
            Put16(sizes, uint32_t(block.stored.size()));
            Put16(sizes, block.uncompressed);
            uint32_t sum =
                Checksum(sizes.data(), 4, Checksum(block.stored.data(), block.stored.size(), 0));
            if (block.sum == Sum::kNone)
                sum = 0;
            if (block.sum == Sum::kWrong)
                sum ^= 0x100;
            Put32(data, sum);
            data.insert(data.end(), sizes.begin(), sizes.end());
            data.insert(data.end(), cab.dataReserve, 0xAA);
            data.insert(data.end(), block.stored.begin(), block.stored.end());
        }
    }
    Bytes out = {'M', 'S', 'C', 'F'};
    Put32(out, 0);
    Put32(out, dataAt + uint32_t(data.size()) + cab.statedSizeDelta);
    Put32(out, 0);
    Put32(out, filesAt);
    Put32(out, 0);
    out.push_back(3);  // version 1.3
    out.push_back(1);
    Put16(out, uint32_t(cab.folders.size()));
    Put16(out, uint32_t(cab.files.size()));
    Put16(out, reserve ? 4 : 0);
    Put16(out, 0x1234);  // set id
    Put16(out, 0);       // number in the set
    if (reserve) {
        Put16(out, 0);  // header reserve
        out.push_back(0);
        out.push_back(cab.dataReserve);
    }
    return Join({out, folders, files, data});
}

// An MSZIP block of data whose deflate stream may refer back into history
// (the folder's data before it; zlib reaches back up to 32 KiB less 262 bytes).
Block Mszip(const Bytes& data, const Bytes& history = Bytes()) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    if (!history.empty()) {
        const size_t take = std::min<size_t>(history.size(), 32768);
        EXPECT_EQ(deflateSetDictionary(&stream, history.data() + history.size() - take, uInt(take)),
                  Z_OK);
    }
    Bytes out(deflateBound(&stream, uLong(data.size())) + 2);
    out[0] = 'C';
    out[1] = 'K';
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = out.data() + 2;
    stream.avail_out = uInt(out.size() - 2);
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return Block{out, uint32_t(data.size())};
}

Block Stored(const Bytes& data) {
    return Block{data, uint32_t(data.size())};
}

// The data a folder's blocks were made from, and the cabinet's parts.
const Bytes kFirst = Random(20000, 1);
const Bytes kShort(1000, 'x');
const Bytes kRepeat(kFirst.begin(), kFirst.begin() + 16000);  // found only in kFirst
const Bytes kHistory = Join({kFirst, kShort, kRepeat});

// Three MSZIP blocks; the third is kRepeat, coded as references 21000 bytes
// back: past the short second block into the first.
Folder HistoryFolder() {
    return Folder{1,
                  {Mszip(kFirst), Mszip(kShort, kFirst), Mszip(kRepeat, Join({kFirst, kShort}))}};
}

// ---- the loader -----------------------------------------------------------

class CabinetFormat : public testing::Test {
  protected:
    void SetUp() override {
        device_.MakeDir("\\Windows");
        device_.MakeDir("\\UpgradeTemp");
        const fs::path loader = device_.Host("\\Windows\\wceldcmd.exe");
        fs::copy_file(fs::path(FWSETUP_BIN_DIR) / "fwsetup-sim-wceldcmd", loader);
        chmod(loader.c_str(), 0755);
    }

    bool Load(const Bytes& cabinet) {
        device_.WriteBytes("\\UpgradeTemp\\p.cab", cabinet);
        const bool ok = RunProcess(W("\\Windows\\wceldcmd.exe"),
                                   W(" /delete 0 /nouninstall \\UpgradeTemp\\p.cab"), true);
        fs::remove(device_.Host("\\UpgradeTemp\\p.cab"));
        return ok;
    }

    // Every entry below fs/ but the loader and the cabinet's folder: path, and
    // the contents of files.
    std::vector<std::string> DeviceEntries() const {
        std::vector<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(device_.Fs())) {
            const std::string rel = entry.path().lexically_relative(device_.Fs()).generic_string();
            if (rel == "Windows" || rel == "Windows/wceldcmd.exe" || rel == "UpgradeTemp")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            entries.push_back(rel + (entry.is_regular_file()
                                         ? "=" + std::string(std::istreambuf_iterator<char>(in), {})
                                         : "/"));
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    std::string Host(const std::string& devicePath) const { return device_.Read(devicePath); }

    TempDevice device_;
};

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

struct AcceptedCase {
    const char* name;
    Layout layout;
    std::vector<std::pair<std::string, Bytes>> files;  // device path, contents
};

std::vector<AcceptedCase> AcceptedCases() {
    const Bytes hello = {'h', 'e', 'l', 'l', 'o', '\n'};
    std::vector<AcceptedCase> cases;
    {
        Folder folder = HistoryFolder();
        cases.push_back({"HistoryAcrossAShortBlock",
                         {{folder}, {{"boot\\history.bin", uint32_t(kHistory.size()), 0, 0}}},
                         {{"\\boot\\history.bin", kHistory}}});
    }
    {
        Folder folder = HistoryFolder();
        for (Block& block : folder.blocks)
            block.sum = Sum::kNone;
        cases.push_back({"MszipWithoutChecksums",
                         {{folder}, {{"boot\\history.bin", uint32_t(kHistory.size()), 0, 0}}},
                         {{"\\boot\\history.bin", kHistory}}});
    }
    {
        Block block = Stored(hello);
        block.sum = Sum::kNone;
        cases.push_back({"UncompressedWithoutChecksum",
                         {{Folder{0, {block}}}, {{"hello.txt", 6, 0, 0}}},
                         {{"\\hello.txt", hello}}});
    }
    {
        // Two files in one folder, the second across the block boundary; a
        // second folder keeps its own history.
        Folder first = HistoryFolder();
        Folder second{1, {Mszip(kShort)}};
        cases.push_back({"FilesAcrossBlocksAndFolders",
                         {{first, second},
                          {{"a\\one.bin", 20500, 0, 0},
                           {"a\\two.bin", uint32_t(kHistory.size()) - 20500, 20500, 0},
                           {"b.txt", uint32_t(kShort.size()), 0, 1}}},
                         {{"\\a\\one.bin", Bytes(kHistory.begin(), kHistory.begin() + 20500)},
                          {"\\a\\two.bin", Bytes(kHistory.begin() + 20500, kHistory.end())},
                          {"\\b.txt", kShort}}});
    }
    {
        Block block = Stored(hello);
        block.sum = Sum::kNone;
        Layout layout{{Folder{0, {block}}}, {{"r.txt", 6, 0, 0}}};
        layout.dataReserve = 3;
        cases.push_back({"ReservedBytesInDataBlocks", layout, {{"\\r.txt", hello}}});
    }
    return cases;
}

TEST_F(CabinetFormat, WhatTheFormatAllowsIsInstalled) {
    for (const AcceptedCase& c : AcceptedCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Load(WriteCabinet(c.layout)));
        for (const auto& file : c.files)
            EXPECT_EQ(Host(file.first), Text(file.second)) << file.first;
        fs::remove_all(device_.Fs() / "boot");
        for (const char* rest : {"a", "b.txt", "hello.txt", "r.txt"})
            fs::remove_all(device_.Fs() / rest);
    }
}

struct RefusedCase {
    const char* name;
    Layout layout;
};

std::vector<RefusedCase> RefusedCases() {
    const File whole{"boot\\history.bin", uint32_t(kHistory.size()), 0, 0};
    std::vector<RefusedCase> cases;
    {
        Folder folder = HistoryFolder();
        folder.blocks[1].sum = Sum::kWrong;
        cases.push_back({"WrongChecksum", {{folder}, {whole}}});
    }
    {
        Folder folder = HistoryFolder();
        folder.blocks[0].stored[0] = 'X';
        folder.blocks[0].sum = Sum::kNone;
        cases.push_back({"MszipWithoutItsSignature", {{folder}, {whole}}});
    }
    {
        // The third block refers back 21000 bytes, but the folder holds only
        // the short block before it: further back than any history.
        Folder folder{1, {Mszip(kShort, kFirst), HistoryFolder().blocks[2]}};
        cases.push_back({"ReferenceBeforeTheFolderStarts",
                         {{folder}, {{"x.bin", uint32_t(kShort.size() + kRepeat.size()), 0, 0}}}});
    }
    {
        Folder folder = HistoryFolder();
        folder.blocks[2].uncompressed += 1;
        cases.push_back({"BlockShorterThanItsSize", {{folder}, {whole}}});
    }
    {
        Folder folder = HistoryFolder();
        folder.blocks[2].uncompressed = 0;  // continues in the next cabinet
        cases.push_back({"BlockContinuedElsewhere", {{folder}, {whole}}});
    }
    {
        File tooLong = whole;
        tooLong.size += 1;
        cases.push_back({"FileBeyondItsFolder", {{HistoryFolder()}, {tooLong}}});
    }
    {
        File continued = whole;
        continued.folder = 0xFFFD;  // continued from the previous cabinet
        cases.push_back({"FileFromAnotherCabinet", {{HistoryFolder()}, {continued}}});
    }
    {
        File noFolder = whole;
        noFolder.folder = 1;
        cases.push_back({"FileInAFolderThatIsNotThere", {{HistoryFolder()}, {noFolder}}});
    }
    {
        Layout layout{{HistoryFolder()}, {whole}};
        layout.statedSizeDelta = 1;
        cases.push_back({"StatedSizeIsNotTheFilesSize", layout});
    }
    {
        Folder folder{0, {Stored(kShort)}};
        folder.blocks[0].uncompressed = 999;
        cases.push_back({"UncompressedBlockWithDifferentSizes", {{folder}, {{"x", 999, 0, 0}}}});
    }
    return cases;
}

TEST_F(CabinetFormat, WhatTheFormatRefusesInstallsNothing) {
    for (const RefusedCase& c : RefusedCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Load(WriteCabinet(c.layout)));
        EXPECT_EQ(DeviceEntries(), std::vector<std::string>());
    }
    // Cut anywhere in its tables, a cabinet is refused too.
    const Bytes good = WriteCabinet({{HistoryFolder()}, {{"boot\\h.bin", 100, 0, 0}}});
    for (size_t cut : {size_t(20), size_t(40), size_t(50), good.size() - 1}) {
        SCOPED_TRACE(cut);
        Bytes bad(good.begin(), good.begin() + cut);
        EXPECT_FALSE(Load(bad));
        EXPECT_EQ(DeviceEntries(), std::vector<std::string>());
    }
}

// A volume that fills up while the members are written (a file size limit,
// which binds root too): not one member arrives, no part of one is left, and
// the folders made for them are gone again.
TEST_F(CabinetFormat, AMemberThatCannotBeWrittenKeepsTheWholeCabinetOff) {
    device_.Write("\\boot\\first.txt", "old first");
    const Bytes big = Random(64 * 1024, 7);
    Folder folder{0,
                  {Stored(Bytes{'n', 'e', 'w'}), Stored(Bytes(big.begin(), big.begin() + 32768)),
                   Stored(Bytes(big.begin() + 32768, big.end()))}};
    const Bytes cabinet = WriteCabinet(
        {{folder},
         {{"boot\\first.txt", 3, 0, 0}, {"new\\deeper\\big.bin", uint32_t(big.size()), 3, 0}}});
    device_.WriteBytes("\\UpgradeTemp\\p.cab", cabinet);
    const fwtest::ChildOutcome outcome = fwtest::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {16 * 1024, 16 * 1024};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        EXPECT_FALSE(RunProcess(W("\\Windows\\wceldcmd.exe"),
                                W(" /delete 0 /nouninstall \\UpgradeTemp\\p.cab"), true));
    });
    EXPECT_TRUE(outcome.Passed()) << outcome.Describe();
    fs::remove(device_.Host("\\UpgradeTemp\\p.cab"));
    EXPECT_EQ(DeviceEntries(), (std::vector<std::string>{"boot/", "boot/first.txt=old first"}));
}

}  // namespace
