#include "sim/payload.h"

#include <lz4.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "package/lz4_decompressor.h"
#include "platform/host/device_root.h"

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

// Removes a path when it goes out of scope, unless released.
class ScopedRemoval {
  public:
    explicit ScopedRemoval(fs::path path) : path_(std::move(path)) {}
    ~ScopedRemoval() {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove_all(path_, ec);
        }
    }
    void Release() { path_.clear(); }

  private:
    fs::path path_;
};

// Puts the process's device root back as it was.
class DeviceRootRestorer {
  public:
    DeviceRootRestorer() : previous_(platform::host::DeviceRoot()) {}
    ~DeviceRootRestorer() { platform::host::SetDeviceRoot(previous_); }

  private:
    std::string previous_;
};

// A fresh file or folder name next to path.
fs::path TemporaryNextTo(const fs::path& path, const char* tag, bool folder) {
    fs::path parent = path.parent_path();
    if (parent.empty())
        parent = ".";
    std::string pattern = (parent / (std::string(".fwsetup-") + tag + "-XXXXXX")).string();
    if (folder) {
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot create a temporary folder in " + parent.string());
        }
    } else {
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            throw std::runtime_error("cannot create a temporary file in " + parent.string());
        close(fd);
    }
    return fs::path(pattern);
}

void CheckInputFile(const fs::path& in, const fs::path& out) {
    std::error_code ec;
    if (!fs::is_regular_file(in, ec))
        throw std::runtime_error("'" + in.string() + "' is not a file");
    if (fs::exists(out, ec) && fs::equivalent(in, out, ec)) {
        throw std::runtime_error("input and output are the same file");
    }
    if (fs::is_directory(out, ec))
        throw std::runtime_error("'" + out.string() + "' is a folder");
}

// Polls a file's size on a thread of its own and reports it, until stopped.
class SizeWatcher {
  public:
    SizeWatcher(fs::path file, const Progress& progress)
        : file_(std::move(file)), progress_(progress) {
        if (progress_)
            thread_ = std::thread([this] { Run(); });
    }
    ~SizeWatcher() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; })) {
            std::error_code ec;
            const uintmax_t size = fs::file_size(file_, ec);
            if (!ec && size > 0)
                progress_(size, 0);
        }
    }

    fs::path file_;
    Progress progress_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
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
    CheckInputFile(in, out);
    std::error_code ec;
    const uint64_t total = fs::file_size(in, ec);
    std::ifstream input(in, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot read " + in.string());
    const fs::path temporary = TemporaryNextTo(out, "pack", false);
    ScopedRemoval removal(temporary);
    std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
    if (!output)
        throw std::runtime_error("cannot write " + out.string());

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
        output.write(reinterpret_cast<const char*>(chunk.data()),
                     static_cast<std::streamsize>(chunk.size()));
        done += static_cast<uint64_t>(n);
        if (progress && (done % (1u << 20) < static_cast<uint64_t>(n)))
            progress(done, total);
        if (n < kLz4BlockSize)
            break;
    }
    if (input.bad())
        throw std::runtime_error("cannot read " + in.string());
    output.close();
    if (!output)
        throw std::runtime_error("cannot write " + out.string());
    fs::permissions(temporary,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    ec);
    fs::rename(temporary, out, ec);
    if (ec)
        throw std::runtime_error("cannot write " + out.string() + ": " + ec.message());
    removal.Release();
    if (progress)
        progress(total, total);
}

void UnpackPayloadFile(const fs::path& in, const fs::path& out, const Progress& progress) {
    CheckInputFile(in, out);
    const fs::path device = TemporaryNextTo(out, "unpack", true);
    ScopedRemoval removal(device);
    std::error_code ec;
    fs::create_directory(device / "fs", ec);
    if (ec)
        throw std::runtime_error("cannot create " + (device / "fs").string() + ": " + ec.message());
    const fs::path source = device / "fs" / "payload.lz4";
    const fs::path unpacked = device / "fs" / "unpacked";
    fs::create_hard_link(in, source, ec);
    if (ec) {
        ec.clear();
        fs::copy_file(in, source, ec);
        if (ec)
            throw std::runtime_error("cannot read " + in.string() + ": " + ec.message());
    }
    bool opened;
    {
        DeviceRootRestorer restorer;
        platform::host::SetDeviceRoot(fs::absolute(device).string());
        SizeWatcher watcher(unpacked, progress);
        opened = DecompressLz4File(u"\\payload.lz4", u"\\unpacked", false);
    }
    if (!opened)
        throw std::runtime_error("cannot unpack " + in.string() + " into " + out.string());
    fs::rename(unpacked, out, ec);
    if (ec)
        throw std::runtime_error("cannot write " + out.string() + ": " + ec.message());
    if (progress) {
        const uintmax_t size = fs::file_size(out, ec);
        if (!ec)
            progress(size, size);
    }
}

}  // namespace sim
