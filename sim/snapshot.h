// What a simulated printer holds, and what changed between two moments.
#ifndef FWSETUP_SIM_SNAPSHOT_H
#define FWSETUP_SIM_SNAPSHOT_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sim {

// One entry of a device folder: a folder, a file (size and content digest) or
// something else (a link, a fifo), which is recorded but never opened or followed.
struct SnapshotEntry {
    enum Kind { kFolder, kFile, kOther } kind = kOther;
    uintmax_t size = 0;
    std::string digest;  // MD5 of the contents, hexadecimal (files only)
};

// Relative paths under DEVICE ("fs/boot/nk.bin", "hw/eeprom.bin") to their entries.
typedef std::map<std::string, SnapshotEntry> DeviceSnapshot;

// Records DEVICE/fs and DEVICE/hw. Throws std::runtime_error when a folder
// cannot be read.
DeviceSnapshot TakeSnapshot(const std::filesystem::path& device);

struct SnapshotChange {
    enum Kind { kAdded, kRemoved, kChanged } kind;
    std::string path;    // relative to DEVICE; folders end in "/"
    std::string detail;  // sizes of a changed or added file
};

// The differences from before to after, sorted by path.
std::vector<SnapshotChange> CompareSnapshots(const DeviceSnapshot& before,
                                             const DeviceSnapshot& after);

// "added", "removed", "changed".
const char* ChangeKindName(SnapshotChange::Kind kind);

}  // namespace sim

#endif
