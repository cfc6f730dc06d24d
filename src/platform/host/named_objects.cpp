// Host named objects: they live with the device, in DEVICE/hw/named/, so two
// simulated printers never share one and parallel tests never meet.
//
// A name maps to a path below DEVICE/hw/named/: every "\" of the name starts a
// folder ("Global\UPGRADE_UI_EVENT" is DEVICE/hw/named/Global/UPGRADE_UI_EVENT);
// letters, digits, "_", "-" and "." stay, every other byte of the name's UTF-8
// form is written as %XX. Empty, "." and ".." components are refused. No link
// is followed on the way to an object (safe_files.h); an object whose entry is
// not what it should be (a regular file, or the event's FIFO) fails to open.
//
// - A file mapping is a regular file of the mapping's size, mapped shared. It is
//   created zero-filled; unlike the printer's paging-file mapping it keeps its
//   contents after the last handle is closed.
// - A mutex is a regular file (empty) locked with flock(): every handle has
//   its own open file, so handles exclude each other within a process as well as
//   across processes, and the lock of a process that dies is released.
// - An event is a FIFO. Its creator (the serving process) holds the reading end
//   and one writing end; setting it writes a byte, waiting reads them all.
//   Opening it opens the writing end without blocking, which the host refuses
//   (ENXIO) while no process holds the reading end: so opening fails when the
//   creator never ran, has closed the event or has died. Every descriptor is
//   close-on-exec, so started programs never keep an event alive.
#include "platform/named_objects.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "platform/host/device_root.h"
#include "platform/host/safe_files.h"

namespace platform {
namespace {

bool IsPlainNameByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

// The components of a name as entry names below DEVICE/hw/named.
bool SplitName(const WString& name, std::vector<std::string>& components) {
    components.clear();
    WString current;
    for (size_t i = 0; i <= name.size(); ++i) {
        const bool end = i == name.size();
        const char16_t c = end ? u'\\' : name[i];
        if (c == 0)
            return false;
        if (c != u'\\') {
            current.push_back(c);
            continue;
        }
        std::string utf8;
        if (current.empty() || !host::Utf16ToUtf8(current, utf8))
            return false;
        if (utf8 == "." || utf8 == "..")
            return false;
        std::string encoded;
        for (size_t j = 0; j < utf8.size(); ++j) {
            const unsigned char b = static_cast<unsigned char>(utf8[j]);
            if (IsPlainNameByte(b)) {
                encoded.push_back(static_cast<char>(b));
            } else {
                static const char kHex[] = "0123456789ABCDEF";
                encoded.push_back('%');
                encoded.push_back(kHex[b >> 4]);
                encoded.push_back(kHex[b & 0xF]);
            }
        }
        components.push_back(encoded);
        current.clear();
    }
    return !components.empty();
}

// The open folder that holds a named object, and the object's entry in it.
// With create, its folders are made below DEVICE/hw, which must exist; no link
// is followed on the way (safe_files.h).
bool ObjectFolder(const WString& name, bool create, host::UniqueFd& folder, std::string& leaf) {
    std::vector<std::string> components;
    if (!SplitName(name, components))
        return false;
    host::UniqueFd hw(host::OpenFolderBelow(host::DeviceRoot(), "hw", false));
    if (!hw.Valid())
        return false;
    std::string relative = "named";
    for (size_t i = 0; i + 1 < components.size(); ++i)
        relative += "/" + components[i];
    folder.Reset(host::OpenFolderAt(hw.Get(), relative, create));
    leaf = components.back();
    return folder.Valid();
}

// A regular file for a mapping or a mutex, created when missing.
int OpenRegularFile(const host::UniqueFd& folder, const std::string& leaf) {
    return host::OpenFileAt(folder.Get(), leaf, O_RDWR | O_CREAT, 0644);
}

// ---------------------------------------------------------------------------

class HostMappedView : public MappedView {
  public:
    HostMappedView(uint8_t* data, uint32_t size) : data_(data), size_(size) {}
    ~HostMappedView() { munmap(data_, size_); }
    uint8_t* Data() { return data_; }
    uint32_t Size() const { return size_; }

  private:
    uint8_t* data_;
    uint32_t size_;
};

class HostFileMapping : public FileMapping {
  public:
    explicit HostFileMapping(int fd) : fd_(fd) {}
    ~HostFileMapping() { close(fd_); }

    std::unique_ptr<MappedView> MapView(uint32_t size) {
        struct stat st;
        if (fstat(fd_, &st) != 0)
            return std::unique_ptr<MappedView>();
        if (size == 0)
            size = static_cast<uint32_t>(st.st_size);
        if (size == 0 || static_cast<off_t>(size) > st.st_size)
            return std::unique_ptr<MappedView>();
        void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (data == MAP_FAILED)
            return std::unique_ptr<MappedView>();
        return std::unique_ptr<MappedView>(new HostMappedView(static_cast<uint8_t*>(data), size));
    }

  private:
    int fd_;
};

class HostNamedMutex : public NamedMutex {
  public:
    explicit HostNamedMutex(int fd) : fd_(fd), owned_(false) {}
    ~HostNamedMutex() { close(fd_); }

