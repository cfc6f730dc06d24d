// The writing side of the progress channel.
#include "setup/progress_channel.h"

#include <memory>

#include "platform/named_objects.h"
#include "runtime/simple_event.h"

using namespace ProgressChannel;

void SetUpgradeError(UpgradeProgressMsg code) {
    std::unique_ptr<platform::FileMapping> mapping =
        platform::CreateFileMapping(kSharedMemoryName, kSharedMemorySize);
    if (!mapping)
        return;
    std::unique_ptr<platform::MappedView> view = mapping->MapView(kSharedMemorySize);
    if (!view)
        return;
    std::unique_ptr<platform::NamedMutex> mutex = platform::CreateMutex(kMutexName);
    if (!mutex || !mutex->Wait())
        return;

    uint8_t* memory = view->Data();
    // The index is trusted: a stray value up to 255 still lands inside the block.
    const unsigned index = memory[0];
    memory[index + 1] = static_cast<uint8_t>(code);
    memory[0] = NextIndex(static_cast<uint8_t>(index));

    mutex->Release();
}

void NotifyUpgradeUI(UpgradeProgressMsg code) {
    std::unique_ptr<platform::NamedEvent> uiEvent =
        platform::OpenEvent(platform::kSynchronize, false, kUiEventName);
    if (!uiEvent)
        return;
    SetUpgradeError(code);
    uiEvent->Set();
    uiEvent.reset();

    // The failure is the UI's to handle now: this thread stops here for good.
    std::unique_ptr<SimpleEvent> never(new SimpleEvent(true));
    for (;;)
        never->Wait();
}
