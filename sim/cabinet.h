// Microsoft cabinet files for the simulated printer: made with libgcab, read
// here (with zlib for MSZIP) and through libgcab for what it alone decodes.
#ifndef FWSETUP_SIM_CABINET_H
#define FWSETUP_SIM_CABINET_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace sim {

// One file of a cabinet: its name inside the cabinet ("boot\x.json") and its bytes.
struct CabinetEntry {
    std::string name;
    std::vector<uint8_t> data;
};

// Writes a cabinet (one MSZIP folder) holding entries, in their order, to cabFile.
// Throws std::runtime_error with a one-line reason.
void WriteCabinet(const std::vector<CabinetEntry>& entries, const std::filesystem::path& cabFile);

// Writes a cabinet of every regular file below dir, each named by its path
// relative to dir with backslashes, in name order. A symbolic link or a folder
// without any file is refused. Throws std::runtime_error.
void WriteCabinetFromDirectory(const std::filesystem::path& dir,
                               const std::filesystem::path& cabFile);

// Reads a whole cabinet from memory and checks it as the cabinet format does:
// the header's size equals the number of bytes, every structure lies inside,
// every data block's checksum holds unless it is 0 (none supplied), every
// block decodes (MSZIP with the folder's 32 KiB history across blocks), and
// every file lies inside its folder's data and continues in no other cabinet.
// Folders without compression or with MSZIP are decoded here; Quantum and LZX
// folders by libgcab. False with a one-line reason in error otherwise.
bool ReadCabinet(const std::vector<uint8_t>& bytes, std::vector<CabinetEntry>& entries,
                 std::string& error);

}  // namespace sim

#endif
