#include "sim/installer.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/host/device_root.h"
#include "setup/setup_api.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

// The exports every setup module has; a module missing any of them is refused.
const char* const kRequiredExports[] = {"Install_Init",   "Install_Exit", "Uninstall_Init",
                                        "Uninstall_Exit", "DllMain",      "g_hInstance"};

std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::string Narrow(const WString& wide) {
    std::string out;
    if (!platform::host::Utf16ToUtf8(wide, out))
        return "?";
    return out;
}

// Makes the device the one this process and the loaded module work on, and
// puts the previous choice back when the installation is over.
class DeviceScope {
  public:
    explicit DeviceScope(const fs::path& device) {
        const char* env = getenv("FWSETUP_DEVICE");
        if (env)
            previousEnvironment_ = env;
        previousRoot_ = platform::host::DeviceRoot();
        setenv("FWSETUP_DEVICE", device.c_str(), 1);
        platform::host::SetDeviceRoot(device.string());
    }
    ~DeviceScope() {
        if (previousEnvironment_) {
            setenv("FWSETUP_DEVICE", previousEnvironment_->c_str(), 1);
        } else {
            unsetenv("FWSETUP_DEVICE");
        }
        platform::host::SetDeviceRoot(previousRoot_);
    }
    DeviceScope(const DeviceScope&) = delete;
    DeviceScope& operator=(const DeviceScope&) = delete;

  private:
    std::optional<std::string> previousEnvironment_;
    std::string previousRoot_;
};

class LoadedModule {
  public:
    explicit LoadedModule(const fs::path& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            const char* why = dlerror();
            throw std::runtime_error("cannot load setup module " + Quoted(path) + ": " +
                                     OneLine(why ? why : "unknown reason"));
        }
    }
    ~LoadedModule() { dlclose(handle_); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    void* handle() const { return handle_; }
    void* Find(const char* name) const { return dlsym(handle_, name); }

  private:
    void* handle_ = nullptr;
};

// Copies a package file onto the device through the platform's file streams,
// so that the copy follows the printer's rules (no link is followed, a
// read-only file is not overwritten). Programs need nothing more to run: the
// platform starts any file, whatever its host permission bits.
bool CopyHostFileToDevice(const fs::path& from, const WString& to, std::string& why) {
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        why = "cannot read " + from.string();
        return false;
    }
    std::unique_ptr<platform::FileBuffer> file =
        platform::OpenFileBuffer(to, std::ios::out | std::ios::trunc);
    if (!file) {
        why = "cannot write on the device";
        return false;
    }
    std::ostream out(file.get());
    char buffer[64 * 1024];
    while (in) {
        in.read(buffer, sizeof(buffer));
        const std::streamsize got = in.gcount();
        if (got > 0)
            out.write(buffer, got);
        if (!out) {
            why = "write failed";
            return false;
        }
    }
    if (in.bad()) {
        why = "cannot read " + from.string();
        return false;
    }
    out.flush();
    if (!out || !file->Close()) {
        why = "write failed";
        return false;
    }
    return true;
}

struct CopyCounts {
    size_t failedFolders = 0;
    size_t failedFiles = 0;
};

