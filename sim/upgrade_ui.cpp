#include "sim/upgrade_ui.h"

#include <algorithm>
#include <stdexcept>

#include "platform/named_objects.h"
#include "setup/progress_channel.h"

namespace sim {
namespace {

using namespace ProgressChannel;

// Holds the mutex for one read.
class MutexHold {
  public:
    explicit MutexHold(platform::NamedMutex& mutex) : mutex_(mutex) {
        if (!mutex_.Wait())
            throw std::runtime_error("cannot take the progress channel's mutex");
    }
    ~MutexHold() { mutex_.Release(); }

  private:
    platform::NamedMutex& mutex_;
};

}  // namespace

std::string ProgressCodeName(uint8_t code) {
    return code == 27 ? "SetupStepFailed" : "Unknown";
}

std::string ProgressCodeLine(uint8_t code) {
    return std::to_string(code) + " " + ProgressCodeName(code);
}

UpgradeUi::UpgradeUi() {
    mapping_ = platform::CreateFileMapping(kSharedMemoryName, kSharedMemorySize);
    if (mapping_)
        view_ = mapping_->MapView(kSharedMemorySize);
    if (!view_)
        throw std::runtime_error("cannot open the progress channel's shared memory");
    mutex_ = platform::CreateMutex(kMutexName);
    if (!mutex_)
        throw std::runtime_error("cannot open the progress channel's mutex");
    {
        MutexHold hold(*mutex_);
        readIndex_ = view_->Data()[0];
    }
    event_ = platform::CreateEvent(kUiEventName);
    if (!event_)
        throw std::runtime_error("cannot create the upgrade UI event");
}

UpgradeUi::~UpgradeUi() = default;

std::vector<uint8_t> UpgradeUi::WaitForCodes(std::chrono::milliseconds timeout) {
    const long long ms = std::clamp<long long>(timeout.count(), 0, 0x7FFFFFFF);
    event_->Wait(static_cast<uint32_t>(ms));
    // Read even without a wake-up: nothing is lost if a writer's event came late.
    return ReadNewCodes();
}

std::vector<uint8_t> UpgradeUi::ReadNewCodes() {
    std::vector<uint8_t> codes;
    MutexHold hold(*mutex_);
    const uint8_t* memory = view_->Data();
    const uint8_t writeIndex = memory[0];
    uint8_t index = readIndex_;
    // A writer's index is reached in at most 256 steps; one that cannot be
    // reached (set by something else than a writer) is taken as it is.
    for (int steps = 0; index != writeIndex && steps < 256; ++steps) {
        codes.push_back(memory[index + 1]);
        index = NextIndex(index);
    }
    if (index != writeIndex)
        codes.clear();
    readIndex_ = writeIndex;
    return codes;
}

bool UpgradeUiIsListening() {
    return platform::OpenEvent(platform::kSynchronize, false, kUiEventName) != nullptr;
}

size_t WatchProgress(std::ostream& out, std::optional<size_t> count,
                     std::optional<std::chrono::milliseconds> timeout) {
    using Clock = std::chrono::steady_clock;
    const std::chrono::milliseconds kSlice(1000);
    UpgradeUi ui;
    const Clock::time_point start = Clock::now();
    size_t shown = 0;
    for (;;) {
        if (count && shown >= *count)
            break;
        std::chrono::milliseconds wait = kSlice;
        if (timeout) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            if (elapsed >= *timeout)
                break;
            wait = std::min(wait, *timeout - elapsed);
        }
        for (uint8_t code : ui.WaitForCodes(wait)) {
            if (count && shown >= *count)
                break;
            out << ProgressCodeLine(code) << std::endl;
            ++shown;
        }
    }
    return shown;
}

}  // namespace sim
