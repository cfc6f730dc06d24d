#include "runtime/thread.h"

namespace {
// How long Stop waits for the routine before terminating the thread.
const uint32_t kStopWaitMs = 500;
}  // namespace

WecThread::~WecThread() {
    Stop();
    handle_.reset();
}

void WecThread::Start(void* param, const std::string& /*name*/) {
    if (started_)
        return;
    handle_ = platform::CreateSuspendedThread(routine_, param, stackSize_);
    // A thread the platform could not create is not reported as started, so
    // that nobody waits for it to end.
    if (!handle_)
        return;
    SetPriority(priority_);
    handle_->Resume();
    started_ = true;
}

bool WecThread::SetPriority(int32_t priority) {
    if (!handle_ || !handle_->SetPriority(priority))
        return false;
    priority_ = priority;
    return true;
}

void WecThread::Stop() {
    if (!started_)
        return;
    if (handle_ && !handle_->WaitForEnd(kStopWaitMs))
        handle_->Terminate();
    started_ = false;
}
