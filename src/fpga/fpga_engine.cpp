#include "fpga/fpga_engine.h"

#include <cstring>

#include "fileutil/file_operation.h"
#include "fpga/fpga_body_scanner.h"
#include "fpga/fpga_byte_file.h"
#include "fpga/fpga_data_reader.h"
#include "fpga/fpga_format.h"
#include "fpga/fpga_link.h"

const WString kFpgaTempPeripheralConfigPath(u"\\UpgradeTemp\\tempPeripheralConfigFile.json");

namespace {

// What one transaction remembers between its opcodes.
struct TransactionState {
    uint32_t bits;   // size of the current transfer
    uint32_t bytes;  // ... in whole bytes
    bool receivePending;
    bool masked;
    uint32_t maskBytes;  // mask bytes given; the rest of a transfer is compared in full
    uint32_t dataBytes;  // bytes of data written since the transaction started (the rest is 0)
    uint32_t mismatches;
    uint8_t mask[kFpgaMaskBufferSize];
    uint8_t data[kFpgaDataBufferSize];

    void Reset() {
        bits = 0;
        bytes = 0;
        receivePending = false;
        masked = false;
        maskBytes = 0;
        dataBytes = 0;
        mismatches = 0;
    }
};

// Bodies open at once, plus the top level: a transaction may be open at each.
const uint32_t kTransactionLevels = kFpgaMaxNestingDepth + 1;

struct EngineState {
    NString algorithmName;
    uint8_t channel;
    FpgaByteFile algorithm;
    FpgaDataReader data;
    uint8_t receive[kFpgaReceiveBufferSize];
    uint8_t body[kFpgaBodyBufferSize];
    TransactionState transactions[kTransactionLevels];
};

EngineState& Engine() {
    static EngineState state;
    return state;
}

// The bytes the engine interprets: the algorithm file itself, or a body in memory.
class Source {
  public:
    explicit Source(FpgaByteFile& file) : file_(&file), at_(0), end_(0) {}
    Source(const uint8_t* begin, const uint8_t* end) : file_(0), at_(begin), end_(end) {}

    bool Next(uint8_t& byte) {
        if (file_ != 0)
            return file_->ReadByte(byte);
        if (at_ == end_)
            return false;
        byte = *at_++;
        return true;
    }
    bool InBody() const { return file_ == 0; }
    const uint8_t* At() const { return at_; }

  private:
    FpgaByteFile* file_;
    const uint8_t* at_;
    const uint8_t* end_;
};

bool ReadVarint(Source& in, uint32_t& value) {
    value = 0;
    uint32_t shift = 0;
    uint8_t byte;
    do {
        if (!in.Next(byte))
            return false;
    } while (FpgaVarintAdd(byte, value, shift));
    return true;
}

// A count, size or time that must not be 0.
bool ReadNonZero(Source& in, uint32_t& value) {
    return ReadVarint(in, value) && value != 0;
}

bool SkipComment(Source& in) {
    uint8_t byte;
    do {
        if (!in.Next(byte))
            return false;
    } while (byte != kFpgaTagCommentEnd);
    return true;
}

class AlgorithmRun {
  public:
    AlgorithmRun(EngineState& state, FpgaLink& link) : s_(state), link_(link) {}

    int Run(uint32_t algorithmId) {
        if (!link_.InitHardware())
            return kFpgaHardwareUnavailable;
        int result = Open(algorithmId);
        const bool ran = result == kFpgaSuccess;
        if (ran) {
            Source top(s_.algorithm);
            result = RunProgram(top, 0);
        }
        s_.algorithm.Close();
        s_.data.CloseDataFile();
        if (!link_.CloseHardware() && ran)
            result = kFpgaTransferFailed;
        return result;
    }

