#include "runtime/event_flags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <thread>
#include <vector>

#include "runtime/simple_event.h"

namespace {

std::unique_ptr<EventFlags> Make(bool autoReset) {
    return WecEventFlags::Create(autoReset);
}

// Every bit that is set, read through IsSet one bit at a time.
uint32_t Bits(const EventFlags& flags) {
    uint32_t bits = 0;
    for (int i = 0; i < 32; ++i) {
        if (flags.IsSet(1u << i))
            bits |= 1u << i;
    }
    return bits;
}

TEST(RuntimeOrvelMutex, IsReentrantAndSharedByCopies) {
    OrvelMutex mutex;
    OrvelMutex copy = mutex;
    mutex.lock();
    EXPECT_TRUE(mutex.try_lock());  // the holder may take it again
    mutex.unlock();

    bool otherGotIt = true;
    std::thread other([&] { otherGotIt = copy.try_lock(); });
    other.join();
    EXPECT_FALSE(otherGotIt);  // the copy is the same lock
    mutex.unlock();

    std::thread again([&] {
        otherGotIt = copy.try_lock();
        if (otherGotIt)
            copy.unlock();
    });
    again.join();
    EXPECT_TRUE(otherGotIt);
}

// One timed wait on a word that already holds its bits: what it answers and
// what stays set afterwards.
struct ImmediateCase {
    const char* what;
    bool autoReset;
    uint32_t initial;
    uint32_t mask;
    uint32_t answer;  // WaitAny: the word or 0; WaitAll / WaitUntil: 1 or 0
    uint32_t after;
};

enum Op { kAny, kAll, kUntil };

// Readable, stable names for the cases in the test output and in ctest.
void PrintTo(Op op, std::ostream* out) {
    *out << (op == kAny ? "WaitAny" : op == kAll ? "WaitAll" : "WaitUntil");
}

void PrintTo(const ImmediateCase& c, std::ostream* out) {
    *out << c.what;
}

class RuntimeEventFlagsImmediate : public ::testing::TestWithParam<std::pair<Op, ImmediateCase>> {};

TEST_P(RuntimeEventFlagsImmediate, AnswersAndClears) {
    const Op op = GetParam().first;
    const ImmediateCase& c = GetParam().second;
    std::unique_ptr<EventFlags> flags = Make(c.autoReset);
    flags->Set(c.initial);
    uint32_t answer = 0;
    switch (op) {
        case kAny:
            answer = flags->WaitAny(c.mask, 0);
            break;
        case kAll:
            answer = flags->WaitAll(c.mask, 0) ? 1 : 0;
            break;
        case kUntil:
            answer = flags->WaitUntil([&](uint32_t f) { return (f & c.mask) != 0; }, 0) ? 1 : 0;
            break;
    }
    EXPECT_EQ(answer, c.answer) << c.what;
    EXPECT_EQ(Bits(*flags), c.after) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Runtime, RuntimeEventFlagsImmediate,
    ::testing::Values(
        std::make_pair(kAny, ImmediateCase{"no bit of the mask: time-out", true, 0x4, 0x3, 0, 0x4}),
        std::make_pair(kAny, ImmediateCase{"empty mask times out", true, 0xFF, 0, 0, 0xFF}),
        std::make_pair(kAny,
                       ImmediateCase{"auto-reset clears only the mask", true, 0x7, 0x3, 0x7, 0x4}),
        std::make_pair(kAny,
                       ImmediateCase{"manual reset keeps the bits", false, 0x7, 0x3, 0x7, 0x7}),
        std::make_pair(kAll, ImmediateCase{"empty mask succeeds", true, 0x0, 0, 1, 0x0}),
        std::make_pair(kAll, ImmediateCase{"half the mask fails, clears nothing", true, 0x1, 0x3, 0,
                                           0x1}),
        std::make_pair(kAll, ImmediateCase{"auto-reset clears the mask", true, 0xF, 0x3, 1, 0xC}),
        std::make_pair(kAll, ImmediateCase{"manual reset keeps the bits", false, 0xF, 0x3, 1, 0xF}),
        std::make_pair(kUntil, ImmediateCase{"auto-reset clears the whole word", true, 0x80000013,
                                             0x10, 1, 0}),
        std::make_pair(kUntil,
                       ImmediateCase{"manual reset keeps the word", false, 0x13, 0x10, 1, 0x13}),
        std::make_pair(kUntil, ImmediateCase{"false predicate clears nothing", true, 0x13, 0x20, 0,
                                             0x13})));

TEST(RuntimeEventFlags, SetBeforeWaitIsConsumedOnceWithAutoReset) {
    std::unique_ptr<EventFlags> flags = Make(true);
    flags->Set(1);
    EXPECT_NE(flags->WaitAny(1) & 1u, 0u);
    // The bit is gone: a second wait would block; the timed one times out.
    EXPECT_EQ(flags->WaitAny(1, 0), 0u);
    EXPECT_EQ(flags->WaitAny(1, 20), 0u);
}

TEST(RuntimeEventFlags, WaitAnyWokenBySecondBitClearsOnlyWhatItWaitedFor) {
    std::unique_ptr<EventFlags> flags = Make(true);
    flags->Set(0x100);  // not waited for: stays
    uint32_t seen = 0;
    std::thread waiter([&] { seen = flags->WaitAny(3); });
    flags->Set(2);
    waiter.join();
    EXPECT_NE(seen & 2u, 0u);
    EXPECT_NE(seen & 0x100u, 0u);
    EXPECT_EQ(Bits(*flags), 0x100u);
}

TEST(RuntimeEventFlags, WaitAllCollectsBitsSetOneAfterTheOther) {
    std::unique_ptr<EventFlags> flags = Make(true);
    bool all = false;
    std::thread waiter([&] { all = flags->WaitAll(3); });
    flags->Set(1);
    flags->Set(2);
    waiter.join();
    EXPECT_TRUE(all);
    EXPECT_EQ(Bits(*flags), 0u);
}

TEST(RuntimeEventFlags, UntimedWaitUntilReturnsTheWordAndClearsIt) {
    std::unique_ptr<EventFlags> flags = Make(true);
    uint32_t seen = 0;
    std::thread waiter([&] { seen = flags->WaitUntil([](uint32_t f) { return f == 0x30; }); });
    flags->Set(0x10);
    flags->Set(0x20);
    waiter.join();
    EXPECT_EQ(seen, 0x30u);
    EXPECT_EQ(Bits(*flags), 0u);
}

TEST(RuntimeEventFlags, ConditionIsTestedOnceMoreAfterTheTimeOut) {
    // The predicate becomes true only when asked again after the wait has
    // timed out, as a bit set right at the deadline would.
    for (uint32_t timeoutMs : {0u, 5u}) {
        std::unique_ptr<EventFlags> flags = Make(true);
        int calls = 0;
        const bool ok = flags->WaitUntil([&](uint32_t) { return ++calls >= 2; }, timeoutMs);
        EXPECT_TRUE(ok) << timeoutMs;
        EXPECT_GE(calls, 2) << timeoutMs;
    }
}

TEST(RuntimeEventFlags, SetWakesEveryWaiterAndClearWakesNone) {
    std::unique_ptr<EventFlags> flags = Make(false);
    std::atomic<int> woken(0);
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (flags->WaitAny(0x8) & 0x8)
                ++woken;
        });
    }
    flags->Set(0x1);
    flags->Clear(0x1);
    flags->Set(0x8);
    for (std::thread& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_EQ(Bits(*flags), 0x8u);
}

TEST(RuntimeSimpleEvent, TimesOutWhenNothingSetsIt) {
    SimpleEvent event(true);
    EXPECT_FALSE(event.Wait(50));
}

TEST(RuntimeSimpleEvent, SetWakesOneWaitAndIsConsumed) {
    SimpleEvent event(true);
    bool woke = false;
    std::thread waiter([&] { woke = event.Wait(); });
    event.Set();
    waiter.join();
    EXPECT_TRUE(woke);
    EXPECT_FALSE(event.Wait(0));

    SimpleEvent manual(false);
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));  // stays set without auto-reset
}

}  // namespace
