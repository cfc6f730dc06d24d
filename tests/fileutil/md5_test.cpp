// Digests, sidecars and the file-type test over files of a temporary device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileutil/file_type.h"
#include "fileutil/md5.h"
#include "platform/crypto.h"
#include "support/temp_device.h"

using fwtest::W;

namespace {

// Well-known digests of RFC 1321's test suite.
const char kMd5Empty[] = "d41d8cd98f00b204e9800998ecf8427e";
const char kMd5Abc[] = "900150983cd24fb0d6963f7d28e17f72";
const char kMd5Digits[] = "57edf4a22be3c955ac49da2e2107b67a";  // "1234567890" x 8

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = char((i * 7 + 3) & 0xFF);
    return data;
}

// The digest of data through the platform's service in one piece, independent
// of ComputeMd5's chunking.
std::string OneShotMd5(const std::string& data) {
    platform::CryptProviderHandle provider = nullptr;
    platform::CryptHashHandle hash = nullptr;
    EXPECT_TRUE(platform::CryptAcquireContext(provider, nullptr, nullptr, platform::kProvRsaFull,
                                              platform::kCryptVerifyContext));
    EXPECT_TRUE(platform::CryptCreateHash(provider, platform::kCalgMd5, hash));
    EXPECT_TRUE(platform::CryptHashData(hash, reinterpret_cast<const uint8_t*>(data.data()),
                                        uint32_t(data.size())));
    uint8_t digest[16];
    uint32_t size = sizeof(digest);
    EXPECT_TRUE(platform::CryptGetHashParam(hash, platform::kHpHashVal, digest, size));
    EXPECT_TRUE(platform::CryptDestroyHash(hash));
    EXPECT_TRUE(platform::CryptReleaseContext(provider, 0));
    std::string text;
    const char* digits = "0123456789abcdef";
    for (uint8_t b : digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

TEST(PlatformCryptoTest, KnownDigestsAndRefusedParameters) {
    EXPECT_EQ(OneShotMd5(""), kMd5Empty);
    EXPECT_EQ(OneShotMd5("abc"), kMd5Abc);

    platform::CryptProviderHandle provider = nullptr;
    EXPECT_FALSE(platform::CryptAcquireContext(provider, nullptr, nullptr, 24,
                                               platform::kCryptVerifyContext));
    EXPECT_FALSE(
        platform::CryptAcquireContext(provider, nullptr, nullptr, platform::kProvRsaFull, 0));
    ASSERT_TRUE(platform::CryptAcquireContext(provider, nullptr, nullptr, platform::kProvRsaFull,
                                              platform::kCryptVerifyContext));
    platform::CryptHashHandle hash = nullptr;
    EXPECT_FALSE(platform::CryptCreateHash(provider, 0x8004 /* SHA-1 */, hash));
    ASSERT_TRUE(platform::CryptCreateHash(provider, platform::kCalgMd5, hash));
    // The hash object outlives its context; a short buffer is refused with the size needed.
    EXPECT_TRUE(platform::CryptReleaseContext(provider, 0));
    uint8_t digest[16];
    uint32_t size = 8;
    EXPECT_FALSE(platform::CryptGetHashParam(hash, platform::kHpHashVal, digest, size));
    EXPECT_EQ(size, 16u);
    size = 16;
    EXPECT_TRUE(platform::CryptGetHashParam(hash, platform::kHpHashVal, digest, size));
    // Once the value was read no more data is taken.
    const uint8_t more = 1;
    EXPECT_FALSE(platform::CryptHashData(hash, &more, 1));
    EXPECT_TRUE(platform::CryptDestroyHash(hash));
}

// ComputeMd5 calls the reader once per chunk with these sizes.
TEST(ComputeMd5Test, ChunksOf1024WithTheRemainderLast) {
    struct Case {
        uint32_t length;
        std::vector<uint32_t> chunks;
    };
    const Case cases[] = {
        {0, {}},
        {1, {1}},
        {1023, {1023}},
        {1024, {1024}},
        {1025, {1024, 1}},
        {2048, {1024, 1024}},
        {3000, {1024, 1024, 952}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string data = Pattern(c.length);
        std::vector<uint32_t> seen;
        size_t offset = 0;
        bool zeroFilled = true;
        const NString digest = ComputeMd5(
            [&](uint8_t*& buffer, uint32_t& size) {
                for (uint32_t i = 0; i < size; ++i)
                    zeroFilled = zeroFilled && buffer[i] == 0;
                seen.push_back(size);
                std::copy(data.begin() + offset, data.begin() + offset + size, buffer);
                offset += size;
            },
            c.length);
        EXPECT_EQ(seen, c.chunks);
        EXPECT_TRUE(zeroFilled);
        EXPECT_EQ(digest, OneShotMd5(data));
    }
}

TEST(ComputeMd5Test, BytesTheReaderLeavesAreHashedAsZeros) {
    // A reader that fills only the first 10 bytes of each chunk.
    const NString digest = ComputeMd5(
        [](uint8_t*& buffer, uint32_t&) {
            for (int i = 0; i < 10; ++i)
                buffer[i] = 0xAB;
        },
        1500);
    std::string expected(1500, '\0');
    for (int i = 0; i < 10; ++i)
        expected[i] = char(0xAB), expected[1024 + i] = char(0xAB);
    EXPECT_EQ(digest, OneShotMd5(expected));
}

TEST(FileMd5Test, DigestsOfFilesAroundTheChunkSize) {
    fwtest::TempDevice device;
    const size_t sizes[] = {0, 1, 1023, 1024, 1025, 4096, 70000};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string data = Pattern(size);
        device.Write("\\store\\data.bin", data);
        EXPECT_EQ(FileMd5(W("\\store\\data.bin")), OneShotMd5(data));
    }
    device.Write("\\store\\abc.txt", "abc");
    EXPECT_EQ(FileMd5(W("\\STORE\\ABC.TXT")), kMd5Abc);
    device.Write("\\store\\empty", "");
    EXPECT_EQ(FileMd5(W("\\store\\empty")), kMd5Empty);
    EXPECT_EQ(FileMd5(W("\\store\\missing")), "");
    device.MakeDir("\\store\\folder");
    EXPECT_EQ(FileMd5(W("\\store\\folder")), "");
}

TEST(VerifyDigestTest, ComparesWithoutRegardToCase) {
    fwtest::TempDevice device;
    std::string digits;
    for (int i = 0; i < 8; ++i)
        digits += "1234567890";
    device.Write("\\store\\d", digits);
    const WString path = W("\\store\\d");

    struct Case {
        std::string expected;
        bool match;
    };
    const Case cases[] = {
        {kMd5Digits, true},
        {"57EDF4A22BE3C955AC49DA2E2107B67A", true},
        {"57EDf4a22be3c955AC49da2e2107b67a", true},
        {"57edf4a22be3c955ac49da2e2107b67b", false},
        {"57edf4a22be3c955ac49da2e2107b67", false},
        {std::string(kMd5Digits) + " ", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(VerifyDigest(path, c.expected), c.match);
    }
    // No file has no digest: it equals only the empty expectation.
    EXPECT_TRUE(VerifyDigest(W("\\store\\missing"), ""));
    EXPECT_FALSE(VerifyDigest(W("\\store\\missing"), kMd5Empty));
}

TEST(VerifyWithSidecarTest, SidecarLayouts) {
    fwtest::TempDevice device;
    device.Write("\\store\\abc.txt", "abc");
    const std::string d = kMd5Abc;
    std::string upper = d;
    for (char& c : upper)
        c = char(toupper(c));

    struct Case {
        const char* name;
        std::string sidecar;
        bool match;
    };
    const Case cases[] = {
        {"digest alone", d, true},
        {"digest and line feed", d + "\n", true},
        {"upper case", upper + "\n", true},
        {"digest, two spaces, file name", d + "  abc.txt\n", true},
        {"digest, space, star, file name", d + " *abc.txt\n", true},
        {"comment lines first", "// made by the packer\n/x\n" + d + "\n", true},
        {"only the first non-comment line counts", d + "0\n" + d + "\n", false},
        {"line after the digest ignored", d + "\ngarbage\n", true},
        {"carriage return without a space", d + "\r\n", false},
        {"carriage return after a file name", d + "  abc.txt\r\n", true},
        {"empty sidecar", "", false},
        {"only comments", "/a\n/b\n", false},
        {"empty first line", "\n" + d + "\n", false},
        {"leading space", " " + d + "\n", false},
        {"wrong digest", std::string(kMd5Empty) + "\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device.Write("\\store\\abc.txt.MD5", c.sidecar);
        EXPECT_EQ(VerifyWithSidecar(W("\\store\\abc.txt"), W("\\store\\abc.txt.MD5")), c.match);
    }
}

TEST(VerifyWithSidecarTest, MissingFilesAndSidecars) {
    fwtest::TempDevice device;
    device.Write("\\store\\abc.txt", "abc");
    // An existing file needs a sidecar holding its digest.
    EXPECT_FALSE(VerifyWithSidecar(W("\\store\\abc.txt"), W("\\store\\none.MD5")));
    // Neither file nor sidecar: both digests are empty, which callers must rule
    // out by testing that the file exists.
    EXPECT_TRUE(VerifyWithSidecar(W("\\store\\none"), W("\\store\\none.MD5")));
    device.Write("\\store\\none.MD5", std::string(kMd5Empty) + "\n");
    EXPECT_FALSE(VerifyWithSidecar(W("\\store\\none"), W("\\store\\none.MD5")));
}

TEST(FileTypeTest, Headers) {
    fwtest::TempDevice device;
    struct Case {
        const char* name;
        std::string bytes;
        const char16_t* type;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"cabinet", "MSCF\0\0\0\0\x20\0"s, u"cab"},
        {"cabinet with more", "MSCF\0abcdefghijk"s, u"cab"},
        {"cabinet, fifth byte not zero", "MSCF\x01\0\0\0\0\0"s, u""},
        {"B image", "B000FF\n\0\0\x20\x80\0"s, u"bin"},
        {"S image", "S000FF\n\0\0\x20"s, u"bin"},
        {"image start's lowest byte not zero", "B000FF\n\x01\0\x20"s, u""},
        {"image without line feed", "B000FF\r\0\0\x20"s, u""},
        {"lower-case signature", "b000ff\n\0\0\x20"s, u""},
        {"nine bytes of a cabinet", "MSCF\0\0\0\0\0"s, u""},
        {"nine bytes of an image", "B000FF\n\0\0"s, u""},
        {"empty", ""s, u""},
        {"text", "hello world"s, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device.Write("\\boot\\f", c.bytes);
        EXPECT_EQ(GetFileType(W("\\boot\\f")), WString(c.type));
    }
    EXPECT_EQ(GetFileType(W("\\boot\\missing")), u"");
}

TEST(FileTypeTest, IsFileOfTypeIgnoresCase) {
    fwtest::TempDevice device;
    using namespace std::string_literals;
    device.Write("\\boot\\nk.bin", "B000FF\n\0\0\x20\x80"s);
    device.Write("\\boot\\x.cab", "MSCF\0\0\0\0\0\0"s);
    EXPECT_TRUE(IsFileOfType(W("\\boot\\nk.bin"), u"bin"));
    EXPECT_TRUE(IsFileOfType(W("\\boot\\nk.bin"), u"BIN"));
    EXPECT_FALSE(IsFileOfType(W("\\boot\\nk.bin"), u"cab"));
    EXPECT_TRUE(IsFileOfType(W("\\boot\\x.cab"), u"Cab"));
    EXPECT_FALSE(IsFileOfType(W("\\boot\\x.cab"), u"bin"));
    // A file of no type matches only the empty type.
    EXPECT_FALSE(IsFileOfType(W("\\boot\\missing"), u"bin"));
    EXPECT_TRUE(IsFileOfType(W("\\boot\\missing"), u""));
}

}  // namespace
