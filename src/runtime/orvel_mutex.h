// The module's lock: a re-entrant critical section shared by every copy.
#ifndef FWSETUP_RUNTIME_ORVEL_MUTEX_H
#define FWSETUP_RUNTIME_ORVEL_MUTEX_H

#include <memory>

#include "platform/threads.h"

// Usable with std::lock_guard<OrvelMutex> and std::unique_lock<OrvelMutex>.
// Copies lock the same critical section; it is released when the last copy goes.
// The thread holding it may lock it again (each lock needs its unlock).
class OrvelMutex {
  public:
    OrvelMutex();

    void lock();
    void unlock();
    // True when acquired.
    bool try_lock();

    // The critical section underneath, for waits on a condition variable.
    platform::CriticalSection& Section() const { return *section_; }

  private:
    std::shared_ptr<platform::CriticalSection> section_;
};

#endif
