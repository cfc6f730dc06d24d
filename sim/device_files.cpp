#include "sim/device_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/host/device_root.h"
#include "platform/host/safe_files.h"

namespace sim {

using platform::host::UniqueFd;

std::string DeviceRelativePath(const std::string& devicePath) {
    std::string relative = devicePath;
    for (char& c : relative) {
        if (c == '\\')
            c = '/';
    }
    while (!relative.empty() && relative[0] == '/')
        relative.erase(0, 1);
    return "fs/" + relative;
}

void WriteDeviceFile(const std::filesystem::path& device, const std::string& relative,
                     const std::string& contents, mode_t mode) {
    UniqueFd fd(platform::host::OpenFileBelow(device.string(), relative,
                                              O_WRONLY | O_CREAT | O_TRUNC, mode, true));
    if (!fd.Valid() || !platform::host::WriteAllFd(fd.Get(), contents.data(), contents.size()) ||
        close(fd.Release()) != 0) {
        throw std::runtime_error("cannot write " + (device / relative).string() + ": " +
                                 std::strerror(errno));
    }
}

std::string ReadDeviceFile(const std::filesystem::path& device, const std::string& relative) {
    std::string contents;
    if (platform::host::ReadFileBelow(device.string(), relative, SIZE_MAX, contents) !=
        platform::host::kFileRead) {
        throw std::runtime_error("cannot read " + (device / relative).string());
    }
    return contents;
}

DeviceStagingFile::DeviceStagingFile(const std::filesystem::path& device, const std::string& prefix)
    : root_(platform::host::OpenFolderBelow(device.string(), "fs", false)) {
    UniqueFd file(root_.Valid() ? platform::host::CreateUniqueFileAt(root_.Get(), prefix, name_)
                                : -1);
    if (!file.Valid())
        throw std::runtime_error("cannot create a staging file in " + (device / "fs").string() +
                                 ": " + std::strerror(errno));
}

DeviceStagingFile::~DeviceStagingFile() {
    unlinkat(root_.Get(), name_.c_str(), 0);
}

WString DeviceStagingFile::DevicePath() const {
    WString wide;
    platform::host::Utf8ToUtf16("\\" + name_, wide);
    return wide;
}

void DeviceStagingFile::Write(const std::string& contents) const {
    UniqueFd fd(platform::host::OpenFileAt(root_.Get(), name_, O_WRONLY | O_TRUNC));
    if (!fd.Valid() || !platform::host::WriteAllFd(fd.Get(), contents.data(), contents.size()) ||
        close(fd.Release()) != 0) {
        throw std::runtime_error("cannot write the staging file " + name_ + ": " +
                                 std::strerror(errno));
    }
}

std::string DeviceStagingFile::Read() const {
    std::string contents;
    if (platform::host::ReadFileAt(root_.Get(), name_, SIZE_MAX, contents) !=
        platform::host::kFileRead)
        throw std::runtime_error("cannot read the staging file " + name_);
    return contents;
}

}  // namespace sim