    bool Wait() {
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR)
                return false;
        }
        owned_ = true;
        return true;
    }

    bool Release() {
        if (!owned_)
            return false;
        owned_ = false;
        return flock(fd_, LOCK_UN) == 0;
    }

  private:
    int fd_;
    bool owned_;
};

// Writes one byte into a FIFO without blocking and without the SIGPIPE that a
// FIFO whose readers are gone would raise. A full FIFO is set already.
bool SignalFifo(int fd) {
    sigset_t pipeSignal;
    sigset_t old;
    sigset_t pendingBefore;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigpending(&pendingBefore);
    const bool wasPending = sigismember(&pendingBefore, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    const char byte = 1;
    ssize_t n;
    do {
        n = write(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    if (n < 0 && error == EPIPE && !wasPending) {
        const struct timespec zero = {0, 0};
        sigtimedwait(&pipeSignal, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return n == 1 || (n < 0 && error == EAGAIN);
}

uint64_t NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

class HostNamedEvent : public NamedEvent {
  public:
    // readFd is -1 for a handle that was opened, not created.
    HostNamedEvent(int readFd, int writeFd) : readFd_(readFd), writeFd_(writeFd) {}
    ~HostNamedEvent() {
        if (readFd_ >= 0)
            close(readFd_);
        close(writeFd_);
    }

    bool Set() { return SignalFifo(writeFd_); }

    bool Wait(uint32_t timeoutMs) {
        if (readFd_ < 0)
            return false;
        const uint64_t deadline = NowMs() + timeoutMs;
        for (;;) {
            if (Drain())
                return true;
            const uint64_t now = NowMs();
            if (now >= deadline)
                return false;
            const uint64_t left = deadline - now;
            struct pollfd p;
            p.fd = readFd_;
            p.events = POLLIN;
            p.revents = 0;
            const int rc = poll(&p, 1, left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left));
            if (rc < 0 && errno != EINTR)
                return false;
        }
    }

  private:
    // Reads every byte waiting; true when there was one.
    bool Drain() {
        bool any = false;
        char buffer[64];
        for (;;) {
            const ssize_t n = read(readFd_, buffer, sizeof buffer);
            if (n > 0) {
                any = true;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            return any;
        }
    }

    int readFd_;
    int writeFd_;
};

bool IsFifo(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

}  // namespace

std::unique_ptr<FileMapping> CreateFileMapping(const WString& name, uint32_t size) {
    host::UniqueFd folder;
    std::string leaf;
    if (size == 0 || !ObjectFolder(name, true, folder, leaf))
        return std::unique_ptr<FileMapping>();
    const int fd = OpenRegularFile(folder, leaf);
    if (fd < 0)
        return std::unique_ptr<FileMapping>();
    struct stat st;
    if (fstat(fd, &st) != 0 ||
        (st.st_size < static_cast<off_t>(size) && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        close(fd);
        return std::unique_ptr<FileMapping>();
    }
    return std::unique_ptr<FileMapping>(new HostFileMapping(fd));
}

std::unique_ptr<NamedMutex> CreateMutex(const WString& name) {
    host::UniqueFd folder;
    std::string leaf;
    if (!ObjectFolder(name, true, folder, leaf))
        return std::unique_ptr<NamedMutex>();
    const int fd = OpenRegularFile(folder, leaf);
    if (fd < 0)
        return std::unique_ptr<NamedMutex>();
    return std::unique_ptr<NamedMutex>(new HostNamedMutex(fd));
}

std::unique_ptr<NamedEvent> CreateEvent(const WString& name) {
    host::UniqueFd folder;
    std::string leaf;
    if (!ObjectFolder(name, true, folder, leaf))
        return std::unique_ptr<NamedEvent>();
    if (mkfifoat(folder.Get(), leaf.c_str(), 0600) != 0 && errno != EEXIST)
        return std::unique_ptr<NamedEvent>();
    const int readFd =
        openat(folder.Get(), leaf.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (readFd < 0)
        return std::unique_ptr<NamedEvent>();
    if (!IsFifo(readFd)) {
        close(readFd);
        return std::unique_ptr<NamedEvent>();
    }
    const int writeFd =
        openat(folder.Get(), leaf.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (writeFd < 0) {
        close(readFd);
        return std::unique_ptr<NamedEvent>();
    }
    return std::unique_ptr<NamedEvent>(new HostNamedEvent(readFd, writeFd));
}

std::unique_ptr<NamedEvent> OpenEvent(uint32_t /*access*/, bool /*inheritHandle*/,
                                      const WString& name) {
    host::UniqueFd folder;
    std::string leaf;
    if (!ObjectFolder(name, false, folder, leaf))
        return std::unique_ptr<NamedEvent>();
    const int fd =
        openat(folder.Get(), leaf.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::unique_ptr<NamedEvent>();
    if (!IsFifo(fd)) {
        close(fd);
        return std::unique_ptr<NamedEvent>();
    }
    return std::unique_ptr<NamedEvent>(new HostNamedEvent(-1, fd));
}

}  // namespace platform
