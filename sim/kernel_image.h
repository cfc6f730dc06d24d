// Kernel images in the BIN format on the host side: reading their layout,
// flattening them into what a flash slot holds, and building them.
//
// Layout (integers little-endian uint32):
//   "B000FF\n" or "S000FF\n", image start, image length,
//   then records { address, data length, checksum, data } up to an end record
//   whose address and checksum are 0 (its length field is ignored, no data).
// The checksum is the 32-bit sum of the record's data bytes. The module's own
// checks also want "ECEC" at file offset 43 (bytes 16..19 of the first record's
// data) and a zero lowest byte of the start address.
//
// The flat image is the image length bytes from the image start: each record's
// data at its address minus the start, 0xFF where no record reaches.
#ifndef FWSETUP_SIM_KERNEL_IMAGE_H
#define FWSETUP_SIM_KERNEL_IMAGE_H

#include <cstdint>
#include <filesystem>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernel/kernel_image_check.h"
#include "package/stream.h"

namespace sim {

// A kernel image that cannot be read or flattened; what() names the record and
// the field at fault.
class KernelImageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct KernelImageRecord {
    uint32_t address = 0;
    uint32_t length = 0;
    uint32_t checksum = 0;
    uint64_t headerOffset = 0;  // file offset of the record's header
};

struct KernelImageLayout {
    char signature = 'B';  // 'B' or 'S'
    uint32_t start = 0;
    uint32_t length = 0;
    std::vector<KernelImageRecord> records;  // the end record left out
    uint64_t endRecordOffset = 0;
    uint32_t endRecordLength = 0;  // the end record's (ignored) length field
};

// The most a simulated flash slot holds; a longer image is refused.
constexpr uint64_t kFlashSlotCapacity = 256ull * 1024 * 1024;

// What one read of an image found: the module's verdict (its structure check,
// then "ECEC" at offset 43 and the file type) and the imaging tool's (the same
// structure, then every record inside the image and the image within a flash
// slot), and the layout as far as it was read.
struct KernelImageReport {
    KernelImageCheck check;    // the module's check, as it ended
    std::string moduleFault;   // empty when the module accepts the image, else why not
    std::string imagingFault;  // empty when the imaging tool flattens it, else why not
    KernelImageLayout layout;  // the header and (when kept) every record that passed
    bool Valid() const { return moduleFault.empty() && imagingFault.empty(); }
};

// Reads the image in image once, from its first byte to its end record (and
// on to offset 47 when the end record comes before it), with the module's own
// structure check; the imaging tool's rules are taken from the same read. The
// layout holds the records only with keepRecords (an image may hold very many).
KernelImageReport CheckKernelImage(Stream& image, bool keepRecords = false);
// The same for a host file. Throws KernelImageError when it cannot be opened.
KernelImageReport CheckKernelImageFile(const std::filesystem::path& image,
                                       bool keepRecords = false);

// The layout of an image the imaging tool flattens. Throws KernelImageError
// with the imaging tool's reason otherwise.
KernelImageLayout ReadKernelImageLayout(const std::filesystem::path& image);

// Throws KernelImageError unless every record lies inside [start, start + length)
// and the flat image fits a flash slot.
void CheckRecordsInsideImage(const KernelImageLayout& layout);

// Writes the flat image of image (whose layout is given) to out (at its start,
// empty). Throws KernelImageError or std::runtime_error.
void FlattenKernelImage(std::istream& image, const KernelImageLayout& layout, std::ostream& out);

// One record of an image to build.
struct KernelImageSource {
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

// What BuildKernelImage writes.
struct KernelImagePlan {
    char signature = 'B';
    uint32_t start = 0;
    uint32_t length = 0;  // 0: up to the end of the furthest record
    std::vector<KernelImageSource> records;
    bool stampMarker = false;      // write "ECEC" into bytes 16..19 of the first record
    uint32_t endRecordLength = 0;  // the end record's length field
};

// The bytes of an image the module accepts and the imaging tool flattens:
// CheckKernelImage passes them. Throws KernelImageError when the plan cannot
// give one (no records, a record outside the image, start's lowest byte not 0,
// a first record without "ECEC" at bytes 16..19, a record that would read as
// the end record, an image longer than a flash slot).
std::vector<uint8_t> BuildKernelImage(KernelImagePlan plan);

// "0x" and eight hexadecimal digits.
std::string Hex32(uint32_t value);

}  // namespace sim

#endif
