#include "sim/installer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/host/device_root.h"
#include "platform/host/host_text.h"
#include "platform/host/power_cut.h"
#include "platform/host/safe_files.h"
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

// Copies a package file onto the device by the printer's rules (no link is
// followed, a read-only file is not overwritten, a name held by anything but
// a file is refused). The copy is written beside its place and renamed over
// it only when complete, so a full volume or a kill leaves the old file. It
// counts as one copy for the power-cut injector. Programs need nothing more to
// run: the platform starts any file, whatever its host permission bits.
bool CopyHostFileToDevice(const fs::path& from, const WString& to, std::string& why) {
    platform::host::DeviceEntry entry;
    if (!platform::host::PowerIsOn() || !platform::host::ResolveDevicePath(to, entry) ||
        !entry.folder.Valid()) {
        why = "cannot write on the device";
        return false;
    }
    if (entry.exists && !S_ISREG(entry.st.st_mode)) {
        why = "not a regular file on the device";
        return false;
    }
    if (entry.exists && (entry.st.st_mode & S_IWUSR) == 0) {
        why = "read-only on the device";
        return false;
    }
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        why = "cannot read " + from.string();
        return false;
    }
    platform::host::PendingFile file;
    if (!file.Create(entry.folder.Get(), entry.name, 0666) ||
        (entry.exists && fchmod(file.Fd(), entry.st.st_mode & 07777) != 0)) {
        why = std::string("cannot write on the device: ") + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(64 * 1024);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got > 0 && !platform::host::WriteAllFd(file.Fd(), buffer.data(), size_t(got))) {
            why = std::string("write failed: ") + std::strerror(errno);
            return false;
        }
    }
    if (in.bad()) {
        why = "cannot read " + from.string();
        return false;
    }
    platform::host::PowerCutGuard guard(platform::host::kCutCopy, to);
    if (!guard.Allowed() || !file.Commit()) {
        why = std::string("write failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// The device's installation lock: an exclusive lock on the device folder
// itself (no file is made for it), released when the installer ends or dies.
class InstallLock {
  public:
    explicit InstallLock(const fs::path& device)
        : folder_(platform::host::OpenTrustedFolder(device.string())) {
        if (!folder_.Valid())
            throw std::runtime_error("cannot open the simulated printer " + Quoted(device));
        if (flock(folder_.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                throw std::runtime_error("the simulated printer " + Quoted(device) +
                                         " is busy: another installation is running on it");
            throw std::runtime_error("cannot lock the simulated printer " + Quoted(device) + ": " +
                                     std::strerror(errno));
        }
    }

  private:
    platform::host::UniqueFd folder_;
};

// Where the platform's process starter logs the programs the module starts
// (FWSETUP_RUN_LOG, see platform/host/process.cpp): a memory file of this
// process, so that nothing is left behind whatever becomes of the installer.
class RunLog {
  public:
    RunLog() : fd_(memfd_create("fwsetup-run-log", MFD_CLOEXEC)) {
        if (!fd_.Valid())
            throw std::runtime_error(std::string("cannot make the run log: ") +
                                     std::strerror(errno));
        const char* env = getenv(kVariable);
        if (env)
            previous_ = env;
        setenv(kVariable, ("/proc/self/fd/" + std::to_string(fd_.Get())).c_str(), 1);
    }
    ~RunLog() {
        if (previous_)
            setenv(kVariable, previous_->c_str(), 1);
        else
            unsetenv(kVariable);
    }
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // The runs logged so far: "exit N PROGRAM", "unknown PROGRAM", "not-started PROGRAM".
    std::vector<ProgramRun> Runs() const {
        std::vector<ProgramRun> runs;
        std::string text;
        const platform::host::UniqueFd copy(
            open(("/proc/self/fd/" + std::to_string(fd_.Get())).c_str(), O_RDONLY | O_CLOEXEC));
        if (!copy.Valid() || !platform::host::ReadAllFd(copy.Get(), 1 << 20, text))
            return runs;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string outcome;
            fields >> outcome;
            ProgramRun run;
            if (outcome == "exit") {
                run.started = run.exitKnown = true;
                fields >> run.exitCode;
            } else {
                run.started = outcome == "unknown";
            }
            fields.get();
            std::getline(fields, run.program);
            runs.push_back(run);
        }
        return runs;
    }

  private:
    static constexpr const char* kVariable = "FWSETUP_RUN_LOG";
    platform::host::UniqueFd fd_;
    std::optional<std::string> previous_;
};

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

fs::path CheckPackage(const fs::path& package, const fs::path& module) {
    std::error_code ec;
    if (package.empty() || !fs::is_directory(package, ec)) {
        throw std::runtime_error("no package at " + Quoted(package));
    }
    if (!fs::is_directory(package / "files", ec)) {
        throw std::runtime_error("not a package: " + Quoted(package) + " has no files/ folder");
    }
    const fs::path modulePath = fs::absolute(module.empty() ? package / "setup.so" : module, ec);
    if (ec || !fs::is_regular_file(modulePath, ec)) {
        throw std::runtime_error("no setup module at " + Quoted(modulePath));
    }
    LoadedModule loaded(modulePath);
    std::string missing;
    for (const char* name : kRequiredExports) {
        if (!loaded.Find(name))
            missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
    if (!missing.empty()) {
        throw std::runtime_error("not a setup module: " + Quoted(modulePath) + " does not export " +
                                 missing);
    }
    return modulePath;
}

const ProgramRun* CabinetLoaderRun(const InstallResult& result) {
    for (const ProgramRun& run : result.programs) {
        if (platform::host::EqualsIgnoringCase(run.program, "\\Windows\\wceldcmd.exe"))
            return &run;
    }
    return nullptr;
}

bool CabinetRejected(const InstallResult& result) {
    const ProgramRun* run = CabinetLoaderRun(result);
    return run && !(run->exitKnown && (run->exitCode == 0 || run->exitCode == 259));
}

InstallResult InstallPackage(const InstallOptions& options) {
    std::error_code ec;
    const fs::path device = fs::absolute(options.device, ec).lexically_normal();
    if (ec || options.device.empty() || !fs::is_directory(device / "fs", ec)) {
        throw std::runtime_error("no simulated printer at " + Quoted(options.device) +
                                 " (make one with `fwsetup device init`)");
    }
    const fs::path modulePath = CheckPackage(options.package, options.module);
    const fs::path files = options.package / "files";
    InstallLock lock(device);

    auto step = [&](const std::string& what) {
        if (options.onStep)
            options.onStep(what);
    };

    DeviceScope deviceScope(device);
    RunLog runLog;
    LoadedModule module(modulePath);
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
    result.programs = runLog.Runs();
    step("DllMain (process detach)");
    dllMain(module.handle(), DLL_PROCESS_DETACH, nullptr);
    return result;
}

}  // namespace sim
