// DecompressLz4File: linked blocks, and every kind of damaged payload ending the
// decoding cleanly with the blocks before the damage kept.
#include <gtest/gtest.h>
#include <lz4.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "package/lz4_decompressor.h"
#include "support/temp_device.h"

namespace {

using fwtest::TempDevice;
using fwtest::W;

typedef std::vector<uint8_t> Bytes;

void AppendLength(Bytes& out, int32_t length) {
    const uint32_t value = static_cast<uint32_t>(length);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A payload made with the LZ4 library directly: 8192-byte blocks from two input
// buffers kept apart, so that each block may refer back into the one before.
// blockSizes receives each block's compressed length.
Bytes MakeLinkedPayload(const Bytes& data, std::vector<int>* blockSizes = nullptr) {
    LZ4_stream_t* stream = LZ4_createStream();
    std::vector<char> input(2 * 8192 + 1);
    char* buffers[2] = {&input[0], &input[8192 + 1]};
    Bytes out;
    int current = 0;
    for (size_t at = 0; at < data.size(); at += 8192) {
        const int n = static_cast<int>(std::min<size_t>(8192, data.size() - at));
        std::copy(data.begin() + at, data.begin() + at + n, buffers[current]);
        char compressed[LZ4_COMPRESSBOUND(8192)];
        const int size = LZ4_compress_fast_continue(stream, buffers[current], compressed, n,
                                                    sizeof(compressed), 1);
        EXPECT_GT(size, 0);
        EXPECT_LE(size, kLz4MaxCompressedBlockSize);
        AppendLength(out, size);
        out.insert(out.end(), compressed, compressed + size);
        if (blockSizes)
            blockSizes->push_back(size);
        current = 1 - current;
    }
    LZ4_freeStream(stream);
    return out;
}

// Random bytes, which LZ4 cannot shrink on their own.
Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

// Blocks whose first half repeats the second half of the block before and
// whose second half is fresh random bytes: every block after the first refers
// back into its predecessor for half of its bytes.
Bytes RepeatingBlocks(int blocks, size_t lastBlock = 8192) {
    Bytes data;
    Bytes fresh = RandomBytes(4096, 7);
    for (int i = 0; i < blocks; ++i) {
        Bytes block = fresh;
        fresh = RandomBytes(4096, 100 + static_cast<uint32_t>(i));
        block.insert(block.end(), fresh.begin(), fresh.end());
        data.insert(data.end(), block.begin(),
                    block.begin() + (i + 1 == blocks ? lastBlock : 8192));
    }
    return data;
}

Bytes Prefix(const Bytes& data, size_t size) {
    return Bytes(data.begin(), data.begin() + size);
}

class Lz4Decompressor : public testing::Test {
  protected:
    // Writes the payload, decodes it with deleteSource true and returns the output.
    Bytes Decode(const Bytes& payload, bool* result = nullptr) {
        device_.WriteBytes("\\UpgradeTemp\\p.lz4", payload);
        const bool ok =
            DecompressLz4File(W("\\UpgradeTemp\\p.lz4"), W("\\UpgradeTemp\\p.Cab"), true);
        if (result)
            *result = ok;
        EXPECT_TRUE(ok);
        EXPECT_FALSE(device_.Exists("\\UpgradeTemp\\p.lz4"));
        EXPECT_TRUE(device_.Exists("\\UpgradeTemp\\p.Cab"));
        const std::string text = device_.Read("\\UpgradeTemp\\p.Cab");
        return Bytes(text.begin(), text.end());
    }

    TempDevice device_;
};

TEST_F(Lz4Decompressor, LinkedBlocksReferringToThePreviousBlockDecode) {
    const Bytes data = RepeatingBlocks(5, 1000);
    std::vector<int> sizes;
    const Bytes payload = MakeLinkedPayload(data, &sizes);
    ASSERT_EQ(sizes.size(), 5u);
    // The first block is incompressible; the later ones shrink to about half
    // only by referring back into their predecessor, in either output buffer.
    EXPECT_GT(sizes[0], 8192);
    for (size_t i = 1; i + 1 < sizes.size(); ++i)
        EXPECT_LT(sizes[i], 4400) << "block " << i;
    EXPECT_EQ(Decode(payload), data);
}

TEST_F(Lz4Decompressor, BlockBoundarySizesRoundTrip) {
    for (size_t size :
         {size_t(1), size_t(8191), size_t(8192), size_t(8193), size_t(3 * 8192 + 5)}) {
        SCOPED_TRACE(size);
        Bytes data = RandomBytes(size, static_cast<uint32_t>(size));
        for (size_t i = 0; i < size / 2; ++i)
            data[i] = static_cast<uint8_t>(i % 13);
        EXPECT_EQ(Decode(MakeLinkedPayload(data)), data);
    }
}

// A good payload of three blocks followed by a damaged tail: decoding stops at
// the damage and keeps the three blocks.
struct DamageCase {
    const char* name;
    Bytes tail;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes Length(int32_t length) {
    Bytes out;
    AppendLength(out, length);
    return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A block whose first sequence copies from 65535 bytes back, far beyond any
// decoded data: LZ4 refuses it.
const Bytes kBadOffsetBlock = {0x1F, 'a', 0xFF, 0xFF, 0x00};

class Lz4DamagedPayload : public Lz4Decompressor, public testing::WithParamInterface<DamageCase> {};

TEST_P(Lz4DamagedPayload, KeepsTheBlocksBeforeTheDamage) {
    const Bytes data = RepeatingBlocks(3);
    const Bytes payload = Concat(MakeLinkedPayload(data), GetParam().tail);
    EXPECT_EQ(Decode(payload), data);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, Lz4DamagedPayload,
    testing::Values(DamageCase{"nothing", {}}, DamageCase{"one stray byte", {0x01}},
                    DamageCase{"three stray bytes", {0x10, 0x00, 0x00}},
                    DamageCase{"zero length", Concat(Length(0), Bytes(16, 0x11))},
                    DamageCase{"negative length", Concat(Length(-5), Bytes(16, 0x11))},
                    DamageCase{"most negative length", Concat(Length(INT32_MIN), Bytes(16, 0x11))},
                    // Larger than the input buffer: never read, even when the bytes are there.
                    DamageCase{"length 8241", Concat(Length(8241), Bytes(8241, 0))},
                    DamageCase{"length 0x7FFFFFFF", Concat(Length(0x7FFFFFFF), Bytes(64, 0))},
                    DamageCase{"block cut short", Concat(Length(100), Bytes(99, 0))},
                    DamageCase{"largest block, corrupt", Concat(Length(8240), Bytes(8240, 0xFF))},
                    DamageCase{"offset beyond the history",
                               Concat(Length(static_cast<int32_t>(kBadOffsetBlock.size())),
                                      kBadOffsetBlock)},
                    DamageCase{"good block after a zero length",
                               Concat(Length(0), Concat(Length(5), {0x40, 'a', 'b', 'c', 'd'}))}),
    [](const testing::TestParamInfo<DamageCase>& info) {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            name += std::isalnum(*c) ? *c : '_';
        return name;
    });

TEST_F(Lz4Decompressor, CorruptSecondBlockKeepsOnlyTheFirst) {
    const Bytes data = RepeatingBlocks(3);
    std::vector<int> sizes;
    Bytes payload = MakeLinkedPayload(data, &sizes);
    // Replace block 2 with a block that refers far beyond the decoded data.
    const size_t second = 4 + static_cast<size_t>(sizes[0]);
    payload.resize(second);
    payload = Concat(Concat(payload, Length(static_cast<int32_t>(kBadOffsetBlock.size()))),
                     kBadOffsetBlock);
    EXPECT_EQ(Decode(payload), Prefix(data, 8192));
}

TEST_F(Lz4Decompressor, EmptyPayloadGivesAnEmptyFile) {
    EXPECT_TRUE(Decode(Bytes()).empty());
}

TEST_F(Lz4Decompressor, LengthFieldCutShortInTheFirstBlock) {
    EXPECT_TRUE(Decode(Bytes{0x20, 0x00}).empty());
}

TEST_F(Lz4Decompressor, RandomBytesEndCleanly) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        Bytes payload = RandomBytes(64 + seed * 97, seed);
        // Plausible lengths now and then, so that some blocks reach the decoder.
        if (seed % 2 == 0) {
            const Bytes length = Length(static_cast<int32_t>(payload.size() - 4));
            std::copy(length.begin(), length.end(), payload.begin());
        }
        const Bytes out = Decode(payload);
        EXPECT_LE(out.size(), 8192u * (payload.size() / 5 + 1));
    }
}

TEST_F(Lz4Decompressor, ExistingDestinationIsReplaced) {
    device_.Write("\\UpgradeTemp\\p.Cab", std::string(100000, 'o'));
    const Bytes data = RandomBytes(300, 3);
    EXPECT_EQ(Decode(MakeLinkedPayload(data)), data);
}

TEST_F(Lz4Decompressor, MissingSourceLeavesAnEmptyDestination) {
    device_.Write("\\UpgradeTemp\\p.Cab", "old");
    EXPECT_FALSE(DecompressLz4File(W("\\UpgradeTemp\\p.lz4"), W("\\UpgradeTemp\\p.Cab"), true));
    EXPECT_TRUE(device_.Exists("\\UpgradeTemp\\p.Cab"));
    EXPECT_EQ(device_.Read("\\UpgradeTemp\\p.Cab"), "");
}

TEST_F(Lz4Decompressor, DestinationThatCannotBeCreatedKeepsTheSource) {
    const Bytes payload = MakeLinkedPayload(RandomBytes(10, 1));
    device_.WriteBytes("\\UpgradeTemp\\p.lz4", payload);
    EXPECT_FALSE(DecompressLz4File(W("\\UpgradeTemp\\p.lz4"), W("\\nowhere\\p.Cab"), true));
    EXPECT_TRUE(device_.Exists("\\UpgradeTemp\\p.lz4"));
    EXPECT_FALSE(device_.Exists("\\nowhere"));
}

TEST_F(Lz4Decompressor, SourceStaysWhenNotToBeDeleted) {
    const Bytes data = RandomBytes(5000, 2);
    device_.WriteBytes("\\p.lz4", MakeLinkedPayload(data));
    EXPECT_TRUE(DecompressLz4File(W("\\P.LZ4"), W("\\out.bin"), false));
    EXPECT_TRUE(device_.Exists("\\p.lz4"));
    const std::string out = device_.Read("\\out.bin");
    EXPECT_EQ(Bytes(out.begin(), out.end()), data);
}

}  // namespace
