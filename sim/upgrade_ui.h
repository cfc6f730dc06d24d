// The upgrade UI's side of the progress channel, as the printer's upgrade UI
// process serves it: it creates the UI event, and reads the codes that setup
// modules drop into the shared ring.
//
// Everything here works on the device of the calling process
// (platform::host::DeviceRoot()): set it first. One UI per device.
#ifndef FWSETUP_SIM_UPGRADE_UI_H
#define FWSETUP_SIM_UPGRADE_UI_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace platform {
class FileMapping;
class MappedView;
class NamedMutex;
class NamedEvent;
}  // namespace platform

namespace sim {

// The name of a progress code ("SetupStepFailed" for 27), "Unknown" for others.
std::string ProgressCodeName(uint8_t code);
// "27 SetupStepFailed": the line the UI shows for a code.
std::string ProgressCodeLine(uint8_t code);

class UpgradeUi {
  public:
    // Opens (or creates) the shared memory and its mutex, notes where the
    // writers stand, then creates the UI event: from now on setup modules of
    // this device report to this UI. Throws std::runtime_error with a one-line
    // reason when the channel cannot be served.
    UpgradeUi();
    ~UpgradeUi();
    UpgradeUi(const UpgradeUi&) = delete;
    UpgradeUi& operator=(const UpgradeUi&) = delete;

    // Waits at most timeout for the event, then returns the codes written since
    // the last read, oldest first (empty when none).
    std::vector<uint8_t> WaitForCodes(std::chrono::milliseconds timeout);
    // The codes written since the last read, read under the mutex.
    std::vector<uint8_t> ReadNewCodes();

  private:
    std::unique_ptr<platform::FileMapping> mapping_;
    std::unique_ptr<platform::MappedView> view_;
    std::unique_ptr<platform::NamedMutex> mutex_;
    std::unique_ptr<platform::NamedEvent> event_;
    uint8_t readIndex_ = 0;
};

// True while some process serves the UI event of the current device.
bool UpgradeUiIsListening();

// `fwsetup ui watch`: serves the channel and writes one line per new code to
// out, until count codes were shown or timeout ran out (without either, until
// the process is ended). Returns the number of codes shown. Throws like UpgradeUi.
size_t WatchProgress(std::ostream& out, std::optional<size_t> count,
                     std::optional<std::chrono::milliseconds> timeout);

}  // namespace sim

#endif
