// Host threads, locks and clocks over POSIX threads and the C++11 library.
//
// Clocks: the performance counter is CLOCK_MONOTONIC in nanoseconds (frequency
// 1,000,000,000); the tick count is the same clock in milliseconds. Timed
// condition waits use the monotonic clock too, so changes of the wall clock
// never shorten or stretch a wait.
//
// Priorities: the host has no 0..255 scale. Priorities 0 to 251 (the printer's
// real-time range and its normal application priorities up to "normal", 251)
// run at the niceness the thread inherited from its creator; 252 to 255 (below
// normal, lowest, above idle, idle) add 1 to 4 to that niceness. Values outside
// 0..255 are refused. Making a thread nicer again than the host allows an
// unprivileged process is refused too, and the old priority stays.
//
// Forced termination: a POSIX thread cannot be ended from outside without
// leaving its locks held and its objects half-changed, so Terminate does not
// end the thread by force. It waits until the routine has returned. A thread
// therefore never outlives the Stop or destruction of its owner, and nothing
// the routine uses is destroyed under it; a routine that never returns keeps
// its owner waiting.
#include "platform/threads.h"

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

namespace {

uint64_t MonotonicNanoseconds() {
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
        return 0;
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

uint64_t QueryPerformanceCounter() {
    return MonotonicNanoseconds();
}

uint64_t QueryPerformanceFrequency() {
    return 1000000000ull;
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(MonotonicNanoseconds() / 1000000ull);
}

void Sleep(uint32_t ms) {
    struct timespec left;
    left.tv_sec = static_cast<time_t>(ms / 1000);
    left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------------------
// Critical sections and condition variables

class CriticalSection::Impl {
  public:
    std::recursive_mutex mutex;
    // The lockable that the condition variable releases and takes again.
    void lock() { mutex.lock(); }
    void unlock() { mutex.unlock(); }
};

CriticalSection::CriticalSection() : impl_(new Impl) {}

CriticalSection::~CriticalSection() {
    delete impl_;
}

void CriticalSection::Enter() {
    impl_->mutex.lock();
}

void CriticalSection::Leave() {
    impl_->mutex.unlock();
}

bool CriticalSection::TryEnter() {
    return impl_->mutex.try_lock();
}

class ConditionVariable::Impl {
  public:
    std::condition_variable_any cv;
};

ConditionVariable::ConditionVariable() : impl_(new Impl) {}

ConditionVariable::~ConditionVariable() {
    delete impl_;
}

void ConditionVariable::Wait(CriticalSection& lock) {
    impl_->cv.wait(*lock.impl_);
}

bool ConditionVariable::WaitFor(CriticalSection& lock, uint32_t ms) {
    // steady_clock is CLOCK_MONOTONIC on this host.
    return impl_->cv.wait_for(*lock.impl_, std::chrono::milliseconds(ms)) ==
           std::cv_status::no_timeout;
}

void ConditionVariable::NotifyAll() {
    impl_->cv.notify_all();
}

// ---------------------------------------------------------------------------
// Threads

namespace {

// What a thread and its handle share; each holds a reference, so it lives as
// long as the longer of the two.
struct ThreadControl {
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;  // the thread has recorded its id
    bool resumed = false;
    bool cancelled = false;  // the handle went before the thread was resumed
    bool ended = false;      // the routine has returned (or will never run)
    pid_t tid = 0;
    int baseNice = 0;
    ThreadRoutine routine = nullptr;
    void* param = nullptr;
};

void* ThreadMain(void* arg) {
    std::shared_ptr<ThreadControl>* holder = static_cast<std::shared_ptr<ThreadControl>*>(arg);
    std::shared_ptr<ThreadControl> control = *holder;
    delete holder;
    bool run = false;
    {
        std::unique_lock<std::mutex> lock(control->mutex);
        control->tid = static_cast<pid_t>(syscall(SYS_gettid));
        control->running = true;
        control->changed.notify_all();
        while (!control->resumed && !control->cancelled)
            control->changed.wait(lock);
        run = control->resumed;
    }
    if (run)
        control->routine(control->param);
    std::lock_guard<std::mutex> lock(control->mutex);
    control->ended = true;
    control->changed.notify_all();
    return nullptr;
}

// The niceness added for a priority of the 0..255 scale.
int NiceOffset(int32_t priority) {
    return priority <= 251 ? 0 : priority - 251;
}

class HostThreadHandle : public ThreadHandle {
  public:
    HostThreadHandle(pthread_t thread, const std::shared_ptr<ThreadControl>& control)
        : thread_(thread), control_(control), joined_(false) {}

    ~HostThreadHandle() {
        if (joined_)
            return;
        {
            std::lock_guard<std::mutex> lock(control_->mutex);
            if (!control_->resumed)
                control_->cancelled = true;
            control_->changed.notify_all();
        }
        pthread_detach(thread_);
    }

    bool SetPriority(int32_t priority) {
        if (priority < 0 || priority > kLowestThreadPriority)
            return false;
        std::unique_lock<std::mutex> lock(control_->mutex);
        while (!control_->running)
            control_->changed.wait(lock);
        // A thread that has ended has nothing left to schedule.
        if (control_->ended)
            return true;
        return setpriority(PRIO_PROCESS, static_cast<id_t>(control_->tid),
                           control_->baseNice + NiceOffset(priority)) == 0;
    }

    void Resume() {
        std::lock_guard<std::mutex> lock(control_->mutex);
        if (control_->cancelled)
            return;
        control_->resumed = true;
        control_->changed.notify_all();
    }

    bool WaitForEnd(uint32_t ms) {
        bool ended;
        {
            std::unique_lock<std::mutex> lock(control_->mutex);
            ended = control_->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                               [this] { return control_->ended; });
        }
        if (ended)
            Join();
        return ended;
    }

    void Terminate() {
        {
            std::unique_lock<std::mutex> lock(control_->mutex);
            // A thread never resumed would wait for ever: let it go without its routine.
            if (!control_->resumed)
                control_->cancelled = true;
            control_->changed.notify_all();
            while (!control_->ended)
                control_->changed.wait(lock);
        }
        Join();
    }

  private:
    void Join() {
        if (joined_)
            return;
        pthread_join(thread_, nullptr);
        joined_ = true;
    }

    pthread_t thread_;
    std::shared_ptr<ThreadControl> control_;
    bool joined_;
};

}  // namespace

std::unique_ptr<ThreadHandle> CreateSuspendedThread(ThreadRoutine routine, void* param,
                                                    uint32_t stackSize) {
    if (!routine)
        return std::unique_ptr<ThreadHandle>();
    std::shared_ptr<ThreadControl> control = std::make_shared<ThreadControl>();
    control->routine = routine;
    control->param = param;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    control->baseNice = errno == 0 ? nice : 0;

    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return std::unique_ptr<ThreadHandle>();
    if (stackSize != 0) {
        size_t size = stackSize;
        const long minimum = sysconf(_SC_THREAD_STACK_MIN);
        if (minimum > 0 && size < static_cast<size_t>(minimum))
            size = static_cast<size_t>(minimum);
        if (pthread_attr_setstacksize(&attr, size) != 0) {
            pthread_attr_destroy(&attr);
            return std::unique_ptr<ThreadHandle>();
        }
    }
    std::shared_ptr<ThreadControl>* holder = new std::shared_ptr<ThreadControl>(control);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, ThreadMain, holder);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete holder;
        return std::unique_ptr<ThreadHandle>();
    }
    return std::unique_ptr<ThreadHandle>(new HostThreadHandle(thread, control));
}

}  // namespace platform
