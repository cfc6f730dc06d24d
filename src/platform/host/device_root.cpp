#include "platform/host/device_root.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/host/host_text.h"
#include "platform/host/power_cut.h"

namespace platform {
namespace host {
namespace {

std::mutex g_rootMutex;
std::string g_root;

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path[path.size() - 1] == '/')
        path.erase(path.size() - 1);
    return path;
}

// Splits a device path into its components, dropping "." and resolving ".."
// without ever climbing above the root.
bool SplitComponents(const WString& devicePath, std::vector<std::string>& components) {
    components.clear();
    WString current;
    for (size_t i = 0; i <= devicePath.size(); ++i) {
        const bool end = i == devicePath.size();
        const char16_t c = end ? u'\\' : devicePath[i];
        if (c == 0)
            return false;
        if (c != u'\\' && c != u'/') {
            current.push_back(c);
            continue;
        }
        if (current.empty() || current == u".") {
            current.clear();
            continue;
        }
        if (current == u"..") {
            if (!components.empty())
                components.pop_back();
            current.clear();
            continue;
        }
        std::string utf8;
        if (!Utf16ToUtf8(current, utf8))
            return false;
        components.push_back(utf8);
        current.clear();
    }
    return true;
}

}  // namespace

void SetDeviceRoot(const std::string& deviceDir) {
    {
        std::lock_guard<std::mutex> lock(g_rootMutex);
        g_root = deviceDir.empty() ? std::string() : StripTrailingSlashes(deviceDir);
    }
    ResetPowerCut();
}

std::string DeviceRoot() {
    {
        std::lock_guard<std::mutex> lock(g_rootMutex);
        if (!g_root.empty())
            return g_root;
    }
    const char* fromEnvironment = getenv("FWSETUP_DEVICE");
    if (!fromEnvironment || !*fromEnvironment)
        return std::string();
    return StripTrailingSlashes(fromEnvironment);
}

namespace {

// The rest of a path below a component that does not exist (or is a file).
void AppendRest(const std::vector<std::string>& components, size_t from, const std::string& first,
                DeviceEntry& entry) {
    entry.hostPath += "/" + first;
    for (size_t k = from + 1; k < components.size(); ++k)
        entry.hostPath += "/" + components[k];
    entry.name = components.back();
    entry.exists = false;
    entry.folder.Reset();
}

bool IsFolderOrFile(mode_t mode) {
    return S_ISDIR(mode) || S_ISREG(mode);
}

}  // namespace

bool ResolveDevicePath(const WString& devicePath, DeviceEntry& entry, bool makeFolders) {
    entry.folder.Reset();
    entry.exists = false;
    entry.isRoot = false;
    const std::string root = DeviceRoot();
    if (root.empty())
        return false;
    std::vector<std::string> components;
    if (!SplitComponents(devicePath, components))
        return false;
    UniqueFd current(OpenTrustedFolder(root));
    if (!current.Valid())
        return false;
    entry.hostPath = root + "/fs";
    entry.name = "fs";

    // The root folder is the entry "fs" of DEVICE, and must be a real folder.
    const int fsFolder =
        openat(current.Get(), "fs", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fsFolder < 0)
        return false;
    if (components.empty()) {
        close(fsFolder);
        entry.isRoot = true;
        entry.exists = fstatat(current.Get(), "fs", &entry.st, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(entry.st.st_mode);
        entry.folder = std::move(current);
        return entry.exists;
    }
    current.Reset(fsFolder);

    for (size_t i = 0; i < components.size(); ++i) {
        const bool last = i + 1 == components.size();
        std::string name = components[i];
        struct stat st;
        bool found = fstatat(current.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!found) {
            const std::string match = FindEntryIgnoringCaseAt(current.Get(), name);
            if (!match.empty()) {
                name = match;
                found = fstatat(current.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            }
        }
        if (found && !IsFolderOrFile(st.st_mode))
            return false;  // a link or a special file is not part of the printer's file system
        if (last) {
            entry.hostPath += "/" + name;
            entry.name = name;
            entry.exists = found;
            if (found)
                entry.st = st;
            entry.folder = std::move(current);
            return true;
        }
        if (!found && makeFolders) {
            if (mkdirat(current.Get(), name.c_str(), 0777) != 0 && errno != EEXIST)
                return false;
            found = fstatat(current.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (found && !IsFolderOrFile(st.st_mode))
                return false;
        }
        if (!found || !S_ISDIR(st.st_mode)) {
            // Nothing exists below a missing entry or a file.
            AppendRest(components, i, name, entry);
            return true;
        }
        const int next =
            openat(current.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return false;
        current.Reset(next);
        entry.hostPath += "/" + name;
    }
    return false;  // not reached: the last component returns above
}

int OpenDeviceFile(const WString& devicePath, int flags, mode_t mode) {
    DeviceEntry entry;
    if (!ResolveDevicePath(devicePath, entry)) {
        errno = EINVAL;
        return -1;
    }
    if (entry.isRoot) {
        errno = EISDIR;
        return -1;
    }
    if (!entry.folder.Valid()) {
        errno = ENOENT;
        return -1;
    }
    return OpenFileAt(entry.folder.Get(), entry.name, flags, mode);
}

bool MapDevicePath(const WString& devicePath, std::string& hostPath) {
    DeviceEntry entry;
    if (!ResolveDevicePath(devicePath, entry))
        return false;
    hostPath = entry.hostPath;
    return true;
}

bool Utf16ToUtf8(const WString& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF)
                return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

bool Utf8ToUtf16(const std::string& in, WString& out) {
    out.clear();
    size_t i = 0;
    while (i < in.size()) {
        const uint8_t lead = static_cast<uint8_t>(in[i]);
        uint32_t cp;
        size_t extra;
        if (lead < 0x80) {
            cp = lead;
            extra = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (extra > 0 && i + extra >= in.size())
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t cont = static_cast<uint8_t>(in[i + k]);
            if ((cont & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cont & 0x3F);
        }
        static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace host
}  // namespace platform
