// The one-way progress channel to the upgrade UI process.
#ifndef FWSETUP_SETUP_PROGRESS_CHANNEL_H
#define FWSETUP_SETUP_PROGRESS_CHANNEL_H

#include <cstdint>

// Progress codes the upgrade UI understands; each travels as one byte.
enum UpgradeProgressMsg {
    SetupStepFailed = 27,
};

// Writes code into the shared ring.
void SetUpgradeError(UpgradeProgressMsg code);
// With the UI running: writes code, wakes the UI and never returns. Without it:
// returns at once, writing nothing.
void NotifyUpgradeUI(UpgradeProgressMsg code);

#endif
