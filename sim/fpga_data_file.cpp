#include "sim/fpga_data_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "fpga/fpga_format.h"
#include "sim/file_digest.h"

namespace sim {
namespace {

typedef std::vector<uint8_t> Bytes;

void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%0*x", digits, value);
    return text;
}

// The stored form of a dataset's bytes.
Bytes Store(const FpgaDatasetPlan& dataset) {
    if (dataset.blockBytes == 0)
        return dataset.data;
    if (dataset.blockType != kFpgaBlockSmallest &&
        (dataset.blockType < 0 || dataset.blockType >= kFpgaBlockTypeCount)) {
        throw FpgaDataError("block type " + std::to_string(dataset.blockType) +
                            ": 0, 1, 2 or the smallest");
    }
    Bytes stored;
    for (size_t at = 0; at < dataset.data.size(); at += dataset.blockBytes) {
        const size_t n = std::min<size_t>(dataset.blockBytes, dataset.data.size() - at);
        const uint8_t* block = dataset.data.data() + at;
        if (dataset.blockType != kFpgaBlockSmallest) {
            Append(stored, EncodeFpgaBlock(block, n, dataset.blockType));
            continue;
        }
        Bytes best = EncodeFpgaBlock(block, n, kFpgaBlockPlain);
        for (int type = kFpgaBlockRunsOfFF; type < kFpgaBlockTypeCount; ++type) {
            Bytes candidate = EncodeFpgaBlock(block, n, type);
            if (candidate.size() < best.size())
                best.swap(candidate);
        }
        Append(stored, best);
    }
    return stored;
}

}  // namespace

Bytes EncodeFpgaVarint(uint32_t value) {
    Bytes out;
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value != 0)
            byte |= 0x80;
        out.push_back(byte);
    } while (value != 0);
    return out;
}

Bytes EncodeFpgaBlock(const uint8_t* data, size_t size, int type) {
    Bytes out;
    out.reserve(size + 1);
    out.push_back(uint8_t(type));
    if (type == kFpgaBlockPlain) {
        for (size_t i = 0; i < size; ++i)
            out.push_back(data[i]);
        return out;
    }
    const uint8_t fill = FpgaBlockFillByte(uint8_t(type));
    for (size_t i = 0; i < size;) {
        if (data[i] != fill) {
            out.push_back(data[i++]);
            continue;
        }
        size_t run = 1;
        while (i + run < size && data[i + run] == fill && run < 255)
            ++run;
        out.push_back(fill);
        out.push_back(uint8_t(run));
        i += run;
    }
    return out;
}

Bytes BuildFpgaDataFile(const FpgaDataPlan& plan) {
    Bytes out;
    if (plan.hasComment) {
        if (plan.comment.find(char(kFpgaTagCommentEnd)) != std::string::npos)
            throw FpgaDataError("a comment cannot hold the byte 0xa1, which ends it");
        out.push_back(kFpgaTagCommentStart);
        out.insert(out.end(), plan.comment.begin(), plan.comment.end());
        out.push_back(kFpgaTagCommentEnd);
    }
    if (plan.single) {
        if (plan.datasets.size() != 1)
            throw FpgaDataError("a single-dataset file holds exactly one dataset");
        const FpgaDatasetPlan& dataset = plan.datasets[0];
        out.push_back(dataset.blockBytes == 0 ? kFpgaDataModePlain : kFpgaDataModeCompressed);
        Append(out, Store(dataset));
        return out;
    }
    if (plan.datasets.size() > kFpgaMaxDatasets) {
        throw FpgaDataError(std::to_string(plan.datasets.size()) + " datasets (at most " +
                            std::to_string(kFpgaMaxDatasets) + ")");
    }
    Bytes table{kFpgaDataModeMultiple, uint8_t(plan.datasets.size())};
    Bytes body;
    for (size_t i = 0; i < plan.datasets.size(); ++i) {
        const FpgaDatasetPlan& dataset = plan.datasets[i];
        if (dataset.id == 0)
            throw FpgaDataError("dataset id 0 (ids are 1 to 255)");
        for (size_t k = 0; k < i; ++k) {
            if (plan.datasets[k].id == dataset.id)
                throw FpgaDataError("dataset " + Hex(dataset.id, 2) + " twice");
        }
        if (dataset.data.size() > 0xFFFFFFFFu || body.size() > 0xFFFFFFFFu)
            throw FpgaDataError("dataset " + Hex(dataset.id, 2) + " beyond 4 GiB");
        const uint32_t address = uint32_t(body.size());
        table.push_back(kFpgaDatasetEntryTag);
        table.push_back(dataset.id);
        table.push_back(0x00);
        Append(table, EncodeFpgaVarint(uint32_t(dataset.data.size())));
        table.push_back(dataset.blockBytes == 0 ? kFpgaDatasetPlain : uint8_t(1));
        for (int shift = 24; shift >= 0; shift -= 8)
            table.push_back(uint8_t(address >> shift));
        body.insert(body.end(), kFpgaDatasetLeadingBytes, 0x00);
        Append(body, Store(dataset));
        body.insert(body.end(), kFpgaDatasetTrailingBytes, 0x00);
    }
    Append(out, table);
    Append(out, body);
    return out;
}

