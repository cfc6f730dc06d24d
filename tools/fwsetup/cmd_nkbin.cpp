// fwsetup nkbin: not built yet.
#include "app.h"

namespace fwsetup {

void AddNkbinCommands(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
