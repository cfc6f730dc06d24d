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
// Only folders and regular files are part of the printer's file system: a path
// through or to anything else (a symbolic link, a FIFO, a socket, a device
// node) is refused, folder searches leave such entries out, and no call ever
// follows a link (see safe_files.h). Calls are subject to the power-cut
// injector (power_cut.h).
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
#include "platform/host/fd_file_buffer.h"
#include "platform/host/host_text.h"
#include "platform/host/power_cut.h"
#include "platform/host/safe_files.h"

namespace platform {
namespace {

using host::AsciiLower;
using host::EqualsIgnoringCase;
using host::TrimAsciiSpace;

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
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

using host::DeviceEntry;
using host::UniqueFd;

bool Resolve(const WString& devicePath, DeviceEntry& entry) {
    return host::ResolveDevicePath(devicePath, entry);
}

// Where a new entry named by devicePath would go: the entry must not exist, its
// name must be valid and its folder must exist.
bool IsCreatable(const DeviceEntry& entry) {
    return !entry.exists && !entry.isRoot && entry.folder.Valid() && IsValidEntryName(entry.name);
}

// Opens an existing entry that is a folder, never following a link.
int OpenFolderEntry(const DeviceEntry& entry) {
    return openat(entry.folder.Get(), entry.name.c_str(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// On the printer a folder's read-only attribute does not protect the entries
// in it, while on the host a folder without its owner write bit refuses to
// change its entries to anyone but root. While one exists, this gives such a
// folder its write bit back and restores the folder's mode afterwards.
class WritableFolder {
  public:
    explicit WritableFolder(int folder) : folder_(folder), restore_(false) {
        if (folder_ >= 0 && fstat(folder_, &st_) == 0 && S_ISDIR(st_.st_mode) &&
            IsReadOnlyMode(st_.st_mode)) {
            restore_ = fchmod(folder_, (st_.st_mode & 07777) | S_IWUSR) == 0;
        }
    }
    ~WritableFolder() {
        if (restore_)
            fchmod(folder_, st_.st_mode & 07777);
    }

  private:
    WritableFolder(const WritableFolder&) = delete;
    WritableFolder& operator=(const WritableFolder&) = delete;

    int folder_;
    struct stat st_;
    bool restore_;
};

uint32_t AttributesOf(const struct stat& st) {
    const bool readOnly = IsReadOnlyMode(st.st_mode);
    if (S_ISDIR(st.st_mode))
        return kFileAttributeDirectory | (readOnly ? kFileAttributeReadOnly : 0);
    return readOnly ? kFileAttributeReadOnly : kFileAttributeNormal;
}

bool DeleteHostFile(const WString& path, const DeviceEntry& entry) {
    if (!entry.exists || !S_ISREG(entry.st.st_mode))
        return false;
    if (IsReadOnlyMode(entry.st.st_mode))
        return false;
    host::PowerCutGuard guard(host::kCutDelete, path);
    if (!guard.Allowed())
        return false;
    WritableFolder parent(entry.folder.Get());
    return unlinkat(entry.folder.Get(), entry.name.c_str(), 0) == 0;
}

// rename(2) that never replaces an existing entry.
bool RenameNoReplace(int fromFolder, const std::string& fromName, int toFolder,
                     const std::string& toName) {
    if (renameat2(fromFolder, fromName.c_str(), toFolder, toName.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without RENAME_NOREPLACE: the caller checked the name is free.
    return renameat(fromFolder, fromName.c_str(), toFolder, toName.c_str()) == 0;
}

// MoveFileW and _wrename alike.
bool MoveEntry(const WString& from, const WString& to) {
    if (!host::PowerIsOn())
        return false;
    DeviceEntry source;
    DeviceEntry target;
    if (!Resolve(from, source) || !Resolve(to, target))
        return false;
    if (!source.exists || source.isRoot)
        return false;
    if (target.exists) {
        // The same entry under another letter case: a rename to the case given.
        if (target.hostPath != source.hostPath)
            return false;
        std::string given;
        if (!host::Utf16ToUtf8(LastComponent(to), given))
            return false;
        const std::string current = source.name;
        if (given == current || !EqualsIgnoringCase(given, current))
            return false;
        if (!IsValidEntryName(given))
            return false;
        // Never replace a host entry that differs from this one only in case.
        struct stat other;
        if (fstatat(source.folder.Get(), given.c_str(), &other, AT_SYMLINK_NOFOLLOW) == 0)
            return false;
        host::PowerCutGuard guard(host::kCutMove, from);
        if (!guard.Allowed())
            return false;
        WritableFolder parent(source.folder.Get());
        return RenameNoReplace(source.folder.Get(), source.name, source.folder.Get(), given);
    }
    if (!IsCreatable(target))
        return false;
    // A folder cannot move below itself.
    if (S_ISDIR(source.st.st_mode) &&
        target.hostPath.compare(0, source.hostPath.size() + 1, source.hostPath + "/") == 0) {
        return false;
    }
    host::PowerCutGuard guard(host::kCutMove, from);
    if (!guard.Allowed())
        return false;
    // A folder that changes its parent also changes its own ".." entry.
    WritableFolder sourceParent(source.folder.Get());
    WritableFolder targetParent(target.folder.Get());
    UniqueFd movedFolder(S_ISDIR(source.st.st_mode) ? OpenFolderEntry(source) : -1);
    WritableFolder moved(movedFolder.Get());
    return RenameNoReplace(source.folder.Get(), source.name, target.folder.Get(), target.name);
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
        if (!host::WriteAllFd(out, &buffer[0], static_cast<size_t>(got)))
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
// read as each entry is handed out, and entries gone by then are passed over,
// as are links and whatever else is neither a file nor a folder.
class HostFileSearch : public FileSearch {
  public:
    HostFileSearch(int folder, std::vector<std::string>& names) : folder_(folder), next_(0) {
        names_.swap(names);
    }

    bool Next(FindData& entry) {
        if (!host::PowerIsOn())
            return false;
        while (next_ < names_.size()) {
            const std::string& name = names_[next_++];
            struct stat st;
            if (fstatat(folder_.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
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
    UniqueFd folder_;
    std::vector<std::string> names_;
    size_t next_;
};

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

// Opens an existing regular file entry for writing its data: never truncated
// here, so that the power-cut injector can keep what it held first.
int OpenExistingForWriting(const DeviceEntry& entry, int access) {
    return host::OpenFileAt(entry.folder.Get(), entry.name, access);
}

// How the runtime's open modes map to open(2); false for a combination the
// runtime refuses.
bool OpenFlagsOf(std::ios_base::openmode mode, int& flags, bool& readable, bool& writable) {
    const std::ios_base::openmode kind =
        mode & (std::ios_base::in | std::ios_base::out | std::ios_base::trunc | std::ios_base::app);
    const std::ios_base::openmode in = std::ios_base::in;
    const std::ios_base::openmode out = std::ios_base::out;
    const std::ios_base::openmode trunc = std::ios_base::trunc;
    const std::ios_base::openmode app = std::ios_base::app;
    struct Row {
        std::ios_base::openmode mode;
        int flags;
    };
    const Row rows[] = {
        {in, O_RDONLY},
        {out, O_WRONLY | O_CREAT | O_TRUNC},
        {out | trunc, O_WRONLY | O_CREAT | O_TRUNC},
        {out | app, O_WRONLY | O_CREAT | O_APPEND},
        {app, O_WRONLY | O_CREAT | O_APPEND},
        {in | out, O_RDWR},
        {in | out | trunc, O_RDWR | O_CREAT | O_TRUNC},
        {in | out | app, O_RDWR | O_CREAT | O_APPEND},
        {in | app, O_RDWR | O_CREAT | O_APPEND},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        if (rows[i].mode == kind) {
            flags = rows[i].flags;
            readable = (flags & O_ACCMODE) != O_WRONLY;
            writable = (flags & O_ACCMODE) != O_RDONLY;
            return true;
        }
    }
    return false;
}

// Reads a decimal figure kept in DEVICE/hw; missing answers false with present
// false, anything unreadable false with present true.
bool ReadHardwareCount(const char* name, bool& present, uint64_t& value) {
    std::string text;
    const host::FileReadResult read =
        host::ReadFileBelow(host::DeviceRoot(), std::string("hw/") + name, 4096, text);
    present = read != host::kFileMissing;
    return read == host::kFileRead && ParseCount(text, value);
}

}  // namespace

uint32_t GetFileAttributes(const WString& path) {
    DeviceEntry entry;
    if (!host::PowerIsOn() || !Resolve(path, entry) || !entry.exists)
        return kInvalidFileAttributes;
    return AttributesOf(entry.st);
}

bool SetFileAttributes(const WString& path, uint32_t attributes) {
    if (attributes == kInvalidFileAttributes || !host::PowerIsOn())
        return false;
    DeviceEntry entry;
    if (!Resolve(path, entry) || !entry.exists)
        return false;
    UniqueFd fd(S_ISDIR(entry.st.st_mode)
                    ? OpenFolderEntry(entry)
                    : host::OpenFileAt(entry.folder.Get(), entry.name, O_RDONLY));
    struct stat st;
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kFileAttributeReadOnly) {
        mode &= static_cast<mode_t>(~S_IWUSR);
    } else {
        mode |= S_IWUSR;
    }
    host::PowerCutGuard guard(host::kCutSetAttributes, path);
    return guard.Allowed() && fchmod(fd.Get(), mode) == 0;
}

bool DeleteFile(const WString& path) {
    DeviceEntry entry;
    return host::PowerIsOn() && Resolve(path, entry) && DeleteHostFile(path, entry);
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
    if (!host::PowerIsOn())
        return false;
    DeviceEntry source;
    DeviceEntry target;
    if (!Resolve(from, source) || !Resolve(to, target))
        return false;
    if (!source.exists || !S_ISREG(source.st.st_mode))
        return false;
    if (target.exists) {
        if (failIfExists || !S_ISREG(target.st.st_mode))
            return false;
        if (IsReadOnlyMode(target.st.st_mode))
            return false;
        if (target.hostPath == source.hostPath ||
            (target.st.st_dev == source.st.st_dev && target.st.st_ino == source.st.st_ino))
            return false;
    } else if (!IsCreatable(target)) {
        return false;
    }

    UniqueFd in(host::OpenFileAt(source.folder.Get(), source.name, O_RDONLY));
    if (!in.Valid())
        return false;
    host::PowerCutGuard guard(host::kCutCopy, to);
    if (!guard.Allowed())
        return false;
    WritableFolder parent(target.folder.Get());
    UniqueFd out(target.exists ? OpenExistingForWriting(target, O_WRONLY)
                               : host::OpenFileAt(target.folder.Get(), target.name,
                                                  O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (!out.Valid())
        return false;
    host::WillChangeData(out.Get());
    bool ok = !target.exists || ftruncate(out.Get(), 0) == 0;
    ok = ok && CopyContents(in.Get(), out.Get());
    // The copy carries the source's read-only attribute.
    struct stat written;
    if (ok && fstat(out.Get(), &written) == 0) {
        mode_t mode = written.st_mode & 07777;
        if (IsReadOnlyMode(source.st.st_mode)) {
            mode &= static_cast<mode_t>(~S_IWUSR);
        } else {
            mode |= S_IWUSR;
        }
        ok = fchmod(out.Get(), mode) == 0;
    } else {
        ok = false;
    }
    if (close(out.Release()) != 0)
        ok = false;
    // A partial copy is worse than none.
    if (!ok)
        unlinkat(target.folder.Get(), target.name.c_str(), 0);
    return ok;
}

bool CreateDirectory(const WString& path) {
    DeviceEntry entry;
    if (!host::PowerIsOn() || !Resolve(path, entry) || !IsCreatable(entry))
        return false;
    host::PowerCutGuard guard(host::kCutCreateFolder, path);
    if (!guard.Allowed())
        return false;
    WritableFolder parent(entry.folder.Get());
    return mkdirat(entry.folder.Get(), entry.name.c_str(), 0777) == 0;
}

bool RemoveDirectory(const WString& path) {
    DeviceEntry entry;
    if (!host::PowerIsOn() || !Resolve(path, entry) || !entry.exists || entry.isRoot)
        return false;
    if (!S_ISDIR(entry.st.st_mode) || IsReadOnlyMode(entry.st.st_mode))
        return false;
    host::PowerCutGuard guard(host::kCutRemoveFolder, path);
    if (!guard.Allowed())
        return false;
    WritableFolder parent(entry.folder.Get());
    return unlinkat(entry.folder.Get(), entry.name.c_str(), AT_REMOVEDIR) == 0;
}

bool GetDiskFreeSpaceEx(const WString& path, uint64_t* freeBytesAvailableToCaller,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes) {
    DeviceEntry entry;
    if (!host::PowerIsOn() || !Resolve(path, entry) || !entry.exists)
        return false;
    UniqueFd fsFolder(host::OpenFolderBelow(host::DeviceRoot(), "fs", false));
    struct statvfs vfs;
    if (!fsFolder.Valid() || fstatvfs(fsFolder.Get(), &vfs) != 0)
        return false;
    uint64_t available = SaturatingProduct(vfs.f_bavail, vfs.f_frsize);
    uint64_t free = SaturatingProduct(vfs.f_bfree, vfs.f_frsize);
    uint64_t total = SaturatingProduct(vfs.f_blocks, vfs.f_frsize);

    // The simulation may fix the free space of every volume.
    bool present = false;
    uint64_t value = 0;
    if (!ReadHardwareCount("free-bytes", present, value) && present)
        return false;
    if (present) {
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
    if (!host::PowerIsOn())
        return none;
    size_t split = pattern.size();
    while (split > 0 && !IsSeparator(pattern[split - 1]))
        --split;
    const WString leaf = pattern.substr(split);
    if (leaf.empty())
        return none;

    DeviceEntry entry;
    if (!Resolve(pattern.substr(0, split), entry) || !entry.exists || !S_ISDIR(entry.st.st_mode))
        return none;
    UniqueFd folder(OpenFolderEntry(entry));
    if (!folder.Valid())
        return none;
    // The folder stream reads through a descriptor of its own.
    const int listing = openat(folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing < 0 ? 0 : fdopendir(listing);
    if (!dir) {
        if (listing >= 0)
            close(listing);
        return none;
    }
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

    std::unique_ptr<FileSearch> search(new HostFileSearch(folder.Release(), names));
    if (!search->Next(first))
        return none;
    return search;
}

bool FlushFile(const WString& path) {
    DeviceEntry entry;
    if (!host::PowerIsOn() || !Resolve(path, entry) || !entry.exists || !S_ISREG(entry.st.st_mode))
        return false;
    UniqueFd file(host::OpenFileAt(entry.folder.Get(), entry.name, O_RDONLY));
    if (!file.Valid())
        return false;
    host::PowerCutGuard guard(host::kCutFlush, path);
    if (!guard.Allowed())
        return false;
    if (fsync(file.Get()) != 0 || fsync(entry.folder.Get()) != 0)
        return false;
    host::DataFlushed(file.Get());
    return true;
}

std::unique_ptr<FileBuffer> OpenFileBuffer(const WString& path, std::ios_base::openmode mode) {
    std::unique_ptr<FileBuffer> none;
    int flags = 0;
    bool readable = false;
    bool writable = false;
    DeviceEntry entry;
    if (!OpenFlagsOf(mode, flags, readable, writable) || !host::PowerIsOn() ||
        !Resolve(path, entry) || entry.isRoot)
        return none;
    const bool truncate = (flags & O_TRUNC) != 0;
    const bool create = (flags & O_CREAT) != 0;
    UniqueFd fd;
    if (entry.exists) {
        // Streams are for files; a read-only file is not opened for writing.
        if (!S_ISREG(entry.st.st_mode) || (writable && IsReadOnlyMode(entry.st.st_mode)))
            return none;
        fd.Reset(host::OpenFileAt(entry.folder.Get(), entry.name, flags & ~(O_CREAT | O_TRUNC)));
        if (!fd.Valid())
            return none;
        if (truncate) {
            struct stat st;
            if (fstat(fd.Get(), &st) != 0)
                return none;
            if (st.st_size > 0) {
                host::PowerCutGuard guard(host::kCutOpen, path);
                if (!guard.Allowed())
                    return none;
                host::WillChangeData(fd.Get());
                if (ftruncate(fd.Get(), 0) != 0)
                    return none;
            }
        }
    } else {
        if (!create || !IsCreatable(entry))
            return none;
        host::PowerCutGuard guard(host::kCutOpen, path);
        if (!guard.Allowed())
            return none;
        WritableFolder parent(entry.folder.Get());
        fd.Reset(
            host::OpenFileAt(entry.folder.Get(), entry.name, (flags & ~O_TRUNC) | O_EXCL, 0666));
        if (!fd.Valid())
            return none;
    }
    if ((mode & std::ios_base::ate) && lseek(fd.Get(), 0, SEEK_END) < 0)
        return none;
    return std::unique_ptr<FileBuffer>(
        new host::FdFileBuffer(fd.Release(), readable, writable, true, path));
}

}  // namespace platform
