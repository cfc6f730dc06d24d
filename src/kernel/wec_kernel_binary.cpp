#include "kernel/wec_kernel_binary.h"

#include <iterator>
#include <memory>

#include "fileutil/file_operation.h"
#include "fileutil/file_type.h"
#include "kernel/kernel_image_check.h"
#include "package/file_stream.h"
#include "platform/files.h"
#include "platform/process.h"

const char16_t kFlashToolName[] = u"nfimager.exe";
const char16_t kFlashDigestFile[] = u"\\BOOT\\NK.nb0.md5";

namespace {

const char16_t kSafeImageMarker[] = u"\\SAFE";
const char16_t kFlashArguments[] = u"-w -f ";
const char16_t kMainSlotArgument[] = u" -s 1";
const char16_t kSafeSlotArgument[] = u" -s 2";
const char16_t kDigestArgument[] = u" -v ";
const char kFlashDigestFileNarrow[] = "\\BOOT\\NK.nb0.md5";
// What the exit code reads as until the tool's own code has been fetched.
const uint32_t kExitCodeUnread = 110;

bool CheckStructure(const WString& path) {
    FileStream stream(path, StreamMode::Read);
    if (!stream.IsGood())
        return false;
    KernelImageCheck check;
    return CheckKernelImageStructure(stream, check);
}

bool CheckSignature(const WString& path) {
    uint8_t marker[4] = {0};
    int read;
    {
        FileStream stream(path, StreamMode::Read);
        stream.Seek(kKernelImageMarkerOffset);
        read = stream.Read(marker, sizeof(marker));
    }
    KernelImageCheck check;
    if (!CheckKernelImageMarker(marker, read, check))
        return false;
    return IsFileOfType(path, u"bin");
}

// The digest file's bytes, each widened to one wide character, nothing trimmed.
WString ReadDigestFile() {
    WString text;
    std::unique_ptr<platform::FileBuffer> file =
        platform::OpenFileBuffer(kFlashDigestFile, std::ios_base::in);
    if (!file)
        return text;
    std::istreambuf_iterator<char> it(file.get());
    const std::istreambuf_iterator<char> end;
    for (; it != end; ++it) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(*it)));
    }
    return text;
}

}  // namespace

WecKernelBinary::WecKernelBinary() {}

WecKernelBinary::~WecKernelBinary() {}

bool WecKernelBinary::IsValidImage(const WString& path) {
    return CheckStructure(path) && CheckSignature(path);
}

bool WecKernelBinary::Flash(const WString& path) {
    if (!IsValidImage(path))
        return false;

    const bool safe = path.find(kSafeImageMarker) != WString::npos;
    WString commandLine = kFlashArguments + path;
    if (!safe) {
        commandLine += kMainSlotArgument;
        if (FileOperation::FileExists(kFlashDigestFile)) {
            commandLine += kDigestArgument;
            commandLine += ReadDigestFile();
            platform::RemoveNarrow(kFlashDigestFileNarrow);
        }
    } else {
        commandLine += kSafeSlotArgument;
    }

    uint32_t exitCode = kExitCodeUnread;
    bool started = false;
    {
        std::unique_ptr<platform::Process> process =
            platform::CreateProcess(kFlashToolName, commandLine);
        if (process) {
            started = true;
            process->Wait();
            if (!process->GetExitCode(exitCode))
                exitCode = kExitCodeUnread;
        }
    }
    FileOperation::RemoveFile(path);
    return started && exitCode == 0;
}
