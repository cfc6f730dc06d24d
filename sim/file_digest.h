// The MD5 of a host file, for the simulator and the tools.
#ifndef FWSETUP_SIM_FILE_DIGEST_H
#define FWSETUP_SIM_FILE_DIGEST_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sim {

// The MD5 of a file as 32 lower-case hexadecimal digits. Throws std::runtime_error.
std::string FileMd5Hex(const std::filesystem::path& file);
// The MD5 of bytes, the same way.
std::string Md5Hex(const std::vector<uint8_t>& bytes);

}  // namespace sim

#endif
