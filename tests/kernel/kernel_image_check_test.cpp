// The kernel image checks: structure (signature, range, records, checksums) and
// signature (the "ECEC" marker and the file type), on files of a temporary device.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernel/image_builder.h"
#include "kernel/kernel_image_check.h"
#include "kernel/wec_kernel_binary.h"
#include "package/file_stream.h"
#include "support/temp_device.h"

using fwtest::W;
using namespace kerneltest;

namespace {

const char kImage[] = "\\boot\\nk.bin";

KernelImageCheck Structure(const std::string& devicePath) {
    FileStream stream(W(devicePath), StreamMode::Read);
    KernelImageCheck check;
    CheckKernelImageStructure(stream, check);
    return check;
}

bool IsValid(const std::string& devicePath) {
    WecKernelBinary kernel;
    return kernel.IsValidImage(W(devicePath));
}

struct ImageCase {
    const char* name;
    std::function<std::string()> bytes;
    KernelImageFault structureFault;  // what the structure check finds
    uint32_t faultRecord;             // the record it names (record faults only)
    bool valid;                       // IsValidImage
};

void PrintTo(const ImageCase& c, std::ostream* out) {
    *out << c.name;
}

std::string WithImage(const std::function<void(TestImage&)>& change) {
    TestImage image;
    change(image);
    return image.Bytes();
}

class KernelImageCheckTest : public ::testing::TestWithParam<ImageCase> {
  protected:
    fwtest::TempDevice device_;
};

TEST_P(KernelImageCheckTest, Verdict) {
    const ImageCase& c = GetParam();
    device_.Write(kImage, c.bytes());
    const KernelImageCheck check = Structure(kImage);
    EXPECT_EQ(check.fault, c.structureFault) << KernelImageFaultText(check.fault);
    if (c.structureFault == kKernelImageRecordHeaderShort ||
        c.structureFault == kKernelImageRecordDataShort ||
        c.structureFault == kKernelImageChecksumMismatch) {
        EXPECT_EQ(check.recordIndex, c.faultRecord);
    }
    EXPECT_EQ(IsValid(kImage), c.valid);
}

const ImageCase kImageCases[] = {
    {"B_image", [] { return TestImage().Bytes(); }, kKernelImageValid, 0, true},
    {"S_image", [] { return WithImage([](TestImage& i) { i.signature = "S000FF\n"; }); },
     kKernelImageValid, 0, true},
    {"signature_X", [] { return WithImage([](TestImage& i) { i.signature = "X000FF\n"; }); },
     kKernelImageSignatureWrong, 0, false},
    {"signature_without_line_feed",
     [] { return WithImage([](TestImage& i) { i.signature = "B000FF\r"; }); },
     kKernelImageSignatureWrong, 0, false},
    {"signature_lower_case",
     [] { return WithImage([](TestImage& i) { i.signature = "b000ff\n"; }); },
     kKernelImageSignatureWrong, 0, false},
    {"six_bytes", [] { return std::string("B000FF"); }, kKernelImageSignatureShort, 0, false},
    {"empty_file", [] { return std::string(); }, kKernelImageSignatureShort, 0, false},
    {"header_cut", [] { return std::string("B000FF\n\0\0\x20\x80\0\0", 13); },
     kKernelImageHeaderShort, 0, false},
    // The end record's length field is not looked at.
    {"end_record_with_length",
     [] { return WithImage([](TestImage& i) { i.endLength = 0xFFFFFFFF; }); }, kKernelImageValid, 0,
     true},
    {"no_end_record", [] { return WithImage([](TestImage& i) { i.endRecord = false; }); },
     kKernelImageRecordHeaderShort, 2, false},
    {"end_record_cut", [] { return TestImage().Bytes().substr(0, TestImage().Bytes().size() - 4); },
     kKernelImageRecordHeaderShort, 2, false},
    // An address of 0 alone does not end the list, nor a checksum of 0 alone.
    {"data_record_at_address_0",
     [] { return WithImage([](TestImage& i) {
              i.records.push_back({0, "abc"});
          }); },
     kKernelImageValid, 0, true},
    {"zero_sum_record_at_nonzero_address",
     [] {
         return WithImage([](TestImage& i) {
             i.records.push_back({i.start + 0x200, std::string(8, '\0')});
         });
     },
     kKernelImageValid, 0, true},
    // Address 0 with checksum 0 ends the list, whatever follows.
    {"zero_record_at_address_0_ends_the_list",
     [] {
         TestImage image;
         image.records.push_back({0, std::string(4, '\0')});
         image.records.push_back({image.start, "never read", true, 12345});
         return image.Bytes();
     },
     kKernelImageValid, 0, true},
    {"checksum_field_off_by_one",
     [] {
         return WithImage([](TestImage& i) {
             i.records[1].overrideChecksum = true;
             i.records[1].checksum = Sum(i.records[1].data) + 1;
         });
     },
     kKernelImageChecksumMismatch, 1, false},
    {"one_wrong_data_byte_in_record_0",
     [] {
         std::string bytes = TestImage().Bytes();
         bytes[27 + 40] ^= 0x01;  // record 0's data starts at offset 27
         return bytes;
     },
     kKernelImageChecksumMismatch, 0, false},
    {"swapped_bytes_keep_the_sum",
     [] {
         std::string bytes = TestImage().Bytes();
         std::swap(bytes[27 + 30], bytes[27 + 31]);
         return bytes;
     },
     kKernelImageValid, 0, true},
    {"record_length_past_the_end",
     [] {
         std::string bytes = WithImage([](TestImage& i) { i.endRecord = false; });
         const size_t lengthField = bytes.size() - 11 - 8;  // last record: "kernel code"
         bytes.replace(lengthField, 4, Le32(12));
         return bytes;
     },
     kKernelImageRecordDataShort, 1, false},
    {"huge_record_length",
     [] {
         return WithImage([](TestImage& i) {
                    i.records.push_back({i.start + 0x300, "x", true, 0});
                })
             .replace(27 + 64 + 12 + 11 + 4, 4, Le32(0xFFFFFFF0));
     },
     kKernelImageRecordDataShort, 2, false},
    {"start_plus_length_overflows",
     [] {
         return WithImage([](TestImage& i) {
             i.start = 0xFFFFFFF0;
             i.length = 0x20;
         });
     },
     kKernelImageRangeOverflow, 0, false},
    {"start_plus_length_exactly_4_GiB",
     [] {
         return WithImage([](TestImage& i) {
             i.start = 0xFFFFFF00;
             i.length = 0x100;
         });
     },
     kKernelImageRangeOverflow, 0, false},
    {"start_plus_length_just_fits",
     [] {
         return WithImage([](TestImage& i) {
             i.start = 0xFFFFFF00;
             i.length = 0xFF;
         });
     },
     kKernelImageValid, 0, true},
    // The signature check: structure passes, the marker or the type does not.
    {"marker_missing",
     [] { return WithImage([](TestImage& i) { i.records[0].data.replace(16, 4, "ECED"); }); },
     kKernelImageValid, 0, false},
    {"marker_one_byte_early",
     [] {
         return WithImage([](TestImage& i) {
             i.records[0].data.replace(16, 4, "xxxx");
             i.records[0].data.replace(15, 4, "ECEC");
         });
     },
     kKernelImageValid, 0, false},
    // Nothing but the end record: the structure holds, bytes 43..46 do not exist.
    {"end_record_only",
     [] {
         TestImage image;
         image.records.clear();
         return image.Bytes();
     },
     kKernelImageValid, 0, false},
    {"start_lowest_byte_not_zero",
     [] {
         return WithImage([](TestImage& i) {
             i.start = 0x80200001;
             i.records[0].address = i.start;
         });
     },
     kKernelImageValid, 0, false},
};

INSTANTIATE_TEST_SUITE_P(Images, KernelImageCheckTest, ::testing::ValuesIn(kImageCases),
                         [](const ::testing::TestParamInfo<ImageCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(KernelImageCutTest, EveryCutOfAValidImageIsRefused) {
    fwtest::TempDevice device;
    TestImage image;
    image.endLength = 0x12345678;
    const std::string bytes = image.Bytes();
    device.Write(kImage, bytes);
    ASSERT_TRUE(IsValid(kImage));
    for (size_t size = 0; size < bytes.size(); ++size) {
        SCOPED_TRACE(size);
        device.Write(kImage, bytes.substr(0, size));
        EXPECT_FALSE(IsValid(kImage));
    }
}

TEST(KernelImageCheckFileTest, MissingFileAndFolder) {
    fwtest::TempDevice device;
    EXPECT_FALSE(IsValid(kImage));
    device.MakeDir(kImage);
    EXPECT_FALSE(IsValid(kImage));
}

TEST(KernelImageCheckFileTest, RandomBytesAreRefused) {
    fwtest::TempDevice device;
    std::mt19937 random(20240611);
    for (int round = 0; round < 300; ++round) {
        const size_t size = random() % 400;
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = char(random());
        // Half of them get a good signature and a sane range, so the records are exercised.
        if (round % 2 == 0 && size >= 15) {
            bytes.replace(0, 15, "B000FF\n" + Le32(0x80000000) + Le32(0x100000));
        }
        SCOPED_TRACE(round);
        device.Write(kImage, bytes);
        EXPECT_FALSE(IsValid(kImage));
    }
}

TEST(KernelImageCheckFileTest, RecordsLongerThanTheWorkingBufferAreSummedPieceByPiece) {
    fwtest::TempDevice device;
    TestImage image;
    image.length = 0x300000;
    std::string big(kKernelImageWorkingBufferSize * 2 + 5, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char((i * 31 + 7) & 0xFF);
    image.records.push_back({image.start + 0x1000, big});
    std::string bytes = image.Bytes();
    device.Write(kImage, bytes);
    EXPECT_TRUE(IsValid(kImage));

    // One wrong byte in the last piece (5 bytes long) or in the middle one.
    const size_t bigData = bytes.size() - 12 - big.size();
    for (size_t at : {big.size() - 1, size_t(kKernelImageWorkingBufferSize) + 17}) {
        SCOPED_TRACE(at);
        std::string bad = bytes;
        bad[bigData + at] ^= 0x40;
        std::string badBig = big;
        badBig[at] ^= 0x40;
        device.Write(kImage, bad);
        EXPECT_FALSE(IsValid(kImage));
        const KernelImageCheck check = Structure(kImage);
        EXPECT_EQ(check.fault, kKernelImageChecksumMismatch);
        EXPECT_EQ(check.recordIndex, 2u);
        EXPECT_EQ(check.recordChecksum, Sum(big));
        EXPECT_EQ(check.recordSum, Sum(badBig));
    }
}

TEST(KernelImageCheckFileTest, ChecksumsWrapAt32Bits) {
    fwtest::TempDevice device;
    TestImage image;
    image.length = 0x2000000;
    const std::string ones(17 * kKernelImageWorkingBufferSize, '\xFF');  // sums past 2^32
    image.records.push_back({image.start + 0x1000, ones});
    ASSERT_LT(Sum(ones), uint64_t(ones.size()) * 0xFF);
    device.Write(kImage, image.Bytes());
    EXPECT_TRUE(IsValid(kImage));
}

TEST(SumKernelImageBytesTest, MatchesAPlainSumAtEveryLengthAndAlignment) {
    std::mt19937 random(7);
    std::vector<uint8_t> data(4096 + 16);
    for (uint8_t& b : data)
        b = uint8_t(random());
    // All 0xFF: the largest lane values, over the whole working buffer.
    std::vector<uint8_t> full(kKernelImageWorkingBufferSize, 0xFF);
    const struct {
        const char* name;
        uint32_t (*sum)(const uint8_t*, uint32_t);
    } sums[] = {{"vector", SumKernelImageBytes}, {"portable", SumKernelImageBytesPortable}};
    for (const auto& s : sums) {
        SCOPED_TRACE(s.name);
        for (size_t offset = 0; offset < 8; ++offset) {
            for (size_t size = 0; size <= 2100; size += (size < 40 ? 1 : 37)) {
                uint32_t expected = 0;
                for (size_t i = 0; i < size; ++i)
                    expected += data[offset + i];
                ASSERT_EQ(s.sum(&data[offset], uint32_t(size)), expected)
                    << "offset " << offset << " size " << size;
            }
        }
        EXPECT_EQ(s.sum(full.data(), uint32_t(full.size())),
                  uint32_t(0xFF) * kKernelImageWorkingBufferSize);
    }
}

}  // namespace
