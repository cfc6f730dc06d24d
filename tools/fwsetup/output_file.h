// Files that commands write: checked before any work, put in place whole.
#ifndef FWSETUP_TOOLS_OUTPUT_FILE_H
#define FWSETUP_TOOLS_OUTPUT_FILE_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fwsetup {

// The bytes of a host file; throws UsageError when it is not a readable file.
std::vector<uint8_t> ReadInputFile(const std::filesystem::path& file);

// Throws UsageError when out cannot be written as a command's output: it is one
// of inputs (the same file, by identity), it exists and is not a regular file,
// or its folder does not exist.
void CheckOutputFile(const std::filesystem::path& out,
                     const std::vector<std::filesystem::path>& inputs);

// Writes bytes to a fresh file beside out and renames it over out, so that out
// is either as it was or complete. Throws UsageError.
void ReplaceOutputFile(const std::filesystem::path& out, const std::vector<uint8_t>& bytes);

}  // namespace fwsetup

#endif