  private:
    // Opens the algorithm file and reads its header (opening the data file on
    // the way); kFpgaSuccess when the stream can start.
    int Open(uint32_t algorithmId) {
        if (!s_.algorithm.Open(s_.algorithmName))
            return kFpgaAlgorithmUnreadable;
        sum_ = 0;
        uint8_t byte;
        if (!Summed(byte))
            return kFpgaHeaderError;
        while (byte == kFpgaTagCommentStart) {
            do {
                if (!Summed(byte))
                    return kFpgaHeaderError;
            } while (byte != kFpgaTagCommentEnd);
            if (!Summed(byte))
                return kFpgaHeaderError;
        }
        if (byte != kFpgaTagAlgorithmId)
            return kFpgaHeaderError;
        uint32_t fileId = 0;
        for (int i = 0; i < 4; ++i) {
            if (!Summed(byte))
                return kFpgaHeaderError;
            fileId = (fileId << 8) | byte;
        }
        if (algorithmId != kFpgaAnyAlgorithmId && fileId != algorithmId)
            return kFpgaHeaderError;
        uint8_t version[kFpgaVersionSize];
        if (!Tagged(kFpgaTagVersion))
            return kFpgaHeaderError;
        for (uint32_t i = 0; i < kFpgaVersionSize; ++i) {
            if (!Summed(version[i]))
                return kFpgaHeaderError;
        }
        for (uint32_t i = 0; i < kFpgaVersionSize; ++i) {
            if (version[i] > kFpgaMaxVersion[i])
                return kFpgaVersionUnsupported;
        }
        uint8_t depth;
        if (!Tagged(kFpgaTagBufferSize) || !Summed(byte) || !Tagged(kFpgaTagNestingDepth) ||
            !Summed(depth))
            return kFpgaHeaderError;
        if (depth > kFpgaMaxNestingDepth)
            return kFpgaHeaderError;
        if (!Tagged(kFpgaTagMaskBufferSize) || !Summed(byte) || !Tagged(kFpgaTagChannel) ||
            !Summed(s_.channel))
            return kFpgaHeaderError;
        if (!s_.data.OpenDataFile())
            return kFpgaDataError;
        if (!Summed(byte) ||
            (byte != kFpgaTagCompression && byte != kFpgaTagCompressionAlternative) ||
            !Summed(byte))
            return kFpgaHeaderError;
        const uint32_t computed = sum_ & 0xFFFF;
        uint8_t high, low;
        if (!s_.algorithm.ReadByte(byte) || byte != kFpgaTagChecksum ||
            !s_.algorithm.ReadByte(high) || !s_.algorithm.ReadByte(low))
            return kFpgaHeaderError;
        if ((high != kFpgaChecksumAnyByte && high != (computed >> 8)) ||
            (low != kFpgaChecksumAnyByte && low != (computed & 0xFF)))
            return kFpgaChecksumMismatch;
        if (!s_.algorithm.ReadByte(byte) || byte != kFpgaStreamStart)
            return kFpgaHeaderError;
        return kFpgaSuccess;
    }

    // The next header byte, added to the checksum.
    bool Summed(uint8_t& byte) {
        if (!s_.algorithm.ReadByte(byte))
            return false;
        sum_ += byte;
        return true;
    }
    bool Tagged(uint8_t tag) {
        uint8_t byte;
        return Summed(byte) && byte == tag;
    }

    // The opcodes of the top level (depth 0) or of a body (depth: bodies open).
    int RunProgram(Source& in, uint32_t depth) {
        for (;;) {
            uint8_t opcode;
            if (!in.Next(opcode))
                return in.InBody() ? kFpgaSuccess : kFpgaStreamError;
            uint32_t value;
            int result;
            switch (opcode) {
                case OP_START_TRANSACTION:
                    if (!link_.StartTransaction(s_.channel))
                        return kFpgaTransferFailed;
                    break;
                case OP_TRANSMIT:
                case OP_RECEIVE:
                    result = RunTransaction(in, opcode, depth);
                    if (result != kFpgaSuccess)
                        return result;
                    break;
                case OP_RUN_CLOCK:
                    if (!ReadNonZero(in, value))
                        return kFpgaStreamError;
                    break;
                case OP_NOP_COUNT:
                    if (!ReadVarint(in, value))
                        return kFpgaStreamError;
                    break;
                case OP_END_TRANSACTION:
                    if (!link_.EndTransaction())
                        return kFpgaTransferFailed;
                    break;
                case OP_RESET_DATA:
                    if (!s_.data.RewindData())
                        return kFpgaResetFailed;
                    break;
                case OP_WAIT:
                    if (!ReadNonZero(in, value))
                        return kFpgaStreamError;
                    link_.WaitMilliseconds(value);
                    break;
                case OP_REPEAT:
                case OP_LOOP:
                    result = RunBody(in, opcode, depth);
                    if (result != kFpgaSuccess)
                        return result;
                    break;
                case OP_END_OF_ALGORITHM:
                    return kFpgaSuccess;
                case OP_COMMENT:
                    if (!SkipComment(in))
                        return kFpgaStreamError;
                    break;
                default:
                    return kFpgaStreamError;
            }
        }
    }

