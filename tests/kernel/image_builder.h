// Kernel images for tests, written byte by byte here (independently of the
// toolkit's image writer), so that a fault in either shows.
#ifndef FWSETUP_TESTS_KERNEL_IMAGE_BUILDER_H
#define FWSETUP_TESTS_KERNEL_IMAGE_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/md5_hex.h"

namespace kerneltest {

inline std::string Le32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

using fwtest::Md5Hex;

inline uint32_t Sum(const std::string& data) {
    uint32_t sum = 0;
    for (unsigned char c : data)
        sum += c;
    return sum;
}

// A record; its checksum is the data's sum unless one is given.
struct TestRecord {
    uint32_t address;
    std::string data;
    bool overrideChecksum = false;
    uint32_t checksum = 0;
};

// The data of a first record: bytes 16..19 hold "ECEC" (file offset 43).
inline std::string FirstRecordData(size_t size = 64) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = char((i * 13 + 5) & 0xFF);
    if (size >= 20)
        data.replace(16, 4, "ECEC");
    return data;
}

struct TestImage {
    std::string signature = "B000FF\n";
    uint32_t start = 0x80200000;
    uint32_t length = 0x1000;
    std::vector<TestRecord> records;
    bool endRecord = true;
    uint32_t endLength = 0;

    TestImage() {
        records.push_back({start, FirstRecordData()});
        records.push_back({start + 0x100, "kernel code"});
    }

    std::string Bytes() const {
        std::string out = signature + Le32(start) + Le32(length);
        for (const TestRecord& r : records) {
            out += Le32(r.address) + Le32(uint32_t(r.data.size())) +
                   Le32(r.overrideChecksum ? r.checksum : Sum(r.data)) + r.data;
        }
        if (endRecord)
            out += Le32(0) + Le32(endLength) + Le32(0);
        return out;
    }
};

}  // namespace kerneltest

#endif
