// The job-handler packages: the Skellan job handler they replace is removed first.
#ifndef FWSETUP_ACTIONS_PRINT_JOB_HANDLER_UPGRADE_SETUP_H
#define FWSETUP_ACTIONS_PRINT_JOB_HANDLER_UPGRADE_SETUP_H

namespace PrintJobHandlerUpgradeSetup {

// Deletes "\boot\SkellanJobHandler.dll" and then its ".md5" digest, each only
// when it can be opened for reading. Results are ignored.
void RemoveSkellanJobHandler();

}  // namespace PrintJobHandlerUpgradeSetup

#endif
