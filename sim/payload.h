// The package payload on the host side: packing files into the linked-block LZ4
// format and unpacking them with the module's own decoder.
//
// Format (little-endian): repeated { int32 length L; L bytes of one LZ4 block }
// to the end of the file. Every block holds at most 8192 input bytes and may
// refer back into the previous block's data only.
#ifndef FWSETUP_SIM_PAYLOAD_H
#define FWSETUP_SIM_PAYLOAD_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Told how many of the total bytes are done (total 0 while it is not known);
// called now and then, and once at the end with done == total.
typedef std::function<void(uint64_t done, uint64_t total)> Progress;

// A Progress that draws "label: 42% (x of y MiB)" on stderr when stderr is a
// terminal, and does nothing otherwise.
Progress TerminalProgress(const std::string& label);

// Packs the bytes of data into the payload format.
std::vector<uint8_t> PackPayload(const std::vector<uint8_t>& data);

// Packs the file in into the payload file out, reading and writing block by
// block. in and out are checked and out is written as sim/output_file.h says
// (out is replaced whole, or left as it was). Throws std::runtime_error with a
// one-line reason.
void PackPayloadFile(const std::filesystem::path& in, const std::filesystem::path& out,
                     const Progress& progress = Progress());

// Unpacks the payload file in into out with the module's own decoder (the block
// loop of DecompressLz4File), leaving in in place; in and out as for
// PackPayloadFile. progress is told the bytes written so far (total 0: unknown).
// Throws std::runtime_error when the files cannot be used; a damaged payload
// unpacks to what came before the damage, as on the printer.
void UnpackPayloadFile(const std::filesystem::path& in, const std::filesystem::path& out,
                       const Progress& progress = Progress());

}  // namespace sim

#endif
