#include "kernel/kernel_image_check.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

uint32_t ReadLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

bool Refuse(KernelImageCheck& check, KernelImageFault fault) {
    check.fault = fault;
    return false;
}

// Reads exactly count bytes; false on a short read or a failure.
bool ReadFully(Stream& stream, uint8_t* buffer, uint32_t count) {
    const int read = stream.Read(buffer, count);
    return read >= 0 && static_cast<uint32_t>(read) == count;
}

}  // namespace

KernelImageCheck::KernelImageCheck()
    : fault(kKernelImageValid),
      start(0),
      length(0),
      records(0),
      recordIndex(0),
      recordOffset(0),
      recordAddress(0),
      recordLength(0),
      recordChecksum(0),
      recordSum(0) {}

uint32_t SumKernelImageBytesPortable(const uint8_t* data, uint32_t size) {
    // Eight bytes at a time: the even and the odd bytes of a word are added into
    // four 16-bit lanes. 128 words add at most 128 * 510 = 65280 to a lane, so a
    // batch of that many never carries from one lane into the next.
    const uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
    const uint64_t kLowLanes = 0x0000FFFF0000FFFFull;
    uint32_t sum = 0;
    uint32_t i = 0;
    while (size - i >= 8) {
        uint32_t words = (size - i) / 8;
        if (words > 128)
            words = 128;
        uint64_t lanes = 0;
        for (uint32_t w = 0; w < words; ++w, i += 8) {
            uint64_t word;
            std::memcpy(&word, data + i, sizeof(word));
            lanes += (word & kEvenBytes) + ((word >> 8) & kEvenBytes);
        }
        lanes = (lanes & kLowLanes) + ((lanes >> 16) & kLowLanes);
        sum += static_cast<uint32_t>(lanes + (lanes >> 32));
    }
    for (; i < size; ++i)
        sum += data[i];
    return sum;
}

uint32_t SumKernelImageBytes(const uint8_t* data, uint32_t size) {
#if defined(__SSE2__)
    // Sixteen bytes at a time: the sum of absolute differences against zero adds
    // each half of a block into a 64-bit lane; four blocks per step keep four
    // independent accumulators busy. Only the low 32 bits of the total matter.
    const __m128i zero = _mm_setzero_si128();
    __m128i lanes0 = zero;
    __m128i lanes1 = zero;
    __m128i lanes2 = zero;
    __m128i lanes3 = zero;
    uint32_t i = 0;
    for (; size - i >= 64; i += 64) {
        const __m128i* blocks = reinterpret_cast<const __m128i*>(data + i);
        lanes0 = _mm_add_epi64(lanes0, _mm_sad_epu8(_mm_loadu_si128(blocks), zero));
        lanes1 = _mm_add_epi64(lanes1, _mm_sad_epu8(_mm_loadu_si128(blocks + 1), zero));
        lanes2 = _mm_add_epi64(lanes2, _mm_sad_epu8(_mm_loadu_si128(blocks + 2), zero));
        lanes3 = _mm_add_epi64(lanes3, _mm_sad_epu8(_mm_loadu_si128(blocks + 3), zero));
    }
    __m128i lanes = _mm_add_epi64(_mm_add_epi64(lanes0, lanes1), _mm_add_epi64(lanes2, lanes3));
    for (; size - i >= 16; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        lanes = _mm_add_epi64(lanes, _mm_sad_epu8(block, zero));
    }
    const uint32_t sum = static_cast<uint32_t>(_mm_cvtsi128_si32(lanes)) +
                         static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(lanes, lanes)));
    return sum + SumKernelImageBytesPortable(data + i, size - i);
#else
    return SumKernelImageBytesPortable(data, size);
#endif
}

