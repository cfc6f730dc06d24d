#include "sim/kernel_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "fileutil/file_type.h"
#include "package/memory_stream.h"
#include "sim/host_stream.h"

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

namespace {

// Keeps the first bytes read through it: the file's head, which the module's
// marker and file type tests look at.
class HeadKeepingStream : public Stream {
  public:
    explicit HeadKeepingStream(Stream& inner) : inner_(inner) {}

    int Read(uint8_t* buffer, uint32_t count) override {
        const int read = inner_.Read(buffer, count);
        if (read > 0 && kept_ < sizeof(head_)) {
            const uint32_t take = std::min<uint32_t>(uint32_t(read), sizeof(head_) - kept_);
            std::memcpy(head_ + kept_, buffer, take);
            kept_ += take;
        }
        return read;
    }
    using Stream::Write;
    int Write(const uint8_t*, uint32_t) override { return kStreamNotWritable; }
    void Close() override {}

    // Reads on until the head is complete or the stream ends.
    void CompleteHead() {
        uint8_t rest[sizeof(head_)];
        while (kept_ < sizeof(head_) && Read(rest, sizeof(head_) - kept_) > 0) {
        }
    }
    const uint8_t* Head() const { return head_; }
    uint32_t Kept() const { return kept_; }

  private:
    Stream& inner_;
    uint8_t head_[kKernelImageMarkerOffset + 4] = {};
    uint32_t kept_ = 0;
};

KernelImageRecord RecordOf(const KernelImageCheck& check) {
    KernelImageRecord record;
    record.address = check.recordAddress;
    record.length = check.recordLength;
    record.checksum = check.recordChecksum;
    record.headerOffset = check.recordOffset;
    return record;
}

std::string RecordText(const KernelImageCheck& check) {
    return RecordName(check.recordIndex, RecordOf(check));
}

// Why the structure check refused an image.
std::string StructureFaultText(const KernelImageCheck& check) {
    switch (check.fault) {
        case kKernelImageRecordHeaderShort:
            return "the file ends at offset " + std::to_string(check.recordOffset) +
                   " before record " + std::to_string(check.recordIndex) +
                   "'s complete header (no end record)";
        case kKernelImageRecordDataShort:
            return RecordText(check) + ": " + KernelImageFaultText(check.fault);
        case kKernelImageChecksumMismatch:
            return RecordText(check) + ": checksum mismatch (stored " +
                   Hex32(check.recordChecksum) + ", computed " + Hex32(check.recordSum) + ")";
        case kKernelImageRangeOverflow:
            return "image start " + Hex32(check.start) + " + length " + Hex32(check.length) +
                   " overflows 32 bits";
        default:
            return KernelImageFaultText(check.fault);
    }
}

// Collects the records as the module's check passes them, and the first one
// that the imaging tool would refuse.
class LayoutSink : public KernelImageRecordSink {
  public:
    LayoutSink(KernelImageReport& report, bool keepRecords)
        : report_(report), keepRecords_(keepRecords) {}

    void Record(const KernelImageCheck& check) override {
        const KernelImageRecord record = RecordOf(check);
        if (keepRecords_)
            report_.layout.records.push_back(record);
        const uint64_t end = uint64_t(check.start) + check.length;
        if (outside_.empty() &&
            (record.address < check.start || uint64_t(record.address) + record.length > end)) {
            outside_ = RecordText(check) + ": outside the image " + Hex32(check.start) + " + " +
                       std::to_string(check.length);
        }
    }
    const std::string& Outside() const { return outside_; }

  private:
    KernelImageReport& report_;
    bool keepRecords_;
    std::string outside_;
};

std::string SlotText(uint32_t length) {
    return "image length " + std::to_string(length) + " exceeds the flash slot's " +
           std::to_string(kFlashSlotCapacity) + " bytes";
}

}  // namespace

KernelImageReport CheckKernelImage(Stream& image, bool keepRecords) {
    KernelImageReport report;
    HeadKeepingStream stream(image);
    LayoutSink sink(report, keepRecords);
    const bool structure = CheckKernelImageStructure(stream, report.check, &sink);
    const KernelImageCheck& check = report.check;
    report.layout.signature = char(stream.Head()[0]);
    report.layout.start = check.start;
    report.layout.length = check.length;
    if (!structure) {
        report.moduleFault = StructureFaultText(check);
        report.imagingFault = report.moduleFault;
        return report;
    }
    report.layout.endRecordOffset = check.recordOffset;
    report.layout.endRecordLength = check.recordLength;
    if (check.length > kFlashSlotCapacity)
        report.imagingFault = SlotText(check.length);
    else
        report.imagingFault = sink.Outside();

    stream.CompleteHead();
    KernelImageCheck marker;
    if (!CheckKernelImageMarker(stream.Head() + kKernelImageMarkerOffset,
                                int(stream.Kept()) - int(kKernelImageMarkerOffset), marker)) {
        report.check.fault = marker.fault;
        report.moduleFault = KernelImageFaultText(marker.fault);
    } else if (FileTypeOfHeader(stream.Head(), stream.Kept()) != u"bin") {
        report.check.fault = kKernelImageTypeWrong;
        report.moduleFault = KernelImageFaultText(kKernelImageTypeWrong);
    }
    return report;
}

KernelImageReport CheckKernelImageFile(const fs::path& image, bool keepRecords) {
    const int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw KernelImageError("cannot open " + image.string() + ": " + std::strerror(errno));
    FdStream stream(fd, true);
    return CheckKernelImage(stream, keepRecords);
}

KernelImageLayout ReadKernelImageLayout(const fs::path& image) {
    KernelImageReport report = CheckKernelImageFile(image, true);
    if (!report.imagingFault.empty())
        throw KernelImageError(report.imagingFault);
    return report.layout;
}

void CheckRecordsInsideImage(const KernelImageLayout& layout) {
    if (layout.length > kFlashSlotCapacity) {
        throw KernelImageError(SlotText(layout.length));
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

    // Whatever the plan missed, the image must pass the same check as any other.
    MemoryStream built(out);
    const KernelImageReport report = CheckKernelImage(built);
    if (!report.Valid()) {
        throw KernelImageError(report.moduleFault.empty() ? report.imagingFault
                                                          : report.moduleFault);
    }
    return out;
}

}  // namespace sim
