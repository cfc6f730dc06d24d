// The Ondrel package carries each configuration file twice, for a 300 dpi and
// for a 600 dpi printhead. The product name in the board's peripheral
// configuration (EEPROM region 0) decides which copy goes live under the file's
// own name; the other copy is deleted.
//
//   live name                            300 dpi / 600 dpi source
//   \boot\ProductRegistry.json           \boot\ProductRegistry{300,600}dpi.json
//   \boot\ScriptingSettings.json         \boot\ScriptingSettings{300,600}dpi.json
//   \store\PlatenRampData.json           \store\PlatenRampData{300,600}dpi.json
//   \store\PropertiesOverride.json       \store\PropertiesOverride{300,600}dpi.json
//   \store\PropertiesOverride.json.md5   \store\PropertiesOverride{300,600}dpi.json.md5
//
// Only the product name "OndrelSixHundredDpi" (exactly) selects the 600 dpi set.
#ifndef FWSETUP_ACTIONS_ONDREL_UPGRADE_SETUP_H
#define FWSETUP_ACTIONS_ONDREL_UPGRADE_SETUP_H

#include "platform/types.h"

namespace OndrelUpgradeSetup {

// Deletes the file when it exists; the result is not reported.
void DeleteFileW(const WString& path);

// Renames chosen onto target and then deletes rejected. False, with nothing
// changed, when chosen does not exist or the rename fails (target exists, for
// one): rejected is deleted only once chosen is live.
bool ChooseFile(const WString& chosen, const WString& rejected, const WString& target);

// Deletes the five live files, reads the product name from EEPROM region 0
// (through the temporary copy \UpgradeTemp\VexoPeripheralConfig.json, deleted
// again whatever happens) and chooses each group's source. False when region 0
// cannot be copied, when the copy does not load as a peripheral configuration
// (the live files then stay deleted), or when a group could not be chosen (the
// other groups are chosen all the same).
bool CopyJsonFiles();

}  // namespace OndrelUpgradeSetup

#endif
