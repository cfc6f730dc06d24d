#include "runtime/thread_factory.h"

// The worker has no queue of work to dispose of: nothing in the module hands it
// any, so its one job is to run until it is asked to stop.
namespace {
const uint32_t kStop = 1;
const uint32_t kWork = 2;
}  // namespace

ThreadFactory::ThreadFactory(uint32_t priority)
    : control_(WecEventFlags::Create(true)), ended_(new SimpleEvent(true)) {
    worker_ = Create(WorkerRoutine, static_cast<int32_t>(priority), 0);
    worker_->Start(this, "ThreadFactory");
}

ThreadFactory::~ThreadFactory() {
    control_->Set(kStop);
    if (worker_->IsStarted())
        ended_->Wait();
    worker_.reset();
    ended_.reset();
    control_.reset();
}

std::unique_ptr<Thread> ThreadFactory::Create(ThreadStartRoutine routine, int32_t priority,
                                              uint32_t stackSize) {
    return std::unique_ptr<Thread>(new WecThread(routine, priority, stackSize));
}

uint32_t ThreadFactory::WorkerRoutine(void* param) {
    ThreadFactory* factory = static_cast<ThreadFactory*>(param);
    for (;;) {
        const uint32_t seen = factory->control_->WaitAny(kStop | kWork);
        if (seen & kStop)
            break;
    }
    factory->ended_->Set();
    return 0;
}
