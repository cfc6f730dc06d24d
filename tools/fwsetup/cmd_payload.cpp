// fwsetup payload: not built yet.
#include "app.h"

namespace fwsetup {

void AddPayloadCommands(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
