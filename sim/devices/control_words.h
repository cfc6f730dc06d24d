// The 32-bit little-endian words of a control code's buffers.
#ifndef FWSETUP_SIM_DEVICES_CONTROL_WORDS_H
#define FWSETUP_SIM_DEVICES_CONTROL_WORDS_H

#include <cstdint>

namespace sim {
namespace devices {

// Word index of buffer (size bytes); false when the buffer is too short.
inline bool ReadControlWord(const uint8_t* buffer, uint32_t size, uint32_t index, uint32_t& word) {
    if (!buffer || size / 4 <= index)
        return false;
    const uint8_t* at = buffer + 4 * index;
    word = static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
    return true;
}

inline void WriteControlWord(uint8_t* buffer, uint32_t word) {
    for (int k = 0; k < 4; ++k)
        buffer[k] = static_cast<uint8_t>(word >> (8 * k));
}

}  // namespace devices
}  // namespace sim

#endif
