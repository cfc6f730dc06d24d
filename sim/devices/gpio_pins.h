// The GPIO pins as the GPIO driver (gpio_device.cpp) keeps them, for the
// devices wired to them.
#ifndef FWSETUP_SIM_DEVICES_GPIO_PINS_H
#define FWSETUP_SIM_DEVICES_GPIO_PINS_H

#include <cstdint>
#include <string>

namespace sim {
namespace devices {

// Four banks of 32 pins; pin = bank * 32 + bit.
const int32_t kGpioPinCount = 128;
// The mode of every pin when a process first opens the driver.
const uint32_t kGpioInitialMode = 1;

struct GpioPinState {
    bool high;
    uint32_t mode;
    // How often the pin went from high to low so far in this process: a device
    // selected by the pin tells one selection from the next by it.
    uint64_t fallingEdges;
};

// The pin's state in this process for the device folder device. A pin that
// does not exist, or of a driver that this process never opened, is high in
// kGpioInitialMode and has never fallen.
GpioPinState ReadGpioPin(const std::string& device, int32_t pin);

}  // namespace devices
}  // namespace sim

#endif
