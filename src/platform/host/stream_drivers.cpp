#include "platform/host/stream_drivers.h"

namespace platform {
namespace host {

const StreamDriver kStreamDrivers[] = {
    {u"\\boot\\EEPromUtilDriver.dll", u"EPM", OpenEepromDevice},
};
const size_t kStreamDriverCount = sizeof(kStreamDrivers) / sizeof(kStreamDrivers[0]);

}  // namespace host
}  // namespace platform
