// Event-flag groups: a word of 32 event bits that threads set, clear and wait on.
#ifndef FWSETUP_RUNTIME_EVENT_FLAGS_H
#define FWSETUP_RUNTIME_EVENT_FLAGS_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/threads.h"
#include "runtime/orvel_mutex.h"

// The interface. Bits stay set until cleared: a Set with no waiter is seen by
// the next wait. With autoReset a successful WaitAny or WaitAll clears exactly
// the bits of its mask, and a successful WaitUntil clears the whole word.
// Time-outs are milliseconds of a monotonic clock.
class EventFlags {
  public:
    // Called with the current flag word (and the state lock held).
    typedef std::function<bool(uint32_t)> Predicate;

    explicit EventFlags(bool autoReset) : flags_(0), autoReset_(autoReset) {}
    virtual ~EventFlags() {}

    // The flag word seen when some bit of mask was set; 0 on time-out.
    virtual uint32_t WaitAny(uint32_t mask, uint32_t timeoutMs) = 0;
    // Waits until some bit of mask is set; returns the flag word seen then.
    virtual uint32_t WaitAny(uint32_t mask) = 0;
    // True when predicate(flags) held within the time.
    virtual bool WaitUntil(const Predicate& predicate, uint32_t timeoutMs) = 0;
    // Waits until predicate(flags) holds; returns the flag word seen then.
    virtual uint32_t WaitUntil(const Predicate& predicate) = 0;
    // True when every bit of mask was set within the time (an empty mask at once).
    virtual bool WaitAll(uint32_t mask, uint32_t timeoutMs) = 0;
    // Waits until every bit of mask is set; always true.
    virtual bool WaitAll(uint32_t mask) = 0;
    // Sets the bits of mask and wakes every waiter.
    virtual void Set(uint32_t mask) = 0;
    // Clears the bits of mask; wakes nobody.
    virtual void Clear(uint32_t mask) = 0;
    // True when some bit of mask is set; a snapshot taken without the state lock.
    bool IsSet(uint32_t mask) const { return (flags_.load(std::memory_order_relaxed) & mask) != 0; }

  protected:
    // Changed only under the implementation's state lock; atomic so that IsSet
    // may read it without the lock.
    std::atomic<uint32_t> flags_;
    const bool autoReset_;

  private:
    EventFlags(const EventFlags&);
    EventFlags& operator=(const EventFlags&);
};

// The implementation over a state lock and a condition variable.
class WecEventFlags : public EventFlags {
  public:
    // The factory the module uses.
    static std::unique_ptr<EventFlags> Create(bool autoReset);

    explicit WecEventFlags(bool autoReset) : EventFlags(autoReset) {}

    uint32_t WaitAny(uint32_t mask, uint32_t timeoutMs);
    uint32_t WaitAny(uint32_t mask);
    bool WaitUntil(const Predicate& predicate, uint32_t timeoutMs);
    uint32_t WaitUntil(const Predicate& predicate);
    bool WaitAll(uint32_t mask, uint32_t timeoutMs);
    bool WaitAll(uint32_t mask);
    void Set(uint32_t mask);
    void Clear(uint32_t mask);

  private:
    class Condition;
    // Waits, with the state lock held, until the condition holds; with timed,
    // at most timeoutMs. True when it held.
    bool WaitFor(const Condition& condition, bool timed, uint32_t timeoutMs);
    // One wait on the condition variable until deadlineNs; false on time-out.
    bool WaitUntilDeadline(uint64_t deadlineNs);

    OrvelMutex state_;
    platform::ConditionVariable changed_;
};

// Now in nanoseconds of the monotonic high-resolution counter.
uint64_t MonotonicNowNs();

#endif
