#include "setup/setup_paths.h"

namespace setup {

const WString kBootFolder(u"\\boot\\");
const WString kUpgradeFolder(u"\\UpgradeTemp\\");
const NString kUpgradeFolderNarrow("\\UpgradeTemp\\");
const WString kKernelImagePath(kBootFolder + u"nk.bin");
const NString kFpgaAlgorithmPath("\\UpgradeTemp\\algo.sea");
const NString kFpgaDataPath("\\UpgradeTemp\\data.sed");

const WString kSupersededFonts[] = {
    kBootFolder + u"fonts\\simsun.ac3",          kBootFolder + u"fonts\\mingliu.ac3",
    kBootFolder + u"fonts\\SimSunWec2013.ttf",   kBootFolder + u"fonts\\MingLiUWec2013.ttf",
    kBootFolder + u"fonts\\MSGothicWec2013.ttf",
};
const size_t kSupersededFontCount = sizeof(kSupersededFonts) / sizeof(kSupersededFonts[0]);

const WString kVexoAppsFolder(kBootFolder + u"VEXOApps");
const WString kOcControlsFolder(kBootFolder + u"OCControls");
const WString kOcScreensFolder(kBootFolder + u"OCScreens");
const WString kOcSupportFolder(kBootFolder + u"OCSupport");

WString CompressedPayloadPath(const WString& layoutName) {
    return kUpgradeFolder + layoutName + u".lz4";
}

WString NestedCabFileName(const WString& layoutName) {
    return layoutName + u".Cab";
}

}  // namespace setup
