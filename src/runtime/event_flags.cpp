#include "runtime/event_flags.h"

#include <mutex>

uint64_t MonotonicNowNs() {
    const uint64_t counter = platform::QueryPerformanceCounter();
    const uint64_t frequency = platform::QueryPerformanceFrequency();
    if (frequency == 0)
        return 0;
    return (counter / frequency) * 1000000000ull +
           ((counter % frequency) * 1000000000ull) / frequency;
}

// What a wait waits for.
class WecEventFlags::Condition {
  public:
    enum Kind { kAny, kAll, kPredicate };

    Condition(Kind kind, uint32_t mask, const Predicate* predicate)
        : kind_(kind), mask_(mask), predicate_(predicate) {}

    bool Holds(uint32_t flags) const {
        switch (kind_) {
            case kAny:
                return (flags & mask_) != 0;
            case kAll:
                return (flags & mask_) == mask_;
            case kPredicate:
                return (*predicate_)(flags);
        }
        return false;
    }

  private:
    Kind kind_;
    uint32_t mask_;
    const Predicate* predicate_;
};

std::unique_ptr<EventFlags> WecEventFlags::Create(bool autoReset) {
    return std::unique_ptr<EventFlags>(new WecEventFlags(autoReset));
}

bool WecEventFlags::WaitUntilDeadline(uint64_t deadlineNs) {
    const uint64_t now = MonotonicNowNs();
    if (now >= deadlineNs)
        return false;
    const uint64_t remaining = deadlineNs - now;
    uint64_t ms = remaining / 1000000ull;
    if (remaining % 1000000ull != 0)
        ++ms;
    if (ms > 0xFFFFFFFFull)
        ms = 0xFFFFFFFFull;
    changed_.WaitFor(state_.Section(), static_cast<uint32_t>(ms));
    return MonotonicNowNs() < deadlineNs;
}

bool WecEventFlags::WaitFor(const Condition& condition, bool timed, uint32_t timeoutMs) {
    const uint64_t deadline =
        timed ? MonotonicNowNs() + static_cast<uint64_t>(timeoutMs) * 1000000ull : 0;
    for (;;) {
        if (condition.Holds(flags_.load(std::memory_order_relaxed)))
            return true;
        if (!timed) {
            changed_.Wait(state_.Section());
        } else if (!WaitUntilDeadline(deadline)) {
            // Bits set right at the deadline still count.
            return condition.Holds(flags_.load(std::memory_order_relaxed));
        }
    }
}

uint32_t WecEventFlags::WaitAny(uint32_t mask, uint32_t timeoutMs) {
    std::lock_guard<OrvelMutex> lock(state_);
    if (!WaitFor(Condition(Condition::kAny, mask, nullptr), true, timeoutMs))
        return 0;
    const uint32_t seen = flags_.load(std::memory_order_relaxed);
    if (autoReset_)
        flags_.store(seen & ~mask, std::memory_order_relaxed);
    return seen;
}

uint32_t WecEventFlags::WaitAny(uint32_t mask) {
    std::lock_guard<OrvelMutex> lock(state_);
    WaitFor(Condition(Condition::kAny, mask, nullptr), false, 0);
    const uint32_t seen = flags_.load(std::memory_order_relaxed);
    if (autoReset_)
        flags_.store(seen & ~mask, std::memory_order_relaxed);
    return seen;
}

bool WecEventFlags::WaitUntil(const Predicate& predicate, uint32_t timeoutMs) {
    std::lock_guard<OrvelMutex> lock(state_);
    const bool ok = WaitFor(Condition(Condition::kPredicate, 0, &predicate), true, timeoutMs);
    if (ok && autoReset_)
        flags_.store(0, std::memory_order_relaxed);
    return ok;
}

uint32_t WecEventFlags::WaitUntil(const Predicate& predicate) {
    std::lock_guard<OrvelMutex> lock(state_);
    WaitFor(Condition(Condition::kPredicate, 0, &predicate), false, 0);
    const uint32_t seen = flags_.load(std::memory_order_relaxed);
    if (autoReset_)
        flags_.store(0, std::memory_order_relaxed);
    return seen;
}

bool WecEventFlags::WaitAll(uint32_t mask, uint32_t timeoutMs) {
    std::lock_guard<OrvelMutex> lock(state_);
    const bool ok = WaitFor(Condition(Condition::kAll, mask, nullptr), true, timeoutMs);
    if (ok && autoReset_)
        flags_.store(flags_.load(std::memory_order_relaxed) & ~mask, std::memory_order_relaxed);
    return ok;
}

bool WecEventFlags::WaitAll(uint32_t mask) {
    std::lock_guard<OrvelMutex> lock(state_);
    WaitFor(Condition(Condition::kAll, mask, nullptr), false, 0);
    if (autoReset_)
        flags_.store(flags_.load(std::memory_order_relaxed) & ~mask, std::memory_order_relaxed);
    return true;
}

void WecEventFlags::Set(uint32_t mask) {
    {
        std::lock_guard<OrvelMutex> lock(state_);
        flags_.store(flags_.load(std::memory_order_relaxed) | mask, std::memory_order_relaxed);
    }
    changed_.NotifyAll();
}

void WecEventFlags::Clear(uint32_t mask) {
    std::lock_guard<OrvelMutex> lock(state_);
    flags_.store(flags_.load(std::memory_order_relaxed) & ~mask, std::memory_order_relaxed);
}
