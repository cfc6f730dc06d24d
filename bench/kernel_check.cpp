// Speed of the kernel image check and of file digests, each next to its yardstick
// on the same file in the same run:
//   KernelImageCheck/64MiB   WecKernelBinary::IsValidImage of a 64 MiB image
//   PlainRead/64MiB          read() of that image in 1 MiB pieces
//   FileMd5/256MiB           FileMd5 of a 256 MiB file
//   md5sum/256MiB            the md5sum command on that file
//   PlainRead/256MiB         read() of that file
// The files are written once into a temporary device folder (so they are in the
// page cache for every contender) and removed at the end. After the run the
// ratios and the peak resident memory are printed.
//
//   bench_kernel_check --prepare DEVICE                  only write the two files
//   bench_kernel_check --memory-probe=check|md5|idle DEVICE   one job, prints ru_maxrss
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fileutil/md5.h"
#include "kernel/wec_kernel_binary.h"
#include "platform/host/device_root.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMiB = 1024 * 1024;
constexpr uint32_t kImageBytes = 64 * kMiB;
constexpr uint32_t kHashBytes = 256 * kMiB;

fs::path g_device;
std::string g_imageHost;
std::string g_hashHost;

void PutLe32(std::ofstream& out, uint32_t value) {
    char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (8 * i));
    out.write(bytes, 4);
}

std::vector<char> RandomBytes(size_t size, uint32_t seed) {
    std::vector<char> data(size);
    std::mt19937_64 random(seed);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t v = random();
        std::memcpy(&data[i], &v, 8);
    }
    return data;
}

// A valid image of kImageBytes: 64 records of 1 MiB minus their headers.
void WriteImage(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const uint32_t start = 0x80200000;
    const int records = 64;
    const uint32_t recordData = kMiB - 12;
    out.write("B000FF\n", 7);
    PutLe32(out, start);
    PutLe32(out, records * recordData);
    for (int r = 0; r < records; ++r) {
        std::vector<char> data = RandomBytes(recordData, uint32_t(r + 1));
        if (r == 0)
            std::memcpy(&data[16], "ECEC", 4);
        uint32_t sum = 0;
        for (char c : data)
            sum += uint8_t(c);
        PutLe32(out, start + uint32_t(r) * recordData);
        PutLe32(out, recordData);
        PutLe32(out, sum);
        out.write(data.data(), std::streamsize(data.size()));
    }
    PutLe32(out, 0);
    PutLe32(out, 0);
    PutLe32(out, 0);
}

void WriteHashFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (uint32_t piece = 0; piece < kHashBytes / (16 * kMiB); ++piece) {
        const std::vector<char> data = RandomBytes(16 * kMiB, 1000 + piece);
        out.write(data.data(), std::streamsize(data.size()));
    }
}

uint64_t PlainRead(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    static std::vector<char> buffer(kMiB);
    uint64_t total = 0;
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0)
        total += uint64_t(n);
    close(fd);
    return total;
}

void BM_KernelImageCheck(benchmark::State& state) {
    for (auto _ : state) {
        WecKernelBinary kernel;
        const bool valid = kernel.IsValidImage(u"\\boot\\nk.bin");
        if (!valid)
            state.SkipWithError("the benchmark image was refused");
        benchmark::DoNotOptimize(valid);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * fs::file_size(g_imageHost));
}

void BM_PlainRead(benchmark::State& state) {
    const std::string& path = state.range(0) == 64 ? g_imageHost : g_hashHost;
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainRead(path));
    state.SetBytesProcessed(int64_t(state.iterations()) * fs::file_size(path));
}

void BM_FileMd5(benchmark::State& state) {
    for (auto _ : state) {
        const NString digest = FileMd5(u"\\store\\big.bin");
        if (digest.size() != 32)
            state.SkipWithError("FileMd5 failed");
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kHashBytes);
}

void BM_Md5sum(benchmark::State& state) {
    const std::string command = "md5sum '" + g_hashHost + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("md5sum failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kHashBytes);
}

BENCHMARK(BM_KernelImageCheck)
    ->Name("KernelImageCheck/64MiB")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(BM_PlainRead)
    ->Name("PlainRead/64MiB")
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(BM_FileMd5)
    ->Name("FileMd5/256MiB")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);
BENCHMARK(BM_Md5sum)
    ->Name("md5sum/256MiB")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);
BENCHMARK(BM_PlainRead)
    ->Name("PlainRead/256MiB")
    ->Arg(256)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

