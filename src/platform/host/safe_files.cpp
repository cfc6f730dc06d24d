#include "platform/host/safe_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "platform/host/host_text.h"

namespace platform {
namespace host {
namespace {

const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// errno for an entry that is not the regular file expected.
int KindError(mode_t mode) {
    if (S_ISLNK(mode))
        return ELOOP;
    if (S_ISDIR(mode))
        return EISDIR;
    return EINVAL;
}

// True when st is a file that may be opened as asked; errno set otherwise.
bool IsOpenable(const struct stat& st, bool writes) {
    if (!S_ISREG(st.st_mode)) {
        errno = KindError(st.st_mode);
        return false;
    }
    if (writes && st.st_nlink > 1) {
        errno = EMLINK;
        return false;
    }
    return true;
}

// Checks what an open descriptor holds and makes it blocking again; closes it
// and answers -1 when it is not acceptable.
int Accept(int fd, bool writes, bool truncate) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !IsOpenable(st, writes) || (truncate && ftruncate(fd, 0) != 0)) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0)
        fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

// Splits "a/b/c" into the folder part "a/b" and the name "c".
void SplitLast(const std::string& relative, std::string& folder, std::string& name) {
    std::string trimmed = relative;
    while (!trimmed.empty() && trimmed[trimmed.size() - 1] == '/')
        trimmed.erase(trimmed.size() - 1);
    const size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos) {
        folder.clear();
        name = trimmed;
    } else {
        folder = trimmed.substr(0, slash);
        name = trimmed.substr(slash + 1);
    }
}

uint64_t NextRandom() {
    static uint64_t state = 0;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // Different processes, calls and instants give different names; the
    // exclusive creation settles any clash.
    state += 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(getpid()) << 32) ^
             static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec);
    uint64_t x = state;
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x;
}

// prefix followed by eight random letters and digits.
std::string RandomName(const std::string& prefix) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    uint64_t bits = NextRandom();
    std::string name = prefix;
    for (int i = 0; i < 8; ++i) {
        name.push_back(kLetters[bits % 36]);
        bits /= 36;
    }
    return name;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) {
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0)
        close(fd_);
    fd_ = fd;
}

bool IsPlainEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool SplitRelativePath(const std::string& relative, std::vector<std::string>& components) {
    components.clear();
    size_t begin = 0;
    while (begin <= relative.size()) {
        size_t end = relative.find('/', begin);
        if (end == std::string::npos)
            end = relative.size();
        const std::string component = relative.substr(begin, end - begin);
        const bool edge = begin == 0 || end == relative.size();
        if (component.empty()) {
            if (!edge)
                return false;
        } else if (!IsPlainEntryName(component)) {
            return false;
        } else {
            components.push_back(component);
        }
        begin = end + 1;
    }
    return true;
}

int OpenTrustedFolder(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int OpenFolderAt(int base, const std::string& relative, bool create) {
    std::vector<std::string> components;
    if (!SplitRelativePath(relative, components)) {
        errno = EINVAL;
        return -1;
    }
    UniqueFd current(openat(base, ".", kFolderFlags));
    for (size_t i = 0; current.Valid() && i < components.size(); ++i) {
        const char* name = components[i].c_str();
        int next = openat(current.Get(), name, kFolderFlags);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(current.Get(), name, 0777) != 0 && errno != EEXIST)
                return -1;
            next = openat(current.Get(), name, kFolderFlags);
        }
        if (next < 0) {
            // A link with O_DIRECTORY | O_NOFOLLOW answers ENOTDIR: say what it is.
            struct stat st;
            if (errno == ENOTDIR && fstatat(current.Get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
            return -1;
        }
        current.Reset(next);
    }
    return current.Release();
}

int OpenFileAt(int folder, const std::string& name, int flags, mode_t mode) {
    if (!IsPlainEntryName(name)) {
        errno = EINVAL;
        return -1;
    }
    const int access = flags & O_ACCMODE;
    const bool writes = access != O_RDONLY;
    const bool create = (flags & O_CREAT) != 0;
    const bool exclusive = create && (flags & O_EXCL) != 0;
    const bool truncate = writes && (flags & O_TRUNC) != 0;
    const int base = access | (flags & O_APPEND) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // A name can come and go between the calls; a few rounds settle it.
    for (int round = 0; round < 8; ++round) {
        if (!exclusive) {
            struct stat st;
            if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (!IsOpenable(st, writes))
                    return -1;
                const int fd = openat(folder, name.c_str(), base);
                if (fd >= 0)
                    return Accept(fd, writes, truncate);
                if (errno != ENOENT || !create)
                    return -1;
                continue;
            }
            if (errno != ENOENT || !create)
                return -1;
        }
        const int fd = openat(folder, name.c_str(), base | O_CREAT | O_EXCL, mode);
        if (fd >= 0)
            return Accept(fd, writes, false);
        if (errno != EEXIST || exclusive)
            return -1;
    }
    errno = EAGAIN;
    return -1;
}

int OpenFolderBelow(const std::string& root, const std::string& relative, bool create) {
    UniqueFd top(OpenTrustedFolder(root));
    if (!top.Valid())
        return -1;
    return OpenFolderAt(top.Get(), relative, create);
}

int OpenFileBelow(const std::string& root, const std::string& relative, int flags, mode_t mode,
                  bool makeFolders) {
    std::string folderPart;
    std::string name;
    SplitLast(relative, folderPart, name);
    UniqueFd folder(OpenFolderBelow(root, folderPart, makeFolders));
    if (!folder.Valid())
        return -1;
    return OpenFileAt(folder.Get(), name, flags, mode);
}

