// Host side of the file functions: the printer's file semantics over a folder
// of the development machine (DEVICE/fs).
//
// What the printer does, and what is reproduced here rather than what Linux would do:
// - the read-only attribute is the owner write bit; a read-only file cannot be
//   deleted or overwritten and a read-only folder cannot be removed, even when
//   the host (running as root) would allow it;
// - moving, renaming and copying never replace an existing entry unless told to
//   (copy without fail-if-exists); a name that differs only in letter case
//   counts as existing, except when it names the moved entry itself (a pure
//   case change);
// - files and folders are told apart: the file calls refuse folders and the
//   folder calls refuse files;
// - the root of the device can be neither moved, nor removed, nor replaced;
// - entry names the printer cannot hold (control characters and < > : " | ? *)
//   are refused for new entries.
// Symbolic links are not part of the printer's file system: paths through one
// are refused, and folder searches leave them out.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "platform/host/device_root.h"
#include "platform/host/host_text.h"

namespace platform {
namespace {

using host::AsciiLower;
using host::EqualsIgnoringCase;
using host::MapDevicePath;
using host::ReadSmallFile;
using host::TrimAsciiSpace;

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

// The host path of the device root, DEVICE/fs; empty without a device.
std::string FsRoot() {
    const std::string root = host::DeviceRoot();
    return root.empty() ? std::string() : root + "/fs";
}

// The last component of a device path as given (trailing separators ignored).
WString LastComponent(const WString& path) {
    size_t end = path.size();
    while (end > 0 && IsSeparator(path[end - 1]))
        --end;
    size_t begin = end;
    while (begin > 0 && !IsSeparator(path[begin - 1]))
        --begin;
    return path.substr(begin, end - begin);
}

// Host path split at its last "/" (mapped paths always hold one).
std::string HostParent(const std::string& hostPath) {
    const size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? std::string() : hostPath.substr(0, slash);
}
std::string HostName(const std::string& hostPath) {
    const size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

// A name the printer's file system can hold.
bool IsValidEntryName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20)
            return false;
        switch (c) {
            case '<':
            case '>':
            case ':':
            case '"':
            case '|':
            case '?':
            case '*':
                return false;
            default:
                break;
        }
    }
    return true;
}

bool IsReadOnlyMode(mode_t mode) {
    return (mode & S_IWUSR) == 0;
}

// A mapped device path and what the host holds there.
struct Entry {
    std::string host;
    bool exists;
    struct stat st;
};

bool Resolve(const WString& devicePath, Entry& entry) {
    if (!MapDevicePath(devicePath, entry.host))
        return false;
    entry.exists = lstat(entry.host.c_str(), &entry.st) == 0;
    return true;
}

bool IsRoot(const std::string& hostPath) {
    return hostPath == FsRoot();
}

// Where a new entry named by devicePath would go: the entry must not exist, its
// name must be valid and its parent must be an existing folder.
bool IsCreatable(const Entry& entry) {
    if (entry.exists || IsRoot(entry.host))
        return false;
    if (!IsValidEntryName(HostName(entry.host)))
        return false;
    struct stat parent;
    return lstat(HostParent(entry.host).c_str(), &parent) == 0 && S_ISDIR(parent.st_mode);
}

// On the printer a folder's read-only attribute does not protect the entries
// in it, while on the host a folder without its owner write bit refuses to
// change its entries to anyone but root. While one exists, this gives such a
// folder its write bit back and restores the folder's mode afterwards.
class WritableFolder {
  public:
    explicit WritableFolder(const std::string& folder) : folder_(folder), restore_(false) {
        if (lstat(folder_.c_str(), &st_) == 0 && S_ISDIR(st_.st_mode) &&
            IsReadOnlyMode(st_.st_mode)) {
            restore_ = chmod(folder_.c_str(), (st_.st_mode & 07777) | S_IWUSR) == 0;
        }
    }
    // The folder itself was renamed: its mode is restored under the new name.
    void MovedTo(const std::string& folder) { folder_ = folder; }
    ~WritableFolder() {
        if (restore_)
            chmod(folder_.c_str(), st_.st_mode & 07777);
    }

