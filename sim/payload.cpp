#include "sim/payload.h"

#include <lz4.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "package/lz4_decompressor.h"
#include "sim/host_stream.h"
#include "sim/output_file.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

// The producer side of the payload format. Input blocks alternate between two
// buffers that are kept apart by one byte, so LZ4's streaming compressor takes
// only the previous block as the dictionary of the next one: exactly what the
// decoder keeps in place.
class BlockPacker {
  public:
    BlockPacker() : stream_(LZ4_createStream()), input_(2 * kLz4BlockSize + 1) {
        if (!stream_)
            throw std::runtime_error("out of memory");
    }
    ~BlockPacker() { LZ4_freeStream(stream_); }
    BlockPacker(const BlockPacker&) = delete;
    BlockPacker& operator=(const BlockPacker&) = delete;

    // The buffer the next block's input goes into (kLz4BlockSize bytes).
    char* NextInput() { return &input_[current_ == 0 ? 0 : kLz4BlockSize + 1]; }

    // Compresses the n bytes just put into NextInput() and appends the length
    // field and the block to out.
    void Pack(int n, std::vector<uint8_t>& out) {
        char compressed[kLz4MaxCompressedBlockSize];
        const int size = LZ4_compress_fast_continue(stream_, NextInput(), compressed, n,
                                                    kLz4MaxCompressedBlockSize, 1);
        if (size <= 0)
            throw std::runtime_error("LZ4 compression failed");
        const uint32_t length = static_cast<uint32_t>(size);
        const uint8_t field[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                  static_cast<uint8_t>(length >> 16),
                                  static_cast<uint8_t>(length >> 24)};
        out.insert(out.end(), field, field + 4);
        out.insert(out.end(), compressed, compressed + size);
        current_ = 1 - current_;
    }

  private:
    LZ4_stream_t* stream_;
    std::vector<char> input_;
    int current_ = 0;
};

std::string Mebibytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

Progress TerminalProgress(const std::string& label) {
    if (!isatty(STDERR_FILENO))
        return Progress();
    struct State {
        std::chrono::steady_clock::time_point last;
        bool drawn = false;
    };
    auto state = std::make_shared<State>();
    return [label, state](uint64_t done, uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        const bool finished = done == total;  // total 0 with done > 0: size not known yet
        if (state->drawn && !finished && now - state->last < std::chrono::milliseconds(100))
            return;
        state->last = now;
        state->drawn = true;
        std::string line = "\r" + label + ": ";
        if (total != 0) {
            line += std::to_string(done * 100 / total) + "% (" + Mebibytes(done) + " of " +
                    Mebibytes(total) + ")";
        } else {
            line += Mebibytes(done);
        }
        line += "\x1b[K";
        if (finished)
            line += "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    };
}

std::vector<uint8_t> PackPayload(const std::vector<uint8_t>& data) {
    BlockPacker packer;
    std::vector<uint8_t> out;
    out.reserve(data.size() + data.size() / 32 + 64);
    for (size_t at = 0; at < data.size(); at += kLz4BlockSize) {
        const size_t n = std::min(data.size() - at, static_cast<size_t>(kLz4BlockSize));
        std::copy(data.begin() + at, data.begin() + at + n, packer.NextInput());
        packer.Pack(static_cast<int>(n), out);
    }
    return out;
}

void PackPayloadFile(const fs::path& in, const fs::path& out, const Progress& progress) {
    CommandFiles files;
    files.Input("IN", in);
    files.Output("OUT", out);
    std::error_code ec;
    const uint64_t total = fs::file_size(in, ec);
    std::ifstream input(in, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot read " + in.string());
    OutputFile output(out);

    BlockPacker packer;
    std::vector<uint8_t> chunk;
    uint64_t done = 0;
    for (;;) {
        input.read(packer.NextInput(), kLz4BlockSize);
        const std::streamsize n = input.gcount();
        if (n <= 0)
            break;
        chunk.clear();
        packer.Pack(static_cast<int>(n), chunk);
        output.Write(chunk.data(), chunk.size());
        done += static_cast<uint64_t>(n);
        if (progress && (done % (1u << 20) < static_cast<uint64_t>(n)))
            progress(done, total);
        if (n < kLz4BlockSize)
            break;
    }
    if (input.bad())
        throw std::runtime_error("cannot read " + in.string());
    output.Commit();
    if (progress)
        progress(total, total);
}

void UnpackPayloadFile(const fs::path& in, const fs::path& out, const Progress& progress) {
    CommandFiles files;
    files.Input("IN", in);
    files.Output("OUT", out);
    std::ifstream input(in, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot read " + in.string());
    OutputFile output(out);
    std::function<void(uint64_t)> tell;
    if (progress)
        tell = [&progress](uint64_t written) { progress(written, 0); };
    IoStream streams(&input, &output.Stream(), tell);
    DecodeLz4Blocks(streams, streams);
    if (streams.Failed())
        throw std::runtime_error(
            "cannot " + std::string(input.bad() ? "read " + in.string() : "write " + out.string()));
    output.Commit();
    if (progress)
        progress(streams.Written(), streams.Written());
}

}  // namespace sim
