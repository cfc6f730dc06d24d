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

// Reads the layout of the image file, checking the signature, that every record
// lies inside the file, and every checksum. Throws KernelImageError.
KernelImageLayout ReadKernelImageLayout(const std::filesystem::path& image);
// The same from a stream open on an image of fileSize bytes, read from its start.
KernelImageLayout ReadKernelImageLayout(std::istream& image, uint64_t fileSize);

// Throws KernelImageError unless every record lies inside [start, start + length)
// and the flat image fits a flash slot.
void CheckRecordsInsideImage(const KernelImageLayout& layout);

// Writes the flat image of image (whose layout is given) to out, replacing it.
// Throws KernelImageError or std::runtime_error; out may then be half written.
void FlattenKernelImage(const std::filesystem::path& image, const KernelImageLayout& layout,
                        const std::filesystem::path& out);
// The same between streams: out (at its start, empty) receives the flat image.
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

// The bytes of an image the module accepts and the imaging tool flattens.
// Throws KernelImageError when the plan cannot give one (no records, a record
// outside the image, start's lowest byte not 0, a first record without "ECEC"
// at bytes 16..19, a record that would read as the end record).
std::vector<uint8_t> BuildKernelImage(KernelImagePlan plan);

// "0x" and eight hexadecimal digits.
std::string Hex32(uint32_t value);

}  // namespace sim

#endif