  private:
    WritableFolder(const WritableFolder&);
    WritableFolder& operator=(const WritableFolder&);

    std::string folder_;
    struct stat st_;
    bool restore_;
};

uint32_t AttributesOf(const struct stat& st) {
    const bool readOnly = IsReadOnlyMode(st.st_mode);
    if (S_ISDIR(st.st_mode))
        return kFileAttributeDirectory | (readOnly ? kFileAttributeReadOnly : 0);
    return readOnly ? kFileAttributeReadOnly : kFileAttributeNormal;
}

bool DeleteHostFile(const Entry& entry) {
    if (!entry.exists || S_ISDIR(entry.st.st_mode))
        return false;
    if (IsReadOnlyMode(entry.st.st_mode))
        return false;
    WritableFolder parent(HostParent(entry.host));
    return unlink(entry.host.c_str()) == 0;
}

// MoveFileW and _wrename alike.
bool MoveEntry(const WString& from, const WString& to) {
    Entry source;
    Entry target;
    if (!Resolve(from, source) || !Resolve(to, target))
        return false;
    if (!source.exists || IsRoot(source.host))
        return false;
    if (target.exists) {
        // The same entry under another letter case: a rename to the case given.
        if (target.host != source.host)
            return false;
        std::string given;
        if (!host::Utf16ToUtf8(LastComponent(to), given))
            return false;
        const std::string current = HostName(source.host);
        if (given == current || !EqualsIgnoringCase(given, current))
            return false;
        if (!IsValidEntryName(given))
            return false;
        // Never replace a host entry that differs from this one only in case.
        const std::string renamed = HostParent(source.host) + "/" + given;
        struct stat other;
        if (lstat(renamed.c_str(), &other) == 0)
            return false;
        WritableFolder parent(HostParent(source.host));
        return rename(source.host.c_str(), renamed.c_str()) == 0;
    }
    if (!IsCreatable(target))
        return false;
    // A folder cannot move below itself.
    if (S_ISDIR(source.st.st_mode) &&
        target.host.compare(0, source.host.size() + 1, source.host + "/") == 0) {
        return false;
    }
    // A folder that changes its parent also changes its own ".." entry.
    WritableFolder sourceParent(HostParent(source.host));
    WritableFolder targetParent(HostParent(target.host));
    WritableFolder moved(source.host);
    if (rename(source.host.c_str(), target.host.c_str()) != 0)
        return false;
    moved.MovedTo(target.host);
    return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies the bytes of one open file into another; false on any read or write error.
bool CopyContents(int in, int out) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = read(in, &buffer[0], buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!WriteAll(out, &buffer[0], static_cast<size_t>(got)))
            return false;
    }
}

