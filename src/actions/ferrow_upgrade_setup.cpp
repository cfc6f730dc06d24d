#include "actions/ferrow_upgrade_setup.h"

#include <cstddef>
#include <cstdint>

#include "eeprom/eeprom_reader.h"
#include "fileutil/file_operation.h"
#include "fileutil/string_operation.h"
#include "package/file_stream.h"
#include "platform/files.h"
#include "platform/types.h"

namespace FerrowUpgradeSetup {
namespace {

struct StagedFile {
    const char16_t* staged;
    const char16_t* boot;
};

const StagedFile kStagedFiles[] = {
    {u"\\store\\boot.txt", u"\\boot\\boot.txt"},
    {u"\\store\\boot.txt.md5", u"\\boot\\boot.txt.md5"},
    {u"\\store\\ProductRegistry.json", u"\\boot\\ProductRegistry.json"},
    {u"\\store\\systemfeatures.json", u"\\boot\\systemfeatures.json"},
};
const size_t kStagedFileCount = sizeof(kStagedFiles) / sizeof(kStagedFiles[0]);

// The boot files deleted before the copies (systemfeatures.json is overwritten).
const size_t kBootFilesDeletedFirst = 3;

const uint16_t kBoardTakingStagedFiles = 18;

const char16_t kJobHandlerProperties[] = u"\\store\\JobHandlerProperties.json";
const char16_t* const kJobHandlerPropertySuffixes[] = {u"", u".bak", u".MD5", u".MD5.bak"};

// The whole file: false when it cannot be opened or read to its end.
bool ReadWhole(const WString& path, ByteVector& bytes) {
    FileStream stream(path, StreamMode::Read);
    if (!stream.IsGood())
        return false;
    const uint32_t size = stream.Size();
    bytes = stream.ReadAll();
    return bytes.size() == size;
}

// True when target holds exactly the bytes of source and they are on stable
// storage: the copy is in place, whatever the copy call reported (an existing
// target that resisted it counts as copied when it held those bytes already).
// Until then a power cut could still take the copy's data away.
bool CopyIsInPlace(const WString& source, const WString& target) {
    ByteVector sourceBytes;
    ByteVector targetBytes;
    return ReadWhole(source, sourceBytes) && ReadWhole(target, targetBytes) &&
           sourceBytes == targetBytes && platform::FlushFile(target);
}

void TakeStagedFiles() {
    for (size_t i = 0; i < kBootFilesDeletedFirst; ++i)
        FileOperation::RemoveFile(kStagedFiles[i].boot);

    bool inPlace[kStagedFileCount];
    for (size_t i = 0; i < kStagedFileCount; ++i) {
        inPlace[i] =
            FileOperation::CopyFileTo(kStagedFiles[i].staged, kStagedFiles[i].boot, true) &&
            CopyIsInPlace(kStagedFiles[i].staged, kStagedFiles[i].boot);
    }
    for (size_t i = 0; i < kStagedFileCount; ++i) {
        if (inPlace[i])
            FileOperation::RemoveFile(kStagedFiles[i].staged);
    }
}

void DiscardStagedFiles() {
    for (size_t i = 0; i < kStagedFileCount; ++i)
        FileOperation::RemoveFile(kStagedFiles[i].staged);
    const size_t suffixCount =
        sizeof(kJobHandlerPropertySuffixes) / sizeof(kJobHandlerPropertySuffixes[0]);
    for (size_t i = 0; i < suffixCount; ++i) {
        const WString path = WString(kJobHandlerProperties) + kJobHandlerPropertySuffixes[i];
        FileOperation::RemoveFileNarrow(StringOperation::ToUtf8(path));
    }
}

}  // namespace

void CopyCorrectBootTxtFile() {
    if (EEPromReader::ReadBoardId() == kBoardTakingStagedFiles) {
        TakeStagedFiles();
    } else {
        DiscardStagedFiles();
    }
}

}  // namespace FerrowUpgradeSetup