bool CheckKernelImageStructure(Stream& stream, KernelImageCheck& check,
                               KernelImageRecordSink* sink) {
    check = KernelImageCheck();

    uint8_t header[kKernelImageHeaderSize];
    if (!ReadFully(stream, header, kKernelImageSignatureSize)) {
        return Refuse(check, kKernelImageSignatureShort);
    }
    if (std::memcmp(header, "B000FF\n", kKernelImageSignatureSize) != 0 &&
        std::memcmp(header, "S000FF\n", kKernelImageSignatureSize) != 0) {
        return Refuse(check, kKernelImageSignatureWrong);
    }
    if (!ReadFully(stream, header + kKernelImageSignatureSize, 8)) {
        return Refuse(check, kKernelImageHeaderShort);
    }
    check.start = ReadLe32(header + 7);
    check.length = ReadLe32(header + 11);
    if (static_cast<uint32_t>(check.start + check.length) < check.start) {
        return Refuse(check, kKernelImageRangeOverflow);
    }

    ByteVector buffer(kKernelImageWorkingBufferSize);
    uint64_t offset = kKernelImageHeaderSize;
    for (uint32_t index = 0;; ++index) {
        check.recordIndex = index;
        check.recordOffset = offset;
        uint8_t record[kKernelImageRecordHeaderSize];
        if (!ReadFully(stream, record, kKernelImageRecordHeaderSize)) {
            return Refuse(check, kKernelImageRecordHeaderShort);
        }
        check.recordAddress = ReadLe32(record);
        check.recordLength = ReadLe32(record + 4);
        check.recordChecksum = ReadLe32(record + 8);
        if (check.recordAddress == 0 && check.recordChecksum == 0) {
            return true;
        }

        // A piece that comes back short means the file ended (or failed): every
        // later read would come back empty, so the record cannot be complete.
        uint32_t sum = 0;
        uint32_t remaining = check.recordLength;
        while (remaining > 0) {
            const uint32_t piece = remaining < kKernelImageWorkingBufferSize
                                       ? remaining
                                       : kKernelImageWorkingBufferSize;
            if (!ReadFully(stream, &buffer[0], piece)) {
                return Refuse(check, kKernelImageRecordDataShort);
            }
            sum += SumKernelImageBytes(&buffer[0], piece);
            remaining -= piece;
        }
        check.recordSum = sum;
        if (sum != check.recordChecksum) {
            return Refuse(check, kKernelImageChecksumMismatch);
        }
        if (sink)
            sink->Record(check);
        offset += kKernelImageRecordHeaderSize + static_cast<uint64_t>(check.recordLength);
        check.records = index + 1;
    }
}

bool CheckKernelImageMarker(const uint8_t* bytes, int read, KernelImageCheck& check) {
    if (bytes == 0 || read < 4)
        return Refuse(check, kKernelImageMarkerShort);
    if (ReadLe32(bytes) != kKernelImageMarker)
        return Refuse(check, kKernelImageMarkerWrong);
    return true;
}

const char* KernelImageFaultText(KernelImageFault fault) {
    switch (fault) {
        case kKernelImageValid:
            return "valid";
        case kKernelImageUnreadable:
            return "the file cannot be opened";
        case kKernelImageSignatureShort:
            return "the file is shorter than the 7-byte signature";
        case kKernelImageSignatureWrong:
            return "the signature is neither \"B000FF\\n\" nor \"S000FF\\n\"";
        case kKernelImageHeaderShort:
            return "the image start or length is cut off";
        case kKernelImageRangeOverflow:
            return "image start + length overflows 32 bits";
        case kKernelImageRecordHeaderShort:
            return "the file ends before a complete record header (no end record)";
        case kKernelImageRecordDataShort:
            return "the record's data runs past the end of the file";
        case kKernelImageChecksumMismatch:
            return "checksum mismatch";
        case kKernelImageMarkerShort:
            return "bytes 43..46 cannot be read";
        case kKernelImageMarkerWrong:
            return "bytes 43..46 are not \"ECEC\"";
        case kKernelImageTypeWrong:
            return "not a BIN file: the byte after the signature (start address's lowest byte) is "
                   "not 0";
    }
    return "unknown fault";
}
