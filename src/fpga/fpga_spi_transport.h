// The FPGA's configuration port over the board's SPI and GPIO drivers.
//
// Which SPI master, chip select, clock and GPIO line reach the FPGA comes from
// the board's peripheral configuration (EEPROM region 0), in the record named
// "FPGA-HARDWARE-CONFIG". The transport opens "SPI<module + 1>:" and "GIO1:",
// selects the FPGA by driving the GPIO line low, and moves whole bytes with
// one channel configuration per direction.
//
// Driver calls, in order (codes and buffers in platform/spi_gpio_drivers.h):
//   InitHardware     open SPI<m+1>: (read/write, no sharing), open GIO1:
//                    (read/write, shared); GPIO 0x220C14 [pin] -> saved mode,
//                    0x220C10 [pin, 0]; SPI 0x220824 [255]. Every step is tried
//                    even after one failed; a GPIO driver that does not open
//                    skips its codes.
//   Transmit/Receive SPI 0x220814 [5000] (on failure nothing else), 0x220800
//                    [chip select, configuration of the direction], 0x22081C
//                    [chip select], WriteFile / ReadFile of bits / 8 bytes,
//                    0x220818
//   Start/End        GPIO 0x220C04 [pin] / 0x220C00 [pin]
//   CloseHardware    GPIO 0x220C10 [pin, saved mode]; close SPI, close GPIO
// WaitMilliseconds pauses on an event that nothing sets.
//
// Without a usable "FPGA-HARDWARE-CONFIG" record (none, an unreadable region,
// a document that does not load, or a record of another class or without its
// SPI device and GPIO line) InitHardware fails before anything is opened.
#ifndef FWSETUP_FPGA_FPGA_SPI_TRANSPORT_H
#define FWSETUP_FPGA_FPGA_SPI_TRANSPORT_H

#include <cstdint>
#include <memory>

#include "fpga/fpga_link.h"
#include "periphconfig/printhead_records.h"
#include "platform/devices.h"
#include "platform/spi_gpio_drivers.h"

// The FPGA's link record: EEPROM region 0 copied to the temporary file
// kFpgaTempPeripheralConfigPath and loaded into the process-wide peripheral
// configuration; null when there is none.
std::shared_ptr<FpgaHardwareConfig> LoadFpgaHardwareConfig();

class FpgaSpiTransport : public FpgaLink {
  public:
    // The value sent with the SPI code of opening, and the time-out of a transfer's first code.
    static const uint32_t kOpenValue = 255;
    static const uint32_t kTransferTimeoutMs = 5000;

    FpgaSpiTransport();

    // Starts afresh, as a new transport: the configurations of the previous
    // run are dropped and its handles left as they are.
    bool InitHardware();
    bool StartTransaction(uint8_t channel);
    bool EndTransaction();
    bool TransmitBits(const uint8_t* data, uint32_t bits);
    bool ReceiveBits(uint8_t* buffer, uint32_t bits);
    bool WaitMilliseconds(uint32_t ms);
    bool CloseHardware();

    // The channel configuration of a direction (kSpiTransferReceive or
    // kSpiTransferTransmit) for config.
    static platform::SpiChannelConfig ChannelConfig(const FpgaHardwareConfig& config,
                                                    uint32_t transferMode);

  private:
    bool Transfer(const platform::SpiChannelConfig& config, uint8_t* readInto,
                  const uint8_t* writeFrom, uint32_t bytes);
    bool SendPin(uint32_t code);

    platform::DeviceHandle spi_;
    platform::DeviceHandle gpio_;
    uint32_t savedPinMode_;
    int32_t chipSelectPin_;
    std::unique_ptr<platform::SpiChannelConfig> receiveConfig_;
    std::unique_ptr<platform::SpiChannelConfig> transmitConfig_;
    std::shared_ptr<FpgaHardwareConfig> config_;

    FpgaSpiTransport(const FpgaSpiTransport&);
    FpgaSpiTransport& operator=(const FpgaSpiTransport&);
};

// The process-wide transport (the module's default FPGA link).
FpgaSpiTransport& TheFpgaSpiTransport();

#endif
