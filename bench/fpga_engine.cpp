// The FPGA engine: CPU time per configuration byte next to the link's time for
// that byte, and peak memory for a small and a large data file.
//
//   bench_fpga_engine [--size-mib N] [--spi-hz F] [--runs N]
//
// A configuration of N MiB (default 1) is sent by an algorithm that transmits
// it in 1 KiB transfers from dataset 0x27, then read back and compared in 1 KiB
// transfers, through a link that costs nothing (it keeps no bytes; its receives
// copy the expected bytes). Each pass runs with a plain and with a compressed
// data file, best of N runs (default 7), in CPU time. The link needs 8 / F
// seconds per byte at an SPI clock of F Hz (default 12 MHz); the goal is an
// engine under 5% of that. Peak resident memory is measured in child processes
// for a 1 MiB and a 16 MiB data file (the goal: flat).
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "fpga/fpga_engine.h"
#include "fpga/fpga_format.h"
#include "fpga/fpga_link.h"
#include "platform/host/device_root.h"
#include "sim/fpga_algorithm_text.h"
#include "sim/fpga_data_file.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

typedef std::vector<uint8_t> Bytes;

const uint32_t kTransferBytes = 1024;

// Configuration-like bytes, one after the other: stretches of random bits
// between runs of 0x00 and 0xff.
class ConfigurationSource {
  public:
    uint8_t Next() {
        if (left_ == 0) {
            kind_ = random_() % 8;
            left_ = 16 + random_() % 512;
        }
        --left_;
        return kind_ == 0 ? 0x00 : kind_ == 1 ? 0xFF : uint8_t(random_());
    }

  private:
    std::mt19937 random_{20240611};
    unsigned kind_ = 0;
    size_t left_ = 0;
};

Bytes Configuration(size_t size) {
    ConfigurationSource source;
    Bytes bytes(size);
    for (uint8_t& byte : bytes)
        byte = source.Next();
    return bytes;
}

// Sends nowhere; answers every receive with the configuration's next bytes,
// copied from memory, or made anew (so that it holds no configuration).
class CostFreeLink : public FpgaLink {
  public:
    explicit CostFreeLink(const Bytes* configuration) : configuration_(configuration) {}
    bool InitHardware() override {
        readBack_ = 0;
        source_ = ConfigurationSource();
        return true;
    }
    bool StartTransaction(uint8_t) override { return true; }
    bool EndTransaction() override { return true; }
    bool TransmitBits(const uint8_t*, uint32_t) override { return true; }
    bool ReceiveBits(uint8_t* buffer, uint32_t bits) override {
        if (configuration_ == nullptr) {
            for (uint32_t i = 0; i < bits / 8; ++i)
                buffer[i] = source_.Next();
            return true;
        }
        const size_t n = std::min<size_t>(bits / 8, configuration_->size() - readBack_);
        std::memcpy(buffer, configuration_->data() + readBack_, n);
        readBack_ += n;
        return true;
    }
    bool WaitMilliseconds(uint32_t) override { return true; }
    bool CloseHardware() override { return true; }

  private:
    const Bytes* configuration_;
    size_t readBack_ = 0;
    ConfigurationSource source_;
};

const char kHeader[] =
    "id 0x00000001\nversion 4 0 0\nbuffer_size 16\nnesting 3\nmask_size 8\nchannel 0\n"
    "compression 0\nchecksum auto\nbegin\n";

std::string ProgramText(size_t transfers) {
    return std::string(kHeader) + "start_transaction\ntransmit 8 inline 70\nrepeat " +
           std::to_string(transfers) + "\n  transmit " + std::to_string(kTransferBytes * 8) +
           " dataset\nend_repeat\nend_transaction\nend_of_algorithm\n";
}

std::string VerifyText(size_t transfers) {
    return std::string(kHeader) + "repeat " + std::to_string(transfers) +
           "\n  start_transaction\n  transmit 8 inline 73\n  receive " +
           std::to_string(kTransferBytes * 8) +
           "\n  checked_dataset_data\n  end_transaction\nend_repeat\nend_of_algorithm\n";
}

