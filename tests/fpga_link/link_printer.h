// A simulated printer whose EEPROM region 0 describes the FPGA's link as a test
// wants it, with the device-call trace running, and the SPI and GPIO calls it
// records.
#ifndef FWSETUP_TESTS_FPGA_LINK_LINK_PRINTER_H
#define FWSETUP_TESTS_FPGA_LINK_LINK_PRINTER_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/devices.h"
#include "support/device_trace.h"
#include "support/temp_device.h"

namespace linktest {

namespace fs = std::filesystem;
typedef std::vector<uint8_t> Bytes;

// The "FPGA-HARDWARE-CONFIG" record of region 0: the default printer's, changed
// where a test says.
struct LinkRecord {
    int spiModule = 0;
    int chipSelect = 0;
    int clockMode = 0;
    int64_t clkFrequency = 24000000;
    int wordLength = 8;
    std::string pin = "1_17";
    // Replaces the record (same name) by this JSON object when not empty.
    std::string replacement;
    // Region 0 as it is: false leaves it absent.
    bool region0 = true;
    // false: the board has no EEPROM at all.
    bool eeprom = true;
};

// The default peripheral document with the record as given.
std::string PeripheralDocument(const LinkRecord& record);

class LinkPrinter {
  public:
    explicit LinkPrinter(const LinkRecord& record = LinkRecord());

    fwtest::TempDevice& Temp() { return temp_; }
    const fs::path& Root() const { return temp_.Root(); }
    void WriteHw(const std::string& name, const std::string& contents) const;
    std::string ReadHw(const std::string& name) const;

    // The traced calls on SPI masters and the GPIO driver.
    std::vector<fwtest::TraceCall> LinkCalls() const;
    std::vector<std::string> LinkLines() const;
    void ClearTrace() const { fwtest::ClearDeviceTrace(Root()); }

  private:
    fwtest::TempDevice temp_;
};

// Runs body in a child process: the module's process-wide peripheral
// configuration keeps the first link it loaded, and the GPIO pins start afresh
// in each process, so every case of the link gets a process of its own.
void InFreshProcess(const std::function<void()>& body);

// A context of one of the link's drivers, opened by the test itself.
class DriverHandle {
  public:
    DriverHandle(const char16_t* name, uint32_t shareMode);
    ~DriverHandle();
    bool Valid() const { return handle_ != platform::kInvalidDeviceHandle; }
    // A control code with 32-bit words in and, when out is given, one word out.
    bool Send(uint32_t code, const std::vector<uint32_t>& in, uint32_t* out = nullptr) const;
    bool Read(uint8_t* buffer, uint32_t count) const;
    bool Write(const Bytes& bytes) const;
    platform::DeviceHandle Get() const { return handle_; }

    DriverHandle(const DriverHandle&) = delete;
    DriverHandle& operator=(const DriverHandle&) = delete;

  private:
    platform::DeviceHandle handle_;
};

// The GPIO pin's mode, read by a context of the test's own.
uint32_t PinMode(int32_t pin);

// The test's own client of an SPI master and the GPIO driver, talking to
// whatever hangs on them the way the transport does.
class Bus {
  public:
    explicit Bus(uint32_t spiModule = 0, int32_t pin = 49);

    // One selection: the pin driven low, data written, count bytes read, the pin
    // driven high again; what was read.
    Bytes Select(const Bytes& data, uint32_t count = 0) const;
    // One transfer without touching the pin.
    Bytes Transfer(const Bytes& data, uint32_t count) const;
    void SetPin(bool high) const;

  private:
    DriverHandle spi_;
    DriverHandle gpio_;
    int32_t pin_;
};

}  // namespace linktest

#endif
