// The logic behind the exported hooks, for any layout name.
//
// Each module passes its compiled-in layout name; tests pass any name.
#ifndef FWSETUP_SETUP_INSTALL_HOOKS_H
#define FWSETUP_SETUP_INSTALL_HOOKS_H

#include "platform/types.h"

namespace setup {

// Install_Init for a package of the given layout name: always 0.
int RunInstallInit(const WString& layoutName);
// Install_Exit for a package of the given layout name: 0 when done, 1 when the
// package's own action failed.
int RunInstallExit(const WString& layoutName);

}  // namespace setup

#endif
