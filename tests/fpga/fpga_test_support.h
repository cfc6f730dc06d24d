// FPGA engine tests: algorithm and data files written byte by byte with the
// literal values of the formats (independently of the module's declarations
// and of the toolkit's assembler, so that a fault in either shows), and a
// scripted link that records every call.
#ifndef FWSETUP_TESTS_FPGA_FPGA_TEST_SUPPORT_H
#define FWSETUP_TESTS_FPGA_FPGA_TEST_SUPPORT_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fpga/fpga_link.h"

namespace fpgatest {

typedef std::vector<uint8_t> Bytes;

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Varint(uint32_t value) {
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

inline Bytes Repeat(uint8_t byte, size_t count) {
    return Bytes(count, byte);
}

inline std::string Hex(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

// Header items 1 to 15, in file order (offsets without comments in brackets):
// [0] 0xA2, [1..4] id, [5] 0xA3, [6..8] version, [9] 0xA4, [10] buffer size,
// [11] 0xA5, [12] depth, [13] 0xA6, [14] mask size, [15] 0xA7, [16] channel,
// [17] 0xA9, [18] compression.
struct Header {
    std::vector<std::string> comments;
    uint32_t id = 0x01020304;
    uint8_t version[3] = {4, 0, 0};
    uint8_t depth = 3;
    uint8_t channel = 0;

    Bytes Items() const {
        Bytes out;
        for (const std::string& comment : comments) {
            out.push_back(0xA0);
            out.insert(out.end(), comment.begin(), comment.end());
            out.push_back(0xA1);
        }
        out.push_back(0xA2);
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(id >> shift));
        out.push_back(0xA3);
        out.insert(out.end(), version, version + 3);
        out.insert(out.end(), {0xA4, 0x10, 0xA5, depth, 0xA6, 0x08, 0xA7, channel, 0xA9, 0x00});
        return out;
    }
};

inline uint16_t Checksum(const Bytes& items) {
    uint32_t sum = 0;
    for (uint8_t b : items)
        sum += b;
    return uint16_t(sum & 0xFFFF);
}

// Items, then 0xA8, the checksum (high byte first) and 0x60.
inline Bytes Finish(const Bytes& items, int checksum = -1) {
    const uint16_t value = checksum < 0 ? Checksum(items) : uint16_t(checksum);
    return items + Bytes{0xA8, uint8_t(value >> 8), uint8_t(value & 0xFF), 0x60};
}

// A complete algorithm file: the default header and the stream bytes.
inline Bytes Algorithm(const Bytes& stream, const Header& header = Header()) {
    return Finish(header.Items()) + stream;
}

// Opcodes, by their values.
namespace op {
const uint8_t kStart = 0x10, kTransmit = 0x12, kReceive = 0x13, kRunClock = 0x14, kNopCount = 0x15,
              kEnd = 0x1F, kMask = 0x21, kInline = 0x22, kDataset = 0x25, kReset = 0x26,
              kChecked = 0x27, kWait = 0x40, kRepeat = 0x41, kEndRepeat = 0x42, kLoop = 0x43,
              kEndLoop = 0x44, kEndOfAlgorithm = 0x61, kComment = 0xA0;
}  // namespace op

inline Bytes TransmitInline(uint32_t bits, const Bytes& data) {
    return Bytes{op::kTransmit} + Varint(bits) + Bytes{0x22} + data;
}
inline Bytes TransmitDataset(uint32_t bits) {
    return Bytes{op::kTransmit} + Varint(bits) + Bytes{0x27};
}
inline Bytes Receive(uint32_t bits) {
    return Bytes{op::kReceive} + Varint(bits);
}
inline Bytes Wait(uint32_t ms) {
    return Bytes{op::kWait} + Varint(ms);
}
inline Bytes RepeatBody(uint32_t count, const Bytes& body) {
    return Bytes{op::kRepeat} + Varint(count) + body + Bytes{op::kEndRepeat};
}
inline Bytes LoopBody(uint32_t count, const Bytes& body) {
    return Bytes{op::kLoop} + Varint(count) + body + Bytes{op::kEndLoop};
}
const Bytes kEndOfAlgorithm{op::kEndOfAlgorithm};

// Data files.
inline Bytes SingleData(const Bytes& data, uint8_t mode = 0x00) {
    return Bytes{mode} + data;
}

struct TestDataset {
    uint8_t id;
    Bytes stored;   // what lies between the 2 leading and the 4 trailing bytes
    uint32_t size;  // bytes the dataset delivers
    uint8_t compression = 0;
};

// Datasets laid out in the order given unless order names another one (indices
// into datasets); addresses computed accordingly.
inline Bytes MultiData(const std::vector<TestDataset>& datasets,
                       std::vector<size_t> order = std::vector<size_t>()) {
    if (order.empty()) {
        for (size_t i = 0; i < datasets.size(); ++i)
            order.push_back(i);
    }
    std::vector<uint32_t> address(datasets.size(), 0);
    Bytes body;
    for (size_t index : order) {
        address[index] = uint32_t(body.size());
        body = body + Bytes{0xEE, 0xEE} + datasets[index].stored + Bytes{0xDD, 0xDD, 0xDD, 0xDD};
    }
    Bytes out{0xAA, uint8_t(datasets.size())};
    for (size_t i = 0; i < datasets.size(); ++i) {
        out = out + Bytes{0xAB, datasets[i].id, 0x00} + Varint(datasets[i].size) +
              Bytes{datasets[i].compression};
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(address[i] >> shift));
    }
    return out + body;
}

// A link that records every call as a line of text and answers receives from
// a script. Lines: "init", "start C", "end", "tx HEX", "rx N" (N bytes), "wait MS",
// "close".
class ScriptedLink : public FpgaLink {
  public:
    std::vector<std::string> calls;
    std::deque<Bytes> answers;  // one per receive; missing bytes are 0xFF
    bool initResult = true;
    bool closeResult = true;
    bool waitResult = true;
    // The call (counted from 0 among all calls) that fails; -1: none fails.
    int failCall = -1;

    bool InitHardware() override { return Record("init", initResult); }
    bool StartTransaction(uint8_t channel) override {
        return Record("start " + std::to_string(channel), true);
    }
    bool EndTransaction() override { return Record("end", true); }
    bool TransmitBits(const uint8_t* data, uint32_t bits) override {
        return Record("tx " + Hex(data, bits / 8), bits % 8 == 0);
    }
    bool ReceiveBits(uint8_t* buffer, uint32_t bits) override {
        Bytes answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        for (uint32_t i = 0; i < bits / 8; ++i)
            buffer[i] = i < answer.size() ? answer[i] : 0xFF;
        return Record("rx " + std::to_string(bits / 8), bits % 8 == 0);
    }
    bool WaitMilliseconds(uint32_t ms) override {
        return Record("wait " + std::to_string(ms), waitResult);
    }
    bool CloseHardware() override { return Record("close", closeResult); }

  private:
    bool Record(const std::string& call, bool result) {
        const bool fails = int(calls.size()) == failCall;
        calls.push_back(call);
        return result && !fails;
    }
};

}  // namespace fpgatest

#endif
