// The folders and files the hooks work with, built once when the module loads.
//
// Paths are device paths; "+" in the comments joins without a separator.
#ifndef FWSETUP_SETUP_SETUP_PATHS_H
#define FWSETUP_SETUP_SETUP_PATHS_H

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace setup {

// "\boot\"
extern const WString kBootFolder;
// "\UpgradeTemp\", and the same as narrow text for the free-space query.
extern const WString kUpgradeFolder;
extern const NString kUpgradeFolderNarrow;
// "\boot\" + "nk.bin": the operating-system package's kernel image.
extern const WString kKernelImagePath;
// The FPGA package's algorithm and data files.
extern const NString kFpgaAlgorithmPath;
extern const NString kFpgaDataPath;

// Fonts the operating-system package supersedes, in the order they are deleted.
extern const WString kSupersededFonts[];
extern const size_t kSupersededFontCount;

// Application folders replaced by the Vexo applications and qtcommon packages
// (no trailing backslash).
extern const WString kVexoAppsFolder;
extern const WString kOcControlsFolder;
extern const WString kOcScreensFolder;
extern const WString kOcSupportFolder;

// The nested CAB goes to the upgrade folder only when its volume has at least
// this many bytes free for the caller (50 MiB).
const uint64_t kMinimumUpgradeFolderFreeBytes = 0x3200000ULL;

// "\UpgradeTemp\" + layoutName + ".lz4": the package's compressed payload.
WString CompressedPayloadPath(const WString& layoutName);
// layoutName + ".Cab": the nested CAB's file name.
WString NestedCabFileName(const WString& layoutName);

}  // namespace setup

#endif