    // OP_REPEAT or OP_LOOP at depth: its count, its body, and the runs of the body.
    int RunBody(Source& in, uint8_t opener, uint32_t depth) {
        uint32_t count;
        if (!ReadNonZero(in, count) || depth >= kFpgaMaxNestingDepth)
            return kFpgaStreamError;
        FpgaBodyScanner scanner(opener, kFpgaMaxNestingDepth - 1 - depth);
        const uint8_t* begin;
        const uint8_t* end;
        uint8_t byte;
        if (!in.InBody()) {
            // From the file into the body buffer, without its comments.
            uint32_t length = 0;
            for (;;) {
                if (!in.Next(byte))
                    return kFpgaStreamError;
                const FpgaBodyScanner::Verdict verdict = scanner.Next(byte);
                if (verdict == FpgaBodyScanner::kEnd)
                    break;
                if (verdict == FpgaBodyScanner::kDrop)
                    continue;
                if (verdict != FpgaBodyScanner::kKeep || length == kFpgaBodyBufferSize)
                    return kFpgaStreamError;
                s_.body[length++] = byte;
            }
            begin = s_.body;
            end = s_.body + length;
        } else {
            // Inside a body, whose comments are gone already: used in place.
            begin = in.At();
            for (;;) {
                if (!in.Next(byte))
                    return kFpgaStreamError;
                const FpgaBodyScanner::Verdict verdict = scanner.Next(byte);
                if (verdict == FpgaBodyScanner::kEnd)
                    break;
                if (verdict != FpgaBodyScanner::kKeep)
                    return kFpgaStreamError;
            }
            end = in.At() - 1;
        }
        if (opener == OP_REPEAT) {
            for (uint32_t run = 0; run < count; ++run) {
                Source body(begin, end);
                const int result = RunProgram(body, depth + 1);
                if (result != kFpgaSuccess)
                    return result;
            }
            return kFpgaSuccess;
        }
        for (uint32_t run = 0; run < count; ++run) {
            Source body(begin, end);
            if (RunProgram(body, depth + 1) == kFpgaSuccess)
                return kFpgaSuccess;
        }
        return kFpgaLoopFailed;
    }

