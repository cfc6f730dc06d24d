// Files, folders, free space and the runtime's file streams.
//
// Paths are device paths: absolute from the root of the device's single name
// space, "\" or "/" separating components, letter case ignored when matching
// existing entries. Every call answers with a result; none throws.
#ifndef FWSETUP_PLATFORM_FILES_H
#define FWSETUP_PLATFORM_FILES_H

#include <cstdint>
#include <fstream>
#include <memory>

#include "platform/types.h"

namespace platform {

const uint32_t kFileAttributeReadOnly = 0x01;
const uint32_t kFileAttributeDirectory = 0x10;
const uint32_t kFileAttributeArchive = 0x20;
const uint32_t kFileAttributeNormal = 0x80;
// What GetFileAttributes answers for a path that does not exist.
const uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// GetFileAttributesW.
uint32_t GetFileAttributes(const WString& path);
// SetFileAttributesW: only the read-only bit has an effect; kFileAttributeNormal clears it.
bool SetFileAttributes(const WString& path, uint32_t attributes);
// DeleteFileW: files only; a read-only file resists.
bool DeleteFile(const WString& path);
// MoveFileW: files and folders; fails when the destination exists.
bool MoveFile(const WString& from, const WString& to);
// CopyFileW: files only; with failIfExists an existing destination fails the call.
bool CopyFile(const WString& from, const WString& to, bool failIfExists);
// CreateDirectoryW: the parent must exist, the folder must not.
bool CreateDirectory(const WString& path);
// RemoveDirectoryW: the folder must be empty.
bool RemoveDirectory(const WString& path);
// GetDiskFreeSpaceExW; any out pointer may be null.
bool GetDiskFreeSpaceEx(const WString& path, uint64_t* freeBytesAvailableToCaller,
                        uint64_t* totalBytes, uint64_t* totalFreeBytes);

// The runtime's remove() of a narrow path (files only).
bool RemoveNarrow(const NString& path);
// The runtime's _wrename(): files and folders; fails when the new name exists.
bool Rename(const WString& from, const WString& to);

// One entry of a folder search.
struct FindData {
    uint32_t attributes;
    WString name;  // the entry's own name, without its folder
};

// An open folder search (FindFirstFileW ... FindClose); destroying it closes it.
class FileSearch {
  public:
    virtual ~FileSearch() {}
    // FindNextFileW: false when there is no further entry.
    virtual bool Next(FindData& entry) = 0;
};

// FindFirstFileW: pattern is a folder followed by a last component that may hold
// "*" and "?", matched without regard to ASCII case ("*.*" matches every name,
// also one without a dot). Entries come in the byte order of their names; the
// search yields no "." or ".." entries. Null when the search cannot be opened or
// nothing matches; otherwise first holds the first entry.
std::unique_ptr<FileSearch> FindFirstFile(const WString& pattern, FindData& first);

// Opens a file stream on a device path, the runtime's buffered file streams
// (binary, shared for reading and writing). A path that cannot be opened leaves
// the stream with its fail flag set.
void OpenFileStream(std::fstream& stream, const WString& path, std::ios_base::openmode mode);

}  // namespace platform

#endif
