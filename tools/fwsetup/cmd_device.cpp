// fwsetup device: not built yet.
#include "app.h"

namespace fwsetup {

void AddDeviceCommands(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
