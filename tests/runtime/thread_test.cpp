#include "runtime/thread.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "runtime/simple_event.h"
#include "runtime/thread_factory.h"

namespace {

struct Counter {
    std::atomic<int> runs{0};
    std::atomic<int> nice{0};
};

uint32_t CountRun(void* param) {
    Counter* counter = static_cast<Counter*>(param);
    errno = 0;
    counter->nice = getpriority(PRIO_PROCESS, 0);
    ++counter->runs;
    return 0;
}

int OwnNice() {
    errno = 0;
    return getpriority(PRIO_PROCESS, 0);
}

TEST(RuntimeThread, StartTwiceRunsOneThreadAndStartedOutlivesTheRoutine) {
    Counter counter;
    WecThread thread(CountRun, 251, 0);
    EXPECT_FALSE(thread.IsStarted());
    thread.Start(&counter, "first");
    thread.Start(&counter, "second");
    EXPECT_TRUE(thread.IsStarted());
    thread.Stop();
    EXPECT_FALSE(thread.IsStarted());
    EXPECT_EQ(counter.runs.load(), 1);
    thread.Stop();  // a second Stop has nothing to do
    EXPECT_EQ(counter.runs.load(), 1);
}

TEST(RuntimeThread, PriorityMapsToHostNiceness) {
    // 0..251 keep the creator's niceness, 252..255 add 1 to 4.
    const struct {
        int32_t priority;
        int added;
    } cases[] = {{0, 0}, {251, 0}, {253, 2}, {255, 4}};
    for (const auto& c : cases) {
        Counter counter;
        WecThread thread(CountRun, c.priority, 64 * 1024);
        thread.Start(&counter, "");
        thread.Stop();
        EXPECT_EQ(counter.nice.load(), std::min(OwnNice() + c.added, 19)) << c.priority;
        EXPECT_EQ(thread.Priority(), c.priority);
    }
}

TEST(RuntimeThread, SetPriorityRefusalKeepsTheOldPriority) {
    SimpleEvent gate(true);
    WecThread thread([](void* p) -> uint32_t { return static_cast<SimpleEvent*>(p)->Wait(); }, 251,
                     0);
    EXPECT_FALSE(thread.SetPriority(253));  // no thread yet
    EXPECT_EQ(thread.Priority(), 251);
    thread.Start(&gate, "");
    EXPECT_FALSE(thread.SetPriority(256));
    EXPECT_FALSE(thread.SetPriority(-1));
    EXPECT_EQ(thread.Priority(), 251);
    EXPECT_TRUE(thread.SetPriority(254));
    EXPECT_EQ(thread.Priority(), 254);
    gate.Set();
}

// A routine that runs past the 500 ms that Stop waits: it is released only
// after that, then changes state owned by the test.
struct SlowWork {
    SimpleEvent gate{true};
    std::atomic<bool> done{false};
};

uint32_t SlowRoutine(void* param) {
    SlowWork* work = static_cast<SlowWork*>(param);
    work->gate.Wait();
    work->done = true;
    return 0;
}

TEST(RuntimeThread, StopAndDestructionNeverLeaveTheRoutineRunning) {
    // On the host a thread is never cut off: after Stop or destruction the
    // routine has finished, so the state it uses may be destroyed safely.
    for (bool destroy : {false, true}) {
        std::unique_ptr<SlowWork> work(new SlowWork);
        std::unique_ptr<WecThread> thread(new WecThread(SlowRoutine, 251, 0));
        thread->Start(work.get(), "");
        std::thread opener([&] {
            SimpleEvent pause(true);
            pause.Wait(700);  // past the 500 ms that Stop waits
            work->gate.Set();
        });
        if (destroy) {
            thread.reset();
        } else {
            thread->Stop();
            EXPECT_FALSE(thread->IsStarted());
        }
        EXPECT_TRUE(work->done.load()) << (destroy ? "destruction" : "Stop");
        opener.join();
        thread.reset();
        work.reset();
    }
}

TEST(RuntimeThreadFactory, CreatesStoppedThreadsAndEndsItsWorkerOnDestruction) {
    Counter counter;
    std::unique_ptr<Thread> thread;
    for (int i = 0; i < 20; ++i) {
        // Destroyed while its worker may still be starting up: destruction
        // waits for the worker (the sanitizers see any use after it).
        std::shared_ptr<ThreadFactory> factory = std::make_shared<ThreadFactory>(253);
        if (i == 0)
            thread = factory->Create(CountRun, 253, 0);
    }
    ASSERT_TRUE(thread);
    EXPECT_FALSE(thread->IsStarted());
    EXPECT_EQ(counter.runs.load(), 0);
    thread->Start(&counter, "JsonPropertyArchiver");
    thread->Stop();
    EXPECT_EQ(counter.runs.load(), 1);
}

}  // namespace
