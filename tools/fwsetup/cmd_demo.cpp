// fwsetup demo: not built yet.
#include "app.h"

namespace fwsetup {

void AddDemoCommand(CLI::App&, CommandContext&) {}

}  // namespace fwsetup
