// The property archive and PreviousBuildNumberPropertyCreator::Create next to
// the bare work on the same text, and peak memory.
//
//   bench_property_archive [--entries N] [--runs N] [--dir DIR]
//
// Writes an archive of N entries (default 2,000) on a fresh simulated printer,
// then, best of R runs each:
//   archive JsonPropertyArchiver: construct, Load (digest check, parse), change
//           one entry, WaitForSaves (archive and digest replaced on the device,
//           flushed), destroy;
//   Create  the operating-system package's whole property step: the build
//           number from \boot\qtlibs_version.ini (a new one every run, so that
//           it is saved), the manager and both archives, the load with the
//           backup, the save, the teardown;
//   bare    RapidJSON alone on the same text held in memory: parse, change the
//           same entry, compact write, MD5 of the written text.
// Prints wall and CPU times (all threads) and their ratios to the bare work, and
// the part of the wall time that goes into flushing a save to stable storage. Peak resident memory
// is taken in child processes (VmHWM) for N and for ten times N entries, for each side, next to an
// idle child that only starts.
#include <openssl/evp.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/host/device_root.h"
#include "properties/json_property_archiver.h"
#include "properties/previous_build_number_property_creator.h"
#include "properties/string_property.h"
#include "runtime/thread_factory.h"

namespace fs = std::filesystem;

