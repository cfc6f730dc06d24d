#include "support/temp_device.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/host/device_root.h"

namespace fs = std::filesystem;

namespace fwtest {

TempDevice::TempDevice() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fwsetup-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    root_ = buf.data();
    fs::create_directories(root_ / "fs");
    fs::create_directories(root_ / "hw");
    platform::host::SetDeviceRoot(root_.string());
}

TempDevice::~TempDevice() {
    platform::host::SetDeviceRoot(std::string());
    RemoveTree(root_);
}

fs::path TempDevice::Host(const std::string& devicePath) const {
    std::string rel = devicePath;
    for (char& c : rel) {
        if (c == '\\') c = '/';
    }
    while (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
    return Fs() / rel;
}

void TempDevice::Write(const std::string& devicePath, const std::string& contents) const {
    fs::path p = Host(devicePath);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

void TempDevice::WriteBytes(const std::string& devicePath,
                            const std::vector<uint8_t>& contents) const {
    Write(devicePath, std::string(contents.begin(), contents.end()));
}

std::string TempDevice::Read(const std::string& devicePath) const {
    std::ifstream in(Host(devicePath), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempDevice::Exists(const std::string& devicePath) const {
    std::error_code ec;
    return fs::symlink_status(Host(devicePath), ec).type() != fs::file_type::not_found &&
           !ec;
}

void TempDevice::MakeDir(const std::string& devicePath) const {
    fs::create_directories(Host(devicePath));
}

void TempDevice::SetReadOnly(const std::string& devicePath, bool readOnly) const {
    fs::permissions(Host(devicePath), fs::perms::owner_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

void RemoveTree(const fs::path& path) {
    std::error_code ec;
    if (path.empty() || !fs::exists(fs::symlink_status(path, ec))) return;
    // Give back every write bit first: a cleared one on a folder would stop the removal.
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all,
                                               fs::perm_options::add, ec);
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

WString W(const std::string& ascii) {
    WString out;
    if (!platform::host::Utf8ToUtf16(ascii, out)) ADD_FAILURE() << "bad UTF-8 in test text";
    return out;
}

}  // namespace fwtest
