// The simulated SPI masters, SPI1: to SPI4: (the processor's SPI module m is
// SPI<m+1>:). Any number of contexts may be open on one master (the share mode
// is not looked at); the bus is what they take turns at. Each master has four
// channels, one per chip select.
//
// Control codes (inputs are 32-bit little-endian words; a buffer may be longer
// than needed, never shorter):
//   0x220824  in: one word   accepted, and not used (clients send 255 when they
//                            open the master)
//   0x220814  in: time-out   takes the bus for this context; fails when another
//                            context of the same master in this process holds it
//                            (at once: the model does not wait out the time-out)
//   0x220800  in: chip select, then a reference to a channel configuration of
//             15 words (platform/spi_gpio_drivers.h)
//                            configures that channel (chip select 0..3); needs
//                            the bus, and a transfer mode (word 6) of 1 (receive),
//                            2 (transmit) or 3 (both). The other words are kept
//                            as given.
//   0x22081C  in: chip select
//                            makes a configured channel the one transfers use;
//                            needs the bus
//   0x220818  (no buffers)   gives the bus back; the channel is no longer in use
// Any other code fails and changes nothing.
//
// ReadFile / WriteFile move whole bytes on the channel in use; they need the
// bus, and a channel configured for receiving (read) or transmitting (write).
// The bytes go to and come from the FPGA wired to this master (fpga.h);
// whatever else would be on the bus is not simulated: without the FPGA, reads
// give 0xFF and writes go nowhere. Seeking fails.
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/devices.h"
#include "platform/spi_gpio_drivers.h"
#include "sim/devices/control_words.h"
#include "sim/devices/fpga.h"
#include "sim/devices/simulated_devices.h"

namespace sim {
namespace devices {
namespace {

using platform::host::OpenStreamDevice;

const uint32_t kChannels = 4;

std::mutex g_mutex;
// The context holding the bus, by device folder and module.
std::map<std::pair<std::string, uint32_t>, const void*> g_busHolders;

class SpiContext : public OpenStreamDevice {
  public:
    SpiContext(const std::string& device, uint32_t module)
        : device_(device), module_(module), inUse_(-1) {
        for (uint32_t i = 0; i < kChannels; ++i)
            configured_[i] = false;
    }

    ~SpiContext() { Release(); }

    uint32_t Seek(int32_t, int32_t*, uint32_t) { return platform::kInvalidSetFilePointer; }

    bool Read(uint8_t* buffer, uint32_t count, uint32_t& done) {
        done = 0;
        if (!CanTransfer(platform::kSpiTransferReceive))
            return false;
        FpgaBusRead(device_, module_, buffer, count);
        done = count;
        return true;
    }

    bool Write(const uint8_t* data, uint32_t count, uint32_t& done) {
        done = 0;
        if (!CanTransfer(platform::kSpiTransferTransmit))
            return false;
        FpgaBusWrite(device_, module_, data, count);
        done = count;
        return true;
    }

    bool IoControl(uint32_t code, const uint8_t* input, uint32_t inputSize, uint8_t*, uint32_t,
                   uint32_t& returned) {
        returned = 0;
        uint32_t word = 0;
        switch (code) {
            case platform::kSpiControlOpen:
                return ReadControlWord(input, inputSize, 0, word);
            case platform::kSpiControlTakeBus:
                return ReadControlWord(input, inputSize, 0, word) && Take();
            case platform::kSpiControlConfigure:
                return Configure(input, inputSize);
            case platform::kSpiControlEnableChannel:
                if (!ReadControlWord(input, inputSize, 0, word) || !Holds() || word >= kChannels ||
                    !configured_[word])
                    return false;
                inUse_ = static_cast<int>(word);
                return true;
            case platform::kSpiControlReleaseBus:
                if (!Holds())
                    return false;
                Release();
                return true;
            default:
                return false;
        }
    }

  private:
    std::pair<std::string, uint32_t> Key() const { return std::make_pair(device_, module_); }

    bool Holds() const {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::map<std::pair<std::string, uint32_t>, const void*>::const_iterator it =
            g_busHolders.find(Key());
        return it != g_busHolders.end() && it->second == this;
    }

    bool Take() {
        std::lock_guard<std::mutex> lock(g_mutex);
        const void*& holder = g_busHolders[Key()];
        if (holder && holder != this)
            return false;
        holder = this;
        return true;
    }

    void Release() {
        inUse_ = -1;
        std::lock_guard<std::mutex> lock(g_mutex);
        std::map<std::pair<std::string, uint32_t>, const void*>::iterator it =
            g_busHolders.find(Key());
        if (it != g_busHolders.end() && it->second == this)
            g_busHolders.erase(it);
    }

    bool Configure(const uint8_t* input, uint32_t inputSize) {
        if (!input || inputSize < sizeof(platform::SpiConfigureRequest) || !Holds())
            return false;
        platform::SpiConfigureRequest request;
        memcpy(&request, input, sizeof(request));
        if (request.chipSelect >= kChannels || !request.config)
            return false;
        const uint32_t mode = request.config->words[platform::kSpiConfigTransferModeIndex];
        if (mode == 0 || mode > (platform::kSpiTransferReceive | platform::kSpiTransferTransmit))
            return false;
        config_[request.chipSelect] = *request.config;
        configured_[request.chipSelect] = true;
        return true;
    }

    bool CanTransfer(uint32_t direction) const {
        return inUse_ >= 0 && Holds() &&
               (config_[inUse_].words[platform::kSpiConfigTransferModeIndex] & direction) != 0;
    }

    std::string device_;
    uint32_t module_;
    bool configured_[kChannels];
    platform::SpiChannelConfig config_[kChannels];
    int inUse_;
};

}  // namespace

OpenStreamDevice* OpenSpiMaster(const std::string& device, const std::string& legacyName, uint32_t,
                                uint32_t) {
    // "SPI1:" .. "SPI4:", as the routing table names them.
    if (legacyName.size() != 5 || legacyName[3] < '1' || legacyName[3] > '4')
        return 0;
    return new SpiContext(device, static_cast<uint32_t>(legacyName[3] - '1'));
}

}  // namespace devices
}  // namespace sim
