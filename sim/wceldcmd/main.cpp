// The printer's command-line CAB loader, \Windows\wceldcmd.exe, on the host.
//
// Command line (argv[1], one argument): " /delete 0 /nouninstall PATH", PATH a
// device path, taken as it stands (spaces included). When PATH is a complete,
// valid cabinet, every file of it is installed at the device path its name
// gives ("boot\x.json" -> \boot\x.json; folders are created, existing names are
// matched without regard to case) and the exit code is 0. Anything else (no
// such file, empty, cut short, damaged, not a cabinet, a name that is not a
// plain relative path) installs nothing and exits with 1. The cabinet is read
// and checked completely in memory before the first file is written.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/host/device_root.h"
#include "sim/cabinet.h"

namespace {

const char kPrefix[] = " /delete 0 /nouninstall ";

int Fail(const std::string& reason) {
    std::fprintf(stderr, "wceldcmd: %s\n", reason.c_str());
    return 1;
}

char16_t AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c;
}

WString Lower(const WString& text) {
    WString lower(text);
    for (char16_t& c : lower)
        c = AsciiLower(c);
    return lower;
}

// A file's name inside the cabinet as its components; false unless it is a
// plain relative path (no empty, "." or ".." component, no drive, no control
// characters).
bool SplitName(const std::string& name, std::vector<WString>& components) {
    WString wide;
    if (!platform::host::Utf8ToUtf16(name, wide) || wide.empty())
        return false;
    components.clear();
    WString current;
    for (size_t i = 0; i <= wide.size(); ++i) {
        const char16_t c = i == wide.size() ? u'\\' : wide[i];
        if (c == u'\\' || c == u'/') {
            if (current.empty() || current == u"." || current == u"..")
                return false;
            components.push_back(current);
            current.clear();
            continue;
        }
        if (c < 0x20 || c == u':')
            return false;
        current.push_back(c);
    }
    return true;
}

WString Join(const std::vector<WString>& components, size_t count) {
    WString path;
    for (size_t i = 0; i < count; ++i)
        path += u"\\" + components[i];
    return path;
}

struct Target {
    std::vector<WString> components;
    const std::vector<uint8_t>* data;
};

bool IsDirectory(const std::string& hostPath) {
    struct stat st;
    return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& hostPath) {
    struct stat st;
    return lstat(hostPath.c_str(), &st) == 0;
}

// Writes one file: its folders first, then the contents through a temporary
// file in the same folder that is renamed over the name.
bool Install(const Target& target, std::string& reason) {
    const WString devicePath = Join(target.components, target.components.size());
    for (size_t depth = 1; depth < target.components.size(); ++depth) {
        std::string folder;
        if (!platform::host::MapDevicePath(Join(target.components, depth), folder)) {
            reason = "cannot map a folder of a cabinet file";
            return false;
        }
        if (IsDirectory(folder))
            continue;
        if (Exists(folder) || mkdir(folder.c_str(), 0777) != 0) {
            reason = "cannot create the folder " + folder;
            return false;
        }
    }
    std::string host;
    if (!platform::host::MapDevicePath(devicePath, host) || IsDirectory(host)) {
        reason = "cannot write " + host;
        return false;
    }
    std::string temporary = host + ".wceldcmd-XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        reason = "cannot write " + host;
        return false;
    }
    const std::vector<uint8_t>& data = *target.data;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool closed = close(fd) == 0;
    if (done != data.size() || !closed || chmod(temporary.c_str(), 0644) != 0 ||
        rename(temporary.c_str(), host.c_str()) != 0) {
        unlink(temporary.c_str());
        reason = "cannot write " + host;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return Fail("expected one argument: \" /delete 0 /nouninstall PATH\"");
    const std::string line = argv[1];
    const std::string prefix = kPrefix;
    if (line.compare(0, prefix.size(), prefix) != 0 || line.size() == prefix.size()) {
        return Fail("expected \" /delete 0 /nouninstall PATH\", got \"" + line + "\"");
    }
    WString cabPath;
    std::string hostCab;
    if (!platform::host::Utf8ToUtf16(line.substr(prefix.size()), cabPath) ||
        !platform::host::MapDevicePath(cabPath, hostCab)) {
        return Fail("cannot map the cabinet path (is FWSETUP_DEVICE set?)");
    }
    struct stat st;
    if (stat(hostCab.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return Fail("no cabinet at " + hostCab);
    }
    std::ifstream in(hostCab, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad())
        return Fail("cannot read " + hostCab);

    std::vector<sim::CabinetEntry> entries;
    std::string reason;
    if (!sim::ReadCabinet(bytes, entries, reason))
        return Fail(hostCab + ": " + reason);

    // Check every name before anything is written: plain relative paths, and no
    // name that is also used as a folder of another.
    std::vector<Target> targets;
    std::set<WString> files;
    std::set<WString> folders;
    for (const sim::CabinetEntry& entry : entries) {
        Target target;
        if (!SplitName(entry.name, target.components)) {
            return Fail("cabinet file name \"" + entry.name + "\" is not a relative path");
        }
        target.data = &entry.data;
        std::string host;
        if (!platform::host::MapDevicePath(Join(target.components, target.components.size()),
                                           host)) {
            return Fail("cabinet file \"" + entry.name + "\" cannot be placed on the device");
        }
        if (IsDirectory(host))
            return Fail("\"" + entry.name + "\" is a folder on the device");
        files.insert(Lower(Join(target.components, target.components.size())));
        for (size_t depth = 1; depth < target.components.size(); ++depth) {
            std::string folder;
            if (!platform::host::MapDevicePath(Join(target.components, depth), folder) ||
                (Exists(folder) && !IsDirectory(folder))) {
                return Fail("a folder of \"" + entry.name + "\" is a file on the device");
            }
            folders.insert(Lower(Join(target.components, depth)));
        }
        targets.push_back(target);
    }
    for (const WString& file : files) {
        if (folders.count(file))
            return Fail("a cabinet file name is also a folder of another");
    }

    for (const Target& target : targets) {
        if (!Install(target, reason))
            return Fail(reason);
    }
    return 0;
}
