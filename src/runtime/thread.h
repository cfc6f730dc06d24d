// Thread objects: created stopped, started explicitly, stopped or destroyed by
// their owner.
#ifndef FWSETUP_RUNTIME_THREAD_H
#define FWSETUP_RUNTIME_THREAD_H

#include <cstdint>
#include <memory>
#include <string>

#include "platform/threads.h"

// The routine a thread runs with the parameter given to Start.
typedef uint32_t (*ThreadStartRoutine)(void* param);

class Thread {
  public:
    // priority on the platform's 0..255 scale (0 highest, 255 lowest); stackSize
    // 0 is the platform default.
    Thread(ThreadStartRoutine routine, int32_t priority, uint32_t stackSize)
        : routine_(routine), priority_(priority), stackSize_(stackSize), started_(false) {}
    virtual ~Thread() {}

    // Starts the routine with param, once; the name is a label only.
    virtual void Start(void* param, const std::string& name) = 0;
    // False when the platform refused the priority; the old one stays.
    virtual bool SetPriority(int32_t priority) = 0;
    // True from Start until Stop or destruction, also after the routine returned.
    virtual bool IsStarted() const { return started_; }
    // Waits up to 500 ms for the routine to end, then terminates the thread.
    virtual void Stop() = 0;

    int32_t Priority() const { return priority_; }

  protected:
    ThreadStartRoutine routine_;
    int32_t priority_;
    uint32_t stackSize_;
    bool started_;

  private:
    Thread(const Thread&);
    Thread& operator=(const Thread&);
};

// The implementation over the platform's threads. What terminating a thread
// means depends on the platform (see platform/threads.h and its implementation).
class WecThread : public Thread {
  public:
    WecThread(ThreadStartRoutine routine, int32_t priority, uint32_t stackSize)
        : Thread(routine, priority, stackSize) {}
    ~WecThread();

    void Start(void* param, const std::string& name);
    bool SetPriority(int32_t priority);
    void Stop();

  private:
    std::unique_ptr<platform::ThreadHandle> handle_;
};

#endif
