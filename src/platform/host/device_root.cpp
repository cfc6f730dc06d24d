#include "platform/host/device_root.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/host/host_text.h"

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

// The entry of folder whose name equals name without regard to ASCII case; the
// first in byte order when the host holds several. Empty when there is none.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return std::string();
    std::vector<std::string> matches;
    while (struct dirent* entry = readdir(dir)) {
        if (EqualsIgnoringCase(entry->d_name, name))
            matches.push_back(entry->d_name);
    }
    closedir(dir);
    if (matches.empty())
        return std::string();
    return *std::min_element(matches.begin(), matches.end());
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
    std::lock_guard<std::mutex> lock(g_rootMutex);
    g_root = deviceDir.empty() ? std::string() : StripTrailingSlashes(deviceDir);
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

std::string HardwarePath(const std::string& name) {
    const std::string root = DeviceRoot();
    if (root.empty())
        return std::string();
    return root + "/hw/" + name;
}

bool MapDevicePath(const WString& devicePath, std::string& hostPath) {
    const std::string root = DeviceRoot();
    if (root.empty())
        return false;
    std::vector<std::string> components;
    if (!SplitComponents(devicePath, components))
        return false;

    std::string current = root + "/fs";
    bool parentExists = true;
    for (size_t i = 0; i < components.size(); ++i) {
        std::string candidate = current + "/" + components[i];
        if (parentExists) {
            struct stat st;
            if (lstat(candidate.c_str(), &st) != 0) {
                const std::string match = FindEntryIgnoringCase(current, components[i]);
                if (match.empty()) {
                    parentExists = false;
                } else {
                    candidate = current + "/" + match;
                    if (lstat(candidate.c_str(), &st) != 0)
                        parentExists = false;
                }
            }
            // A symbolic link could lead out of the device: never follow one.
            if (parentExists && S_ISLNK(st.st_mode))
                return false;
        }
        current = candidate;
    }
    hostPath = current;
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