Bytes DataFile(const Bytes& configuration, bool compressed) {
    sim::FpgaDataPlan plan;
    plan.single = false;
    sim::FpgaDatasetPlan dataset;
    dataset.id = 0x27;
    dataset.data = configuration;
    dataset.blockBytes = compressed ? kTransferBytes : 0;
    plan.datasets.push_back(dataset);
    return sim::BuildFpgaDataFile(plan);
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs the algorithm at device path algo with the data at data; its result.
int RunOnce(const char* algo, const char* data) {
    SetFpgaFiles(algo, data);
    return RunAlgorithm(0xFFFFFFFF);
}

const char kAlgo[] = "\\algo.sea";
const char kData[] = "\\data.sed";

// A child for the memory figures: runs program and verify over the files in
// device dir; exit 0 when both succeeded.
int Child(const std::string& dir) {
    platform::host::SetDeviceRoot(dir);
    CostFreeLink link(nullptr);
    SetFpgaLink(&link);
    const fs::path fsDir = fs::path(dir) / "fs";
    int ok = 0;
    for (const char* name : {"program.sea", "verify.sea"}) {
        fs::copy_file(fsDir / name, fsDir / "algo.sea", fs::copy_options::overwrite_existing);
        ok += RunOnce(kAlgo, kData) == kFpgaSuccess;
    }
    SetFpgaLink(nullptr);
    return ok == 2 ? 0 : 1;
}

// Runs this program with args in a child; its peak resident memory in KiB.
long ChildPeakKiB(std::vector<std::string> args) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    args.insert(args.begin(), self);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start the child");
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof(usage));
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the child " + args[1] + " failed");
    return usage.ru_maxrss;
}

// Writes the algorithms and a compressed data file for size bytes into dir/fs.
void PrepareDevice(const fs::path& dir, const Bytes& configuration, bool compressed) {
    fs::create_directories(dir / "fs");
    fs::create_directories(dir / "hw");
    const size_t transfers = configuration.size() / kTransferBytes;
    WriteFile(dir / "fs" / "program.sea", sim::AssembleFpgaAlgorithm(ProgramText(transfers)));
    WriteFile(dir / "fs" / "verify.sea", sim::AssembleFpgaAlgorithm(VerifyText(transfers)));
    WriteFile(dir / "fs" / "data.sed", DataFile(configuration, compressed));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--child")
        return Child(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "--prepare") {
        PrepareDevice(argv[2], Configuration(std::stoull(argv[3])), true);
        return 0;
    }
    size_t sizeMib = 1;
    double spiHz = 12e6;
    int runs = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--size-mib") {
            sizeMib = std::max<size_t>(1, std::stoull(argv[i + 1]));
        } else if (option == "--spi-hz") {
            spiHz = std::stod(argv[i + 1]);
        } else if (option == "--runs") {
            runs = std::max(1, std::stoi(argv[i + 1]));
        } else {
            std::fprintf(stderr, "usage: %s [--size-mib N] [--spi-hz F] [--runs N]\n", argv[0]);
            return 2;
        }
    }
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    int rc = 0;
    try {
        // Memory first, while this process is small: a child started with
        // posix_spawn inherits its parent's peak as its own starting peak.
        // The files are made by a child of their own.
        std::printf("peak resident memory of a run (program + verify, compressed data):\n");
        for (size_t mib : {size_t(1), size_t(16)}) {
            const std::string child = fs::absolute(dir / ("mem" + std::to_string(mib))).string();
            ChildPeakKiB({"--prepare", child, std::to_string(mib << 20)});
            std::printf("  %2zu MiB data file: %ld KiB\n", mib, ChildPeakKiB({"--child", child}));
        }

        const size_t size = sizeMib << 20;
        const Bytes configuration = Configuration(size);
        const double linkNs = 8.0 / spiHz * 1e9;
        std::printf(
            "configuration %zu MiB in %u-byte transfers; link %.1f ns per byte at %.1f MHz\n",
            sizeMib, kTransferBytes, linkNs, spiHz / 1e6);
        std::printf("%-26s %12s %12s %10s\n", "pass", "stored MiB", "ns per byte", "of link");
        for (bool compressed : {false, true}) {
            PrepareDevice(dir, configuration, compressed);
            platform::host::SetDeviceRoot(fs::absolute(dir).string());
            CostFreeLink link(&configuration);
            SetFpgaLink(&link);
            for (const char* pass : {"program", "verify"}) {
                fs::copy_file(dir / "fs" / (std::string(pass) + ".sea"), dir / "fs" / "algo.sea",
                              fs::copy_options::overwrite_existing);
                double best = 1e9;
                for (int run = 0; run < runs; ++run) {
                    const double start = CpuSeconds();
                    const int result = RunOnce(kAlgo, kData);
                    const double seconds = CpuSeconds() - start;
                    if (result != kFpgaSuccess)
                        throw std::runtime_error(std::string(pass) + " ended with " +
                                                 std::to_string(result));
                    best = std::min(best, seconds);
                }
                const double ns = best * 1e9 / double(size);
                const std::string name =
                    std::string(pass) + (compressed ? ", compressed data" : ", plain data");
                std::printf("%-26s %12.2f %12.2f %9.2f%%\n", name.c_str(),
                            double(fs::file_size(dir / "fs" / "data.sed")) / double(1 << 20), ns,
                            100.0 * ns / linkNs);
            }
            SetFpgaLink(nullptr);
            platform::host::SetDeviceRoot(std::string());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_fpga_engine: %s\n", e.what());
        rc = 1;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return rc;
}