    // A transaction at depth, from the OP_TRANSMIT or OP_RECEIVE that opened it.
    int RunTransaction(Source& in, uint8_t opcode, uint32_t depth) {
        TransactionState& t = s_.transactions[depth];
        t.Reset();
        for (;;) {
            uint32_t value;
            int result;
            switch (opcode) {
                case OP_TRANSMIT: {
                    if (!ReadTransferSize(in, t))
                        return kFpgaStreamError;
                    uint8_t source;
                    if (!in.Next(source))
                        return kFpgaStreamError;
                    if (source == kFpgaSourceInline) {
                        if (t.bytes > kFpgaDataBufferSize)
                            return kFpgaStreamError;
                        for (uint32_t i = 0; i < t.bytes; ++i) {
                            if (!in.Next(t.data[i]))
                                return kFpgaStreamError;
                        }
                        if (t.bytes > t.dataBytes)
                            t.dataBytes = t.bytes;
                        if (!link_.TransmitBits(t.data, t.bytes * 8))
                            return kFpgaTransferFailed;
                    } else if (source == kFpgaSourceDataset) {
                        result = TransmitDataset(kFpgaDatasetChecked, t);
                        if (result != kFpgaSuccess)
                            return result;
                    } else {
                        return kFpgaStreamError;
                    }
                    t.receivePending = false;
                    break;
                }
                case OP_RECEIVE:
                    if (!ReadTransferSize(in, t))
                        return kFpgaStreamError;
                    t.receivePending = true;
                    break;
                case OP_RUN_CLOCK:
                    if (!ReadNonZero(in, value))
                        return kFpgaStreamError;
                    break;
                case OP_MASK:
                    if (t.bits > kFpgaMaskMaxBits)
                        return kFpgaStreamError;
                    for (uint32_t i = 0; i < t.bytes; ++i) {
                        if (!in.Next(t.mask[i]))
                            return kFpgaStreamError;
                    }
                    t.maskBytes = t.bytes;
                    t.masked = true;
                    break;
                case OP_INLINE_DATA:
                    result = t.receivePending ? CompareInline(in, t) : TransmitInline(t);
                    if (result != kFpgaSuccess)
                        return result;
                    break;
                case OP_DATASET_DATA:
                case OP_CHECKED_DATASET_DATA: {
                    const uint8_t dataset =
                        opcode == OP_DATASET_DATA ? kFpgaDatasetUnchecked : kFpgaDatasetChecked;
                    if (t.receivePending) {
                        bool same;
                        result = CompareDataset(dataset, t, same);
                        if (!same && opcode == OP_CHECKED_DATASET_DATA)
                            ++t.mismatches;
                    } else {
                        result = TransmitDataset(dataset, t);
                    }
                    if (result != kFpgaSuccess)
                        return result;
                    break;
                }
                case OP_RESET_DATA:
                    s_.data.RewindData();
                    break;
                case OP_WAIT:
                    if (!ReadNonZero(in, value))
                        return kFpgaStreamError;
                    link_.WaitMilliseconds(value);
                    break;
                case OP_REPEAT:
                    result = RunBody(in, opcode, depth);
                    if (result != kFpgaSuccess)
                        return result;
                    break;
                case OP_COMMENT:
                    if (!SkipComment(in))
                        return kFpgaStreamError;
                    break;
                case OP_END_TRANSACTION:
                    if (!link_.EndTransaction())
                        return kFpgaTransferFailed;
                    return Verdict(t);
                default:
                    // In a body, an opcode of the main level ends the transaction
                    // and is skipped; in the file it is an error.
                    return in.InBody() ? Verdict(t) : kFpgaStreamError;
            }
            if (!in.Next(opcode))
                return in.InBody() ? Verdict(t) : kFpgaStreamError;
        }
    }

    static int Verdict(const TransactionState& t) {
        return t.mismatches != 0 ? kFpgaVerifyFailed : kFpgaSuccess;
    }

    static bool ReadTransferSize(Source& in, TransactionState& t) {
        if (!ReadNonZero(in, t.bits))
            return false;
        t.bytes = FpgaByteCount(t.bits);
        return true;
    }

    // OP_INLINE_DATA without a pending receive: the data buffer goes out again.
    int TransmitInline(TransactionState& t) {
        if (t.bytes > kFpgaDataBufferSize)
            return kFpgaStreamError;
        if (t.bytes > t.dataBytes) {
            std::memset(t.data + t.dataBytes, 0, t.bytes - t.dataBytes);
            t.dataBytes = t.bytes;
        }
        return link_.TransmitBits(t.data, t.bytes * 8) ? kFpgaSuccess : kFpgaTransferFailed;
    }

