// Makes the threads of the property subsystem and runs one worker of its own.
#ifndef FWSETUP_RUNTIME_THREAD_FACTORY_H
#define FWSETUP_RUNTIME_THREAD_FACTORY_H

#include <cstdint>
#include <memory>

#include "runtime/event_flags.h"
#include "runtime/simple_event.h"
#include "runtime/thread.h"

// Held by std::shared_ptr<ThreadFactory>; its worker runs from construction
// until destruction, and destruction returns only after the worker has ended.
class ThreadFactory {
  public:
    // priority: the worker's, on the 0..255 scale.
    explicit ThreadFactory(uint32_t priority);
    ~ThreadFactory();

    // A new thread, not started; the caller owns it.
    std::unique_ptr<Thread> Create(ThreadStartRoutine routine, int32_t priority,
                                   uint32_t stackSize);

  private:
    ThreadFactory(const ThreadFactory&);
    ThreadFactory& operator=(const ThreadFactory&);

    static uint32_t WorkerRoutine(void* param);

    std::unique_ptr<Thread> worker_;
    std::unique_ptr<EventFlags> control_;  // kStop, kWork
    std::unique_ptr<SimpleEvent> ended_;   // set by the worker as its last act
};

#endif
