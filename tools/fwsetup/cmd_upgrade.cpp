// fwsetup upgrade: not built yet.
#include "app.h"

namespace fwsetup {

void AddUpgradeCommand(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
