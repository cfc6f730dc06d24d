// The one-way progress channel to the upgrade UI process.
#ifndef FWSETUP_SETUP_PROGRESS_CHANNEL_H
#define FWSETUP_SETUP_PROGRESS_CHANNEL_H

#include <cstdint>

// Progress codes the upgrade UI understands; each travels as one byte.
enum UpgradeProgressMsg {
    SetupStepFailed = 27,
};

// The channel as both sides see it.
//
// Shared memory kSharedMemoryName, kSharedMemorySize bytes:
//   offset 0       write index: the slot the next code goes to (0..24)
//   offset 1..25   ring of 25 one-byte codes; slot i at offset i + 1
//   the rest       not touched by the setup module
// The named mutex kMutexName guards the index and the slots in every process.
// The upgrade UI creates the event kUiEventName and waits on it; the setup
// module only opens and sets it.
namespace ProgressChannel {

const char16_t kSharedMemoryName[] = u"Global\\UPGRADE_SHARED_MEMORY";
const char16_t kMutexName[] = u"Global\\UPGRADE_SHMEM_MUTEX";
const char16_t kUiEventName[] = u"Global\\UPGRADE_UI_EVENT";
const uint32_t kSharedMemorySize = 444;
const unsigned kRingSlots = 25;

// The write index after a code went to slot index: on by one, back to 0 after
// the last slot. A stray index above it is trusted, counts on and wraps from 255 to 0.
inline uint8_t NextIndex(uint8_t index) {
    const uint8_t next = static_cast<uint8_t>(index + 1);
    return next == kRingSlots ? 0 : next;
}

}  // namespace ProgressChannel

// Writes code into the shared ring.
void SetUpgradeError(UpgradeProgressMsg code);
// With the UI running: writes code, wakes the UI and never returns. Without it:
// returns at once, writing nothing.
void NotifyUpgradeUI(UpgradeProgressMsg code);

#endif
