// The printer's command-line CAB loader, \Windows\wceldcmd.exe, on the host.
//
// Command line (argv[1], one argument): " /delete 0 /nouninstall PATH", PATH a
// device path, taken as it stands (spaces included). When PATH is a complete,
// valid cabinet, every file of it is installed at the device path its name
// gives ("boot\x.json" -> \boot\x.json; folders are created, existing names are
// matched without regard to case) and the exit code is 0. Anything else (no
// such file, empty, cut short, damaged, not a cabinet, a name that is not a
// plain relative path, a link or special file on the way, a member that
// cannot be written) installs nothing and exits with 1. The cabinet is read
// and checked completely in memory, and every member is written in full to a
// new file beside its place, before the first one is renamed into place. No
// link below the device folder is ever followed, and only regular files are
// read or replaced.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// What the device holds at a device path: false when the path cannot be used
// (a link or a special file on the way or there).
bool Look(const WString& devicePath, platform::host::DeviceEntry& entry) {
    return platform::host::ResolveDevicePath(devicePath, entry);
}

bool IsFolder(const platform::host::DeviceEntry& entry) {
    return entry.exists && S_ISDIR(entry.st.st_mode);
}

// One member on its way to the device: written in full to a new file beside
// its place before any member is put in place.
struct Staged {
    const Target* target;
    platform::host::DeviceEntry entry;
    platform::host::PendingFile file;
};

// Writes a member's contents to a new file in its folder (the folders made
// first, matched without regard to case, made with the case given; made is
// told each folder made, outermost first). Nothing is ever followed.
bool Stage(const Target& target, Staged& staged, std::vector<WString>& made, std::string& reason) {
    for (size_t depth = 1; depth < target.components.size(); ++depth) {
        const WString folder = Join(target.components, depth);
        platform::host::DeviceEntry there;
        if (Look(folder, there) && !there.exists)
            made.push_back(folder);
    }
    const WString devicePath = Join(target.components, target.components.size());
    staged.target = &target;
    if (!platform::host::ResolveDevicePath(devicePath, staged.entry, true) ||
        !staged.entry.folder.Valid() || IsFolder(staged.entry)) {
        reason = "cannot write " + staged.entry.hostPath;
        return false;
    }
    const std::vector<uint8_t>& data = *target.data;
    if (!staged.file.Create(staged.entry.folder.Get(), staged.entry.name, 0644) ||
        !platform::host::WriteAllFd(staged.file.Fd(), data.data(), data.size())) {
        reason = "cannot write " + staged.entry.hostPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Removes the folders made for the cabinet again, innermost first (only when
// they are still empty).
void RemoveMadeFolders(const std::vector<WString>& made) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        platform::host::DeviceEntry folder;
        if (platform::host::ResolveDevicePath(*it, folder) && folder.exists &&
            folder.folder.Valid())
            unlinkat(folder.folder.Get(), folder.name.c_str(), AT_REMOVEDIR);
    }
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
    platform::host::UniqueFd cab(platform::host::OpenDeviceFile(cabPath, O_RDONLY));
    if (!cab.Valid())
        return Fail("no cabinet at " + hostCab);
    std::string raw;
    if (!platform::host::ReadAllFd(cab.Get(), SIZE_MAX, raw))
        return Fail("cannot read " + hostCab);
    const std::vector<uint8_t> bytes(raw.begin(), raw.end());

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
        platform::host::DeviceEntry there;
        if (!Look(Join(target.components, target.components.size()), there)) {
            return Fail("cabinet file \"" + entry.name + "\" cannot be placed on the device");
        }
        if (IsFolder(there))
            return Fail("\"" + entry.name + "\" is a folder on the device");
        files.insert(Lower(Join(target.components, target.components.size())));
        for (size_t depth = 1; depth < target.components.size(); ++depth) {
            platform::host::DeviceEntry folder;
            if (!Look(Join(target.components, depth), folder) ||
                (folder.exists && !IsFolder(folder))) {
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

    // Every member is written in full before the first one takes its place, so
    // a member that cannot be written leaves the device as it was.
    std::vector<Staged> staged(targets.size());
    std::vector<WString> made;
    for (size_t i = 0; i < targets.size(); ++i) {
        if (!Stage(targets[i], staged[i], made, reason)) {
            staged.clear();
            RemoveMadeFolders(made);
            return Fail(reason);
        }
    }
    for (Staged& member : staged) {
        if (!member.file.Commit())
            return Fail("cannot write " + member.entry.hostPath + ": " + std::strerror(errno));
    }
    return 0;
}
