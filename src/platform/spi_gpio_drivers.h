// The board's SPI master drivers ("SPI1:" to "SPI4:", module m is "SPI<m+1>:")
// and its GPIO driver ("GIO1:"): their control codes and the buffers the codes
// take. Both are built into the platform: CreateFile opens them without any
// activation, and they are reached through the calls of devices.h.
//
// Every code is of device type 0x22, buffered, any access:
// (0x22 << 16) | (function << 2).
#ifndef FWSETUP_PLATFORM_SPI_GPIO_DRIVERS_H
#define FWSETUP_PLATFORM_SPI_GPIO_DRIVERS_H

#include <cstddef>
#include <cstdint>

namespace platform {

// SPI master. Inputs are 32-bit words unless said otherwise.
const uint32_t kSpiControlOpen = 0x220824;           // function 0x209, in: one word
const uint32_t kSpiControlTakeBus = 0x220814;        // function 0x205, in: time-out in ms
const uint32_t kSpiControlConfigure = 0x220800;      // function 0x200, in: SpiConfigureRequest
const uint32_t kSpiControlEnableChannel = 0x22081C;  // function 0x207, in: chip select
const uint32_t kSpiControlReleaseBus = 0x220818;     // function 0x206, no buffers

// GPIO. A pin is bank * 32 + bit.
const uint32_t kGpioControlSetHigh = 0x220C00;  // function 0x300, in: pin
const uint32_t kGpioControlSetLow = 0x220C04;   // function 0x301, in: pin
const uint32_t kGpioControlSetMode = 0x220C10;  // function 0x304, in: GpioPinMode
const uint32_t kGpioControlGetMode = 0x220C14;  // function 0x305, in: pin, out: mode (one word)

// The 15 words of an SPI channel configuration, in order.
const size_t kSpiChannelConfigWords = 15;
struct SpiChannelConfig {
    uint32_t words[kSpiChannelConfigWords];
};
// Word 6 (index 5): the directions the channel moves data in.
const size_t kSpiConfigTransferModeIndex = 5;
const uint32_t kSpiTransferReceive = 1;
const uint32_t kSpiTransferTransmit = 2;

// The input of kSpiControlConfigure: a chip select, then a reference to the
// configuration, which must stay valid for the call.
struct SpiConfigureRequest {
    uint32_t chipSelect;
    const SpiChannelConfig* config;
};

// The input of kGpioControlSetMode.
struct GpioPinMode {
    int32_t pin;
    uint32_t mode;
};

}  // namespace platform

#endif
