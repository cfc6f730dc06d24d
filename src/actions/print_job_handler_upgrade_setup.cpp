#include "actions/print_job_handler_upgrade_setup.h"

#include <cstddef>

#include "fileutil/file_operation.h"
#include "package/file_stream.h"
#include "platform/types.h"

namespace PrintJobHandlerUpgradeSetup {
namespace {

const char* const kJobHandlerFiles[] = {
    "\\boot\\SkellanJobHandler.dll",
    "\\boot\\SkellanJobHandler.dll.md5",
};

// An ASCII path, one code unit per byte.
WString Widen(const NString& path) {
    WString wide;
    for (size_t i = 0; i < path.size(); ++i)
        wide.push_back(static_cast<unsigned char>(path[i]));
    return wide;
}

bool CanBeOpenedForReading(const NString& path) {
    FileStream stream(Widen(path), StreamMode::Read);
    const bool good = stream.IsGood();
    stream.Close();
    return good;
}

}  // namespace

void RemoveSkellanJobHandler() {
    for (size_t i = 0; i < sizeof(kJobHandlerFiles) / sizeof(kJobHandlerFiles[0]); ++i) {
        const NString path = kJobHandlerFiles[i];
        // The stream is closed again before the file is deleted.
        if (CanBeOpenedForReading(path))
            FileOperation::RemoveFileNarrow(path);
    }
}

}  // namespace PrintJobHandlerUpgradeSetup
