#include "sim/fpga_algorithm_text.h"

#include <cstdio>
#include <sstream>
#include <utility>

#include "fpga/fpga_body_scanner.h"
#include "fpga/fpga_format.h"
#include "sim/fpga_data_file.h"

namespace sim {

FpgaTextError::FpgaTextError(int line, const std::string& what)
    : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}

namespace {

typedef std::vector<uint8_t> Bytes;

struct Mnemonic {
    uint8_t opcode;
    const char* name;
};

const Mnemonic kMnemonics[] = {
    {OP_START_TRANSACTION, "start_transaction"},
    {OP_TRANSMIT, "transmit"},
    {OP_RECEIVE, "receive"},
    {OP_RUN_CLOCK, "run_clock"},
    {OP_NOP_COUNT, "nop_count"},
    {OP_END_TRANSACTION, "end_transaction"},
    {OP_MASK, "mask"},
    {OP_INLINE_DATA, "inline_data"},
    {OP_DATASET_DATA, "dataset_data"},
    {OP_RESET_DATA, "reset_data"},
    {OP_CHECKED_DATASET_DATA, "checked_dataset_data"},
    {OP_WAIT, "wait"},
    {OP_REPEAT, "repeat"},
    {OP_END_REPEAT, "end_repeat"},
    {OP_LOOP, "loop"},
    {OP_END_LOOP, "end_loop"},
    {OP_END_OF_ALGORITHM, "end_of_algorithm"},
    {OP_COMMENT, "comment"},
};

const char* NameOf(uint8_t opcode) {
    for (const Mnemonic& m : kMnemonics) {
        if (m.opcode == opcode)
            return m.name;
    }
    return nullptr;
}

bool OpcodeOf(const std::string& name, uint8_t& opcode) {
    for (const Mnemonic& m : kMnemonics) {
        if (name == m.name) {
            opcode = m.opcode;
            return true;
        }
    }
    return false;
}

std::string Hex8(uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof(text), "%02x", value & 0xFF);
    return text;
}

std::string HexValue(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%0*x", digits, value);
    return text;
}

// "00001f:", the label of a disassembled line.
std::string OffsetLabel(size_t offset) {
    char text[32];
    std::snprintf(text, sizeof(text), "%06zx:", offset);
    return text;
}

