#include "support/fuzz_device.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/host/device_root.h"

namespace fs = std::filesystem;

namespace fuzz {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz device: %s\n", what.c_str());
    std::abort();
}

class TemporaryDevice {
  public:
    TemporaryDevice() {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-fuzz-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (!mkdtemp(buffer.data()))
            Fail("cannot make a folder from " + pattern);
        root_ = buffer.data();
        std::error_code error;
        fs::create_directories(fs::path(root_) / "fs", error);
        fs::create_directories(fs::path(root_) / "hw", error);
        if (error)
            Fail("cannot lay out " + root_);
        platform::host::SetDeviceRoot(root_);
    }
    ~TemporaryDevice() {
        std::error_code error;
        fs::remove_all(root_, error);
    }
    TemporaryDevice(const TemporaryDevice&) = delete;
    TemporaryDevice& operator=(const TemporaryDevice&) = delete;

    const std::string& Root() const { return root_; }

  private:
    std::string root_;
};

}  // namespace

const std::string& DeviceRoot() {
    static TemporaryDevice device;
    return device.Root();
}

void WriteDeviceFile(const std::string& relativePath, const uint8_t* data, size_t size) {
    const fs::path path = fs::path(DeviceRoot()) / relativePath;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size != 0)
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (error || !out)
        Fail("cannot write " + path.string());
}

WString Wide(const std::string& ascii) {
    return WString(ascii.begin(), ascii.end());
}

}  // namespace fuzz
