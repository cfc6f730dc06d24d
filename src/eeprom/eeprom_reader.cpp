#include "eeprom/eeprom_reader.h"

#include "eeprom/eeprom_layout.h"
#include "eeprom/wec_eeprom_handler.h"

namespace EEPromReader {

uint16_t ReadBoardId() {
    WecEEPromHandler handler;
    const ByteVector id = handler.Read(EEPromLayout::kBoardIdPosition, 2);
    if (id.size() != 2)
        return kUnreadableBoardId;
    return static_cast<uint16_t>(id[0] | (id[1] << 8));
}

}  // namespace EEPromReader
