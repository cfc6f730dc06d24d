// Unpacking a package payload: speed next to the lz4 command, and peak memory.
//
//   bench_payload_unpack [--size-mib N] [--runs N] [--dir DIR]
//   bench_payload_unpack --prepare DIR N     only write the inputs for N MiB
//
// Makes firmware-like data (default 256 MiB), packs it into the payload format
// and, with the lz4 command, into a linked-block LZ4 frame; then times
// `fwsetup payload unpack`'s code path (DecompressLz4File) and `lz4 -d` on the
// same data, best of N runs each, and prints both throughputs and their ratio.
// Peak resident memory is measured in child processes (ru_maxrss) for 16 MiB
// and for the full size, to show that it does not grow with the payload.
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/payload.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

struct ChildResult {
    double seconds;     // wall time
    double cpuSeconds;  // user + system
    long maxRssKiB;
};

// Runs argv to its end; its wall time and peak resident memory.
ChildResult RunChild(const std::vector<std::string>& args) {
    sync();  // start every run without a backlog of dirty pages from the one before
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + args[0]);
    }
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof(usage));
    if (wait4(pid, &status, 0, &usage) != pid)
        throw std::runtime_error("wait4 failed");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(args[0] + " failed");
    }
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return {seconds, cpu, usage.ru_maxrss};
}

// Firmware-like bytes: stretches of 32-bit instruction words drawn from a small
// set of opcodes with varying operands, string tables, zero and 0xFF padding,
// lookup tables and already-compressed resources (random bytes).
void WriteFirmwareLike(const fs::path& file, uint64_t size) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(20240611);
    static const char* const kWords[] = {"printer",  "label",  "error",   "sensor", "ribbon",
                                         "media",    "config", "thermal", "head",   "calibration",
                                         "%s: %d\n", "failed", "ready",   "0x%08X", "version"};
    std::vector<uint8_t> chunk;
    uint64_t written = 0;
    while (written < size) {
        chunk.clear();
        const unsigned kind = static_cast<unsigned>(random() % 100);
        const size_t length = 512 + static_cast<size_t>(random() % 16384);
        if (kind < 50) {  // code
            static const uint32_t kOps[] = {0xE59F0000, 0xE3A00000, 0xEB000000, 0xE1A00000,
                                            0xE5900000, 0xE2800000, 0xE12FFF1E, 0xE92D4000};
            while (chunk.size() < length) {
                const uint32_t word =
                    kOps[random() % 8] | static_cast<uint32_t>((random() % 64) << 2);
                for (int s = 0; s < 32; s += 8)
                    chunk.push_back(static_cast<uint8_t>(word >> s));
            }
        } else if (kind < 65) {  // strings
            while (chunk.size() < length) {
                const char* w = kWords[random() % (sizeof(kWords) / sizeof(kWords[0]))];
                chunk.insert(chunk.end(), w, w + std::strlen(w));
                chunk.push_back(random() % 4 == 0 ? 0 : ' ');
            }
        } else if (kind < 75) {  // padding
            chunk.assign(length, random() % 2 ? 0x00 : 0xFF);
        } else if (kind < 85) {  // tables
            uint32_t value = static_cast<uint32_t>(random());
            while (chunk.size() < length) {
                value += 4 + static_cast<uint32_t>(random() % 3);
                for (int s = 0; s < 32; s += 8)
                    chunk.push_back(static_cast<uint8_t>(value >> s));
            }
        } else {  // compressed resources
            while (chunk.size() < length)
                chunk.push_back(static_cast<uint8_t>(random()));
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - written));
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
        written += n;
    }
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

bool SameFiles(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(1 << 20), q(1 << 20);
    for (;;) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount())
            return false;
        if (x.gcount() == 0)
            return true;
        if (std::memcmp(p.data(), q.data(), static_cast<size_t>(x.gcount())) != 0)
            return false;
    }
}

