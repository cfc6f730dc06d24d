// Files that commands read and write, through the one mechanism of
// sim/output_file.h: outputs checked against the inputs before any work, and
// put in place whole.
#ifndef FWSETUP_TOOLS_OUTPUT_FILE_H
#define FWSETUP_TOOLS_OUTPUT_FILE_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/output_file.h"

namespace fwsetup {

// The bytes of a host file; throws UsageError when it is not a readable file.
std::vector<uint8_t> ReadInputFile(const std::filesystem::path& file);

// Throws UsageError when out cannot be written as a command's output (see
// sim::CommandFiles): one of inputs (the same file, by identity), it exists
// and is not a regular file, or its folder does not exist.
void CheckOutputFile(const std::filesystem::path& out,
                     const std::vector<std::filesystem::path>& inputs);

// Writes bytes as out through a sim::OutputFile, so that out is either as it
// was or complete. Throws UsageError.
void ReplaceOutputFile(const std::filesystem::path& out, const std::vector<uint8_t>& bytes);

}  // namespace fwsetup

#endif
