// The writing side of the progress channel.
//
// Shared memory "Global\UPGRADE_SHARED_MEMORY", 444 bytes:
//   offset 0       write index: the slot the next code goes to (0..24)
//   offset 1..25   ring of 25 one-byte codes; slot i at offset i + 1
//   offset 26..443 not touched here
// The named mutex "Global\UPGRADE_SHMEM_MUTEX" guards the index and the slots
// in every process. The upgrade UI creates the event "Global\UPGRADE_UI_EVENT"
// and waits on it; this side only opens and sets it.
#include "setup/progress_channel.h"

#include <memory>

#include "platform/named_objects.h"
#include "runtime/simple_event.h"

namespace {

const char16_t kSharedMemoryName[] = u"Global\\UPGRADE_SHARED_MEMORY";
const char16_t kMutexName[] = u"Global\\UPGRADE_SHMEM_MUTEX";
const char16_t kUiEventName[] = u"Global\\UPGRADE_UI_EVENT";
const uint32_t kSharedMemorySize = 444;
const unsigned kRingSlots = 25;

}  // namespace

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
    uint8_t next = static_cast<uint8_t>(index + 1);
    if (next == kRingSlots)
        next = 0;
    memory[0] = next;

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
