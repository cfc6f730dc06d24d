// The flash imaging tool of the simulated printer ("\Windows\nfimager.exe").
//
// Command line (argv[1], one string, as the setup module builds it):
//     -w -f <image> -s <slot> [-v <digest>]
// <image> is a device path (letter case ignored): everything between "-w -f "
// and the first " -s ". <slot> is 1 (main image) or 2 (safe image). After
// " -v " the first 32 characters (blanks before them skipped) must be
// hexadecimal digits, either case: the MD5 of the flat image. Anything may
// follow them (a file name, a line end); nothing but blanks may follow the slot
// when there is no " -v ". The device folder comes from FWSETUP_DEVICE.
//
// The tool reads the BIN image once with the reader that `fwsetup nkbin check`
// uses (signature, every record inside the file and the image, every checksum,
// the image within a slot), flattens it (the image length bytes from the image
// start, each record's data at its address minus the start, 0xFF elsewhere),
// checks the digest when one was given, and only then replaces
// DEVICE/hw/flash/slot<slot>.nb0. On any refusal the slot is left as it was.
// No link below the device folder is followed: the image must be a regular
// file, and a slot that is anything but a regular file is not written.
//
// Exit codes: 0 written; 2 bad command line or no device; 3 image missing or
// unreadable; 4 image malformed or too large for a slot; 5 digest mismatch;
// 6 slot not writable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "platform/host/device_root.h"
#include "platform/host/fd_file_buffer.h"
#include "platform/host/safe_files.h"
#include "sim/file_digest.h"
#include "sim/host_stream.h"
#include "sim/kernel_image.h"

namespace {

using platform::host::UniqueFd;

enum ExitCode {
    kWritten = 0,
    kBadCommandLine = 2,
    kImageMissing = 3,
    kImageMalformed = 4,
    kDigestMismatch = 5,
    kSlotNotWritable = 6,
};

struct FlashRequest {
    std::string image;
    int slot = 0;
    std::optional<std::string> digest;  // lower case
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::optional<FlashRequest> ParseCommandLine(const std::string& line) {
    static const std::string kPrefix = "-w -f ";
    static const std::string kSlot = " -s ";
    static const std::string kDigest = " -v ";
    if (line.compare(0, kPrefix.size(), kPrefix) != 0)
        return std::nullopt;
    const size_t slotAt = line.find(kSlot, kPrefix.size());
    if (slotAt == std::string::npos || slotAt == kPrefix.size())
        return std::nullopt;

    FlashRequest request;
    request.image = line.substr(kPrefix.size(), slotAt - kPrefix.size());
    size_t at = slotAt + kSlot.size();
    if (at >= line.size() || (line[at] != '1' && line[at] != '2'))
        return std::nullopt;
    request.slot = line[at] - '0';
    ++at;

    std::string rest = line.substr(at);
    if (rest.compare(0, kDigest.size(), kDigest) == 0) {
        size_t d = kDigest.size();
        while (d < rest.size() && (rest[d] == ' ' || rest[d] == '\t'))
            ++d;
        if (rest.size() - d < 32)
            return std::nullopt;
        std::string digest = rest.substr(d, 32);
        for (char& c : digest) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            c = char(std::tolower(static_cast<unsigned char>(c)));
        }
        request.digest = digest;
        return request;
    }
    for (char c : rest) {
        if (!IsBlank(c))
            return std::nullopt;
    }
    return request;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "nfimager: no command line\n";
        return kBadCommandLine;
    }
    const std::optional<FlashRequest> request = ParseCommandLine(argv[1]);
    if (!request) {
        std::cerr << "nfimager: bad command line: " << argv[1] << "\n";
        return kBadCommandLine;
    }
    const std::string device = platform::host::DeviceRoot();
    if (device.empty()) {
        std::cerr << "nfimager: FWSETUP_DEVICE is not set\n";
        return kBadCommandLine;
    }

    WString imagePath;
    UniqueFd imageFile;
    if (platform::host::Utf8ToUtf16(request->image, imagePath))
        imageFile.Reset(platform::host::OpenDeviceFile(imagePath, O_RDONLY));
    if (!imageFile.Valid()) {
        std::cerr << "nfimager: no image at " << request->image << "\n";
        return kImageMissing;
    }
    sim::KernelImageReport report;
    {
        sim::FdStream reader(imageFile.Get());
        report = sim::CheckKernelImage(reader, true);
    }
    if (!report.imagingFault.empty()) {
        std::cerr << "nfimager: " << request->image << ": " << report.imagingFault << "\n";
        return kImageMalformed;
    }
    const sim::KernelImageLayout& layout = report.layout;
    platform::host::FdFileBuffer imageBuffer(imageFile.Release(), true, false);
    std::istream image(&imageBuffer);

    // The slot is replaced only when it is a regular file (or not there yet).
    const std::string slotName = "slot" + std::to_string(request->slot) + ".nb0";
    UniqueFd flash(platform::host::OpenFolderBelow(device, "hw/flash", true));
    struct stat slotStat;
    if (!flash.Valid() ||
        (fstatat(flash.Get(), slotName.c_str(), &slotStat, AT_SYMLINK_NOFOLLOW) == 0 &&
         !S_ISREG(slotStat.st_mode))) {
        std::cerr << "nfimager: cannot write hw/flash/" << slotName << "\n";
        return kSlotNotWritable;
    }
    std::string partial;
    UniqueFd partialFile(
        platform::host::CreateUniqueFileAt(flash.Get(), "." + slotName + ".partial-", partial));
    if (!partialFile.Valid()) {
        std::cerr << "nfimager: cannot write hw/flash/" << slotName << "\n";
        return kSlotNotWritable;
    }
    auto discard = [&] { unlinkat(flash.Get(), partial.c_str(), 0); };
    try {
        platform::host::FdFileBuffer flatBuffer(partialFile.Release(), true, true);
        std::iostream flat(&flatBuffer);
        sim::FlattenKernelImage(image, layout, flat);
        if (request->digest) {
            flat.seekg(0);
            const std::string actual = sim::StreamMd5Hex(flat, "the flat image");
            if (actual != *request->digest) {
                discard();
                std::cerr << "nfimager: digest mismatch: expected " << *request->digest
                          << ", flat image " << actual << "\n";
                return kDigestMismatch;
            }
        }
        if (!flatBuffer.Close())
            throw std::runtime_error("cannot write the flat image");
    } catch (const sim::KernelImageError& e) {
        discard();
        std::cerr << "nfimager: " << request->image << ": " << e.what() << "\n";
        return kImageMalformed;
    } catch (const std::exception& e) {
        discard();
        std::cerr << "nfimager: " << e.what() << "\n";
        return kSlotNotWritable;
    }
    if (renameat(flash.Get(), partial.c_str(), flash.Get(), slotName.c_str()) != 0) {
        discard();
        std::cerr << "nfimager: cannot write hw/flash/" << slotName << "\n";
        return kSlotNotWritable;
    }
    return kWritten;
}
