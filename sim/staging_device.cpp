#include "sim/staging_device.h"

#include <stdlib.h>

#include <stdexcept>

#include "platform/host/device_root.h"

namespace sim {

namespace fs = std::filesystem;

StagingDevice::StagingDevice() : previous_(platform::host::DeviceRoot()) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-staging-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
    std::error_code ec;
    fs::create_directories(root_ / "fs", ec);
    fs::create_directories(root_ / "hw", ec);
    platform::host::SetDeviceRoot(root_.string());
}

StagingDevice::~StagingDevice() {
    platform::host::SetDeviceRoot(previous_);
    std::error_code ec;
    fs::remove_all(root_, ec);
}

void StagingDevice::Put(const fs::path& from, const std::string& relative) const {
    const fs::path to = root_ / "fs" / relative;
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec)
        throw std::runtime_error("cannot read '" + from.string() + "': " + ec.message());
}

}  // namespace sim