double Mib(uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

struct Sizes {
    fs::path data, payload, frame;
    uint64_t size;
};

Sizes Prepare(const fs::path& dir, const std::string& name, uint64_t size) {
    Sizes s{dir / (name + ".bin"), dir / (name + ".lz4"), dir / (name + ".frame.lz4"), size};
    WriteFirmwareLike(s.data, size);
    sim::PackPayloadFile(s.data, s.payload);
    RunChild({"lz4", "-q", "-f", "-BD", s.data.string(), s.frame.string()});
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    // The child that is measured for memory: just the unpack.
    if (argc == 4 && std::string(argv[1]) == "--unpack") {
        try {
            sim::UnpackPayloadFile(argv[2], argv[3]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }
    // The inputs of a whole-process run (scripts/bench): DIR/data.bin, its
    // payload DIR/data.lz4 and its lz4 frame DIR/data.frame.lz4.
    if (argc == 4 && std::string(argv[1]) == "--prepare") {
        try {
            Prepare(argv[2], "data", std::stoull(argv[3]) << 20);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }
    uint64_t sizeMib = 256;
    int runs = 3;
    const char* tmp = getenv("TMPDIR");
    fs::path base = tmp && *tmp ? tmp : "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--size-mib") {
            sizeMib = std::stoull(argv[i + 1]);
        } else if (option == "--runs") {
            runs = std::max(1, std::stoi(argv[i + 1]));
        } else if (option == "--dir") {
            base = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: %s [--size-mib N] [--runs N] [--dir DIR]\n", argv[0]);
            return 2;
        }
    }
    std::string pattern = (base / "fwsetup-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    int rc = 0;
    try {
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        const Sizes big = Prepare(dir, "big", sizeMib << 20);
        std::printf(
            "data: %.0f MiB firmware-like; payload %.1f MiB (8 KiB linked blocks), "
            "lz4 -BD frame %.1f MiB\n",
            Mib(big.size), Mib(fs::file_size(big.payload)), Mib(fs::file_size(big.frame)));

        const fs::path out = dir / "out.bin";
        double best = 1e9, bestLz4 = 1e9, cpu = 1e9, cpuLz4 = 1e9;
        long rss = 0, rssLz4 = 0;
        for (int run = 0; run < runs; ++run) {
            fs::remove(out);
            const ChildResult ours =
                RunChild({self, "--unpack", big.payload.string(), out.string()});
            if (run == 0 && !SameFiles(out, big.data))
                throw std::runtime_error("unpack differs");
            fs::remove(out);
            const ChildResult lz4 =
                RunChild({"lz4", "-q", "-d", "-f", big.frame.string(), out.string()});
            if (run == 0 && !SameFiles(out, big.data))
                throw std::runtime_error("lz4 -d differs");
            best = std::min(best, ours.seconds);
            bestLz4 = std::min(bestLz4, lz4.seconds);
            cpu = std::min(cpu, ours.cpuSeconds);
            cpuLz4 = std::min(cpuLz4, lz4.cpuSeconds);
            rss = std::max(rss, ours.maxRssKiB);
            rssLz4 = std::max(rssLz4, lz4.maxRssKiB);
        }
        fs::remove(out);
        const double ours = Mib(big.size) / best, theirs = Mib(big.size) / bestLz4;
        std::printf("unpack (DecompressLz4File): %8.1f MiB/s  (best of %d: %.3f s, cpu %.3f s)\n",
                    ours, runs, best, cpu);
        std::printf("lz4 -d:                     %8.1f MiB/s  (best of %d: %.3f s, cpu %.3f s)\n",
                    theirs, runs, bestLz4, cpuLz4);
        std::printf("ratio unpack / lz4 -d:      %8.2f  (goal >= 0.80)\n", ours / theirs);

        fs::remove(big.data);
        const Sizes small = Prepare(dir, "small", 16u << 20);
        const ChildResult smallRun =
            RunChild({self, "--unpack", small.payload.string(), out.string()});
        fs::remove(out);
        std::printf(
            "peak resident memory of an unpack: %.0f MiB payload %ld KiB, %.0f MiB "
            "payload %ld KiB (lz4 -d: %ld KiB)\n",
            Mib(small.size), smallRun.maxRssKiB, Mib(big.size), rss, rssLz4);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_payload_unpack: %s\n", e.what());
        rc = 1;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return rc;
}
