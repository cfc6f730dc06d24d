#include "runtime/simple_event.h"

namespace {
const uint32_t kEventBit = 1;
}

SimpleEvent::SimpleEvent(bool autoReset) : flags_(WecEventFlags::Create(autoReset)) {}

void SimpleEvent::Set() {
    flags_->Set(kEventBit);
}

bool SimpleEvent::Wait() {
    flags_->WaitAny(kEventBit);
    return true;
}

bool SimpleEvent::Wait(uint32_t timeoutMs) {
    return flags_->WaitAny(kEventBit, timeoutMs) != 0;
}
