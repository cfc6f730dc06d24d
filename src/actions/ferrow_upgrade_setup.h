// The Ferrow package stages a second set of boot files under \store:
//
//   staged                        boot file
//   \store\boot.txt               \boot\boot.txt
//   \store\boot.txt.md5           \boot\boot.txt.md5
//   \store\ProductRegistry.json   \boot\ProductRegistry.json
//   \store\systemfeatures.json    \boot\systemfeatures.json
//
// Board 18 takes the staged set as its boot files; every other board (one
// whose id cannot be read included) discards it together with the job
// handler's property files \store\JobHandlerProperties.json, .bak, .MD5 and
// .MD5.bak.
#ifndef FWSETUP_ACTIONS_FERROW_UPGRADE_SETUP_H
#define FWSETUP_ACTIONS_FERROW_UPGRADE_SETUP_H

namespace FerrowUpgradeSetup {

// Reports nothing; missing files are passed over. On board 18 the first three
// boot files are deleted, each staged file is copied over its boot file, and a
// staged file is deleted only once its boot file holds the same bytes: one
// whose copy failed stays staged for the next run.
void CopyCorrectBootTxtFile();

}  // namespace FerrowUpgradeSetup

#endif
