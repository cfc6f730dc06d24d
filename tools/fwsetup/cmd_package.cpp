// fwsetup package: not built yet.
#include "app.h"

namespace fwsetup {

void AddPackageCommands(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