namespace {

const char16_t kArchive[] = u"/Store/Properties.json";

std::string Guid(unsigned n) {
    char text[40];
    std::snprintf(text, sizeof(text), "%08X-%04X-4%03X-9%03X-%012X", n * 2654435761u, n % 0xFFFF,
                  n % 0xFFF, (n * 7) % 0xFFF, n * 40503u);
    return text;
}

// The property of entry i.
std::shared_ptr<StringProperty> PropertyOf(unsigned i, const std::string& value) {
    return std::make_shared<StringProperty>(value, Guid(i), "Property number " + std::to_string(i),
                                            Guid(100000 + i % 55),
                                            "Group " + std::to_string(i % 55));
}

// A fresh printer at dir/device holding an archive of n entries, written by the module.
void MakePrinter(const fs::path& dir, unsigned n) {
    fs::remove_all(dir / "device");
    fs::create_directories(dir / "device" / "fs" / "store");
    fs::create_directories(dir / "device" / "fs" / "boot");
    fs::create_directories(dir / "device" / "hw");
    platform::host::SetDeviceRoot((dir / "device").string());
    auto factory = std::make_shared<ThreadFactory>(253);
    JsonPropertyArchiver archive(kArchive, factory, 253);
    for (unsigned i = 0; i < n; ++i) {
        const std::shared_ptr<StringProperty> p =
            PropertyOf(i, "value " + std::to_string(i * 37) + " [mils/sec]");
        archive.AddEntry(p->Id(), p->GroupId(), p->GroupName(), p->Name(), p->GetValue());
    }
    if (!archive.WaitForSaves())
        throw std::runtime_error("cannot write the archive");
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The module's work; the archive must hold n entries.
void ModuleRun(unsigned n, int round) {
    auto factory = std::make_shared<ThreadFactory>(253);
    JsonPropertyArchiver archive(kArchive, factory, 253);
    if (!archive.Load())
        throw std::runtime_error("the archive does not load");
    archive.StoreProperty(PropertyOf(n / 2, "changed " + std::to_string(round)));
    if (!archive.WaitForSaves())
        throw std::runtime_error("the save failed");
}

// Create with a build number that differs from the stored one.
void CreateRun(const fs::path& dir, int round) {
    std::ofstream(dir / "device" / "fs" / "boot" / "qtlibs_version.ini", std::ios::trunc)
        << "QtBuildNumber=\"5.9.6." << 1000 + round << "\"\r\n";
    PreviousBuildNumberPropertyCreator::Create();
}

// The bare work on the JSON text; returns a digest byte so that nothing is optimised away.
unsigned BareRun(const std::string& text, unsigned n, int round) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    if (document.HasParseError() || !document.IsObject())
        throw std::runtime_error("the text does not parse");
    rapidjson::Value& entry = document["Properties"][n / 2];
    const std::string value = "changed " + std::to_string(round);
    entry["Value"].SetString(value.c_str(), static_cast<rapidjson::SizeType>(value.size()),
                             document.GetAllocator());
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(buffer.GetString(), buffer.GetSize(), digest, &size, EVP_md5(), nullptr);
    return digest[0];
}

// CPU time of the whole process (every thread) in seconds.
double ProcessCpuSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Best wall time and best CPU time (all threads) of runs runs.
struct Best {
    double wall = 1e9;
    double cpu = 1e9;
};

template <typename F>
Best BestOf(int runs, F run) {
    Best best;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = ProcessCpuSeconds();
        run(r);
        best.cpu = std::min(best.cpu, ProcessCpuSeconds() - cpuStart);
        best.wall = std::min(
            best.wall,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// Runs this program with args; the peak resident memory it reports (VmHWM of
// its own address space: ru_maxrss would carry the parent's over the exec).
long ChildPeakKiB(const std::vector<std::string>& args) {
    std::string command;
    for (const std::string& a : args)
        command += "'" + a + "' ";
    FILE* child = popen(command.c_str(), "r");
    if (!child)
        throw std::runtime_error("cannot start " + args[0]);
    long kib = -1;
    if (std::fscanf(child, "%ld", &kib) != 1)
        kib = -1;
    if (pclose(child) != 0 || kib < 0)
        throw std::runtime_error("the measured child failed");
    return kib;
}

// VmHWM of this process in KiB.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

// The child measured for memory: "--child module|bare|idle DIR N" on a prepared printer.
int Child(const std::string& what, const fs::path& dir, unsigned n) {
    platform::host::SetDeviceRoot((dir / "device").string());
    if (what == "module") {
        ModuleRun(n, 1);
    } else if (what == "create") {
        CreateRun(dir, 1);
    } else if (what == "bare") {
        const std::string image = ReadFile(dir / "device" / "fs" / "store" / "Properties.json");
        volatile unsigned sink = BareRun(image.substr(20), n, 1);
        (void)sink;
    }
    std::printf("%ld\n", PeakKiB());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--child") {
        try {
            return Child(argv[2], argv[3], static_cast<unsigned>(std::stoul(argv[4])));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    unsigned entries = 2000;
    int runs = 20;
    const char* tmp = getenv("TMPDIR");
    fs::path base = tmp && *tmp ? tmp : "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--entries") {
            entries = static_cast<unsigned>(std::max(2ul, std::stoul(argv[i + 1])));
        } else if (option == "--runs") {
            runs = std::max(1, std::stoi(argv[i + 1]));
        } else if (option == "--dir") {
            base = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: %s [--entries N] [--runs N] [--dir DIR]\n", argv[0]);
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
        MakePrinter(dir, entries);
        const fs::path file = dir / "device" / "fs" / "store" / "Properties.json";
        const std::string text = ReadFile(file).substr(20);
        std::printf("archive: %u entries, %zu bytes of JSON text\n", entries, text.size());

        unsigned sink = 0;
        const Best module = BestOf(runs, [&](int r) { ModuleRun(entries, r); });
        const Best bare = BestOf(runs, [&](int r) { sink += BareRun(text, entries, r); });
        const Best create = BestOf(runs, [&](int r) { CreateRun(dir, r); });
        // What durability costs on this disk: a save flushes the pending archive
        // and its sidecar (each FlushFile reaches the file and its folder).
        const Best flush = BestOf(runs, [&](int r) {
            const std::string name = "flush" + std::to_string(r);
            std::ofstream(dir / "device" / "fs" / name) << text;
            platform::FlushFile(u"/" + std::u16string(name.begin(), name.end()));
        });
        const double flushes = 2 * flush.wall;
        std::printf(
            "best of %d runs each (goal: under 3 x the bare work); CPU time of all threads\n",
            runs);
        std::printf("%-46s %9s %7s %11s %9s %7s\n", "", "wall ms", "x bare", "w/o flush", "CPU ms",
                    "x bare");
        const auto row = [&](const char* what, const Best& b, bool flushed) {
            char withoutFlush[16] = "";
            if (flushed)
                std::snprintf(withoutFlush, sizeof(withoutFlush), "%.2f",
                              (b.wall - flushes) / bare.wall);
            std::printf("%-46s %9.3f %7.2f %11s %9.3f %7.2f\n", what, b.wall * 1e3,
                        b.wall / bare.wall, withoutFlush, b.cpu * 1e3, b.cpu / bare.cpu);
        };
        row("bare: RapidJSON parse + compact write + MD5", bare, false);
        row("archive: load, change one entry, save written", module, true);
        row("Create: whole property step, number saved", create, true);
        std::printf(
            "%-46s %9.3f   (one save; in both rows above, Create flushes twice more for "
            "its backup)\n",
            "two FlushFile calls", flushes * 1e3);

        std::printf("\npeak resident memory of a child process (VmHWM)\n");
        std::printf("%10s %12s %12s %12s %12s\n", "entries", "idle KiB", "archive KiB",
                    "Create KiB", "bare KiB");
        for (unsigned n : {entries, entries * 10}) {
            MakePrinter(dir, n);
            const std::string count = std::to_string(n);
            const long idle = ChildPeakKiB({self, "--child", "idle", dir.string(), count});
            const long moduleKiB = ChildPeakKiB({self, "--child", "module", dir.string(), count});
            const long createKiB = ChildPeakKiB({self, "--child", "create", dir.string(), count});
            const long bareKiB = ChildPeakKiB({self, "--child", "bare", dir.string(), count});
            std::printf("%10u %12ld %12ld %12ld %12ld\n", n, idle, moduleKiB, createKiB, bareKiB);
        }
        if (sink == 0xFFFFFFFFu)
            std::printf("\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        rc = 1;
    }
    platform::host::SetDeviceRoot(std::string());
    std::error_code ec;
    fs::remove_all(dir, ec);
    return rc;
}
