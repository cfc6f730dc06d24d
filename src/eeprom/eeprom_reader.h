// The board identity stored in the main-board EEPROM.
#ifndef FWSETUP_EEPROM_EEPROM_READER_H
#define FWSETUP_EEPROM_EEPROM_READER_H

#include <cstdint>

namespace EEPromReader {

// What ReadBoardId answers when the id cannot be read; it matches no board.
const uint16_t kUnreadableBoardId = 0xFFFF;

// The 16-bit board id at EEPROM offset 1 (low byte first), or kUnreadableBoardId.
uint16_t ReadBoardId();

}  // namespace EEPromReader

#endif
