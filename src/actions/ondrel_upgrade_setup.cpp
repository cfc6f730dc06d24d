#include "actions/ondrel_upgrade_setup.h"

#include <cstddef>
#include <memory>
#include <string>

#include "eeprom/wec_eeprom_handler.h"
#include "fileutil/file_operation.h"
#include "package/file_stream.h"
#include "periphconfig/peripheral_config_file.h"

namespace OndrelUpgradeSetup {
namespace {

struct FileGroup {
    const char16_t* live;
    const char16_t* source300dpi;
    const char16_t* source600dpi;
};

// In the order they are deleted and chosen.
const FileGroup kFileGroups[] = {
    {u"\\boot\\ProductRegistry.json", u"\\boot\\ProductRegistry300dpi.json",
     u"\\boot\\ProductRegistry600dpi.json"},
    {u"\\boot\\ScriptingSettings.json", u"\\boot\\ScriptingSettings300dpi.json",
     u"\\boot\\ScriptingSettings600dpi.json"},
    {u"\\store\\PlatenRampData.json", u"\\store\\PlatenRampData300dpi.json",
     u"\\store\\PlatenRampData600dpi.json"},
    {u"\\store\\PropertiesOverride.json", u"\\store\\PropertiesOverride300dpi.json",
     u"\\store\\PropertiesOverride600dpi.json"},
    {u"\\store\\PropertiesOverride.json.md5", u"\\store\\PropertiesOverride300dpi.json.md5",
     u"\\store\\PropertiesOverride600dpi.json.md5"},
};
const size_t kFileGroupCount = sizeof(kFileGroups) / sizeof(kFileGroups[0]);

const char16_t kPeripheralConfigCopy[] = u"\\UpgradeTemp\\VexoPeripheralConfig.json";
const int kPeripheralConfigRegion = 0;
const char kSixHundredDpiProduct[] = "OndrelSixHundredDpi";

// Region 0 copied into kPeripheralConfigCopy and loaded from there: true when
// it loaded, with the product name it holds.
bool ReadProductName(WecEEPromHandler& handler, std::string& productName) {
    if (!handler.ReadRegionToFile(kPeripheralConfigRegion, kPeripheralConfigCopy))
        return false;
    FileStream stream(kPeripheralConfigCopy, StreamMode::Read);
    PeripheralConfigFile config;
    const bool loaded = config.Load(stream);
    // Closed before the copy is deleted.
    stream.Close();
    if (!loaded)
        return false;
    productName = config.GetPlatformConfig()->GetProductName();
    return true;
}

}  // namespace

void DeleteFileW(const WString& path) {
    if (FileOperation::FileExists(path))
        FileOperation::RemoveFile(path);
}

bool ChooseFile(const WString& chosen, const WString& rejected, const WString& target) {
    if (!FileOperation::FileExists(chosen))
        return false;
    if (!FileOperation::RenameFile(chosen, target))
        return false;
    DeleteFileW(rejected);
    return true;
}

bool CopyJsonFiles() {
    for (size_t i = 0; i < kFileGroupCount; ++i)
        DeleteFileW(kFileGroups[i].live);

    bool result = false;
    {
        WecEEPromHandler handler;
        std::string productName;
        if (ReadProductName(handler, productName)) {
            const bool sixHundredDpi = productName == kSixHundredDpiProduct;
            result = true;
            for (size_t i = 0; i < kFileGroupCount; ++i) {
                const FileGroup& group = kFileGroups[i];
                const WString chosen = sixHundredDpi ? group.source600dpi : group.source300dpi;
                const WString rejected = sixHundredDpi ? group.source300dpi : group.source600dpi;
                // Every group is chosen, also after one that failed.
                if (!ChooseFile(chosen, rejected, group.live))
                    result = false;
            }
        }
        FileOperation::RemoveFile(kPeripheralConfigCopy);
    }
    return result;
}

}  // namespace OndrelUpgradeSetup