FpgaDataLayout ReadFpgaDataLayout(const Bytes& file) {
    FpgaDataLayout layout;
    size_t pos = 0;
    auto next = [&](uint8_t& byte) {
        if (pos >= file.size())
            return false;
        byte = file[pos++];
        return true;
    };
    uint8_t mode;
    if (!next(mode)) {
        layout.problem = "the file is empty";
        return layout;
    }
    if (mode == kFpgaTagCommentStart) {
        layout.hasComment = true;
        uint8_t byte;
        for (;;) {
            if (!next(byte)) {
                layout.problem = "the comment has no end (0xa1)";
                return layout;
            }
            if (byte == kFpgaTagCommentEnd)
                break;
            layout.comment.push_back(byte);
        }
        if (!next(mode)) {
            layout.problem = "the file ends after its comment, before the mode byte";
            return layout;
        }
    }
    layout.mode = mode;
    if (mode == kFpgaDataModePlain || mode == kFpgaDataModeCompressed) {
        layout.dataStart = pos;
        return layout;
    }
    if (mode != kFpgaDataModeMultiple) {
        layout.problem = "unknown mode byte " + Hex(mode, 2) + " at offset " +
                         std::to_string(pos - 1) + " (0x00, 0x01 or 0xaa)";
        return layout;
    }
    layout.multiple = true;
    uint8_t count;
    if (!next(count)) {
        layout.problem = "the file ends before the dataset count";
        return layout;
    }
    if (count > kFpgaMaxDatasets) {
        layout.problem = "the table announces " + std::to_string(count) + " datasets (at most " +
                         std::to_string(kFpgaMaxDatasets) + ")";
        return layout;
    }
    for (uint8_t i = 0; i < count; ++i) {
        FpgaDataLayout::Entry entry;
        entry.offset = pos;
        uint8_t tag, byte;
        const std::string where =
            "entry " + std::to_string(i) + " at offset " + std::to_string(pos);
        if (!next(tag)) {
            layout.problem = "the file ends before " + where;
            return layout;
        }
        if (tag != kFpgaDatasetEntryTag) {
            layout.problem = where + " starts with " + Hex(tag, 2) + ", not 0xab";
            return layout;
        }
        bool complete = next(entry.id) && next(entry.unused);
        uint32_t shift = 0;
        while (complete) {
            complete = next(byte);
            if (!complete || !FpgaVarintAdd(byte, entry.size, shift))
                break;
        }
        complete = complete && next(entry.compression);
        for (int k = 0; complete && k < 4; ++k) {
            complete = next(byte);
            entry.address = (entry.address << 8) | byte;
        }
        if (!complete) {
            layout.problem = "the file ends inside " + where;
            return layout;
        }
        layout.entries.push_back(entry);
    }
    layout.dataStart = pos;
    return layout;
}

FpgaDecodedData DecodeFpgaData(const Bytes& file, size_t from, size_t to, bool single,
                               uint32_t size, bool compressed, uint32_t blockBytes) {
    FpgaDecodedData out;
    to = std::min(to, file.size());
    size_t pos = std::min(from, to);
    auto wanted = [&]() { return single ? SIZE_MAX : size_t(size); };
    if (!compressed) {
        const size_t n = std::min(wanted(), to - pos);
        out.bytes.assign(file.begin() + long(pos), file.begin() + long(pos + n));
        out.storedBytes = n;
        if (!single && n < size)
            out.problem = "the file ends after " + std::to_string(n) + " of its bytes";
        return out;
    }
    if (blockBytes == 0) {
        out.problem = "compressed: give its block size (the bytes of each transfer) to decode it";
        return out;
    }
    while (out.bytes.size() < wanted() && pos < to) {
        const size_t blockStart = pos;
        const uint8_t type = file[pos++];
        if (type >= kFpgaBlockTypeCount) {
            out.problem = "block type " + Hex(type, 2) + " at offset " +
                          std::to_string(blockStart) + " (0, 1 or 2)";
            break;
        }
        ++out.blocks[type];
        const size_t blockEnd =
            out.bytes.size() + std::min<size_t>(blockBytes, wanted() - out.bytes.size());
        const uint8_t fill = FpgaBlockFillByte(type);
        while (out.bytes.size() < blockEnd && pos < to) {
            const uint8_t byte = file[pos++];
            if (type == kFpgaBlockPlain || byte != fill) {
                out.bytes.push_back(byte);
                continue;
            }
            if (pos >= to) {
                out.problem = "a run without its count at offset " + std::to_string(pos - 1);
                break;
            }
            const uint8_t count = file[pos++];
            if (count == 0) {
                out.problem = "a run of 0 bytes at offset " + std::to_string(pos - 2);
                break;
            }
            for (uint8_t k = 0; k < count && out.bytes.size() < blockEnd; ++k)
                out.bytes.push_back(fill);
        }
        if (!out.problem.empty())
            break;
    }
    out.storedBytes = pos - std::min(from, to);
    if (out.problem.empty() && !single && out.bytes.size() < size) {
        out.problem = "the stored bytes end after " + std::to_string(out.bytes.size()) + " of " +
                      std::to_string(size) + " bytes";
    }
    return out;
}