// Copies hostFolder's contents to deviceFolder (a device path ending in "\").
void CopyTree(const fs::path& hostFolder, const WString& deviceFolder, InstallResult& result,
              CopyCounts& counts) {
    // A folder of the package that cannot be read counts as a folder that failed
    // to install, like any other, instead of ending the installation half-way.
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(hostFolder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec) {
        counts.failedFolders++;
        result.failedFiles.push_back(Narrow(deviceFolder) + ": cannot read " + hostFolder.string() +
                                     ": " + ec.message());
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                  return a.path().filename() < b.path().filename();
              });
    for (const fs::directory_entry& entry : entries) {
        WString name;
        const std::string hostName = entry.path().filename().string();
        const WString devicePath =
            platform::host::Utf8ToUtf16(hostName, name) ? deviceFolder + name : WString();
        const std::string shown = devicePath.empty() ? hostName : Narrow(devicePath);
        const fs::file_status status = entry.symlink_status(ec);

        if (devicePath.empty()) {
            (fs::is_directory(status) ? counts.failedFolders : counts.failedFiles)++;
            result.failedFiles.push_back(shown + ": name is not UTF-8");
        } else if (fs::is_directory(status)) {
            const uint32_t attributes = platform::GetFileAttributes(devicePath);
            if (attributes == platform::kInvalidFileAttributes) {
                if (!platform::CreateDirectory(devicePath)) {
                    counts.failedFolders++;
                    result.failedFiles.push_back(shown + ": cannot create the folder");
                    continue;
                }
                result.createdFolders.push_back(shown);
            } else if ((attributes & platform::kFileAttributeDirectory) == 0) {
                counts.failedFolders++;
                result.failedFiles.push_back(shown + ": a file of that name is in the way");
                continue;
            }
            CopyTree(entry.path(), devicePath + u"\\", result, counts);
        } else if (fs::is_regular_file(status)) {
            std::string why;
            if (CopyHostFileToDevice(entry.path(), devicePath, why)) {
                result.copiedFiles.push_back(shown);
            } else {
                counts.failedFiles++;
                result.failedFiles.push_back(shown + ": " + why);
            }
        } else {
            counts.failedFiles++;
            result.failedFiles.push_back(shown + ": not a regular file");
        }
    }
}

WORD AsWord(size_t count) {
    return static_cast<WORD>(std::min<size_t>(count, 0xFFFF));
}

}  // namespace

InstallResult InstallPackage(const InstallOptions& options) {
    std::error_code ec;
    const fs::path device = fs::absolute(options.device, ec).lexically_normal();
    if (ec || options.device.empty() || !fs::is_directory(device / "fs", ec)) {
        throw std::runtime_error("no simulated printer at " + Quoted(options.device) +
                                 " (make one with `fwsetup device init`)");
    }
    if (options.package.empty() || !fs::is_directory(options.package, ec)) {
        throw std::runtime_error("no package at " + Quoted(options.package));
    }
    const fs::path files = options.package / "files";
    if (!fs::is_directory(files, ec)) {
        throw std::runtime_error("not a package: " + Quoted(options.package) +
                                 " has no files/ folder");
    }
    const fs::path modulePath =
        fs::absolute(options.module.empty() ? options.package / "setup.so" : options.module, ec);
    if (ec || !fs::is_regular_file(modulePath, ec)) {
        throw std::runtime_error("no setup module at " + Quoted(modulePath));
    }

    auto step = [&](const std::string& what) {
        if (options.onStep)
            options.onStep(what);
    };

    DeviceScope deviceScope(device);
    LoadedModule module(modulePath);
    std::string missing;
    for (const char* name : kRequiredExports) {
        if (!module.Find(name))
            missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
    if (!missing.empty()) {
        throw std::runtime_error("not a setup module: " + Quoted(modulePath) + " does not export " +
                                 missing);
    }
    const auto dllMain = reinterpret_cast<DllMainFn>(module.Find("DllMain"));
    const auto installInit = reinterpret_cast<InstallInitFn>(module.Find("Install_Init"));
    const auto installExit = reinterpret_cast<InstallExitFn>(module.Find("Install_Exit"));
    const char16_t* const installDir = u"\\";

    InstallResult result;
    step("DllMain (process attach)");
    dllMain(module.handle(), DLL_PROCESS_ATTACH, nullptr);
    step("Install_Init");
    result.initResult = installInit(nullptr, 1, 0, installDir);

    step("copying the package's files");
    CopyCounts counts;
    CopyTree(files, u"\\", result, counts);

    step("Install_Exit");
    result.exitResult = installExit(nullptr, installDir, AsWord(counts.failedFolders),
                                    AsWord(counts.failedFiles), 0, 0, 0);
    step("DllMain (process detach)");
    dllMain(module.handle(), DLL_PROCESS_DETACH, nullptr);
    return result;
}

}  // namespace sim
