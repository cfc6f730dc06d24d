#include "sim/kernel_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

namespace sim {
namespace {

constexpr size_t kPieceSize = 1 << 20;
constexpr uint32_t kMarker = 0x43454345u;  // "ECEC"
constexpr size_t kMarkerDataOffset = 16;   // of the first record's data: file offset 43

uint32_t Le32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) |
           (uint32_t(bytes[3]) << 24);
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

std::string RecordName(size_t index, const KernelImageRecord& record) {
    return "record " + std::to_string(index) + " (header at offset " +
           std::to_string(record.headerOffset) + ", address " + Hex32(record.address) +
           ", length " + std::to_string(record.length) + ")";
}

// Reads exactly count bytes or throws with what.
void ReadExactly(std::istream& in, char* buffer, size_t count, const std::string& what) {
    in.read(buffer, std::streamsize(count));
    if (size_t(in.gcount()) != count)
        throw KernelImageError(what);
}

}  // namespace

std::string Hex32(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

KernelImageLayout ReadKernelImageLayout(const fs::path& image) {
    std::ifstream in(image, std::ios::binary);
    if (!in)
        throw KernelImageError("cannot open " + image.string());
    std::error_code ec;
    const uint64_t fileSize = fs::file_size(image, ec);
    if (ec)
        throw KernelImageError("cannot read the size of " + image.string());
    return ReadKernelImageLayout(in, fileSize);
}

KernelImageLayout ReadKernelImageLayout(std::istream& in, uint64_t fileSize) {
    KernelImageLayout layout;
    uint8_t header[15];
    ReadExactly(in, reinterpret_cast<char*>(header), 7, "shorter than the 7-byte signature");
    if (std::memcmp(header, "B000FF\n", 7) != 0 && std::memcmp(header, "S000FF\n", 7) != 0) {
        throw KernelImageError("signature is neither \"B000FF\\n\" nor \"S000FF\\n\"");
    }
    layout.signature = char(header[0]);
    ReadExactly(in, reinterpret_cast<char*>(header + 7), 8, "image start or length cut off");
    layout.start = Le32(header + 7);
    layout.length = Le32(header + 11);
    if (uint64_t(layout.start) + layout.length > 0xFFFFFFFFull) {
        throw KernelImageError("image start " + Hex32(layout.start) + " + length " +
                               Hex32(layout.length) + " overflows 32 bits");
    }

    std::vector<uint8_t> buffer(kPieceSize);
    uint64_t offset = 15;
    for (size_t index = 0;; ++index) {
        uint8_t raw[12];
        in.read(reinterpret_cast<char*>(raw), 12);
        if (in.gcount() != 12) {
            throw KernelImageError("file ends at offset " + std::to_string(offset) +
                                   " before record " + std::to_string(index) +
                                   "'s header (no end record)");
        }
        KernelImageRecord record;
        record.address = Le32(raw);
        record.length = Le32(raw + 4);
        record.checksum = Le32(raw + 8);
        record.headerOffset = offset;
        if (record.address == 0 && record.checksum == 0) {
            layout.endRecordOffset = offset;
            layout.endRecordLength = record.length;
            return layout;
        }
        offset += 12;
        if (record.length > fileSize - std::min(fileSize, offset)) {
            throw KernelImageError(RecordName(index, record) +
                                   ": data runs past the end of the file");
        }
        uint32_t sum = 0;
        for (uint64_t left = record.length; left > 0;) {
            const size_t piece = size_t(std::min<uint64_t>(left, kPieceSize));
            ReadExactly(in, reinterpret_cast<char*>(buffer.data()), piece,
                        RecordName(index, record) + ": data cannot be read");
            for (size_t i = 0; i < piece; ++i)
                sum += buffer[i];
            left -= piece;
        }
        if (sum != record.checksum) {
            throw KernelImageError(RecordName(index, record) + ": checksum mismatch (stored " +
                                   Hex32(record.checksum) + ", computed " + Hex32(sum) + ")");
        }
        offset += record.length;
        layout.records.push_back(record);
    }
}

void CheckRecordsInsideImage(const KernelImageLayout& layout) {
    if (layout.length > kFlashSlotCapacity) {
        throw KernelImageError("image length " + std::to_string(layout.length) +
                               " exceeds the flash slot's " + std::to_string(kFlashSlotCapacity) +
                               " bytes");
    }
    const uint64_t end = uint64_t(layout.start) + layout.length;
    for (size_t i = 0; i < layout.records.size(); ++i) {
        const KernelImageRecord& record = layout.records[i];
        if (record.address < layout.start || uint64_t(record.address) + record.length > end) {
            throw KernelImageError(RecordName(i, record) + ": outside the image " +
                                   Hex32(layout.start) + " + " + std::to_string(layout.length));
        }
    }
}

void FlattenKernelImage(const fs::path& image, const KernelImageLayout& layout,
                        const fs::path& out) {
    CheckRecordsInsideImage(layout);
    std::ifstream in(image, std::ios::binary);
    if (!in)
        throw KernelImageError("cannot open " + image.string());
    std::ofstream flat(out, std::ios::binary | std::ios::trunc);
    if (!flat)
        throw std::runtime_error("cannot create " + out.string());
    FlattenKernelImage(in, layout, flat);
    flat.close();
    if (!flat)
        throw std::runtime_error("cannot write " + out.string());
}

void FlattenKernelImage(std::istream& in, const KernelImageLayout& layout, std::ostream& flat) {
    CheckRecordsInsideImage(layout);
    in.clear();

    std::vector<char> buffer(kPieceSize, char(0xFF));
    for (uint64_t left = layout.length; left > 0;) {
        const size_t piece = size_t(std::min<uint64_t>(left, kPieceSize));
        flat.write(buffer.data(), std::streamsize(piece));
        left -= piece;
    }
    for (size_t i = 0; i < layout.records.size(); ++i) {
        const KernelImageRecord& record = layout.records[i];
        in.seekg(std::streamoff(record.headerOffset + 12));
        flat.seekp(std::streamoff(record.address - layout.start));
        for (uint64_t left = record.length; left > 0;) {
            const size_t piece = size_t(std::min<uint64_t>(left, kPieceSize));
            ReadExactly(in, buffer.data(), piece, RecordName(i, record) + ": data cannot be read");
            flat.write(buffer.data(), std::streamsize(piece));
            left -= piece;
        }
    }
    flat.flush();
    if (!flat)
        throw std::runtime_error("cannot write the flat image");
}

std::vector<uint8_t> BuildKernelImage(KernelImagePlan plan) {
    if (plan.signature != 'B' && plan.signature != 'S') {
        throw KernelImageError("the signature letter must be B or S");
    }
    if (plan.records.empty())
        throw KernelImageError("an image needs at least one record");
    if ((plan.start & 0xFF) != 0) {
        throw KernelImageError("the start address " + Hex32(plan.start) +
                               " must have a zero lowest byte");
    }
    std::vector<uint8_t>& first = plan.records.front().data;
    if (first.size() < kMarkerDataOffset + 4) {
        throw KernelImageError(
            "the first record needs at least 20 bytes (\"ECEC\" at bytes 16..19)");
    }
    if (plan.stampMarker) {
        std::memcpy(first.data() + kMarkerDataOffset, "ECEC", 4);
    } else if (Le32(first.data() + kMarkerDataOffset) != kMarker) {
        throw KernelImageError(
            "the first record's bytes 16..19 are not \"ECEC\" (or stamp them with --stamp-marker)");
    }

    uint64_t furthest = plan.start;
    for (const KernelImageSource& record : plan.records) {
        if (record.data.size() > 0xFFFFFFFFull)
            throw KernelImageError("a record is over 4 GiB");
        if (record.address < plan.start) {
            throw KernelImageError("record at " + Hex32(record.address) +
                                   " lies before the image start " + Hex32(plan.start));
        }
        furthest = std::max<uint64_t>(furthest, uint64_t(record.address) + record.data.size());
    }
    if (plan.length == 0) {
        if (furthest - plan.start > 0xFFFFFFFFull)
            throw KernelImageError("the records span over 4 GiB");
        plan.length = uint32_t(furthest - plan.start);
    }
    if (uint64_t(plan.start) + plan.length > 0xFFFFFFFFull) {
        throw KernelImageError("image start + length overflows 32 bits");
    }
    if (furthest > uint64_t(plan.start) + plan.length) {
        throw KernelImageError("a record reaches beyond the image length " +
                               std::to_string(plan.length));
    }

    const uint8_t signature[] = {uint8_t(plan.signature), '0', '0', '0', 'F', 'F', '\n'};
    std::vector<uint8_t> out(signature, signature + sizeof(signature));
    uint64_t total = 15 + 12;
    for (const KernelImageSource& record : plan.records)
        total += 12 + record.data.size();
    out.reserve(size_t(total));
    PutLe32(out, plan.start);
    PutLe32(out, plan.length);
    for (const KernelImageSource& record : plan.records) {
        uint32_t sum = 0;
        for (uint8_t byte : record.data)
            sum += byte;
        if (record.address == 0 && sum == 0) {
            throw KernelImageError(
                "a record at address 0 whose bytes add up to 0 would read as the end record");
        }
        PutLe32(out, record.address);
        PutLe32(out, uint32_t(record.data.size()));
        PutLe32(out, sum);
        out.insert(out.end(), record.data.begin(), record.data.end());
    }
    PutLe32(out, 0);
    PutLe32(out, plan.endRecordLength);
    PutLe32(out, 0);
    return out;
}

}  // namespace sim
