// Threads, locks, condition waits and clocks of the platform.
//
// Every call answers with a result; none throws (allocation failures aside).
#ifndef FWSETUP_PLATFORM_THREADS_H
#define FWSETUP_PLATFORM_THREADS_H

#include <cstdint>
#include <memory>

namespace platform {

// QueryPerformanceCounter / QueryPerformanceFrequency: a monotonic counter and
// its ticks per second (never 0).
uint64_t QueryPerformanceCounter();
uint64_t QueryPerformanceFrequency();
// GetTickCount: milliseconds of a monotonic clock, wrapping at 2^32.
uint32_t GetTickCount();
// Sleep: pauses the calling thread for at least ms milliseconds.
void Sleep(uint32_t ms);

// A critical section: a lock that the thread holding it may take again
// (each Enter needs its Leave).
class CriticalSection {
  public:
    CriticalSection();
    ~CriticalSection();
    void Enter();
    void Leave();
    // True when the lock was taken (also when this thread already holds it).
    bool TryEnter();

    class Impl;

  private:
    CriticalSection(const CriticalSection&);
    CriticalSection& operator=(const CriticalSection&);
    friend class ConditionVariable;
    Impl* impl_;
};

// A condition variable used with a CriticalSection that the waiting thread
// holds exactly once; the wait releases it and takes it again before returning.
class ConditionVariable {
  public:
    ConditionVariable();
    ~ConditionVariable();
    // Waits for a notification (wake-ups without one may happen).
    void Wait(CriticalSection& lock);
    // Waits at most ms milliseconds of the monotonic clock; false when the time ran out.
    bool WaitFor(CriticalSection& lock, uint32_t ms);
    // Wakes every thread waiting at this moment.
    void NotifyAll();

    class Impl;

  private:
    ConditionVariable(const ConditionVariable&);
    ConditionVariable& operator=(const ConditionVariable&);
    Impl* impl_;
};

// The routine a thread runs: one pointer-sized parameter, a 32-bit exit code.
typedef uint32_t (*ThreadRoutine)(void* param);

// Lowest priority of the platform's 0..255 thread priority scale (0 is the highest).
const int32_t kLowestThreadPriority = 255;

// A thread of this process (its handle). Destroying the handle closes it: a
// thread that still runs goes on running, one that was never resumed never
// runs its routine.
class ThreadHandle {
  public:
    virtual ~ThreadHandle() {}
    // The platform's set-priority call on the 0..255 scale; false when refused.
    virtual bool SetPriority(int32_t priority) = 0;
    // ResumeThread: lets a thread created suspended run its routine.
    virtual void Resume() = 0;
    // WaitForSingleObject on the thread: true when its routine has returned
    // within ms milliseconds.
    virtual bool WaitForEnd(uint32_t ms) = 0;
    // TerminateThread. See the host implementation for what it does there.
    virtual void Terminate() = 0;
};

// CreateThread with CREATE_SUSPENDED: the thread runs routine(param) once
// Resume is called. stackSize 0 is the platform default, otherwise the stack
// reserved for the thread. Null when no thread could be created.
std::unique_ptr<ThreadHandle> CreateSuspendedThread(ThreadRoutine routine, void* param,
                                                    uint32_t stackSize);

}  // namespace platform

#endif