    // OP_INLINE_DATA with a pending receive: receives, then compares with the
    // expected bytes that follow in the stream.
    int CompareInline(Source& in, TransactionState& t) {
        if (t.bytes > kFpgaReceiveBufferSize)
            return kFpgaStreamError;
        if (!link_.ReceiveBits(t.data, t.bytes * 8))
            return kFpgaTransferFailed;
        if (t.bytes > t.dataBytes)
            t.dataBytes = t.bytes;
        const uint32_t partial = t.bits % 8;
        for (uint32_t i = 0; i < t.bytes; ++i) {
            uint8_t expected;
            if (!in.Next(expected))
                return kFpgaStreamError;
            uint8_t received = t.data[i];
            if (t.masked && i < t.maskBytes) {
                expected &= t.mask[i];
                received &= t.mask[i];
            } else if (partial != 0 && i + 1 == t.bytes) {
                received &= static_cast<uint8_t>(0xFF << (8 - partial));
            }
            if (received != expected)
                ++t.mismatches;
        }
        return kFpgaSuccess;
    }

    // Receives a transfer and compares it with the next bytes of dataset; same
    // tells whether they agreed.
    int CompareDataset(uint8_t dataset, const TransactionState& t, bool& same) {
        same = true;
        if (t.bytes > kFpgaReceiveBufferSize)
            return kFpgaStreamError;
        if (!link_.ReceiveBits(s_.receive, t.bytes * 8))
            return kFpgaTransferFailed;
        const uint32_t partial = t.bits % 8;
        s_.data.BeginTransfer();
        for (uint32_t i = 0; i < t.bytes; ++i) {
            uint8_t expected;
            if (!s_.data.GetDataByte(dataset, t.bits, expected))
                return kFpgaDataError;
            uint8_t received = s_.receive[i];
            if (t.masked && i < t.maskBytes) {
                expected &= t.mask[i];
                received &= t.mask[i];
            }
            if (partial != 0 && i + 1 == t.bytes) {
                const uint8_t kept = static_cast<uint8_t>(0xFF << (8 - partial));
                expected &= kept;
                received &= kept;
            }
            if (received != expected)
                same = false;
        }
        return kFpgaSuccess;
    }

    // Sends the next bytes of dataset for the current transfer, shifted for a
    // partial one so that the dataset's bits come last.
    int TransmitDataset(uint8_t dataset, const TransactionState& t) {
        if (t.bytes > kFpgaReceiveBufferSize)
            return kFpgaStreamError;
        const uint32_t partial = t.bits % 8;
        s_.data.BeginTransfer();
        uint8_t* out = s_.receive;
        if (partial == 0) {
            for (uint32_t i = 0; i < t.bytes; ++i) {
                if (!s_.data.GetDataByte(dataset, t.bits, out[i]))
                    return kFpgaDataError;
            }
        } else {
            uint8_t carry = static_cast<uint8_t>(0xFF << partial);
            for (uint32_t i = 0; i < t.bytes; ++i) {
                uint8_t byte;
                if (!s_.data.GetDataByte(dataset, t.bits, byte))
                    return kFpgaDataError;
                out[i] = static_cast<uint8_t>(carry + (byte >> (8 - partial)));
                carry = static_cast<uint8_t>(byte << partial);
            }
        }
        return link_.TransmitBits(out, t.bytes * 8) ? kFpgaSuccess : kFpgaTransferFailed;
    }

    EngineState& s_;
    FpgaLink& link_;
    uint32_t sum_;
};

}  // namespace

void SetFpgaFiles(const NString& algorithmPath, const NString& dataPath) {
    EngineState& state = Engine();
    state.algorithmName = algorithmPath;
    state.data.SetFileName(dataPath);
}

int RunAlgorithm(uint32_t algorithmId) {
    AlgorithmRun run(Engine(), CurrentFpgaLink());
    return run.Run(algorithmId);
}

bool ProgramFpga(const NString& algorithmPath, const NString& dataPath) {
    SetFpgaFiles(algorithmPath, dataPath);
    const bool success = RunAlgorithm(kFpgaAnyAlgorithmId) == kFpgaSuccess;
    FileOperation::RemoveFileNarrow(algorithmPath);
    FileOperation::RemoveFileNarrow(dataPath);
    FileOperation::RemoveFile(kFpgaTempPeripheralConfigPath);
    return success;
}