std::string HexList(const uint8_t* data, size_t size) {
    std::string text;
    for (size_t i = 0; i < size; ++i)
        text += (i ? " " : "") + Hex8(data[i]);
    return text;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---------------------------------------------------------------------------
// The rules both directions keep: which opcode belongs where, which operands the
// engine takes, and what the transaction and body nesting look like after each.

struct Transaction {
    bool open = false;
    bool receivePending = false;
    uint32_t bits = 0;
    uint32_t bytes = 0;
};

// What the rules make of one opcode: empty when fine; skipped when the engine
// would skip it (an opcode of the main level inside a transaction in a body).
struct Verdict {
    std::string error;
    bool skipped = false;
};

class StreamRules {
  public:
    StreamRules() : levels_(1) {}

    bool InBody() const { return levels_.size() > 1; }
    uint32_t Depth() const { return uint32_t(levels_.size() - 1); }
    bool InTransaction() const { return levels_.back().transaction.open; }
    bool Ended() const { return ended_; }
    uint8_t Opener() const { return levels_.back().opener; }
    // The transfer the next mask or inline_data refers to.
    const Transaction& Current() const { return levels_.back().transaction; }

    // Operand bytes that follow an opcode whose size depends on the state:
    // mask and inline_data (transmit's follow from its own bit count).
    size_t OperandBytes(uint8_t opcode) const {
        const Transaction& t = Current();
        if (opcode == OP_MASK)
            return t.bytes;
        if (opcode == OP_INLINE_DATA)
            return t.receivePending ? t.bytes : 0;
        return 0;
    }

    // value: bits, count or milliseconds; source: transmit's source byte.
    Verdict Apply(uint8_t opcode, uint32_t value = 0, uint8_t source = 0) {
        Verdict v;
        Transaction& t = levels_.back().transaction;
        const char* name = NameOf(opcode);
        if (ended_ && !InBody()) {
            v.error = "the engine reads nothing after end_of_algorithm";
            return v;
        }
        const bool mainOnly = opcode == OP_START_TRANSACTION || opcode == OP_NOP_COUNT ||
                              opcode == OP_LOOP || opcode == OP_END_OF_ALGORITHM;
        const bool transactionOnly = opcode == OP_MASK || opcode == OP_INLINE_DATA ||
                                     opcode == OP_DATASET_DATA || opcode == OP_CHECKED_DATASET_DATA;
        if (t.open && mainOnly) {
            if (InBody()) {
                v.skipped = true;
                v.error = std::string(name) +
                          " inside a transaction in a body: the engine ends the transaction and "
                          "skips it";
            } else {
                v.error =
                    std::string(name) + " inside a transaction: end it with end_transaction first";
            }
            return v;
        }
        if (!t.open && transactionOnly) {
            v.error = std::string(name) + " outside a transaction (it follows transmit or receive)";
            return v;
        }
        switch (opcode) {
            case OP_TRANSMIT:
            case OP_RECEIVE:
                if (value == 0) {
                    v.error = std::string(name) + " of 0 bits";
                    return v;
                }
                t.open = true;
                t.bits = value;
                t.bytes = FpgaByteCount(value);
                if (opcode == OP_RECEIVE) {
                    t.receivePending = true;
                    return v;
                }
                t.receivePending = false;
                if (source == kFpgaSourceInline && t.bytes > kFpgaDataBufferSize) {
                    v.error = "transmit of " + std::to_string(t.bytes) + " inline bytes (at most " +
                              std::to_string(kFpgaDataBufferSize) + ")";
                } else if (source == kFpgaSourceDataset && t.bytes > kFpgaReceiveBufferSize) {
                    v.error = "transmit of " + std::to_string(t.bytes) +
                              " dataset bytes (at most " + std::to_string(kFpgaReceiveBufferSize) +
                              ")";
                } else if (source != kFpgaSourceInline && source != kFpgaSourceDataset) {
                    v.error =
                        "transmit source " + HexValue(source, 2) + " (inline 0x22 or dataset 0x27)";
                }
                return v;
            case OP_RUN_CLOCK:
            case OP_WAIT:
                if (value == 0)
                    v.error = std::string(name) + " 0";
                return v;
            case OP_END_TRANSACTION:
                t = Transaction();
                return v;
            case OP_MASK:
                if (t.bits > kFpgaMaskMaxBits)
                    v.error = "mask for a transfer of " + std::to_string(t.bits) +
                              " bits (at most " + std::to_string(kFpgaMaskMaxBits) + ")";
                return v;
            case OP_INLINE_DATA:
            case OP_DATASET_DATA:
            case OP_CHECKED_DATASET_DATA:
                if ((t.receivePending || opcode != OP_INLINE_DATA) &&
                    t.bytes > kFpgaReceiveBufferSize) {
                    v.error = std::string(name) + " for a transfer of " + std::to_string(t.bytes) +
                              " bytes (at most " + std::to_string(kFpgaReceiveBufferSize) + ")";
                }
                return v;
            case OP_REPEAT:
            case OP_LOOP:
                if (value == 0) {
                    v.error = std::string(name) + " 0";
                } else if (Depth() >= kFpgaMaxNestingDepth) {
                    v.error = "bodies nested deeper than " + std::to_string(kFpgaMaxNestingDepth);
                } else {
                    levels_.push_back(Level());
                    levels_.back().opener = opcode;
                }
                return v;
            case OP_END_REPEAT:
            case OP_END_LOOP: {
                const uint8_t opens = opcode == OP_END_REPEAT ? OP_REPEAT : OP_LOOP;
                if (!InBody())
                    v.error = std::string(name) + " without its " + NameOf(opens);
                else if (Opener() != opens)
                    v.error = std::string(name) + " closes a " + NameOf(Opener());
                else
                    levels_.pop_back();
                return v;
            }
            case OP_END_OF_ALGORITHM:
                if (!InBody())
                    ended_ = true;
                return v;
            default:
                return v;
        }
    }

    // What is missing at the end of the file; empty when nothing.
    std::string AtEnd() const {
        if (InBody())
            return std::string(NameOf(Opener())) + " without its end";
        if (InTransaction())
            return "the file ends inside a transaction";
        if (!ended_)
            return "the stream has no end_of_algorithm at the main level";
        return std::string();
    }

  private:
    struct Level {
        uint8_t opener = 0;
        Transaction transaction;
    };
    std::vector<Level> levels_;
    bool ended_ = false;
};

// How the bytes of a body were written: as opcodes, as comment lines, or raw.
enum ByteClass : uint8_t { kOpcodeByte, kCommentByte, kRawByte };

// Checks that the engine's bytewise scan of a body (size bytes, followed by its
// end marker at body[size]) ends at that marker, keeps every opcode byte and
// drops every comment line; empty when it does.
struct ScanProblem {
    std::string what;  // empty: none
    size_t at = 0;     // body offset of the byte at fault
};

ScanProblem CheckBodyScan(const uint8_t* body, size_t size, const std::vector<ByteClass>& classes,
                          uint8_t opener, uint32_t depth) {
    FpgaBodyScanner scanner(opener, kFpgaMaxNestingDepth - 1 - depth);
    size_t kept = 0;
    for (size_t i = 0; i <= size; ++i) {
        const FpgaBodyScanner::Verdict v = scanner.Next(body[i]);
        ScanProblem problem;
        problem.at = i;
        const std::string where = "byte " + HexValue(body[i], 2);
        if (i == size) {
            if (v != FpgaBodyScanner::kEnd) {
                problem.what = scanner.InComment()
                                   ? "a comment block (0xa0 in an operand) swallows the body's end"
                                   : "the engine's scan does not end the body here";
                return problem;
            }
            break;
        }
        if (v == FpgaBodyScanner::kEnd)
            problem.what = where + " ends the body early in the engine's bytewise scan";
        else if (v == FpgaBodyScanner::kUnmatched)
            problem.what =
                where + " is an end marker that closes nothing open in the engine's scan";
        else if (v == FpgaBodyScanner::kTooDeep)
            problem.what = where + " opens a body nested too deep in the engine's scan";
        else if (classes[i] == kOpcodeByte && v != FpgaBodyScanner::kKeep)
            problem.what = where +
                           " falls into a comment block (0xa0 in an operand) in the "
                           "engine's scan";
        else if (classes[i] == kCommentByte && v != FpgaBodyScanner::kDrop)
            problem.what = "the engine's scan does not see this comment as one";
        if (!problem.what.empty())
            return problem;
        if (v == FpgaBodyScanner::kKeep)
            ++kept;
    }
    ScanProblem problem;
    if (depth == 0 && kept > kFpgaBodyBufferSize) {
        problem.what = "a body of " + std::to_string(kept) + " bytes (at most " +
                       std::to_string(kFpgaBodyBufferSize) + ", comments not counted)";
        problem.at = size;
    }
    return problem;
}

// The header's lines, in file order.
const int kHeaderItems = 9;
const char* const kItems[kHeaderItems] = {"id",          "version",   "buffer_size",
                                          "nesting",     "mask_size", "channel",
                                          "compression", "checksum",  "begin"};

// ---------------------------------------------------------------------------
// The assembler.

struct Token {
    std::string text;
    bool quoted = false;
};

class Assembler {
  public:
    Bytes Run(const std::string& text) {
        std::istringstream in(text);
        std::string raw;
        int number = 0;
        while (std::getline(in, raw)) {
            ++number;
            line_ = number;
            std::vector<Token> tokens = Tokenize(raw);
            if (tokens.empty())
                continue;
            Line(tokens);
        }
        line_ = number;
        Finish();
        return out_;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const { throw FpgaTextError(line_, what); }

    std::vector<Token> Tokenize(const std::string& raw) const {
        std::vector<Token> tokens;
        size_t i = 0;
        while (i < raw.size()) {
            const char c = raw[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
            } else if (c == '#') {
                break;
            } else if (c == '"') {
                Token token;
                token.quoted = true;
                ++i;
                bool closed = false;
                while (i < raw.size()) {
                    char d = raw[i++];
                    if (d == '"') {
                        closed = true;
                        break;
                    }
                    if (d == '\\') {
                        if (i >= raw.size())
                            break;
                        const char e = raw[i++];
                        if (e == 'n') {
                            d = '\n';
                        } else if (e == 't') {
                            d = '\t';
                        } else if (e == 'r') {
                            d = '\r';
                        } else if (e == 'x') {
                            uint8_t value;
                            if (i + 2 > raw.size() || !HexByte(raw.substr(i, 2), value))
                                Fail("\\x takes two hexadecimal digits");
                            d = char(value);
                            i += 2;
                        } else if (e == '\\' || e == '"') {
                            d = e;
                        } else {
                            Fail(std::string("unknown escape \\") + e);
                        }
                    }
                    token.text += d;
                }
                if (!closed)
                    Fail("a text without its closing quote");
                tokens.push_back(token);
            } else if (c == '[') {
                const size_t close = raw.find(']', i);
                if (close == std::string::npos)
                    Fail("'[' without its ']'");
                Token token;
                token.text = raw.substr(i, close - i + 1);
                tokens.push_back(token);
                i = close + 1;
            } else {
                size_t end = i;
                while (end < raw.size() && raw[end] != ' ' && raw[end] != '\t' &&
                       raw[end] != '\r' && raw[end] != '#' && raw[end] != '"')
                    ++end;
                Token token;
                token.text = raw.substr(i, end - i);
                tokens.push_back(token);
                i = end;
            }
        }
        // An offset label as the disassembler writes it.
        if (!tokens.empty() && !tokens[0].quoted && tokens[0].text.size() > 1 &&
            tokens[0].text.back() == ':' &&
            tokens[0].text.find_first_not_of("0123456789abcdefABCDEF") ==
                tokens[0].text.size() - 1) {
            tokens.erase(tokens.begin());
        }
        return tokens;
    }

    static bool HexByte(const std::string& two, uint8_t& value) {
        if (two.size() != 2 || two.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        value = uint8_t(std::stoul(two, nullptr, 16));
        return true;
    }

    uint32_t Number(const Token& token, uint64_t max, const char* what) const {
        const std::string& t = token.text;
        const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
        const std::string digits = hex ? t.substr(2) : t;
        if (token.quoted || digits.empty() || digits.size() > (hex ? 8u : 10u) ||
            digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                std::string::npos)
            Fail(std::string(what) + ": '" + t + "' is not a number");
        const unsigned long long value = std::stoull(digits, nullptr, hex ? 16 : 10);
        if (value > max)
            Fail(std::string(what) + ": " + t + " is more than " + std::to_string(max));
        return uint32_t(value);
    }

    // A count: a number, or its exact encoding in brackets.
    uint32_t Count(const Token& token, Bytes& encoding, const char* what) const {
        if (!token.quoted && !token.text.empty() && token.text[0] == '[') {
            Token inner;
            inner.text = token.text.substr(1, token.text.size() - 2);
            std::istringstream parts(inner.text);
            std::string part;
            std::vector<Token> list;
            while (parts >> part) {
                Token p;
                p.text = part;
                list.push_back(p);
            }
            encoding = HexBytes(list, 0, what);
            if (encoding.empty())
                Fail(std::string(what) + ": an empty encoding");
            uint32_t value = 0, shift = 0;
            for (size_t i = 0; i < encoding.size(); ++i) {
                const bool more = FpgaVarintAdd(encoding[i], value, shift);
                if (more != (i + 1 < encoding.size()))
                    Fail(std::string(what) + ": " + token.text +
                         " is not one encoded number (bit 7 set on every byte but the last)");
            }
            return value;
        }
        const uint32_t value = Number(token, 0xFFFFFFFFu, what);
        encoding = EncodeFpgaVarint(value);
        return value;
    }

    Bytes HexBytes(const std::vector<Token>& tokens, size_t from, const char* what) const {
        Bytes bytes;
        for (size_t i = from; i < tokens.size(); ++i) {
            std::string t = tokens[i].text;
            if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
                t = t.substr(2);
            if (tokens[i].quoted || t.empty() || t.size() % 2 != 0)
                Fail(std::string(what) + ": '" + tokens[i].text + "' is not hexadecimal bytes");
            for (size_t k = 0; k < t.size(); k += 2) {
                uint8_t value;
                if (!HexByte(t.substr(k, 2), value))
                    Fail(std::string(what) + ": '" + tokens[i].text + "' is not hexadecimal bytes");
                bytes.push_back(value);
            }
        }
        return bytes;
    }

    void Arguments(const std::vector<Token>& tokens, size_t count) const {
        if (tokens.size() != count + 1) {
            Fail(tokens[0].text + " takes " + std::to_string(count) + " value" +
                 (count == 1 ? "" : "s"));
        }
    }

    void Emit(const Bytes& bytes, ByteClass kind) {
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        classes_.insert(classes_.end(), bytes.size(), kind);
        lines_.insert(lines_.end(), bytes.size(), line_);
    }

    std::string CommentText(const std::vector<Token>& tokens) const {
        if (tokens.size() != 2 || !tokens[1].quoted)
            Fail("comment takes one text in quotes");
        if (tokens[1].text.find(char(kFpgaTagCommentEnd)) != std::string::npos)
            Fail("a comment cannot hold the byte 0xa1, which ends it");
        return tokens[1].text;
    }

    void Line(const std::vector<Token>& tokens) {
        const std::string& keyword = tokens[0].text;
        if (tokens[0].quoted)
            Fail("a line starts with a keyword, not a text");
        if (keyword == "bytes") {
            if (tokens.size() < 2)
                Fail("bytes takes at least one byte");
            if (header_ == 0)
                rawOnly_ = true;
            else if (rawOnly_)
                Fail("a file that starts with bytes is written with bytes only");
            Emit(HexBytes(tokens, 1, "bytes"), kRawByte);
            lastRaw_ = !rules_.InBody();
            return;
        }
        if (rawOnly_)
            Fail("a file that starts with bytes is written with bytes only");
        lastRaw_ = false;
        if (header_ < kHeaderItems) {
            HeaderLine(tokens);
            return;
        }
        StreamLine(tokens);
    }

    void HeaderLine(const std::vector<Token>& tokens) {
        const std::string& keyword = tokens[0].text;
        if (keyword == "comment" && header_ == 0) {
            const std::string text = CommentText(tokens);
            Summed(Bytes{kFpgaTagCommentStart});
            Summed(Bytes(text.begin(), text.end()));
            Summed(Bytes{kFpgaTagCommentEnd});
            return;
        }
        if (keyword != kItems[header_]) {
            Fail("the header needs '" + std::string(kItems[header_]) + "' here, not '" + keyword +
                 "' (id, version, buffer_size, nesting, mask_size, channel, compression, "
                 "checksum, begin)");
        }
        switch (header_) {
            case 0: {
                Arguments(tokens, 1);
                const uint32_t id = Number(tokens[1], 0xFFFFFFFFu, "id");
                Summed(Bytes{kFpgaTagAlgorithmId, uint8_t(id >> 24), uint8_t(id >> 16),
                             uint8_t(id >> 8), uint8_t(id)});
                break;
            }
            case 1:
                Arguments(tokens, 3);
                Summed(Bytes{kFpgaTagVersion, uint8_t(Number(tokens[1], 255, "version")),
                             uint8_t(Number(tokens[2], 255, "version")),
                             uint8_t(Number(tokens[3], 255, "version"))});
                break;
            case 2:
            case 3:
            case 4:
            case 5: {
                static const uint8_t kTags[] = {kFpgaTagBufferSize, kFpgaTagNestingDepth,
                                                kFpgaTagMaskBufferSize, kFpgaTagChannel};
                Arguments(tokens, 1);
                Summed(Bytes{kTags[header_ - 2], uint8_t(Number(tokens[1], 255, kItems[header_]))});
                break;
            }
            case 6: {
                uint8_t tag = kFpgaTagCompression;
                if (tokens.size() == 4 && tokens[2].text == "tag") {
                    tag = uint8_t(Number(tokens[3], 255, "compression tag"));
                    if (tag != kFpgaTagCompression && tag != kFpgaTagCompressionAlternative)
                        Fail("compression tag: 0xa9 or 0xa0");
                } else {
                    Arguments(tokens, 1);
                }
                Summed(Bytes{tag, uint8_t(Number(tokens[1], 255, "compression"))});
                break;
            }
            case 7: {
                Arguments(tokens, 1);
                const uint32_t value = tokens[1].text == "auto"
                                           ? (sum_ & 0xFFFF)
                                           : Number(tokens[1], 0xFFFF, "checksum");
                Emit(Bytes{kFpgaTagChecksum, uint8_t(value >> 8), uint8_t(value)}, kOpcodeByte);
                break;
            }
            case 8:
                Arguments(tokens, 0);
                Emit(Bytes{kFpgaStreamStart}, kOpcodeByte);
                break;
        }
        ++header_;
    }

    void Summed(const Bytes& bytes) {
        for (uint8_t b : bytes)
            sum_ += b;
        Emit(bytes, kOpcodeByte);
    }

    void Apply(uint8_t opcode, uint32_t value = 0, uint8_t source = 0) {
        const Verdict v = rules_.Apply(opcode, value, source);
        if (!v.error.empty())
            Fail(v.error);
    }

    void StreamLine(const std::vector<Token>& tokens) {
        const std::string& keyword = tokens[0].text;
        uint8_t opcode;
        if (!OpcodeOf(keyword, opcode))
            Fail("unknown opcode '" + keyword + "'");
        Bytes encoding;
        switch (opcode) {
            case OP_TRANSMIT: {
                if (tokens.size() < 3)
                    Fail("transmit takes BITS inline HEX... or BITS dataset");
                const uint32_t bits = Count(tokens[1], encoding, "transmit");
                if (tokens[2].text == "dataset") {
                    Arguments(tokens, 2);
                    Apply(opcode, bits, kFpgaSourceDataset);
                    Emit(Bytes{opcode} + encoding + Bytes{kFpgaSourceDataset}, kOpcodeByte);
                } else if (tokens[2].text == "inline") {
                    const Bytes data = HexBytes(tokens, 3, "transmit");
                    Apply(opcode, bits, kFpgaSourceInline);
                    if (data.size() != FpgaByteCount(bits)) {
                        Fail("transmit " + std::to_string(bits) + " inline takes " +
                             std::to_string(FpgaByteCount(bits)) + " bytes, not " +
                             std::to_string(data.size()));
                    }
                    Emit(Bytes{opcode} + encoding + Bytes{kFpgaSourceInline} + data, kOpcodeByte);
                } else {
                    Fail("transmit's source is 'inline' or 'dataset', not '" + tokens[2].text +
                         "'");
                }
                return;
            }
            case OP_RECEIVE:
            case OP_RUN_CLOCK:
            case OP_NOP_COUNT:
            case OP_WAIT:
            case OP_REPEAT:
            case OP_LOOP: {
                Arguments(tokens, 1);
                const uint32_t value = Count(tokens[1], encoding, keyword.c_str());
                const size_t at = out_.size();
                Apply(opcode, value);
                Emit(Bytes{opcode} + encoding, kOpcodeByte);
                if (opcode == OP_REPEAT || opcode == OP_LOOP)
                    bodies_.push_back(OpenBody{at + 1 + encoding.size(), line_});
                return;
            }
            case OP_MASK:
            case OP_INLINE_DATA: {
                const Bytes data = HexBytes(tokens, 1, keyword.c_str());
                const size_t expected = rules_.OperandBytes(opcode);
                Apply(opcode);
                if (data.size() != expected) {
                    Fail(keyword + " takes " + std::to_string(expected) + " bytes here, not " +
                         std::to_string(data.size()) +
                         (opcode == OP_INLINE_DATA
                              ? (rules_.Current().receivePending ? " (the bytes expected after "
                                                                   "the receive)"
                                                                 : " (after a transmit it sends "
                                                                   "the inline bytes again)")
                              : " (one per byte of the transfer)"));
                }
                Emit(Bytes{opcode} + data, kOpcodeByte);
                return;
            }
            case OP_COMMENT: {
                const std::string text = CommentText(tokens);
                Apply(opcode);
                Emit(Bytes{kFpgaTagCommentStart}, kCommentByte);
                Emit(Bytes(text.begin(), text.end()), kCommentByte);
                Emit(Bytes{kFpgaTagCommentEnd}, kCommentByte);
                return;
            }
            case OP_END_REPEAT:
            case OP_END_LOOP: {
                Arguments(tokens, 0);
                const uint8_t opener = rules_.InBody() ? rules_.Opener() : 0;
                const uint32_t depth = rules_.Depth() - 1;
                Apply(opcode);
                const OpenBody body = bodies_.back();
                bodies_.pop_back();
                Emit(Bytes{opcode}, kOpcodeByte);
                const size_t size = out_.size() - 1 - body.start;
                const std::vector<ByteClass> classes(classes_.begin() + long(body.start),
                                                     classes_.end() - 1);
                const ScanProblem scan =
                    CheckBodyScan(out_.data() + body.start, size, classes, opener, depth);
                if (!scan.what.empty()) {
                    line_ = lines_[body.start + scan.at];
                    Fail("in the " + std::string(NameOf(opener)) + " body from line " +
                         std::to_string(body.line) + ": " + scan.what);
                }
                return;
            }
            default:
                Arguments(tokens, 0);
                Apply(opcode);
                Emit(Bytes{opcode}, kOpcodeByte);
                return;
        }
    }

    void Finish() {
        // A text of raw bytes only, or without any item (an empty file), is as it is.
        if (rawOnly_ || (header_ == 0 && out_.empty()))
            return;
        if (header_ < kHeaderItems) {
            Fail(std::string("the text ends before the header's '") + kItems[header_] + "'");
        }
        if (!bodies_.empty()) {
            line_ = bodies_.back().line;
            Fail(std::string(NameOf(rules_.Opener())) + " without its end");
        }
        if (lastRaw_)
            return;
        const std::string missing = rules_.AtEnd();
        if (!missing.empty())
            Fail(missing);
    }

    struct OpenBody {
        size_t start;  // offset of the body's first byte
        int line;
    };

    Bytes out_;
    std::vector<ByteClass> classes_;  // per byte of out_
    std::vector<int> lines_;          // per byte of out_: the line that wrote it
    std::vector<OpenBody> bodies_;
    StreamRules rules_;
    int line_ = 0;
    int header_ = 0;  // header items written
    bool rawOnly_ = false;
    bool lastRaw_ = false;
    uint32_t sum_ = 0;
};

// ---------------------------------------------------------------------------
// The disassembler: follows the bytes as the engine reads them.

// Printable ASCII as it is; everything else, quotes and backslashes escaped.
std::string Quoted(const uint8_t* data, size_t size) {
    std::string text = "\"";
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (c == '"' || c == '\\') {
            text += '\\';
            text += char(c);
        } else if (c >= 0x20 && c < 0x7F) {
            text += char(c);
        } else {
            text += "\\x" + Hex8(c);
        }
    }
    return text + "\"";
}

class Disassembler {
  public:
    explicit Disassembler(const Bytes& file) : b_(file) {}

    std::string Run() {
        size_t pos = 0;
        if (!Header(pos)) {
            lines_.clear();
            Raw(0, b_.size(), 0, headerProblem_);
            return Text();
        }
        Stop stop;
        if (Sequence(pos, b_.size(), stop)) {
            if (pos < b_.size())
                Raw(pos, b_.size(), 0, "after end_of_algorithm: not read by the engine");
        } else if (stop.at < b_.size()) {
            Raw(stop.at, b_.size(), Indent(), "the engine stops here: " + stop.why);
        } else if (lastItemLine_ < lines_.size()) {
            // The file ends without end_of_algorithm: its last item is shown as
            // bytes, so that the text, too, is known to end early.
            lines_.resize(lastItemLine_);
            Raw(lastItem_, b_.size(), Indent(), stop.why);
        } else {
            lines_.clear();
            Raw(0, b_.size(), 0, stop.why);
        }
        return Text();
    }

  private:
    struct Out {
        size_t offset;
        size_t size;
        ByteClass kind;
        uint32_t indent;
        std::string text;
        std::string remark;
    };
    // Where and why decoding cannot go on.
    struct Stop {
        size_t at = 0;
        std::string why;
    };

    // ---- output

    // Two spaces per body and per selection (start_transaction) around the line.
    uint32_t Indent() const {
        uint32_t indent = 2 * (uint32_t(selected_.size()) - 1);
        for (bool selected : selected_)
            indent += selected ? 2 : 0;
        return indent;
    }

    void Emit(size_t offset, size_t size, const std::string& text, const std::string& remark = "",
              ByteClass kind = kOpcodeByte) {
        lines_.push_back(Out{offset, size, kind, Indent(), text, remark});
    }

    void Raw(size_t from, size_t to, uint32_t indent, const std::string& remark) {
        bool first = true;
        for (size_t at = from; at < to; at += 16) {
            const size_t n = std::min<size_t>(16, to - at);
            lines_.push_back(Out{at, n, kRawByte, indent, "bytes " + HexList(b_.data() + at, n),
                                 first ? remark : std::string()});
            first = false;
        }
    }

    std::string Text() const {
        std::string text = "# fpga algorithm, " + std::to_string(b_.size()) + " bytes\n";
        for (const Out& line : lines_) {
            std::string row;
            if (!line.text.empty())
                row = OffsetLabel(line.offset) + " " + std::string(line.indent, ' ') + line.text;
            if (!line.remark.empty()) {
                if (row.empty()) {
                    row = "# " + line.remark;
                } else {
                    if (row.size() < 47)
                        row.append(47 - row.size(), ' ');
                    row += "  # " + line.remark;
                }
            }
            text += row + "\n";
        }
        return text;
    }

    // ---- header

    bool Byte(size_t& pos, uint8_t& byte) {
        if (pos >= b_.size())
            return false;
        byte = b_[pos++];
        return true;
    }

    bool Tag(size_t& pos, uint8_t tag, const char* item) {
        uint8_t byte;
        if (!Byte(pos, byte)) {
            headerProblem_ = std::string(
                                 "not an algorithm file the engine accepts: it ends "
                                 "before the ") +
                             item + " (result -6)";
            return false;
        }
        if (byte != tag) {
            headerProblem_ = "not an algorithm file the engine accepts: byte " + HexValue(byte, 2) +
                             " at offset " + std::to_string(pos - 1) + " where the " + item +
                             " tag " + HexValue(tag, 2) + " belongs (result -6)";
            return false;
        }
        return true;
    }

    bool Values(size_t& pos, size_t count, uint8_t* values, const char* item) {
        for (size_t i = 0; i < count; ++i) {
            if (!Byte(pos, values[i])) {
                headerProblem_ = std::string(
                                     "not an algorithm file the engine accepts: it ends in "
                                     "the ") +
                                 item + " (result -6)";
                return false;
            }
        }
        return true;
    }

    bool Header(size_t& pos) {
        uint32_t sum = 0;
        while (pos < b_.size() && b_[pos] == kFpgaTagCommentStart) {
            size_t end = pos + 1;
            while (end < b_.size() && b_[end] != kFpgaTagCommentEnd)
                ++end;
            if (end >= b_.size()) {
                headerProblem_ =
                    "not an algorithm file the engine accepts: a comment without its "
                    "end (result -6)";
                return false;
            }
            Emit(pos, end + 1 - pos, "comment " + Quoted(b_.data() + pos + 1, end - pos - 1));
            pos = end + 1;
        }
        size_t at = pos;
        uint8_t v[4];
        if (!Tag(pos, kFpgaTagAlgorithmId, "id") || !Values(pos, 4, v, "id"))
            return false;
        Emit(at, pos - at,
             "id " + HexValue(uint32_t(v[0]) << 24 | v[1] << 16 | v[2] << 8 | v[3], 8));
        at = pos;
        if (!Tag(pos, kFpgaTagVersion, "version") || !Values(pos, 3, v, "version"))
            return false;
        std::string remark;
        for (uint32_t i = 0; i < kFpgaVersionSize; ++i) {
            if (v[i] > kFpgaMaxVersion[i])
                remark = "the engine runs versions up to 4 0 0 (result -3)";
        }
        Emit(at, pos - at,
             "version " + std::to_string(v[0]) + " " + std::to_string(v[1]) + " " +
                 std::to_string(v[2]),
             remark);
        const uint8_t tags[] = {kFpgaTagBufferSize, kFpgaTagNestingDepth, kFpgaTagMaskBufferSize,
                                kFpgaTagChannel};
        for (int item = 2; item <= 5; ++item) {
            at = pos;
            if (!Tag(pos, tags[item - 2], kItems[item]) || !Values(pos, 1, v, kItems[item]))
                return false;
            Emit(at, pos - at, std::string(kItems[item]) + " " + std::to_string(v[0]),
                 item == 3 && v[0] > kFpgaMaxNestingDepth ? "the engine takes at most 3 (result -6)"
                                                          : "");
        }
        at = pos;
        uint8_t tag;
        if (!Byte(pos, tag) ||
            (tag != kFpgaTagCompression && tag != kFpgaTagCompressionAlternative)) {
            headerProblem_ =
                "not an algorithm file the engine accepts: no compression tag at "
                "offset " +
                std::to_string(at) + " (result -6)";
            return false;
        }
        if (!Values(pos, 1, v, "compression"))
            return false;
        Emit(at, pos - at,
             "compression " + std::to_string(v[0]) +
                 (tag == kFpgaTagCompressionAlternative ? " tag 0xa0" : ""));
        for (size_t i = 0; i < pos; ++i)
            sum += b_[i];
        at = pos;
        if (!Tag(pos, kFpgaTagChecksum, "checksum") || !Values(pos, 2, v, "checksum"))
            return false;
        const uint32_t stored = uint32_t(v[0]) << 8 | v[1];
        const uint32_t computed = sum & 0xFFFF;
        if (stored == computed) {
            Emit(at, pos - at, "checksum auto", HexValue(computed, 4));
        } else {
            const bool matches = (v[0] == 0xFF || v[0] == computed >> 8) &&
                                 (v[1] == 0xFF || v[1] == (computed & 0xFF));
            Emit(at, pos - at, "checksum " + HexValue(stored, 4),
                 "computed " + HexValue(computed, 4) +
                     (matches ? ": 0xff bytes match anything"
                              : ": the engine refuses it (result -4)"));
        }
        at = pos;
        if (!Tag(pos, kFpgaStreamStart, "stream start"))
            return false;
        Emit(at, 1, "begin");
        return true;
    }

    // ---- stream

    // A count at pos: its text is the number, or its exact encoding when that is
    // not the shortest one.
    bool Count(size_t& pos, size_t end, uint32_t& value, std::string& text) {
        const size_t start = pos;
        value = 0;
        uint32_t shift = 0;
        uint8_t byte;
        do {
            if (pos >= end)
                return false;
            byte = b_[pos++];
        } while (FpgaVarintAdd(byte, value, shift));
        const Bytes canonical = EncodeFpgaVarint(value);
        if (canonical.size() == pos - start &&
            std::equal(canonical.begin(), canonical.end(), b_.begin() + long(start)))
            text = std::to_string(value);
        else
            text = "[" + HexList(b_.data() + start, pos - start) + "]";
        return true;
    }

    std::string CutBy() const { return rules_.InBody() ? "the body" : "the file"; }

    // The opcodes of the main level, of the file (to end_of_algorithm) or of a
    // body (to end). False with stop where they cannot be shown.
    bool Sequence(size_t& pos, size_t end, Stop& stop) {
        for (;;) {
            if (pos >= end) {
                if (rules_.InBody())
                    return true;
                stop.at = pos;
                stop.why = "the file ends before end_of_algorithm (result -11)";
                return false;
            }
            const size_t start = pos;
            if (!rules_.InBody()) {
                lastItem_ = start;
                lastItemLine_ = lines_.size();
            }
            const uint8_t opcode = b_[pos++];
            const char* name = NameOf(opcode);
            stop.at = start;
            if (name == nullptr) {
                stop.why = "unknown opcode " + HexValue(opcode, 2) +
                           (rules_.InTransaction() && rules_.InBody()
                                ? " in a transaction in a body: the engine ends the transaction "
                                  "and skips it"
                                : " (result -11)");
                return false;
            }
            if (!Opcode(opcode, start, pos, end, stop))
                return false;
            if (opcode == OP_END_OF_ALGORITHM && !rules_.InBody())
                return true;
        }
    }

    bool Refused(const Verdict& v, Stop& stop) {
        if (v.error.empty())
            return false;
        stop.why = v.error + (v.skipped ? "" : " (result -11)");
        return true;
    }

    bool Opcode(uint8_t opcode, size_t start, size_t& pos, size_t end, Stop& stop) {
        const char* name = NameOf(opcode);
        uint32_t value = 0;
        std::string count;
        const std::string cut =
            std::string(name) + " cut by the end of " + CutBy() + " (result -11)";
        switch (opcode) {
            case OP_TRANSMIT: {
                if (!Count(pos, end, value, count) || pos >= end) {
                    stop.why = cut;
                    return false;
                }
                const uint8_t source = b_[pos++];
                if (Refused(rules_.Apply(opcode, value, source), stop))
                    return false;
                if (source == kFpgaSourceDataset) {
                    Emit(start, pos - start, "transmit " + count + " dataset");
                    return true;
                }
                const size_t n = FpgaByteCount(value);
                if (end - pos < n) {
                    stop.why = cut;
                    return false;
                }
                pos += n;
                Emit(start, pos - start,
                     "transmit " + count + " inline " + HexList(b_.data() + pos - n, n));
                return true;
            }
            case OP_RECEIVE:
            case OP_RUN_CLOCK:
            case OP_NOP_COUNT:
            case OP_WAIT: {
                const Verdict early = MainOnly(opcode);
                if (Refused(early, stop))
                    return false;
                if (!Count(pos, end, value, count)) {
                    stop.why = cut;
                    return false;
                }
                if (Refused(rules_.Apply(opcode, value), stop))
                    return false;
                Emit(start, pos - start, std::string(name) + " " + count);
                return true;
            }
            case OP_MASK:
            case OP_INLINE_DATA: {
                const size_t n = rules_.OperandBytes(opcode);
                if (Refused(rules_.Apply(opcode), stop))
                    return false;
                if (end - pos < n) {
                    stop.why = cut;
                    return false;
                }
                pos += n;
                Emit(start, pos - start,
                     std::string(name) + (n ? " " + HexList(b_.data() + pos - n, n) : ""));
                return true;
            }
            case OP_COMMENT: {
                size_t close = pos;
                while (close < end && b_[close] != kFpgaTagCommentEnd)
                    ++close;
                if (close >= end) {
                    stop.why = "a comment without its end (result -11)";
                    return false;
                }
                if (Refused(rules_.Apply(opcode), stop))
                    return false;
                pos = close + 1;
                Emit(start, pos - start,
                     "comment " + Quoted(b_.data() + start + 1, close - start - 1), "",
                     kCommentByte);
                return true;
            }
            case OP_REPEAT:
            case OP_LOOP:
                return Body(opcode, start, pos, end, stop);
            case OP_END_REPEAT:
            case OP_END_LOOP:
                // A body's own end never reaches here: its scan ended the body before it.
                if (Refused(rules_.Apply(opcode), stop))
                    return false;
                stop.why = std::string(name) + " out of place";
                return false;
            default: {
                if (Refused(rules_.Apply(opcode), stop))
                    return false;
                if (opcode == OP_START_TRANSACTION) {
                    Emit(start, 1, name);
                    selected_.back() = true;
                } else if (opcode == OP_END_TRANSACTION) {
                    selected_.back() = false;
                    Emit(start, 1, name);
                } else {
                    Emit(start, 1, name);
                }
                return true;
            }
        }
    }

    // An opcode of the main level inside a transaction, found before its operands are read.
    Verdict MainOnly(uint8_t opcode) {
        Verdict v;
        if (rules_.InTransaction() && (opcode == OP_NOP_COUNT || opcode == OP_LOOP)) {
            StreamRules probe = rules_;
            v = probe.Apply(opcode, 1);
        }
        return v;
    }

    bool Body(uint8_t opener, size_t start, size_t& pos, size_t end, Stop& stop) {
        const char* name = NameOf(opener);
        const Verdict early = MainOnly(opener);
        if (Refused(early, stop))
            return false;
        uint32_t count;
        std::string countText;
        if (!Count(pos, end, count, countText)) {
            stop.why = std::string(name) + " cut by the end of " + CutBy() + " (result -11)";
            return false;
        }
        const uint32_t depth = rules_.Depth();
        const StreamRules before = rules_;
        if (Refused(rules_.Apply(opener, count), stop))
            return false;
        // Where the engine's scan ends the body.
        FpgaBodyScanner scanner(opener, kFpgaMaxNestingDepth - 1 - depth);
        const size_t bodyStart = pos;
        size_t marker = pos;
        size_t kept = 0;
        for (;; ++marker) {
            if (marker >= end) {
                rules_ = before;
                stop.why = std::string(name) + " without its end in " + CutBy() + " (result -11)";
                return false;
            }
            const FpgaBodyScanner::Verdict v = scanner.Next(b_[marker]);
            if (v == FpgaBodyScanner::kEnd)
                break;
            if (v == FpgaBodyScanner::kUnmatched || v == FpgaBodyScanner::kTooDeep) {
                rules_ = before;
                stop.why = "byte " + HexValue(b_[marker], 2) + " at offset " +
                           std::to_string(marker) +
                           (v == FpgaBodyScanner::kTooDeep ? " opens a body nested too deep"
                                                           : " closes no open body") +
                           " in the engine's scan of the " + name + " body (result -11)";
                return false;
            }
            if (v == FpgaBodyScanner::kKeep)
                ++kept;
        }
        if (depth == 0 && kept > kFpgaBodyBufferSize) {
            rules_ = before;
            stop.why = std::string(name) + " body of " + std::to_string(kept) +
                       " bytes (at most 1024) (result -11)";
            return false;
        }
        const size_t linesBefore = lines_.size();
        const std::vector<bool> selectedBefore = selected_;
        Emit(start, bodyStart - start, std::string(name) + " " + countText);
        selected_.push_back(false);
        size_t inner = bodyStart;
        Stop innerStop;
        std::string problem;
        if (!Sequence(inner, marker, innerStop)) {
            problem = innerStop.why;
        } else {
            std::vector<ByteClass> classes(marker - bodyStart, kOpcodeByte);
            for (size_t i = linesBefore + 1; i < lines_.size(); ++i) {
                for (size_t k = 0; k < lines_[i].size; ++k)
                    classes[lines_[i].offset - bodyStart + k] = lines_[i].kind;
            }
            problem =
                CheckBodyScan(b_.data() + bodyStart, marker - bodyStart, classes, opener, depth)
                    .what;
        }
        selected_ = selectedBefore;
        if (!problem.empty()) {
            // Shown as it is; the engine still runs whatever it makes of it.
            lines_.resize(linesBefore);
            rules_ = before;
            Raw(start, marker + 1, Indent(),
                std::string(name) + " body shown as bytes: " + problem);
            pos = marker + 1;
            return true;
        }
        Emit(marker, 1, opener == OP_REPEAT ? "end_repeat" : "end_loop");
        rules_.Apply(opener == OP_REPEAT ? OP_END_REPEAT : OP_END_LOOP);
        pos = marker + 1;
        return true;
    }

    const Bytes& b_;
    std::vector<Out> lines_;
    StreamRules rules_;
    std::vector<bool> selected_ = std::vector<bool>(1, false);  // per body level: chip selected
    std::string headerProblem_;
    size_t lastItem_ = 0;               // where the last item of the main level starts
    size_t lastItemLine_ = size_t(-1);  // ... and its first line
};

}  // namespace

Bytes AssembleFpgaAlgorithm(const std::string& text) {
    Assembler assembler;
    return assembler.Run(text);
}

std::string DisassembleFpgaAlgorithm(const std::vector<uint8_t>& file) {
    Disassembler disassembler(file);
    std::string text = disassembler.Run();
    // Every line is written to give its bytes back; this makes sure of it.
    std::string problem;
    try {
        if (AssembleFpgaAlgorithm(text) == file)
            return text;
        problem = "the text gave other bytes";
    } catch (const FpgaTextError& e) {
        problem = e.what();
    }
    text = "# fpga algorithm, " + std::to_string(file.size()) + " bytes, shown as bytes only (" +
           problem + ")\n";
    for (size_t at = 0; at < file.size(); at += 16) {
        text += OffsetLabel(at) + " bytes " +
                HexList(file.data() + at, std::min<size_t>(16, file.size() - at)) + "\n";
    }
    return text;
}

}  // namespace sim
