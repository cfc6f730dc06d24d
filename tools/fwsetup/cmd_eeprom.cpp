// fwsetup eeprom: not built yet.
#include "app.h"

namespace fwsetup {

void AddEepromCommands(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
