// fwsetup ui: not built yet.
#include "app.h"

namespace fwsetup {

void AddUiCommands(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
