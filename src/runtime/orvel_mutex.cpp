#include "runtime/orvel_mutex.h"

OrvelMutex::OrvelMutex() : section_(std::make_shared<platform::CriticalSection>()) {}

void OrvelMutex::lock() {
    section_->Enter();
}

void OrvelMutex::unlock() {
    section_->Leave();
}

bool OrvelMutex::try_lock() {
    return section_->TryEnter();
}