int CreateUniqueFileAt(int folder, const std::string& prefix, std::string& name, mode_t mode) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = RandomName(prefix);
        const int fd = OpenFileAt(folder, candidate, O_RDWR | O_CREAT | O_EXCL, mode);
        if (fd >= 0) {
            name = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

FileReadResult ReadFileAt(int folder, const std::string& name, size_t limit,
                          std::string& contents) {
    contents.clear();
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || errno == ENOTDIR ? kFileMissing : kFileBroken;
    UniqueFd fd(OpenFileAt(folder, name, O_RDONLY));
    if (!fd.Valid())
        return errno == ENOENT ? kFileMissing : kFileBroken;
    if (!ReadAllFd(fd.Get(), limit, contents)) {
        contents.clear();
        return kFileBroken;
    }
    return kFileRead;
}

FileReadResult ReadFileBelow(const std::string& root, const std::string& relative, size_t limit,
                             std::string& contents) {
    contents.clear();
    std::string folderPart;
    std::string name;
    SplitLast(relative, folderPart, name);
    UniqueFd folder(OpenFolderBelow(root, folderPart, false));
    if (!folder.Valid())
        return errno == ENOENT ? kFileMissing : kFileBroken;
    return ReadFileAt(folder.Get(), name, limit, contents);
}

bool PendingFile::Create(int folder, const std::string& name, mode_t mode) {
    Discard();
    committed_ = false;
    if (!IsPlainEntryName(name)) {
        errno = EINVAL;
        return false;
    }
    folder_.Reset(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!folder_.Valid())
        return false;
    name_ = name;
    hiddenName_.clear();
#ifdef O_TMPFILE
    // Naming a nameless file later goes through /proc/self/fd (or the
    // capability to link by descriptor, which root usually has).
    if (access("/proc/self/fd", X_OK) == 0) {
        fd_.Reset(openat(folder_.Get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
        if (fd_.Valid())
            return true;
    }
#endif
    fd_.Reset(CreateUniqueFileAt(folder_.Get(), "." + name + ".new-", hiddenName_, mode));
    if (!fd_.Valid()) {
        hiddenName_.clear();
        return false;
    }
    return true;
}

namespace {

// Gives the nameless file fd a fresh hidden name in folder.
bool LinkNameless(int fd, int folder, const std::string& prefix, std::string& name) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = RandomName(prefix);
        int linked = linkat(fd, "", folder, candidate.c_str(), AT_EMPTY_PATH);
        if (linked != 0 && errno != EEXIST)
            linked = linkat(AT_FDCWD, self, folder, candidate.c_str(), AT_SYMLINK_FOLLOW);
        if (linked == 0) {
            name = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

}  // namespace

bool PendingFile::Commit() {
    if (!fd_.Valid() || committed_) {
        errno = EBADF;
        return false;
    }
    bool ok = true;
    int error = 0;
    struct stat st;
    if (fstatat(folder_.Get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode)) {
        ok = false;
        error = KindError(st.st_mode);
    }
    if (ok && hiddenName_.empty() &&
        !LinkNameless(fd_.Get(), folder_.Get(), "." + name_ + ".new-", hiddenName_)) {
        ok = false;
        error = errno;
        hiddenName_.clear();
    }
    if (close(fd_.Release()) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && renameat(folder_.Get(), hiddenName_.c_str(), folder_.Get(), name_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        Discard();
        errno = error;
        return false;
    }
    committed_ = true;
    hiddenName_.clear();
    return true;
}

void PendingFile::Discard() {
    fd_.Reset();
    if (!hiddenName_.empty() && folder_.Valid()) {
        const int error = errno;
        unlinkat(folder_.Get(), hiddenName_.c_str(), 0);
        errno = error;
    }
    hiddenName_.clear();
}

bool ReplaceFileAt(int folder, const std::string& name, const std::string& contents, mode_t mode) {
    if (!IsPlainEntryName(name)) {
        errno = EINVAL;
        return false;
    }
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
        errno = KindError(st.st_mode);
        return false;
    }
    PendingFile file;
    if (!file.Create(folder, name, mode))
        return false;
    if (!WriteAllFd(file.Fd(), contents.data(), contents.size())) {
        const int error = errno;
        file.Discard();
        errno = error;
        return false;
    }
    return file.Commit();
}

bool ReplaceFileBelow(const std::string& root, const std::string& relative,
                      const std::string& contents, mode_t mode, bool makeFolders) {
    std::string folderPart;
    std::string name;
    SplitLast(relative, folderPart, name);
    UniqueFd folder(OpenFolderBelow(root, folderPart, makeFolders));
    if (!folder.Valid())
        return false;
    return ReplaceFileAt(folder.Get(), name, contents, mode);
}

bool WriteAllFd(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAllFd(int fd, size_t limit, std::string& contents) {
    contents.clear();
    char buffer[1 << 14];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        if (static_cast<size_t>(n) > limit - std::min(limit, contents.size())) {
            errno = EFBIG;
            return false;
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
}

std::string FindEntryIgnoringCaseAt(int folder, const std::string& name) {
    // A descriptor of its own: a folder stream moves the offset it reads from.
    const int own = openat(folder, ".", kFolderFlags);
    if (own < 0)
        return std::string();
    DIR* dir = fdopendir(own);
    if (!dir) {
        close(own);
        return std::string();
    }
    std::string best;
    while (struct dirent* entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (EqualsIgnoringCase(candidate, name) && (best.empty() || candidate < best))
            best = candidate;
    }
    closedir(dir);
    return best;
}

}  // namespace host
}  // namespace platform
