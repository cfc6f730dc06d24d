#include "platform/host/power_cut.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "platform/host/device_root.h"
#include "platform/host/host_text.h"
#include "platform/host/safe_files.h"

namespace platform {
namespace host {
namespace {

const char kCountFile[] = "hw/power-cut-after";
const char kRecordFile[] = "hw/power-cut-happened";

const char* KindName(PowerCutOperation kind) {
    switch (kind) {
        case kCutOpen:
            return "open";
        case kCutWrite:
            return "write";
        case kCutFlush:
            return "flush";
        case kCutMove:
            return "move";
        case kCutCopy:
            return "copy";
        case kCutDelete:
            return "delete";
        case kCutCreateFolder:
            return "create-folder";
        case kCutRemoveFolder:
            return "remove-folder";
        case kCutSetAttributes:
            return "set-attributes";
    }
    return "?";
}

// What a file held when this process first changed it since its last flush.
struct DurableFile {
    UniqueFd fd;  // read-write, for putting the contents back
    std::string contents;
};

typedef std::pair<dev_t, ino_t> FileKey;

struct State {
    State() : generation(0), loadedGeneration(~0u), armed(false), off(false), count(0), limit(0) {}

    unsigned generation;        // bumped by ResetPowerCut and in a forked child
    unsigned loadedGeneration;  // the generation the fields below were read in
    std::string root;           // the device they belong to
    bool armed;
    bool off;
    unsigned long long count;
    unsigned long long limit;
    std::map<FileKey, DurableFile> files;
};

// A guarded operation may ask again (WillChangeData), so the lock is
// re-entrant: each thread counts how often it holds it, and only its first
// hold takes the plain mutex. A plain mutex, unlike a recursive one, can be
// released by a forked child (whose thread has a new id).
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
thread_local unsigned t_holds = 0;
State g_state;
pthread_once_t g_forkHandlerOnce = PTHREAD_ONCE_INIT;

void Lock() {
    if (t_holds++ == 0)
        pthread_mutex_lock(&g_mutex);
}
void Unlock() {
    if (--t_holds == 0)
        pthread_mutex_unlock(&g_mutex);
}

class Locked {
  public:
    Locked() { Lock(); }
    ~Locked() { Unlock(); }

  private:
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// The lock is held across fork, so that the child gets the state whole; both
// sides release it afterwards. The child reads the count file again for itself.
void BeforeFork() {
    Lock();
}
void ParentAfterFork() {
    Unlock();
}
void ChildAfterFork() {
    ++g_state.generation;
    Unlock();
}

void InstallForkHandler() {
    pthread_atfork(BeforeFork, ParentAfterFork, ChildAfterFork);
}

bool ParseCount(const std::string& raw, unsigned long long& value) {
    const std::string text = TrimAsciiSpace(raw);
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + static_cast<unsigned long long>(text[i] - '0');
    }
    return true;
}

std::string Narrow(const WString& path) {
    std::string utf8;
    return Utf16ToUtf8(path, utf8) ? utf8 : std::string("?");
}

void Record(const std::string& root, unsigned long long number, const char* kind,
            const WString& path) {
    char head[64];
    snprintf(head, sizeof head, "%llu %s\npid %ld\n", number, kind, static_cast<long>(getpid()));
    ReplaceFileBelow(root, kRecordFile, std::string(head) + "path " + Narrow(path) + "\n");
}

// Gives every changed file back what it held at its last flush.
void LoseUnflushedData() {
    for (std::map<FileKey, DurableFile>::iterator it = g_state.files.begin();
         it != g_state.files.end(); ++it) {
        const int fd = it->second.fd.Get();
        const std::string& contents = it->second.contents;
        if (ftruncate(fd, 0) == 0 && !contents.empty())
            pwrite(fd, contents.data(), contents.size(), 0);
    }
    g_state.files.clear();
}

// A cut that the other copy of the platform layer in this process made.
bool CutElsewhere() {
    std::string text;
    if (ReadFileBelow(g_state.root, kRecordFile, 4096, text) != kFileRead)
        return false;
    char line[32];
    snprintf(line, sizeof line, "\npid %ld\n", static_cast<long>(getpid()));
    return text.find(line) != std::string::npos;
}

// Brings the state up to date for the current device; caller holds the lock.
void Refresh() {
    pthread_once(&g_forkHandlerOnce, InstallForkHandler);
    const std::string root = DeviceRoot();
    if (g_state.loadedGeneration == g_state.generation && g_state.root == root)
        return;
    g_state.loadedGeneration = g_state.generation;
    g_state.root = root;
    g_state.armed = false;
    g_state.off = false;
    g_state.count = 0;
    g_state.limit = 0;
    g_state.files.clear();
    if (root.empty())
        return;
    std::string text;
    const FileReadResult read = ReadFileBelow(root, kCountFile, 64, text);
    if (read == kFileMissing)
        return;
    g_state.armed = true;
    unsigned long long limit = 0;
    if (read != kFileRead || !ParseCount(text, limit) || limit == 0) {
        g_state.off = true;
        Record(root, 0, "start", WString());
        return;
    }
    g_state.limit = limit;
}

// True when the armed injector says the power is off; caller holds the lock.
bool IsOff() {
    if (g_state.off)
        return true;
    if (CutElsewhere()) {
        LoseUnflushedData();
        g_state.off = true;
    }
    return g_state.off;
}

}  // namespace

bool PowerIsOn() {
    Locked lock;
    Refresh();
    return !g_state.armed || !IsOff();
}

PowerCutGuard::PowerCutGuard(PowerCutOperation kind, const WString& path)
    : allowed_(true), locked_(false) {
    Lock();
    Refresh();
    if (!g_state.armed) {
        Unlock();
        return;
    }
    locked_ = true;
    if (IsOff()) {
        allowed_ = false;
        return;
    }
    if (++g_state.count >= g_state.limit) {
        LoseUnflushedData();
        g_state.off = true;
        Record(g_state.root, g_state.count, KindName(kind), path);
        allowed_ = false;
    }
}

PowerCutGuard::~PowerCutGuard() {
    if (locked_)
        Unlock();
}

void WillChangeData(int fd) {
    Locked lock;
    Refresh();
    if (!g_state.armed || g_state.off)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const FileKey key(st.st_dev, st.st_ino);
    if (g_state.files.count(key))
        return;
    // A descriptor of its own that can write, whatever fd was opened for.
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    DurableFile file;
    file.fd.Reset(open(self, O_RDWR | O_CLOEXEC));
    if (!file.fd.Valid())
        return;
    std::string contents;
    char buffer[1 << 14];
    for (off_t at = 0;;) {
        const ssize_t n = pread(file.fd.Get(), buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    file.contents.swap(contents);
    g_state.files.insert(std::make_pair(key, std::move(file)));
}

void DataFlushed(int fd) {
    Locked lock;
    struct stat st;
    if (fstat(fd, &st) == 0)
        g_state.files.erase(FileKey(st.st_dev, st.st_ino));
}

void ResetPowerCut() {
    Locked lock;
    ++g_state.generation;
}

}  // namespace host
}  // namespace platform
