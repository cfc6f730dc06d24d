// FPGA data files on the host side: writing them from raw dataset files, and
// explaining them. The layout is declared in src/fpga/fpga_format.h.
//
// Compressed data holds one block per transfer that the algorithm makes, so a
// writer and a reader of compressed data must know the transfer size: here
// every block spans blockBytes bytes (the last one of a dataset what is left).
#ifndef FWSETUP_SIM_FPGA_DATA_FILE_H
#define FWSETUP_SIM_FPGA_DATA_FILE_H

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// A data file or plan that cannot be written or read; what() says why.
class FpgaDataError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Block types of compressed data; kFpgaBlockSmallest picks, block by block,
// the type that stores it in the fewest bytes.
const int kFpgaBlockSmallest = -1;

struct FpgaDatasetPlan {
    uint8_t id = 0;  // not 0 (ignored for a single dataset)
    std::vector<uint8_t> data;
    uint32_t blockBytes = 0;             // 0: plain; else compressed in blocks of this many bytes
    int blockType = kFpgaBlockSmallest;  // 0, 1, 2 or kFpgaBlockSmallest
};

struct FpgaDataPlan {
    bool hasComment = false;
    std::string comment;  // without 0xA1
    bool single = true;   // one anonymous dataset, else a table of datasets
    std::vector<FpgaDatasetPlan> datasets;
};

// value as a varint of the fewest bytes.
std::vector<uint8_t> EncodeFpgaVarint(uint32_t value);

// One block of data encoded as type (0, 1 or 2), type byte first.
std::vector<uint8_t> EncodeFpgaBlock(const uint8_t* data, size_t size, int type);

// The data file of a plan. Throws FpgaDataError.
std::vector<uint8_t> BuildFpgaDataFile(const FpgaDataPlan& plan);

// What a data file holds, as the reader sees it.
struct FpgaDataLayout {
    struct Entry {
        uint8_t id = 0;
        uint8_t unused = 0;
        uint32_t size = 0;
        uint8_t compression = 0;
        uint32_t address = 0;
        size_t offset = 0;  // of the entry's tag
    };
    bool hasComment = false;
    std::vector<uint8_t> comment;
    uint8_t mode = 0;
    bool multiple = false;
    std::vector<Entry> entries;
    size_t dataStart = 0;  // file offset of the single data, or of address 0
    std::string problem;   // why the reader refuses the file; empty when it takes it
};

FpgaDataLayout ReadFpgaDataLayout(const std::vector<uint8_t>& file);

// The bytes a dataset delivers, decoded from its stored bytes.
struct FpgaDecodedData {
    std::vector<uint8_t> bytes;
    size_t storedBytes = 0;        // stored bytes the decoding took
    size_t blocks[3] = {0, 0, 0};  // compressed blocks per type
    std::string problem;           // why decoding stopped early; empty when it did not
};

// Decodes stored bytes [from, to) of file: size bytes (single data: all there
// is, size ignored), plain or in blocks of blockBytes.
FpgaDecodedData DecodeFpgaData(const std::vector<uint8_t>& file, size_t from, size_t to,
                               bool single, uint32_t size, bool compressed, uint32_t blockBytes);

// A readable account of a data file: its comment, mode, table and, per dataset,
// its size, storage and the MD5 of the bytes it delivers (compressed data needs
// its block size: blockBytes by dataset id, key -1 for every dataset), with the
// bytes themselves in hexadecimal when hex is set. valid tells whether the
// reader takes the file and every dataset decodes (compressed data whose block
// size is not given is only described).
std::string DumpFpgaDataFile(const std::vector<uint8_t>& file,
                             const std::map<int, uint32_t>& blockBytes, bool hex, bool& valid);

}  // namespace sim

#endif
