// The simulated GPIO driver, GIO1:: the processor's 128 GPIO pins (four banks
// of 32, pin = bank * 32 + bit), each driven high or low and set to a mode.
//
// The pins live in this process, one set per device folder: every pin starts
// high in mode 1 (kGpioInitialMode) when the process first opens the driver of
// that device, and keeps its state while the process runs, across closes and
// reopens. Devices wired to a pin (fpga.cpp) read it through gpio_pins.h.
//
// Opening honours the share mode as the platform's files do: an open fails
// (sharing violation) when it asks for read or write access that an open
// context does not share, or does not share an access that an open context
// holds. The driver's own clients open it shared for reading and writing.
//
// Control codes (inputs and outputs are 32-bit little-endian words; a buffer
// may be longer than needed, never shorter):
//   0x220C00  in: pin          drives the pin high
//   0x220C04  in: pin          drives the pin low
//   0x220C10  in: pin, mode    sets the pin's mode (any value)
//   0x220C14  in: pin          out: the pin's mode (one word)
// A pin outside 0..127, a buffer too short, or any other code fails and
// changes nothing. Seeking, reading and writing always fail.
#include <map>
#include <mutex>
#include <vector>

#include "platform/devices.h"
#include "platform/spi_gpio_drivers.h"
#include "sim/devices/control_words.h"
#include "sim/devices/gpio_pins.h"
#include "sim/devices/simulated_devices.h"

namespace sim {
namespace devices {
namespace {

using platform::host::OpenStreamDevice;

const uint32_t kShareRead = 1;
const uint32_t kShareWrite = 2;

struct OpenContext {
    const void* context;
    uint32_t access;
    uint32_t shareMode;
};

struct GpioBank {
    GpioBank() {
        for (int32_t pin = 0; pin < kGpioPinCount; ++pin) {
            pins[pin].high = true;
            pins[pin].mode = kGpioInitialMode;
            pins[pin].fallingEdges = 0;
        }
    }
    GpioPinState pins[kGpioPinCount];
    std::vector<OpenContext> open;
};

std::mutex g_mutex;
std::map<std::string, GpioBank> g_banks;  // by device folder

// True when an open with access and shareMode may join the open contexts.
bool SharesWith(const std::vector<OpenContext>& open, uint32_t access, uint32_t shareMode) {
    for (size_t i = 0; i < open.size(); ++i) {
        const OpenContext& other = open[i];
        if (((access & platform::kGenericRead) && !(other.shareMode & kShareRead)) ||
            ((access & platform::kGenericWrite) && !(other.shareMode & kShareWrite)) ||
            ((other.access & platform::kGenericRead) && !(shareMode & kShareRead)) ||
            ((other.access & platform::kGenericWrite) && !(shareMode & kShareWrite)))
            return false;
    }
    return true;
}

bool ValidPin(uint32_t word, int32_t& pin) {
    pin = static_cast<int32_t>(word);
    return pin >= 0 && pin < kGpioPinCount;
}

class GpioContext : public OpenStreamDevice {
  public:
    explicit GpioContext(const std::string& device) : device_(device) {}

    ~GpioContext() {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::vector<OpenContext>& open = g_banks[device_].open;
        for (size_t i = 0; i < open.size(); ++i) {
            if (open[i].context == this) {
                open.erase(open.begin() + i);
                break;
            }
        }
    }

    uint32_t Seek(int32_t, int32_t*, uint32_t) { return platform::kInvalidSetFilePointer; }
    bool Read(uint8_t*, uint32_t, uint32_t& done) {
        done = 0;
        return false;
    }
    bool Write(const uint8_t*, uint32_t, uint32_t& done) {
        done = 0;
        return false;
    }

    bool IoControl(uint32_t code, const uint8_t* input, uint32_t inputSize, uint8_t* output,
                   uint32_t outputSize, uint32_t& returned) {
        returned = 0;
        uint32_t word = 0;
        int32_t pin = 0;
        if (!ReadControlWord(input, inputSize, 0, word) || !ValidPin(word, pin))
            return false;
        std::lock_guard<std::mutex> lock(g_mutex);
        GpioPinState& state = g_banks[device_].pins[pin];
        switch (code) {
            case platform::kGpioControlSetHigh:
                state.high = true;
                return true;
            case platform::kGpioControlSetLow:
                if (state.high)
                    ++state.fallingEdges;
                state.high = false;
                return true;
            case platform::kGpioControlSetMode: {
                uint32_t mode = 0;
                if (!ReadControlWord(input, inputSize, 1, mode))
                    return false;
                state.mode = mode;
                return true;
            }
            case platform::kGpioControlGetMode:
                if (!output || outputSize < 4)
                    return false;
                WriteControlWord(output, state.mode);
                returned = 4;
                return true;
            default:
                return false;
        }
    }

  private:
    std::string device_;
};

}  // namespace

GpioPinState ReadGpioPin(const std::string& device, int32_t pin) {
    GpioPinState state;
    state.high = true;
    state.mode = kGpioInitialMode;
    state.fallingEdges = 0;
    if (pin < 0 || pin >= kGpioPinCount)
        return state;
    std::lock_guard<std::mutex> lock(g_mutex);
    std::map<std::string, GpioBank>::const_iterator bank = g_banks.find(device);
    return bank == g_banks.end() ? state : bank->second.pins[pin];
}

OpenStreamDevice* OpenGpioDevice(const std::string& device, const std::string&, uint32_t access,
                                 uint32_t shareMode) {
    std::lock_guard<std::mutex> lock(g_mutex);
    GpioBank& bank = g_banks[device];
    if (!SharesWith(bank.open, access, shareMode))
        return 0;
    GpioContext* context = new GpioContext(device);
    OpenContext entry = {context, access, shareMode};
    bank.open.push_back(entry);
    return context;
}

}  // namespace devices
}  // namespace sim