namespace {

void DescribeData(std::string& text, const FpgaDecodedData& data, bool compressed,
                  uint32_t blockBytes, bool hex, bool& valid) {
    if (compressed && blockBytes == 0) {
        text += "  compressed: give its block size (the bytes of each transfer) to decode it\n";
        return;
    }
    if (compressed) {
        text += "  blocks of " + std::to_string(blockBytes) +
                " bytes: " + std::to_string(data.blocks[0] + data.blocks[1] + data.blocks[2]) +
                " (type 0: " + std::to_string(data.blocks[0]) +
                ", type 1: " + std::to_string(data.blocks[1]) +
                ", type 2: " + std::to_string(data.blocks[2]) + ") in " +
                std::to_string(data.storedBytes) + " stored bytes\n";
    }
    if (!data.problem.empty()) {
        text += "  invalid: " + data.problem + "\n";
        valid = false;
        if (data.bytes.empty())
            return;
    }
    text += "  delivers " + std::to_string(data.bytes.size()) + " bytes, md5 " +
            Md5Hex(data.bytes) + "\n";
    if (!hex)
        return;
    for (size_t at = 0; at < data.bytes.size(); at += 16) {
        char offset[32];
        std::snprintf(offset, sizeof(offset), "  %06zx:", at);
        text += offset;
        for (size_t k = at; k < std::min(at + 16, data.bytes.size()); ++k) {
            char byte[4];
            std::snprintf(byte, sizeof(byte), " %02x", data.bytes[k]);
            text += byte;
        }
        text += "\n";
    }
}

uint32_t BlockBytesOf(const std::map<int, uint32_t>& blockBytes, int id) {
    auto it = blockBytes.find(id);
    if (it == blockBytes.end())
        it = blockBytes.find(-1);
    return it == blockBytes.end() ? 0 : it->second;
}

}  // namespace

std::string DumpFpgaDataFile(const Bytes& file, const std::map<int, uint32_t>& blockBytes, bool hex,
                             bool& valid) {
    valid = true;
    std::string text = "fpga data file, " + std::to_string(file.size()) + " bytes\n";
    const FpgaDataLayout layout = ReadFpgaDataLayout(file);
    if (layout.hasComment) {
        std::string comment;
        for (uint8_t c : layout.comment) {
            if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
                comment += char(c);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
                comment += escaped;
            }
        }
        text += "comment \"" + comment + "\"\n";
    }
    if (!layout.problem.empty()) {
        valid = false;
        return text + "invalid: " + layout.problem + " (the engine's result -2)\n";
    }
    if (!layout.multiple) {
        const bool compressed = layout.mode == kFpgaDataModeCompressed;
        text += std::string("mode ") + Hex(layout.mode, 2) + ": one dataset, " +
                (compressed ? "compressed blocks" : "plain") + ", from offset " +
                std::to_string(layout.dataStart) + "\n";
        const uint32_t block = BlockBytesOf(blockBytes, -1);
        DescribeData(
            text, DecodeFpgaData(file, layout.dataStart, file.size(), true, 0, compressed, block),
            compressed, block, hex, valid);
        return text;
    }
    text += "mode 0xaa: " + std::to_string(layout.entries.size()) + " dataset" +
            (layout.entries.size() == 1 ? "" : "s") + ", addresses from offset " +
            std::to_string(layout.dataStart) + "\n";
    // A dataset is read as the reader reads it: from its address on, whatever follows.
    for (const FpgaDataLayout::Entry& e : layout.entries) {
        const size_t start = layout.dataStart + size_t(e.address);
        const bool compressed = e.compression != kFpgaDatasetPlain;
        text += "dataset " + Hex(e.id, 2) + ": " + std::to_string(e.size) + " bytes, " +
                (compressed ? "compressed (" + Hex(e.compression, 2) + ")" : std::string("plain")) +
                ", address " + std::to_string(e.address) + " (file offset " +
                std::to_string(start) + ")\n";
        if (start + kFpgaDatasetLeadingBytes > file.size()) {
            text += "  invalid: its address lies beyond the end of the file\n";
            valid = false;
            continue;
        }
        const uint32_t block = BlockBytesOf(blockBytes, e.id);
        DescribeData(text,
                     DecodeFpgaData(file, start + kFpgaDatasetLeadingBytes, file.size(), false,
                                    e.size, compressed, block),
                     compressed, block, hex, valid);
    }
    return text;
}

}  // namespace sim
