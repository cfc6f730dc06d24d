// The BLE coprocessor upgrader of the simulated printer ("\UpgradeTemp\STM32Upgrader").
//
// Command line (argv[1], one string, as the setup module builds it):
//     -AH <image>
// <image> is a device path (letter case ignored), everything after "-AH " up to
// the end of the string with surrounding blanks and one pair of double quotes
// taken off. The device folder comes from FWSETUP_DEVICE.
//
// Firmware image:
//     [VERSION=<n>[.<n>]...<LF or CR LF>] <firmware bytes>
// An optional first line names the firmware's version: one to four decimal
// numbers of at most five digits, joined by dots. Without it the whole file is
// firmware of unknown version. A file that is missing or unreadable, empty, has
// an unterminated or bad version line, or holds no firmware after it, is refused
// and the coprocessor is left as it was.
//
// The simulated coprocessor lives in DEVICE/hw/ble/:
//     firmware.bin      the image last programmed, byte for byte
//     version           its version (no line end); removed when the image names none
//     upgrader.log      one line per start: argv[1] exactly as received
//     force-exit-code   optional, written by tests: a decimal code; the upgrader
//                       logs its start, programs nothing and exits with that code
// No link below the device folder is followed, and only regular files are read
// or written there: anything else at one of these names (or at the image's
// path) leaves the coprocessor as it was (a log or state that cannot be
// written: exit 6; an image that is not a regular file: exit 3; a
// force-exit-code that is not one counts as none).
//
// Exit codes: 0 programmed; 2 bad command line or no device; 3 image missing or
// unreadable; 4 image empty; 5 image malformed; 6 coprocessor state not writable.
// Codes outside 0..255 (a forced 9997) are written in decimal to the file named
// by FWSETUP_EXIT_CODE_FILE, the way every program of the simulated printer
// reports them.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/host/device_root.h"
#include "platform/host/safe_files.h"

namespace fs = std::filesystem;

namespace {

using platform::host::UniqueFd;

enum ExitCode {
    kProgrammed = 0,
    kBadCommandLine = 2,
    kImageMissing = 3,
    kImageEmpty = 4,
    kImageMalformed = 5,
    kStateNotWritable = 6,
};

// Ends the program with code, reporting codes outside 0..255 through the
// exit-code file (never followed when it is a link, never opened when it is
// not a regular file).
int Answer(long code) {
    if (code < 0 || code > 255) {
        const char* file = std::getenv("FWSETUP_EXIT_CODE_FILE");
        if (file && *file) {
            const fs::path path(file);
            UniqueFd out(platform::host::OpenFileBelow(path.parent_path().string(),
                                                       path.filename().string(),
                                                       O_WRONLY | O_CREAT | O_TRUNC));
            const std::string text = std::to_string(code);
            if (out.Valid())
                platform::host::WriteAllFd(out.Get(), text.data(), text.size());
        }
        return 1;
    }
    return static_cast<int>(code);
}

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// The image path of "-AH <image>"; empty when the command line is not that.
std::string ImageArgument(const std::string& commandLine) {
    const std::string line = Trim(commandLine);
    if (line.size() < 4 || line.compare(0, 3, "-AH") != 0 || (line[3] != ' ' && line[3] != '\t')) {
        return std::string();
    }
    std::string image = Trim(line.substr(4));
    if (image.size() >= 2 && image.front() == '"' && image.back() == '"') {
        image = image.substr(1, image.size() - 2);
    }
    return image;
}

bool IsVersion(const std::string& text) {
    int numbers = 0;
    size_t pos = 0;
    while (true) {
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 5)
            return false;
        ++numbers;
        if (pos == text.size())
            return numbers <= 4;
        if (text[pos] != '.')
            return false;
        ++pos;
    }
}

// Splits an image into its version (if it names one) and checks it; the exit code.
int ParseImage(const std::string& image, std::optional<std::string>& version) {
    static const std::string kVersionKey = "VERSION=";
    if (image.empty())
        return kImageEmpty;
    if (image.compare(0, kVersionKey.size(), kVersionKey) != 0)
        return kProgrammed;
    const size_t lineEnd = image.find('\n');
    if (lineEnd == std::string::npos)
        return kImageMalformed;
    std::string value = image.substr(kVersionKey.size(), lineEnd - kVersionKey.size());
    if (!value.empty() && value.back() == '\r')
        value.pop_back();
    if (!IsVersion(value))
        return kImageMalformed;
    if (lineEnd + 1 == image.size())
        return kImageMalformed;  // a version and no firmware
    version = value;
    return kProgrammed;
}

long Run(int argc, char** argv) {
    const std::string device = platform::host::DeviceRoot();
    if (device.empty()) {
        std::cerr << "stm32upgrader: FWSETUP_DEVICE is not set\n";
        return kBadCommandLine;
    }
    UniqueFd ble(platform::host::OpenFolderBelow(device, "hw/ble", true));
    if (!ble.Valid())
        return kStateNotWritable;

    const std::string commandLine = argc > 1 ? argv[1] : std::string();
    {
        UniqueFd log(
            platform::host::OpenFileAt(ble.Get(), "upgrader.log", O_WRONLY | O_CREAT | O_APPEND));
        const std::string line = commandLine + "\n";
        if (!log.Valid() || !platform::host::WriteAllFd(log.Get(), line.data(), line.size()))
            return kStateNotWritable;
    }

    // Anything but a regular file there counts as no forced code.
    std::string forcedText;
    long forcedCode = 0;
    if (platform::host::ReadFileAt(ble.Get(), "force-exit-code", 64, forcedText) ==
            platform::host::kFileRead &&
        std::istringstream(forcedText) >> forcedCode)
        return forcedCode;

    const std::string imagePath = ImageArgument(commandLine);
    if (imagePath.empty()) {
        std::cerr << "stm32upgrader: expected -AH <image>, got '" << commandLine << "'\n";
        return kBadCommandLine;
    }
    WString wideImagePath;
    UniqueFd imageFile;
    if (platform::host::Utf8ToUtf16(imagePath, wideImagePath))
        imageFile.Reset(platform::host::OpenDeviceFile(wideImagePath, O_RDONLY));
    std::string image;
    if (!imageFile.Valid() || !platform::host::ReadAllFd(imageFile.Get(), SIZE_MAX, image)) {
        std::cerr << "stm32upgrader: no image at " << imagePath << "\n";
        return kImageMissing;
    }

    std::optional<std::string> version;
    const int parsed = ParseImage(image, version);
    if (parsed != kProgrammed) {
        std::cerr << "stm32upgrader: image " << imagePath << " refused (code " << parsed << ")\n";
        return parsed;
    }
    if (!platform::host::ReplaceFileAt(ble.Get(), "firmware.bin", image))
        return kStateNotWritable;
    if (version) {
        if (!platform::host::ReplaceFileAt(ble.Get(), "version", *version))
            return kStateNotWritable;
    } else if (unlinkat(ble.Get(), "version", 0) != 0 && errno != ENOENT) {
        return kStateNotWritable;
    }
    return kProgrammed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Answer(Run(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "stm32upgrader: " << e.what() << "\n";
        return kStateNotWritable;
    }
}
