// Building packages: the folder the installer stand-in takes (PKG/setup.so, PKG/files/).
#ifndef FWSETUP_SIM_PACKAGE_BUILDER_H
#define FWSETUP_SIM_PACKAGE_BUILDER_H

#include <filesystem>
#include <optional>
#include <string>

#include "sim/payload.h"

namespace sim {

// What a package is made of.
struct PackageRecipe {
    std::string layout;                             // the package layout name
    std::filesystem::path module;                   // the setup module, copied to PKG/setup.so
    std::filesystem::path payloadDir;               // becomes the nested cabinet
    std::optional<std::filesystem::path> filesDir;  // copied into PKG/files/ as it is
    std::filesystem::path output;                   // PKG: must not exist or be an empty folder
};

// Makes the package: payloadDir as a cabinet (names relative to it, with
// backslashes) packed into PKG/files/UpgradeTemp/<layout>.lz4, the module as
// PKG/setup.so and filesDir's contents below PKG/files/. Throws
// std::runtime_error with a one-line reason; a failed build leaves no PKG behind.
void MakePackage(const PackageRecipe& recipe, const Progress& progress = Progress());

}  // namespace sim

#endif