// Keeps each benchmark's real and CPU time per iteration (ns), besides printing:
// the median when repetitions are asked for, else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && run.iterations > 0 &&
                           medians.count(name) == 0)) {
                times[name] = run.GetAdjustedRealTime();
                cpuTimes[name] = run.GetAdjustedCPUTime();
                if (median)
                    medians.insert(name);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> cpuTimes;  // this process's CPU time (md5sum runs as a child)
    std::set<std::string> medians;
};

// The time of the run whose name begins with prefix, or 0.
double TimeOf(const std::map<std::string, double>& times, const std::string& prefix) {
    for (const auto& entry : times) {
        if (entry.first.compare(0, prefix.size(), prefix) == 0)
            return entry.second;
    }
    return 0;
}

void PrintRatio(const std::map<std::string, double>& times, const char* what, const char* a,
                const char* b, double goal) {
    const double x = TimeOf(times, a);
    const double y = TimeOf(times, b);
    if (x <= 0 || y <= 0)
        return;
    const double ratio = x / y;
    std::printf("%-36s %6.2fx  (goal <= %.1fx: %s)\n", what, ratio, goal,
                ratio <= goal ? "met" : "missed");
}

// Peak resident memory (KiB) of a fresh process that does only one job on the
// device: "idle" (nothing), "check" (the image check) or "md5" (FileMd5).
long ProbePeakMemory(const std::string& job) {
    const std::string command = "'/proc/" + std::to_string(getpid()) +
                                "/exe' --memory-probe=" + job + " '" + g_device.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    long kib = -1;
    if (std::fscanf(pipe, "%ld", &kib) != 1)
        kib = -1;
    pclose(pipe);
    return kib;
}

int RunMemoryProbe(const std::string& job, const std::string& device) {
    platform::host::SetDeviceRoot(device);
    bool ok = true;
    if (job == "check") {
        WecKernelBinary kernel;
        ok = kernel.IsValidImage(u"\\boot\\nk.bin");
    } else if (job == "md5") {
        ok = FileMd5(u"\\store\\big.bin").size() == 32;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", ok ? usage.ru_maxrss : -1L);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string probe = "--memory-probe=";
    if (argc == 3 && std::string(argv[1]).compare(0, probe.size(), probe) == 0) {
        return RunMemoryProbe(argv[1] + probe.size(), argv[2]);
    }
    // The files of a whole-process run (scripts/bench) in the device folder DEVICE.
    if (argc == 3 && std::string(argv[1]) == "--prepare") {
        const fs::path device = argv[2];
        fs::create_directories(device / "fs" / "boot");
        fs::create_directories(device / "fs" / "store");
        fs::create_directories(device / "hw");
        WriteImage((device / "fs" / "boot" / "nk.bin").string());
        WriteHashFile((device / "fs" / "store" / "big.bin").string());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    g_device = pattern;
    fs::create_directories(g_device / "fs" / "boot");
    fs::create_directories(g_device / "fs" / "store");
    fs::create_directories(g_device / "hw");
    platform::host::SetDeviceRoot(g_device.string());
    g_imageHost = (g_device / "fs" / "boot" / "nk.bin").string();
    g_hashHost = (g_device / "fs" / "store" / "big.bin").string();
    std::printf("writing a %u MiB image and a %u MiB file under %s ...\n", kImageBytes / kMiB,
                kHashBytes / kMiB, g_device.c_str());
    WriteImage(g_imageHost);
    WriteHashFile(g_hashHost);
    PlainRead(g_imageHost);  // warm the page cache
    PlainRead(g_hashHost);

    const long idleKib = ProbePeakMemory("idle");
    const long checkKib = ProbePeakMemory("check");
    const long md5Kib = ProbePeakMemory("md5");

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n");
    PrintRatio(reporter.times, "image check / plain read (64 MiB)", "KernelImageCheck/64MiB/",
               "PlainRead/64MiB/", 1.5);
    PrintRatio(reporter.cpuTimes, "same, CPU time", "KernelImageCheck/64MiB/", "PlainRead/64MiB/",
               1.5);
    PrintRatio(reporter.times, "FileMd5 / md5sum (256 MiB)", "FileMd5/256MiB/", "md5sum/256MiB/",
               1.2);
    std::printf(
        "peak resident memory of a process doing only: nothing %ld KiB, the 64 MiB image "
        "check %ld KiB, FileMd5 of 256 MiB %ld KiB\n",
        idleKib, checkKib, md5Kib);

    std::error_code ec;
    fs::remove_all(g_device, ec);
    benchmark::Shutdown();
    return 0;
}
