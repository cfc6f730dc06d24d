// fwsetup install: not built yet.
#include "app.h"

namespace fwsetup {

void AddInstallCommand(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