// The "*" and "?" pattern of a folder search against one name, ASCII case ignored.
bool MatchesWildcard(const WString& pattern, size_t p, const WString& name, size_t n) {
    // Iterative matching with one backtrack point for the last "*".
    size_t starP = WString::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
            ++p;
            ++n;
        } else if (starP != WString::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// As on the printer, a pattern ending in ".*" also matches the names without
// that extension: "*.*" matches every name, "nk.*" matches "nk".
bool MatchesPattern(const WString& pattern, const WString& name) {
    if (MatchesWildcard(pattern, 0, name, 0))
        return true;
    const size_t size = pattern.size();
    if (size >= 2 && pattern[size - 2] == u'.' && pattern[size - 1] == u'*') {
        return MatchesWildcard(pattern.substr(0, size - 2), 0, name, 0);
    }
    return false;
}

// A snapshot of a folder's matching names in byte order; the attributes are
// read as each entry is handed out, and entries gone by then are passed over.
class HostFileSearch : public FileSearch {
  public:
    HostFileSearch(const std::string& folder, std::vector<std::string>& names)
        : folder_(folder), next_(0) {
        names_.swap(names);
    }

    bool Next(FindData& entry) {
        while (next_ < names_.size()) {
            const std::string& name = names_[next_++];
            struct stat st;
            if (lstat((folder_ + "/" + name).c_str(), &st) != 0 || S_ISLNK(st.st_mode))
                continue;
            WString wide;
            if (!host::Utf8ToUtf16(name, wide))
                continue;
            entry.attributes = AttributesOf(st);
            entry.name = wide;
            return true;
        }
        return false;
    }

  private:
    std::string folder_;
    std::vector<std::string> names_;
    size_t next_;
};

// Reads a small file of DEVICE/hw whole; false when it cannot be read.
// A decimal count with optional surrounding white space, up to 2^64-1.
bool ParseCount(const std::string& raw, uint64_t& value) {
    const std::string text = TrimAsciiSpace(raw);
    if (text.empty())
        return false;
    uint64_t result = 0;
    const uint64_t kMax = std::numeric_limits<uint64_t>::max();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (result > (kMax - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

uint64_t SaturatingProduct(uint64_t a, uint64_t b) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) {
        return std::numeric_limits<uint64_t>::max();
    }
    return a * b;
}

}  // namespace

uint32_t GetFileAttributes(const WString& path) {
    Entry entry;
    if (!Resolve(path, entry) || !entry.exists)
        return kInvalidFileAttributes;
    return AttributesOf(entry.st);
}

bool SetFileAttributes(const WString& path, uint32_t attributes) {
    if (attributes == kInvalidFileAttributes)
        return false;
    Entry entry;
    if (!Resolve(path, entry) || !entry.exists)
        return false;
    mode_t mode = entry.st.st_mode & 07777;
    if (attributes & kFileAttributeReadOnly) {
        mode &= static_cast<mode_t>(~S_IWUSR);
    } else {
        mode |= S_IWUSR;
    }
    return chmod(entry.host.c_str(), mode) == 0;
}

bool DeleteFile(const WString& path) {
    Entry entry;
    return Resolve(path, entry) && DeleteHostFile(entry);
}

bool MoveFile(const WString& from, const WString& to) {
    return MoveEntry(from, to);
}

bool Rename(const WString& from, const WString& to) {
    return MoveEntry(from, to);
}

bool RemoveNarrow(const NString& path) {
    WString wide;
    if (!host::Utf8ToUtf16(path, wide))
        return false;
    return DeleteFile(wide);
}

bool CopyFile(const WString& from, const WString& to, bool failIfExists) {
    Entry source;
    Entry target;
    if (!Resolve(from, source) || !Resolve(to, target))
        return false;
    if (!source.exists || !S_ISREG(source.st.st_mode))
        return false;
    if (target.exists) {
        if (failIfExists || !S_ISREG(target.st.st_mode))
            return false;
        if (IsReadOnlyMode(target.st.st_mode))
            return false;
        if (target.host == source.host)
            return false;
    } else if (!IsCreatable(target)) {
        return false;
    }

    const int in = open(source.host.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return false;
    const int flags =
        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | (target.exists ? 0 : O_EXCL);
    WritableFolder parent(HostParent(target.host));
    const int out = open(target.host.c_str(), flags, 0666);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = CopyContents(in, out);
    // The copy carries the source's read-only attribute.
    struct stat written;
    if (ok && fstat(out, &written) == 0) {
        mode_t mode = written.st_mode & 07777;
        if (IsReadOnlyMode(source.st.st_mode)) {
            mode &= static_cast<mode_t>(~S_IWUSR);
        } else {
            mode |= S_IWUSR;
        }
        ok = fchmod(out, mode) == 0;
    } else {
        ok = false;
    }
    if (close(out) != 0)
        ok = false;
    close(in);
    // A partial copy is worse than none.
    if (!ok)
        unlink(target.host.c_str());
    return ok;
}

bool CreateDirectory(const WString& path) {
    Entry entry;
    if (!Resolve(path, entry) || !IsCreatable(entry))
        return false;
    WritableFolder parent(HostParent(entry.host));
    return mkdir(entry.host.c_str(), 0777) == 0;
}

bool RemoveDirectory(const WString& path) {
    Entry entry;
    if (!Resolve(path, entry) || !entry.exists || IsRoot(entry.host))
        return false;
    if (!S_ISDIR(entry.st.st_mode) || IsReadOnlyMode(entry.st.st_mode))
        return false;
    WritableFolder parent(HostParent(entry.host));
    return rmdir(entry.host.c_str()) == 0;
}

bool GetDiskFreeSpaceEx(const WString& path, uint64_t* freeBytesAvailableToCaller,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes) {
    Entry entry;
    if (!Resolve(path, entry) || !entry.exists)
        return false;
    struct statvfs vfs;
    if (statvfs(FsRoot().c_str(), &vfs) != 0)
        return false;
    uint64_t available = SaturatingProduct(vfs.f_bavail, vfs.f_frsize);
    uint64_t free = SaturatingProduct(vfs.f_bfree, vfs.f_frsize);
    uint64_t total = SaturatingProduct(vfs.f_blocks, vfs.f_frsize);

    // The simulation may fix the free space of every volume.
    const std::string freeFile = host::HardwarePath("free-bytes");
    struct stat st;
    if (lstat(freeFile.c_str(), &st) == 0) {
        std::string text;
        uint64_t value = 0;
        if (!S_ISREG(st.st_mode) || !ReadSmallFile(freeFile, 4096, text) ||
            !ParseCount(text, value)) {
            return false;
        }
        available = value;
        free = value;
        total = std::max(total, value);
    }
    if (freeBytesAvailableToCaller)
        *freeBytesAvailableToCaller = available;
    if (totalBytes)
        *totalBytes = total;
    if (totalFreeBytes)
        *totalFreeBytes = free;
    return true;
}

std::unique_ptr<FileSearch> FindFirstFile(const WString& pattern, FindData& first) {
    std::unique_ptr<FileSearch> none;
    size_t split = pattern.size();
    while (split > 0 && !IsSeparator(pattern[split - 1]))
        --split;
    const WString leaf = pattern.substr(split);
    if (leaf.empty())
        return none;

    std::string folder;
    if (!MapDevicePath(pattern.substr(0, split), folder))
        return none;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return none;
    std::vector<std::string> names;
    while (struct dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        WString wide;
        if (!host::Utf8ToUtf16(name, wide))
            continue;
        if (MatchesPattern(leaf, wide))
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());

    std::unique_ptr<FileSearch> search(new HostFileSearch(folder, names));
    if (!search->Next(first))
        return none;
    return search;
}

void OpenFileStream(std::fstream& stream, const WString& path, std::ios_base::openmode mode) {
    Entry entry;
    if (!Resolve(path, entry)) {
        stream.setstate(std::ios_base::failbit);
        return;
    }
    const bool writes =
        (mode & (std::ios_base::out | std::ios_base::app | std::ios_base::trunc)) != 0;
    if (entry.exists) {
        // Streams are for files; a read-only file is not opened for writing.
        if (!S_ISREG(entry.st.st_mode) || (writes && IsReadOnlyMode(entry.st.st_mode))) {
            stream.setstate(std::ios_base::failbit);
            return;
        }
    } else if (writes && !IsCreatable(entry)) {
        stream.setstate(std::ios_base::failbit);
        return;
    }
    WritableFolder parent(HostParent(entry.host));
    stream.open(entry.host.c_str(), mode | std::ios_base::binary);
}

}  // namespace platform
