#include "fileutil/file_type.h"

#include <cstring>

#include "fileutil/string_operation.h"
#include "package/file_stream.h"

namespace {

struct FileTypeSignature {
    const char* bytes;
    uint32_t size;
    const char16_t* type;
};

// Tested in this order; the first match decides.
const FileTypeSignature kSignatures[] = {
    {"MSCF\0", 5, u"cab"},
    {"B000FF\n\0", 8, u"bin"},
    {"S000FF\n\0", 8, u"bin"},
};

}  // namespace

WString FileTypeOfHeader(const uint8_t* header, uint32_t count) {
    if (header == 0 || count < kFileTypeHeaderSize)
        return WString();
    for (size_t i = 0; i < sizeof(kSignatures) / sizeof(kSignatures[0]); ++i) {
        if (std::memcmp(header, kSignatures[i].bytes, kSignatures[i].size) == 0) {
            return WString(kSignatures[i].type);
        }
    }
    return WString();
}

WString GetFileType(const WString& path) {
    FileStream stream(path, StreamMode::Read);
    if (!stream.IsGood())
        return WString();
    uint8_t header[kFileTypeHeaderSize] = {0};
    const int read = stream.Read(header, kFileTypeHeaderSize);
    stream.Close();
    if (read < static_cast<int>(kFileTypeHeaderSize))
        return WString();
    return FileTypeOfHeader(header, kFileTypeHeaderSize);
}

bool IsFileOfType(const WString& path, const WString& type) {
    WString actual = GetFileType(path);
    WString expected = type;
    StringOperation::ToLower(actual);
    StringOperation::ToLower(expected);
    return actual == expected;
}
